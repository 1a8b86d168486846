// A small OLE container for the control prjCorvane.Corvane, as a form designer
// uses it: sites it on a form, activates it in place, draws it, saves it to a
// property bag and to a stream and loads new instances from both, resizes it,
// listens to its property notices, shows the error box under the name the
// container gives it, and edits it through its two property pages, in a frame of
// its own (typing and applying) and in the system's frame. Runs where the OCX is
// registered, on an X display (Xvfb).
// Arguments: a port where nothing listens, and a folder for the screenshots
// (BMP files: form.bmp, pagPOP3.bmp, pagSMTP.bmp).
// Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
// "RESULT FAIL".
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <prsht.h>
#include <initguid.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "checks.h"
#include "com_checks.h"
#include "corvane_idl.h"

using namespace corvane::checks;

namespace {

constexpr DISPID kExtenderName = 1000;
std::string shots;  // the screenshot folder, ending in a backslash

// --- The container's side

// One site: client site, in-place site, control site, and the ambient
// properties through IDispatch; the same IDispatch serves as the extender, whose
// Name is `name` (none when empty).
class Site final : public Unknown<IOleClientSite, IOleInPlaceSite, IOleControlSite, IDispatch> {
 public:
  explicit Site(HWND form) : form_(form) {}

  void* more(REFIID riid) override { return riid == IID_IOleWindow ? static_cast<IOleInPlaceSite*>(this) : nullptr; }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = form_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    ++activations;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *document = nullptr;
    *position = *clip = place;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    --activations;
    if (deactivated) deactivated();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT rect) override {
    told.push_back(*rect);
    return S_OK;
  }

  // IOleControlSite
  HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** extender) override {
    *extender = name.empty() ? nullptr : static_cast<IDispatch*>(this);
    if (!*extender) return E_NOTIMPL;
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }  // the system's frame, please

  // IDispatch: the ambient properties, and the extender's Name
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || lstrcmpiW(names[0], L"Name") != 0) return DISP_E_UNKNOWNNAME;
    *ids = kExtenderName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (!result) return E_POINTER;
    VariantInit(result);
    if (id == DISPID_AMBIENT_USERMODE) {
      V_VT(result) = VT_BOOL;
      V_BOOL(result) = userMode ? VARIANT_TRUE : VARIANT_FALSE;
    } else if ((id == DISPID_AMBIENT_DISPLAYNAME && !displayName.empty()) || (id == kExtenderName && !name.empty())) {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = SysAllocString((id == kExtenderName ? name : displayName).c_str());
    } else {
      return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
  }

  RECT place{16, 16, 44, 44};
  bool userMode = false;  // a form designer: design mode
  std::wstring name, displayName;
  int activations = 0;
  std::vector<RECT> told;  // OnPosRectChange
  std::function<void()> deactivated;  // the container's answer to OnInPlaceDeactivate

 private:
  HWND form_;
};

// A property bag in memory that keeps the order of its writes.
class Bag final : public Unknown<IPropertyBag> {
 public:
  ~Bag() {
    for (auto& entry : entries) VariantClear(&entry.second);
  }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    for (auto& entry : entries) {
      if (entry.first == name) return VariantCopy(value, &entry.second);
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    entries.emplace_back(name, VARIANT{});
    VariantInit(&entries.back().second);
    return VariantCopy(&entries.back().second, value);
  }
  // "key=type:value" for each entry, in order.
  std::string describe() {
    std::string text;
    for (auto& [key, value] : entries) {
      VARIANT shown;
      VariantInit(&shown);
      VariantChangeType(&shown, &value, 0, VT_BSTR);
      text += narrow(key) + "=" + std::to_string(V_VT(&value)) + ":" + bstrText(V_BSTR(&shown)) + " ";
      VariantClear(&shown);
    }
    return text;
  }
  std::vector<std::pair<std::wstring, VARIANT>> entries;
};

class PageSite final : public Unknown<IPropertyPageSite> {
 public:
  HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
    dirtyNotices += (flags & PROPPAGESTATUS_DIRTY) ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override {
    *locale = LOCALE_USER_DEFAULT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }
  int dirtyNotices = 0;
};

