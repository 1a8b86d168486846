#include "ole_control.h"

#include <new>

#include "bstr.h"
#include "corvane_idl.h"
#include "module.h"
#include "resources.h"
#include "server_classes.h"

namespace corvane::win {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kWindowClass[] = L"CorvaneControl";

// The fixed extent in pixels of the screen.
SIZE fixedPixels() {
  const HDC screen = GetDC(nullptr);
  const SIZE size{MulDiv(kExtentHimetric, GetDeviceCaps(screen, LOGPIXELSX), 2540),
                  MulDiv(kExtentHimetric, GetDeviceCaps(screen, LOGPIXELSY), 2540)};
  ReleaseDC(nullptr, screen);
  return size;
}

// A property read through IDispatch, as text; empty when there is none.
std::u16string textProperty(IDispatch* object, DISPID id) {
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  std::u16string text;
  if (SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                               nullptr)) &&
      SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)))
    text = fromBstr(V_BSTR(&value));
  VariantClear(&value);
  return text;
}

}  // namespace

OleControl::OleControl(IUnknown& outer, corvane::Corvane& core, Win32Host& host)
    : outer_(outer), core_(core), host_(host) {
  picture_ = static_cast<HBITMAP>(
      LoadImageW(moduleHandle(), MAKEINTRESOURCEW(CORVANE_PICTURE_BITMAP), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  // The error box belongs to the container: captioned with the name it knows
  // the control by, owned by its window.
  host_.setInstanceName([this] { return instanceName(); });
  host_.setMessageBoxOwner([this] { return ownerWindow(); });
}

OleControl::~OleControl() {
  host_.setInstanceName(nullptr);
  host_.setMessageBoxOwner(nullptr);
  if (window_) DestroyWindow(window_);
  UnregisterClassW(kWindowClass, moduleHandle());  // fails while another control has a window: fine
  if (picture_) DeleteObject(picture_);
}

void* OleControl::find(REFIID riid) {
  if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
  if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
  if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
  if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
  if (riid == IID_IViewObject || riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
  if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
  // IPersistStreamInit begins with IPersistStream's methods: containers that
  // know only the older interface get it too.
  if (riid == IID_IPersist || riid == IID_IPersistStreamInit || riid == IID_IPersistStream)
    return static_cast<IPersistStreamInit*>(this);
  if (riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
  return nullptr;
}

HRESULT OleControl::QueryInterface(REFIID riid, void** object) { return outer_.QueryInterface(riid, object); }
ULONG OleControl::AddRef() { return outer_.AddRef(); }
ULONG OleControl::Release() { return outer_.Release(); }

// --- IOleObject

HRESULT OleControl::SetClientSite(IOleClientSite* site) {
  const auto alive = hold();
  site_ = site;
  showOrHide();
  return S_OK;
}

HRESULT OleControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

HRESULT OleControl::Close(DWORD saveOption) {
  const auto alive = hold();
  InPlaceDeactivate();
  if (site_ && dirty_ && (saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE)) site_->SaveObject();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

HRESULT OleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT OleControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT OleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT) {
  const auto alive = hold();
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE: return activate(true);
    case OLEIVERB_INPLACEACTIVATE: return activate(false);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_) ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_PROPERTIES: return showPropertyPages(parent);
    case OLEIVERB_DISCARDUNDOSTATE: return S_OK;
    default: return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
  }
}

HRESULT OleControl::EnumVerbs(IEnumOLEVERB** verbs) { return OleRegEnumVerbs(CLSID_Corvane, verbs); }

HRESULT OleControl::GetUserType(DWORD form, LPOLESTR* type) { return OleRegGetUserType(CLSID_Corvane, form, type); }

// The control has one size: whatever the container asks, it keeps its own, and
// a container that moves it in place is told the size back (SetObjectRects).
HRESULT OleControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  return aspect == DVASPECT_CONTENT ? S_OK : E_FAIL;
}

HRESULT OleControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  *size = SIZEL{kExtentHimetric, kExtentHimetric};
  return S_OK;
}

