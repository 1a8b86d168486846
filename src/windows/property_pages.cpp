// The property pages pagPOP3 and pagSMTP as IPropertyPage: a child window of the
// host's frame holding labels and edit boxes laid out from the pages' twips,
// created in tab order, over the core's page logic. The selected controls are
// reached through IDispatch, by property name.
#include "property_pages.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <numeric>
#include <vector>

#include "bstr.h"
#include "com_error.h"
#include "com_object.h"
#include "control/errors.h"
#include "pages/pages.h"

namespace corvane::win {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kWindowClass[] = L"CorvanePropertyPage";
constexpr int kFirstControlId = 100;

int pixels(int twips, int dotsPerInch) { return MulDiv(twips, dotsPerInch, 1440); }

// The host's selection: each object's IDispatch, properties by name.
class DispatchSelection final : public PageSelection {
 public:
  size_t Count() const override { return objects.size(); }

  std::u16string Get(size_t item, std::u16string_view property) override {
    VARIANT value;
    VariantInit(&value);
    DISPPARAMS none{};
    check(invoke(item, property, DISPATCH_PROPERTYGET, none, &value));
    const HRESULT hr = VariantChangeType(&value, &value, 0, VT_BSTR);
    std::u16string text = SUCCEEDED(hr) ? fromBstr(V_BSTR(&value)) : std::u16string();
    VariantClear(&value);
    check(hr);
    return text;
  }

  void Put(size_t item, std::u16string_view property, const std::u16string& text) override {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = toBstr(text);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    const HRESULT hr = invoke(item, property, DISPATCH_PROPERTYPUT, params, nullptr);
    VariantClear(&value);
    check(hr);
  }

  std::vector<ComPtr<IDispatch>> objects;

 private:
  // The object's own error information, if it set any, stays for the host.
  HRESULT invoke(size_t item, std::u16string_view property, WORD kind, DISPPARAMS& params, VARIANT* result) {
    IDispatch* object = objects.at(item).Get();
    std::wstring name(property.begin(), property.end());
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr);
    return hr;
  }
};