// --- Helpers

// Releases a COM pointer when it goes.
template <class Interface>
struct Held {
  Interface* p = nullptr;
  Held() = default;
  explicit Held(Interface* pointer) : p(pointer) {}
  ~Held() {
    if (p) p->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

void pump(int milliseconds) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  MSG msg;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

_Corvane* newControl() {
  _Corvane* control = nullptr;
  CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID__Corvane, reinterpret_cast<void**>(&control));
  return control;
}

// The settings a user sees, through IDispatch by name.
std::string settings(IDispatch* control) {
  std::string text;
  for (const wchar_t* property : {L"POP3host", L"POP3user", L"POP3password", L"SMTPhost", L"SMTPsender", L"Timeout",
                                  L"IsSecured"}) {
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(invoke(control, property, DISPATCH_PROPERTYGET, {}, &value)))
      VariantChangeType(&value, &value, 0, VT_BSTR);
    text += narrow(property) + "=" + (V_VT(&value) == VT_BSTR ? bstrText(V_BSTR(&value)) : "?") + " ";
    VariantClear(&value);
  }
  return text;
}

std::string errorDescription() {
  IErrorInfo* error = nullptr;
  Bstr description;
  if (GetErrorInfo(0, &error) == S_OK) {
    error->GetDescription(&description.value);
    error->Release();
  }
  return description.text();
}

// A part of the screen as a 24-bit BMP file in the screenshot folder.
void screenshot(const RECT& area, const char* name) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  const HDC screen = GetDC(nullptr), copy = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ before = SelectObject(copy, picture);
  BitBlt(copy, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const DWORD size = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  const BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size),
                              0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  info.bmiHeader.biSizeImage = size;
  std::ofstream out(shots + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  check(std::string("screenshot ") + name, out.good());
  SelectObject(copy, before);
  DeleteObject(picture);
  DeleteDC(copy);
  ReleaseDC(nullptr, screen);
}

RECT windowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

// The tab stops of a page window from its first one on, as control identifiers.
std::vector<int> tabOrder(HWND page) {
  std::vector<int> order;
  const HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  for (HWND at = first; at && order.size() < 10; at = GetNextDlgTabItem(page, at, FALSE)) {
    order.push_back(GetDlgCtrlID(at));
    if (GetNextDlgTabItem(page, at, FALSE) == first) break;
  }
  return order;
}

std::string windowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return narrow(text);
}

// What a user types into a text box: select all, delete, then each character.
void type(HWND box, const wchar_t* text) {
  SendMessageW(box, EM_SETSEL, 0, -1);
  SendMessageW(box, WM_CHAR, VK_BACK, 0);
  for (const wchar_t* c = text; *c; ++c) SendMessageW(box, WM_CHAR, *c, 0);
}

// --- The checks

