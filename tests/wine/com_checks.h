#pragma once
// What the C++ checks of COM objects with windows share: reference counting for
// the test's own COM objects, QueryInterface in one call, and a watcher that reads and closes the message
// boxes of this process as a user would.
#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "checks.h"

namespace corvane::checks {

// Reference counting for the test's own COM objects, and QueryInterface for the
// interfaces they implement; one that answers more (a base interface, an outgoing
// one) names them in `more`.
template <class First, class... Rest>
class Unknown : public First, public Rest... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = riid == IID_IUnknown || riid == __uuidof(First) ? static_cast<First*>(this) : more(riid);
    ((riid == __uuidof(Rest) ? void(*object = static_cast<Rest*>(this)) : void()), ...);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }  // owned by the test, never deleted
  ULONG references = 1;

 protected:
  virtual void* more(REFIID) { return nullptr; }
};

// A sink of property-change notices: the dispatch identifiers, in order.
class PropertySink final : public Unknown<IPropertyNotifySink> {
 public:
  HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override {
    changed.push_back(id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
  std::vector<DISPID> changed;
};

// The object's `riid` interface (a reference for the caller), or null.
template <class Interface>
Interface* query(IUnknown* object, REFIID riid) {
  void* found = nullptr;
  if (object) object->QueryInterface(riid, &found);
  return static_cast<Interface*>(found);
}

// Message boxes of this process, as a user sees them: each is read, recorded and
// closed with its OK button.
class BoxWatcher {
 public:
  struct Box {
    std::string caption, text;
    HWND owner;
  };

  BoxWatcher() : thread_([this] { watch(); }) {}
  ~BoxWatcher() {
    stop_ = true;
    thread_.join();
  }

  std::vector<Box> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(boxes_, {});
  }

 private:
  void watch() {
    while (!stop_) {
      EnumWindows(visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }

  static BOOL CALLBACK visit(HWND window, LPARAM self) {
    wchar_t type[16] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, type, 16);
    if (process == GetCurrentProcessId() && std::wstring(type) == L"#32770" && IsWindowVisible(window))
      reinterpret_cast<BoxWatcher*>(self)->close(window);
    return TRUE;
  }

  static BOOL CALLBACK addStaticText(HWND child, LPARAM text) {
    wchar_t type[16] = {}, content[512] = {};
    GetClassNameW(child, type, 16);
    if (lstrcmpiW(type, L"Static") == 0 && GetWindowTextW(child, content, 512) > 0)
      *reinterpret_cast<std::wstring*>(text) += content;
    return TRUE;
  }

  void close(HWND box) {
    wchar_t caption[256] = {};
    std::wstring text;
    for (int i = 0; i < 100 && text.empty(); ++i) {  // the text is set while the box starts
      EnumChildWindows(box, addStaticText, reinterpret_cast<LPARAM>(&text));
      if (text.empty()) Sleep(20);
    }
    GetWindowTextW(box, caption, 256);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back({narrow(caption), narrow(text), GetWindow(box, GW_OWNER)});
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);  // one box is recorded once
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::thread thread_;
};

std::string describe(const std::vector<BoxWatcher::Box>& boxes) {
  std::string text = std::to_string(boxes.size()) + " box(es)";
  for (const auto& box : boxes) text += " [" + box.caption + ": " + box.text + "]";
  return text;
}

}  // namespace corvane::checks
