#include "windows/host/message_window.h"

#include <wrl/client.h>

#include <stdexcept>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace corvane::win {

namespace {

constexpr wchar_t kClassName[] = L"CorvaneHostWindow";
constexpr UINT kLastNumber = 0xBFFF;  // the end of the WM_APP range

HINSTANCE thisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// A plain pointer: a thread_local with a destructor is not safe in a DLL that is
// loaded and unloaded at run time.
thread_local MessageWindow* threadWindow = nullptr;

}  // namespace

std::shared_ptr<MessageWindow> MessageWindow::forThisThread() {
  if (threadWindow) return threadWindow->shared_from_this();
  std::shared_ptr<MessageWindow> window(new MessageWindow());
  threadWindow = window.get();
  return window;
}

MessageWindow::MessageWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = thisModule();
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("the host's window class could not be registered");
  hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, thisModule(), this);
  if (!hwnd_) throw std::runtime_error("the host's message window could not be created");
}

MessageWindow::~MessageWindow() {
  DestroyWindow(hwnd_);
  // Fails while another thread still has a window of the class, which is fine:
  // the last one unregisters it, before the DLL can be unloaded.
  UnregisterClassW(kClassName, thisModule());
  if (threadWindow == this) threadWindow = nullptr;
}

UINT MessageWindow::claim(MessageTarget& target) {
  for (UINT tried = 0; tried <= kLastNumber - WM_APP; ++tried) {
    const UINT number = next_;
    next_ = next_ == kLastNumber ? WM_APP : next_ + 1;
    if (targets_.emplace(number, &target).second) return number;
  }
  throw std::runtime_error("the host's message window has no free message number");
}

void MessageWindow::release(UINT number) { targets_.erase(number); }

bool MessageWindow::route(UINT number, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto found = targets_.find(number);
  if (found == targets_.end()) return false;
  // Let go last: the owner's going may take the target and this window with it.
  const Microsoft::WRL::ComPtr<IUnknown> owner(found->second->owner_);
  // The target may release its number or go away while it handles the message.
  try {
    found->second->OnMessage(message, wParam, lParam);
  } catch (...) {
    const auto still = targets_.find(number);
    if (still != targets_.end()) still->second->OnException(std::current_exception());
  }
  return true;
}

void MessageWindow::deliverDeferred() {
  // A target may hand in more, or pump again and take some of these itself.
  for (size_t left = deferred_.size(); left > 0 && !deferred_.empty(); --left) {
    const auto [number, lParam] = deferred_.front();
    deferred_.pop_front();
    route(number, number, 0, lParam);
  }
}

LRESULT CALLBACK MessageWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self) {
    if (message == WM_TIMER && self->route(static_cast<UINT>(wParam), message, wParam, lParam)) return 0;
    if (message >= WM_APP && message <= kLastNumber && self->route(message, message, wParam, lParam)) return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace corvane::win