void checkForm(HWND form, Site& site, IOleObject* object) {
  DWORD status = 0;
  object->GetMiscStatus(DVASPECT_CONTENT, &status);
  check("the control wants its site first and is invisible at run time",
        (status & OLEMISC_SETCLIENTSITEFIRST) && (status & OLEMISC_INVISIBLEATRUNTIME), hex(static_cast<long>(status)));
  HRESULT hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, form, &site.place);
  Held<IOleInPlaceObject> inPlace(query<IOleInPlaceObject>(object, IID_IOleInPlaceObject));
  HWND window = nullptr;
  if (inPlace) inPlace->GetWindow(&window);
  check("in-place activation makes a child window of the form at the site's place",
        hr == S_OK && site.activations == 1 && window && GetParent(window) == form, hex(hr));
  if (!window) return;
  pump(300);
  RECT shown = windowRect(window);
  check("in design mode the window shows, 28 x 28 pixels",
        IsWindowVisible(window) && shown.right - shown.left == 28 && shown.bottom - shown.top == 28);

  // Its picture, as drawn by IViewObject and on the screen.
  Held<IViewObject2> view(query<IViewObject2>(object, IID_IViewObject2));
  const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  const HBITMAP canvas = CreateCompatibleBitmap(screen, 28, 28);
  const HGDIOBJ before = SelectObject(memory, canvas);
  const RECTL bounds{0, 0, 28, 28};
  hr = view ? view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memory, &bounds, nullptr, nullptr, 0)
            : E_NOINTERFACE;
  const COLORREF tile = RGB(58, 110, 180), paper = RGB(255, 255, 255);
  check("IViewObject draws the picture: the blue tile and the envelope's paper",
        hr == S_OK && GetPixel(memory, 2, 2) == tile && GetPixel(memory, 6, 18) == paper, hex(hr));
  check("the window shows the same picture",
        GetPixel(screen, shown.left + 2, shown.top + 2) == tile && GetPixel(screen, shown.left + 6, shown.top + 18) == paper,
        hex(static_cast<long>(GetPixel(screen, shown.left + 2, shown.top + 2))));
  SelectObject(memory, before);
  DeleteObject(canvas);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  screenshot(windowRect(form), "form.bmp");

  // The extent is fixed: 420 twips, 741 HIMETRIC, whatever the container asks.
  SIZEL size{2000, 500};
  object->SetExtent(DVASPECT_CONTENT, &size);
  size = SIZEL{};
  object->GetExtent(DVASPECT_CONTENT, &size);
  SIZEL viewSize{};
  if (view) view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewSize);
  check("the extent snaps back to 741 x 741 HIMETRIC after SetExtent",
        size.cx == 741 && size.cy == 741 && viewSize.cx == 741 && viewSize.cy == 741,
        std::to_string(size.cx) + " x " + std::to_string(size.cy));
  const RECT larger{30, 20, 130, 70};
  inPlace->SetObjectRects(&larger, &larger);
  shown = windowRect(window);
  POINT corner{shown.left, shown.top};
  ScreenToClient(form, &corner);
  check("moved in place, the control keeps its size and tells the site so",
        corner.x == 30 && corner.y == 20 && shown.right - shown.left == 28 && site.told.size() == 1 &&
            site.told[0].right - site.told[0].left == 28 && site.told[0].bottom - site.told[0].top == 28);

  Held<IOleControl> control(query<IOleControl>(object, IID_IOleControl));
  site.userMode = true;
  if (control) control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE);
  check("at run time (ambient UserMode) the control hides", control && !IsWindowVisible(window));
  site.userMode = false;
  if (control) control->OnAmbientPropertyChange(DISPID_UNKNOWN);
  check("back in design mode it shows again", IsWindowVisible(window));
}

void checkEnumerators(_Corvane* control, DWORD noticeCookie) {
  Held<IConnectionPointContainer> container(query<IConnectionPointContainer>(control, IID_IConnectionPointContainer));
  IEnumConnectionPoints* points = nullptr;
  if (container) container->EnumConnectionPoints(&points);
  std::vector<IID> found;
  IConnectionPoint* point = nullptr;
  IEnumConnections* connections = nullptr;
  while (points && points->Next(1, &point, nullptr) == S_OK) {
    IID iid{};
    point->GetConnectionInterface(&iid);
    found.push_back(iid);
    if (iid == IID_IPropertyNotifySink) point->EnumConnections(&connections);
    point->Release();
  }
  if (points) points->Release();
  check("EnumConnectionPoints lists the events and the property notices",
        found == std::vector<IID>{DIID___Corvane, IID_IPropertyNotifySink});
  CONNECTDATA data[2] = {};
  ULONG fetched = 0;
  const HRESULT hr = connections ? connections->Next(2, data, &fetched) : E_FAIL;
  check("EnumConnections lists the one advised sink with its cookie",
        hr == S_FALSE && fetched == 1 && data[0].dwCookie == noticeCookie, hex(hr));
  if (fetched) data[0].pUnk->Release();
  if (connections) connections->Release();
}