class PropertyPage final : public ComObject<IPropertyPage> {
 public:
  explicit PropertyPage(const PageLayout& layout) : logic_(layout) {}

  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
    site_ = site;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL) override {
    if (!rect) return E_POINTER;
    if (window_) return E_UNEXPECTED;
    return guarded(source(), [&] {
      createWindows(parent, *rect);
      if (selection_.Count() > 0) selectionChanged();
    });
  }

  HRESULT STDMETHODCALLTYPE Deactivate() override {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    UnregisterClassW(kWindowClass, moduleHandle());  // fails while another page is open: fine
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    const std::wstring title(logic_.Layout().caption.begin(), logic_.Layout().caption.end());
    const size_t bytes = (title.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    std::copy_n(title.c_str(), title.size() + 1, copy);
    const HDC screen = GetDC(nullptr);
    info->size = SIZE{pixels(logic_.Layout().width, GetDeviceCaps(screen, LOGPIXELSX)),
                      pixels(logic_.Layout().height, GetDeviceCaps(screen, LOGPIXELSY))};
    ReleaseDC(nullptr, screen);
    info->pszTitle = copy;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override {
    if (count && !objects) return E_POINTER;
    return guarded(source(), [&] {
      std::vector<ComPtr<IDispatch>> selected;
      for (ULONG k = 0; k < count; ++k) {
        ComPtr<IDispatch> object;
        if (!objects[k]) throw HresultError(E_POINTER);
        check(objects[k]->QueryInterface(IID_PPV_ARGS(&object)));
        selected.push_back(std::move(object));
      }
      selection_.objects = std::move(selected);
      if (window_ && count > 0) selectionChanged();
    });
  }

  HRESULT STDMETHODCALLTYPE Show(UINT command) override {
    if (window_) ShowWindow(window_, command);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
    if (!rect) return E_POINTER;
    if (window_) MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPageDirty() override { return logic_.Changed() ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Apply() override {
    return guarded(source(), [&] { logic_.ApplyChanges(selection_); });
  }
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override {
    if (!message) return E_POINTER;
    return window_ && IsDialogMessageW(window_, message) ? S_OK : S_FALSE;
  }

 private:
  ~PropertyPage() { Deactivate(); }

  const wchar_t* source() const {
    return &logic_.Layout() == &Pop3Page() ? L"prjCorvane.pagPOP3" : L"prjCorvane.pagSMTP";
  }

  void createWindows(HWND parent, const RECT& rect) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = windowProcedure;
    type.hInstance = moduleHandle();
    type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = kWindowClass;
    RegisterClassExW(&type);  // already there while another page is open: fine
    // A control parent: the frame's dialog navigation tabs through the boxes.
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, L"", WS_CHILD, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, moduleHandle(), this);
    if (!window_) throw HresultError(HRESULT_FROM_WIN32(GetLastError()));
    const HDC dc = GetDC(window_);
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX), dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window_, dc);
    const auto font = static_cast<WPARAM>(parent ? SendMessageW(parent, WM_GETFONT, 0, 0) : 0);
    const std::span<const PageControl> controls = logic_.Layout().controls;
    std::vector<size_t> order(controls.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::ranges::sort(order, {}, [&](size_t k) { return controls[k].tabIndex; });
    for (const size_t k : order) {  // windows made in tab order are tabbed through in that order
      const PageControl& c = controls[k];
      const bool label = c.kind == PageControl::Label;
      DWORD style = WS_CHILD | WS_VISIBLE;
      style |= label ? SS_LEFT : WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
      if (c.kind == PageControl::PasswordBox) style |= ES_PASSWORD;
      const std::wstring caption(c.caption.begin(), c.caption.end());
      const HWND child = CreateWindowExW(0, label ? L"STATIC" : L"EDIT", caption.c_str(), style,
                                         pixels(c.left, dpiX), pixels(c.top, dpiY), pixels(c.width, dpiX),
                                         pixels(c.height, dpiY), window_,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + k)),
                                         moduleHandle(), nullptr);
      if (!child) throw HresultError(HRESULT_FROM_WIN32(GetLastError()));
      SendMessageW(child, WM_SETFONT, font ? font : reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
      if (c.kind == PageControl::PasswordBox) SendMessageW(child, EM_SETPASSWORDCHAR, L'*', 0);
    }
  }

  void selectionChanged() {
    logic_.SelectionChanged(selection_);
    filling_ = true;
    for (const PageField& field : logic_.Layout().fields) {
      const std::u16string& text = logic_.Text(field.control);
      SetDlgItemTextW(window_, kFirstControlId + static_cast<int>(field.control),
                      std::wstring(text.begin(), text.end()).c_str());
    }
    filling_ = false;
  }

  void edited(size_t control, HWND box) {
    if (filling_ || control >= logic_.Layout().controls.size()) return;
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    logic_.Edit(control, std::u16string(text.begin(), text.end()));
    if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
  }

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<PropertyPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
      try {
        self->edited(static_cast<size_t>(LOWORD(wParam) - kFirstControlId), reinterpret_cast<HWND>(lParam));
      } catch (const std::bad_alloc&) {
        // The edit is lost; the box still shows it, and the next one catches up.
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  PageLogic logic_;
  DispatchSelection selection_;
  ComPtr<IPropertyPageSite> site_;
  HWND window_ = nullptr;
  bool filling_ = false;  // text set by the page itself: no edit
};

}  // namespace

HRESULT createPop3Page(REFIID riid, void** object) noexcept {
  return createInstance<PropertyPage>(riid, object, Pop3Page());
}
HRESULT createSmtpPage(REFIID riid, void** object) noexcept {
  return createInstance<PropertyPage>(riid, object, SmtpPage());
}

}  // namespace corvane::win