HRESULT OleControl::Advise(IAdviseSink* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!adviseHolder_) {
    const HRESULT hr = CreateOleAdviseHolder(&adviseHolder_);
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, cookie);
}

HRESULT OleControl::Unadvise(DWORD cookie) {
  return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

HRESULT OleControl::EnumAdvise(IEnumSTATDATA** advises) {
  if (!advises) return E_POINTER;
  *advises = nullptr;
  return adviseHolder_ ? adviseHolder_->EnumAdvise(advises) : S_OK;
}

HRESULT OleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? kControlMiscStatus : 0;
  return S_OK;
}

// --- IOleControl

HRESULT OleControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
  info->hAccel = nullptr;  // no mnemonics
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT OleControl::OnAmbientPropertyChange(DISPID id) {
  const auto alive = hold();
  if (id == DISPID_AMBIENT_USERMODE || id == DISPID_UNKNOWN) showOrHide();
  return S_OK;
}

// --- In-place activation: a child window of the container's, showing the picture

HRESULT OleControl::activate(bool ui) {
  if (!site_) return E_UNEXPECTED;
  if (!inPlaceSite_) {
    ComPtr<IOleInPlaceSite> site;
    if (FAILED(site_.As(&site))) return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    site->OnInPlaceActivate();
    HWND parent = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    HRESULT hr = site->GetWindow(&parent);
    if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame_, &document_, &position, &clip, &frameInfo);
    if (SUCCEEDED(hr)) {
      WNDCLASSEXW type{};
      type.cbSize = sizeof type;
      type.lpfnWndProc = windowProcedure;
      type.hInstance = moduleHandle();
      type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
      type.lpszClassName = kWindowClass;
      RegisterClassExW(&type);  // already there for a second control: fine
      const SIZE size = fixedPixels();
      window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, position.left, position.top,
                                size.cx, size.cy, parent, nullptr, moduleHandle(), this);
      if (!window_) hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (FAILED(hr)) {
      frame_.Reset();
      document_.Reset();
      site->OnInPlaceDeactivate();
      return hr;
    }
    inPlaceSite_ = site;
    showOrHide();
  }
  if (ui && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (frame_) frame_->SetActiveObject(this, nullptr);
    if (document_) document_->SetActiveObject(this, nullptr);
  }
  return S_OK;
}

HRESULT OleControl::UIDeactivate() {
  if (!uiActive_) return S_OK;
  const auto alive = hold();
  uiActive_ = false;
  if (frame_) frame_->SetActiveObject(nullptr, nullptr);
  if (document_) document_->SetActiveObject(nullptr, nullptr);
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT OleControl::InPlaceDeactivate() {
  if (!inPlaceSite_) return S_OK;
  const auto alive = hold();
  UIDeactivate();
  DestroyWindow(window_);
  window_ = nullptr;
  const ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
  frame_.Reset();
  document_.Reset();
  site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT OleControl::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

HRESULT OleControl::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  const SIZE size = fixedPixels();
  if (window_) MoveWindow(window_, position->left, position->top, size.cx, size.cy, TRUE);
  if (inPlaceSite_ && (position->right - position->left != size.cx || position->bottom - position->top != size.cy)) {
    const RECT fixed{position->left, position->top, position->left + size.cx, position->top + size.cy};
    inPlaceSite_->OnPosRectChange(&fixed);
  }
  return S_OK;
}

// Shown in design mode; at run time the control is there but invisible.
void OleControl::showOrHide() {
  if (!window_) return;
  VARIANT userMode;
  const bool running = !ambient(DISPID_AMBIENT_USERMODE, VT_BOOL, userMode) || V_BOOL(&userMode) != VARIANT_FALSE;
  ShowWindow(window_, running ? SW_HIDE : SW_SHOWNA);
}

LRESULT CALLBACK OleControl::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<OleControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && message == WM_PAINT) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    self->draw(dc, client);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;  // the picture covers it all
  return DefWindowProcW(window, message, wParam, lParam);
}