void checkPersistence(_Corvane* control) {
  Held<IPersistPropertyBag> persist(query<IPersistPropertyBag>(control, IID_IPersistPropertyBag));
  Held<IPersistStreamInit> stream(query<IPersistStreamInit>(control, IID_IPersistStreamInit));
  if (!persist || !stream) return check("the control answers IPersistPropertyBag and IPersistStreamInit", false);
  check("a changed control is dirty", stream->IsDirty() == S_OK);
  Bag bag;
  HRESULT hr = persist->Save(&bag, TRUE, TRUE);
  check("saved to a property bag: the nine keys in order, hosts without ports, with their types",
        hr == S_OK && bag.describe() == "POP3host=8:pop.test POP3port=3:1100 POP3user=8:ann POP3password=8:s3cret "
                                        "SMTPhost=8:smtp.test SMTPport=3:2525 SMTPsender=8:<ann@test> TimeOut=2:25 "
                                        "IsSecured=11:-1 ",
        bag.describe());
  check("saving with clearDirty leaves it clean", stream->IsDirty() == S_FALSE);
  const std::string original = settings(control);

  _Corvane* fromBag = newControl();
  Held<IPersistPropertyBag> loader(query<IPersistPropertyBag>(fromBag, IID_IPersistPropertyBag));
  hr = loader ? loader->Load(&bag, nullptr) : E_NOINTERFACE;
  check("a new instance loaded from the bag has every setting", hr == S_OK && settings(fromBag) == original,
        settings(fromBag));

  IStream* bytes = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &bytes);
  ULARGE_INTEGER most{};
  stream->GetSizeMax(&most);
  hr = stream->Save(bytes, TRUE);
  ULARGE_INTEGER written{};
  const LARGE_INTEGER start{};
  bytes->Seek(start, STREAM_SEEK_CUR, &written);
  bytes->Seek(start, STREAM_SEEK_SET, nullptr);
  _Corvane* fromStream = newControl();
  Held<IPersistStreamInit> streamLoader(query<IPersistStreamInit>(fromStream, IID_IPersistStreamInit));
  const HRESULT loaded = streamLoader ? streamLoader->Load(bytes) : E_NOINTERFACE;
  check("saved to a stream within GetSizeMax and loaded by a new instance: every setting",
        hr == S_OK && loaded == S_OK && written.QuadPart <= most.QuadPart && settings(fromStream) == original,
        hex(hr) + " " + hex(loaded) + " " + settings(fromStream));

  // Bad data is a clear error, never a crash.
  bytes->Seek(start, STREAM_SEEK_SET, nullptr);
  const char damaged[] = "\x06\0\0\0\x09\0\0\0\0\0";
  bytes->Write(damaged, sizeof damaged - 1, nullptr);
  bytes->Seek(start, STREAM_SEEK_SET, nullptr);
  hr = streamLoader ? streamLoader->Load(bytes) : E_NOINTERFACE;
  std::string why = errorDescription();
  check("a stream from a newer version is refused as an invalid file format",
        hr == static_cast<HRESULT>(0x800A0141) && why.find("format 9") != std::string::npos, hex(hr) + " " + why);
  IStream* cut = nullptr;  // says 100 bytes follow, holds 4
  CreateStreamOnHGlobal(nullptr, TRUE, &cut);
  cut->Write("\x64\0\0\0\x06\0\0\0", 8, nullptr);
  cut->Seek(start, STREAM_SEEK_SET, nullptr);
  hr = streamLoader ? streamLoader->Load(cut) : E_NOINTERFACE;
  why = errorDescription();
  check("a stream cut short is refused as an invalid file format",
        hr == static_cast<HRESULT>(0x800A0141) && why.find("end early") != std::string::npos, hex(hr) + " " + why);
  cut->Release();
  bytes->Release();
  Bag wrong;
  VARIANT text;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(L"soon");
  wrong.Write(L"POP3user", &text);
  wrong.Write(L"TimeOut", &text);
  VariantClear(&text);
  hr = loader ? loader->Load(&wrong, nullptr) : E_NOINTERFACE;
  why = errorDescription();
  check("a bag value of the wrong type is a type mismatch naming the key, after the settings before it",
        hr == static_cast<HRESULT>(0x800A000D) && why.find("TimeOut") != std::string::npos &&
            settings(fromBag).find("POP3user=soon") != std::string::npos,
        hex(hr) + " " + why);
  if (fromBag) fromBag->Release();
  if (fromStream) fromStream->Release();
}

void checkCaption(HWND form, IOleObject* object, Site& site, short refused) {
  Held<_Corvane> control(query<_Corvane>(object, IID__Corvane));
  BoxWatcher boxes;
  std::vector<std::string> captions;
  bool owned = true;
  for (auto [name, displayName] : {std::pair{L"MailControl1", L"Form1.Mail"}, std::pair{L"", L"Form1.Mail"},
                                   std::pair{L"", L""}}) {
    site.name = name;
    site.displayName = displayName;
    Bstr host(L"localhost");
    short port = refused, result = 0;
    control->SocketOpen(&host.value, &port, &result);
    const std::vector<BoxWatcher::Box> shown = boxes.take();
    captions.push_back(shown.size() == 1 ? shown[0].caption : describe(shown));
    owned = owned && shown.size() == 1 && shown[0].owner == form;
  }
  check("the error box is captioned with the extender's Name, else the display name, else Corvane",
        captions == std::vector<std::string>{"MailControl1", "Form1.Mail", "Corvane"},
        captions[0] + " / " + captions[1] + " / " + captions[2]);
  check("the error box is owned by the form", owned);
  site.name = L"MailControl1";
}

// The pages in a frame of the container's own: shown from the first of two
// selected controls, typed into, applied to that one alone.
void checkOwnFrame(HWND form, _Corvane* first, _Corvane* second) {
  struct Case {
    const CLSID* clsid;
    const char* title;
    std::vector<int> tabs;  // text boxes: 100 + their index in the page
    std::vector<std::string> shown;
    int typed;
    const wchar_t* text;
    std::string after;
  };
  const Case cases[] = {
      {&CLSID_pagPOP3, "Receiving", {101, 103, 105}, {"pop.test:1100", "ann", "s3cret"}, 101, L"mail.test:995",
       "POP3host=mail.test:995 POP3user=ann POP3password=s3cret"},
      {&CLSID_pagSMTP, "Sending", {100, 102}, {"smtp.test:2525", "<ann@test>"}, 102, L"",
       "SMTPhost=smtp.test:2525 SMTPsender=<>"},
  };
  const std::string untouched = settings(second);
  for (const Case& c : cases) {
    IPropertyPage* page = nullptr;
    CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, reinterpret_cast<void**>(&page));
    if (!page) {
      check(std::string("the page ") + c.title + " is created", false);
      continue;
    }
    PageSite site;
    IUnknown* objects[] = {first, second};
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    page->SetPageSite(&site);
    page->SetObjects(2, objects);
    page->GetPageInfo(&info);
    const std::string title = info.pszTitle ? narrow(info.pszTitle) : "";
    CoTaskMemFree(info.pszTitle);
    const RECT area{0, 0, info.size.cx, info.size.cy};
    const HRESULT hr = page->Activate(form, &area, TRUE);
    page->Show(SW_SHOW);
    HWND window = FindWindowExW(form, nullptr, L"CorvanePropertyPage", nullptr);
    check(std::string(c.title) + ": titled, sized from its twips and activated",
          hr == S_OK && window && title == c.title && info.size.cx > 250 && info.size.cy > 70, hex(hr) + " " + title);
    if (!window) continue;
    check(std::string(c.title) + ": tab order through its text boxes", tabOrder(window) == c.tabs);
    std::vector<std::string> shown;
    for (int id : c.tabs) shown.push_back(windowText(GetDlgItem(window, id)));
    check(std::string(c.title) + ": shows the first control's settings", shown == c.shown,
          shown.empty() ? "" : shown[0]);
    check(std::string(c.title) + ": nothing to apply before typing", page->IsPageDirty() == S_FALSE && !site.dirtyNotices);
    type(GetDlgItem(window, c.typed), c.text);
    check(std::string(c.title) + ": typing tells the site the page is dirty",
          page->IsPageDirty() == S_OK && site.dirtyNotices > 0);
    const HRESULT applied = page->Apply();
    const std::string now = settings(first);
    check(std::string(c.title) + ": Apply writes every value to the first control only",
          applied == S_OK && now.find(c.after) != std::string::npos && settings(second) == untouched &&
              page->IsPageDirty() == S_FALSE,
          hex(applied) + " " + now);
    if (c.clsid == &CLSID_pagPOP3) {
      const HWND password = GetDlgItem(window, 105);
      check("the password box masks with *",
            (GetWindowLongW(password, GWL_STYLE) & ES_PASSWORD) && SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0) == '*');
    }
    page->Deactivate();
    page->SetObjects(0, nullptr);
    page->SetPageSite(nullptr);
    page->Release();
  }
}