// --- IViewObject2

void OleControl::draw(HDC dc, const RECT& bounds) const {
  BITMAP info{};
  if (!picture_ || !GetObjectW(picture_, sizeof info, &info)) return;
  const HDC source = CreateCompatibleDC(dc);
  const HGDIOBJ before = SelectObject(source, picture_);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, source, 0, 0,
             info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, before);
  DeleteDC(source);
}

HRESULT OleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                         BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc || !bounds) return E_INVALIDARG;
  draw(dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
  return S_OK;
}

HRESULT OleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (colors) *colors = nullptr;
  return S_FALSE;  // no palette of its own
}

HRESULT OleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewAspects_ = aspects;
  viewFlags_ = flags;
  viewSink_ = sink;
  return S_OK;
}

HRESULT OleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = viewSink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT OleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) { return GetExtent(aspect, size); }

// --- Property pages

HRESULT OleControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 2;
  pages->pElems[0] = CLSID_pagPOP3;
  pages->pElems[1] = CLSID_pagSMTP;
  return S_OK;
}

// The container's own frame when it has one, the system's otherwise.
HRESULT OleControl::showPropertyPages(HWND parent) {
  ComPtr<IOleControlSite> controlSite;
  if (site_ && SUCCEEDED(site_.As(&controlSite)) && SUCCEEDED(controlSite->ShowPropertyFrame())) return S_OK;
  CAUUID pages{};
  HRESULT hr = GetPages(&pages);
  if (FAILED(hr)) return hr;
  std::wstring caption;
  try {
    caption = toWide(instanceName());
  } catch (const std::bad_alloc&) {
  }
  IUnknown* objects[] = {&outer_};
  hr = OleCreatePropertyFrame(parent ? parent : ownerWindow(), 0, 0, caption.empty() ? L"Corvane" : caption.c_str(), 1,
                              objects, pages.cElems, pages.pElems, LOCALE_USER_DEFAULT, 0, nullptr);
  CoTaskMemFree(pages.pElems);
  return hr;
}

// --- What the container tells

bool OleControl::ambient(DISPID id, VARTYPE type, VARIANT& value) const {
  VariantInit(&value);
  ComPtr<IDispatch> ambients;
  if (!site_ || FAILED(site_.As(&ambients))) return false;
  DISPPARAMS none{};
  if (FAILED(ambients->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                              nullptr)) ||
      FAILED(VariantChangeType(&value, &value, 0, type))) {
    VariantClear(&value);
    return false;
  }
  return true;
}

// The extender's Name (what a form designer calls the control), else the
// ambient display name; empty when the container tells neither.
std::u16string OleControl::instanceName() const {
  ComPtr<IOleControlSite> controlSite;
  ComPtr<IDispatch> extender;
  if (site_ && SUCCEEDED(site_.As(&controlSite)) && SUCCEEDED(controlSite->GetExtendedControl(&extender)) && extender) {
    wchar_t name[] = L"Name";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    if (SUCCEEDED(extender->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
      std::u16string text = textProperty(extender.Get(), id);
      if (!text.empty()) return text;
    }
  }
  VARIANT displayName;
  if (!ambient(DISPID_AMBIENT_DISPLAYNAME, VT_BSTR, displayName)) return {};
  std::u16string text = fromBstr(V_BSTR(&displayName));
  VariantClear(&displayName);
  return text;
}

HWND OleControl::ownerWindow() const {
  ComPtr<IOleWindow> window;
  HWND handle = nullptr;
  if (site_ && SUCCEEDED(site_.As(&window))) window->GetWindow(&handle);
  return handle;
}

}  // namespace corvane::win