BOOL CALLBACK findShownPage(HWND at, LPARAM found) {
  wchar_t kind[32] = {};
  GetClassNameW(at, kind, 32);
  if (lstrcmpW(kind, L"CorvanePropertyPage") == 0 && IsWindowVisible(at)) *reinterpret_cast<HWND*>(found) = at;
  return TRUE;
}

// The system's frame through the control's Properties verb: a helper thread
// finds the frame, reads and photographs each page, types, then closes it.
void checkSystemFrame(HWND form, IOleObject* object, Site& site) {
  std::vector<std::string> seen;
  std::thread helper([&] {
    HWND frame = nullptr;
    for (int i = 0; i < 250 && !frame; ++i, Sleep(20)) frame = FindWindowW(L"#32770", nullptr);
    if (!frame) return;
    Sleep(500);
    for (int index = 0; index < 2; ++index) {
      SendMessageW(frame, PSM_SETCURSEL, index, 0);
      Sleep(300);
      HWND page = nullptr;
      EnumChildWindows(frame, findShownPage, reinterpret_cast<LPARAM>(&page));
      std::string texts;
      for (int id = 100; id < 106; ++id) {
        wchar_t kind[16] = {};
        const HWND box = page ? GetDlgItem(page, id) : nullptr;
        if (box) GetClassNameW(box, kind, 16);
        if (box && lstrcmpiW(kind, L"Edit") == 0)
          texts += windowText(box) + (GetWindowLongW(box, GWL_STYLE) & ES_PASSWORD ? "(*) " : " ");
      }
      seen.push_back(texts);
      RECT area = windowRect(frame);
      screenshot(area, index == 0 ? "pagPOP3.bmp" : "pagSMTP.bmp");
    }
    PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
  });
  const HRESULT hr = object->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, form, &site.place);
  helper.join();
  check("the Properties verb opens the system's frame with Receiving, then Sending, as the control holds them",
        hr == S_OK && seen == std::vector<std::string>{"mail.test:995 ann s3cret(*) ", "smtp.test:2525 <> "},
        hex(hr) + " " + (seen.size() == 2 ? seen[0] + "| " + seen[1] : std::to_string(seen.size())));
}

// The control's life on the form: sited, loaded new, activated, changed, saved
// and loaded, its error box, its pages, and closed.
void checkContainer(HWND form, Site& site, _Corvane* control, short refused) {
  Held<IOleObject> object(query<IOleObject>(control, IID_IOleObject));
  Held<IPersistStreamInit> persist(query<IPersistStreamInit>(control, IID_IPersistStreamInit));
  check("the control is an OLE object with IPersistStreamInit", object && persist);
  if (!object || !persist) return;
  object->SetClientSite(&site);
  check("InitNew: a new instance with Timeout 10, clean",
        persist->InitNew() == S_OK && settings(control).find("Timeout=10 ") != std::string::npos &&
            persist->IsDirty() == S_FALSE);
  checkForm(form, site, object.p);

  // Every property change reaches the container by its dispatch identifier.
  Held<IConnectionPointContainer> points(query<IConnectionPointContainer>(control, IID_IConnectionPointContainer));
  IConnectionPoint* point = nullptr;
  if (points) points->FindConnectionPoint(IID_IPropertyNotifySink, &point);
  PropertySink notices;
  DWORD cookie = 0;
  if (point) point->Advise(&notices, &cookie);
  checkEnumerators(control, cookie);
  Bstr pop3(L"pop.test:1100"), user(L"ann"), password(L"s3cret"), smtp(L"smtp.test:2525"), sender(L"<ann@test>");
  VARIANT_BOOL secured = VARIANT_TRUE;
  control->put_POP3host(pop3.value);
  control->put_POP3user(user.value);
  control->put_POP3password(password.value);
  control->put_SMTPhost(smtp.value);
  control->put_SMTPsender(sender.value);
  control->put_Timeout(25);
  control->put_IsSecured(&secured);
  check("each setting's put notifies its dispatch identifier",
        notices.changed ==
            std::vector<DISPID>{0x68030007, 0x68030005, 0x68030004, 0x68030006, 0x68030003, 0x68030008},
        std::to_string(notices.changed.size()));
  if (point) {
    point->Unadvise(cookie);
    point->Release();
  }

  checkPersistence(control);
  checkCaption(form, object.p, site, refused);
  _Corvane* second = newControl();
  checkOwnFrame(form, control, second);
  if (second) second->Release();
  checkSystemFrame(form, object.p, site);

  Held<IOleInPlaceObject> inPlace(query<IOleInPlaceObject>(control, IID_IOleInPlaceObject));
  object->Close(OLECLOSE_NOSAVE);
  HWND window = nullptr;
  check("Close deactivates: the window goes and the site hears it",
        inPlace && inPlace->GetWindow(&window) == E_FAIL && !window && site.activations == 0);
  object->SetClientSite(nullptr);
}

// A container that lets go of the control as soon as it hears of the
// deactivation, inside Close: Close ends first, then the control goes.
void checkReleaseInClose(HWND form) {
  Site site(form);
  _Corvane* control = newControl();
  IOleObject* object = query<IOleObject>(control, IID_IOleObject);
  if (control) control->Release();  // the container keeps the IOleObject alone
  if (!object) return check("a second control for Close", false);
  object->SetClientSite(&site);
  object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, form, &site.place);
  site.deactivated = [&] {
    if (object) std::exchange(object, nullptr)->Release();
  };
  IOleObject* closing = object;
  const HRESULT hr = closing->Close(OLECLOSE_SAVEIFDIRTY);
  check("a container that lets go of the control as it deactivates: Close ends, then the control goes",
        hr == S_OK && !object && site.references == 1, hex(hr) + " " + std::to_string(site.references));
}

LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 3) {
    std::fprintf(stderr, "usage: corvane_container <refused port> <screenshot folder>\n");
    return 2;
  }
  const short refused = static_cast<short>(std::atoi(argv[1]));
  shots = std::string(argv[2]) + "\\";
  if (FAILED(OleInitialize(nullptr))) {
    std::printf("RESULT FAIL OleInitialize\n");
    return 1;
  }
  WNDCLASSW type{};
  type.lpfnWndProc = formProcedure;
  type.hInstance = GetModuleHandleW(nullptr);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = L"CorvaneForm";
  RegisterClassW(&type);
  const HWND form = CreateWindowExW(0, L"CorvaneForm", L"Form1", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40, 240,
                                    140, nullptr, nullptr, type.hInstance, nullptr);
  ShowWindow(form, SW_SHOW);
  UpdateWindow(form);
  {
    Site site(form);
    site.name = L"MailControl1";
    _Corvane* control = newControl();
    check("CoCreateInstance of the control", control != nullptr);
    if (control) {
      checkContainer(form, site, control, refused);
      checkReleaseInClose(form);
      const ULONG left = control->Release();
      check("the control goes with its last reference and lets go of the site", left == 0 && site.references == 1,
            std::to_string(left) + " " + std::to_string(site.references));
    }
  }
  DestroyWindow(form);
  OleUninitialize();
  return finish();
}
