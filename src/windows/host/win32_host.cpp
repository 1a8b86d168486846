#include "windows/host/win32_host.h"

#include "windows/host/message_window.h"
#include "windows/host/winsock_socket.h"

namespace corvane::win {

namespace {

// One pass dispatches at most this many messages, so a handler that keeps posting
// cannot hold a pump for ever; the next pass finds the rest at once.
constexpr int kMostMessagesPerPump = 1000;
// A pump that has work of its own to deliver looks into the thread's queue only
// this often: each look is a round trip to the window system (under Wine, to its
// server), and a run of sends pumps once per line.
constexpr ULONGLONG kLookMilliseconds = 10;
constexpr UINT kTimerMilliseconds = 1000;

// Switching the timer off only marks it off: the Windows timer runs on until its
// next tick finds it still off, and stops then. A control switches its timer on
// and off around every socket call, and each SetTimer or KillTimer is a round trip
// to the window system (under Wine, to its server). The price: the first tick
// after switching on again comes at the running timer's next whole second, in
// less than a second, as it always did for a timer switched on while already on.
// The countdowns it drives count whole seconds anyway.
class Win32Timer final : public Timer, MessageTarget {
 public:
  Win32Timer(std::shared_ptr<MessageWindow> window, std::function<void()> tick, IUnknown* owner)
      : MessageTarget(owner), window_(std::move(window)), tick_(std::move(tick)), id_(window_->claim(*this)) {}

  ~Win32Timer() override {
    if (running_) KillTimer(window_->handle(), id_);
    window_->release(id_);
  }

  void Enabled(bool on) override {
    if (on && !running_) running_ = SetTimer(window_->handle(), id_, kTimerMilliseconds, nullptr) != 0;
    on_ = on && running_;
  }

  bool Enabled() const override { return on_; }

  void OnMessage(UINT message, WPARAM, LPARAM) override {
    if (message != WM_TIMER) return;
    if (on_) {
      tick_();
    } else if (running_) {
      // Off since before this tick: now it stops. A tick that was already queued
      // then finds it stopped and is dropped like this one.
      KillTimer(window_->handle(), id_);
      running_ = false;
    }
  }

 private:
  std::shared_ptr<MessageWindow> window_;
  std::function<void()> tick_;
  UINT id_;
  bool on_ = false;       // as the control sees it
  bool running_ = false;  // the Windows timer
};

}  // namespace

Win32Host::Win32Host(IUnknown* owner) : window_(MessageWindow::forThisThread()), owner_(owner) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  ticksPerSecond_ = static_cast<double>(frequency.QuadPart);
}

Win32Host::~Win32Host() { postQuitRequest(); }

void Win32Host::postQuitRequest() noexcept {
  if (quitCode_) PostQuitMessage(*std::exchange(quitCode_, std::nullopt));
}

void Win32Host::Pump() {
  window_->pumpBegins();
  // Deferred work is ready now: then the queue gets only a look, not a wait, and
  // not at every pump.
  const bool deferred = window_->hasDeferred();
  if (!deferred) MsgWaitForMultipleObjectsEx(0, nullptr, kLongestPumpMilliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  window_->deliverDeferred();
  const ULONGLONG now = GetTickCount64();
  if (deferred && now - lastLook_ < kLookMilliseconds) return;
  lastLook_ = now;
  MSG msg;
  // One receipt of data per pass, as a fast sender's notifications queue up:
  // the control looks at each piece before the next is read, and never finds a
  // whole message piled up in one pass.
  const uint64_t receipts = window_->receipts();
  for (int n = 0; n < kMostMessagesPerPump && window_->receipts() == receipts &&
                  PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
       ++n) {
    if (msg.message == WM_QUIT) {
      quitCode_ = static_cast<int>(msg.wParam);  // see Call
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (calls_ == 0) postQuitRequest();
}
double Win32Host::Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerSecond_;
}

std::unique_ptr<Socket> Win32Host::CreateSocket(SocketEvents& events) {
  return std::make_unique<WinsockSocket>(window_, events, owner_);
}

std::unique_ptr<Timer> Win32Host::CreateTimer(std::function<void()> tick) {
  return std::make_unique<Win32Timer>(window_, std::move(tick), owner_);
}

void Win32Host::MessageBox(const std::u16string& prompt, const std::u16string& caption) {
  const HWND owner = boxOwner_ ? boxOwner_() : nullptr;
  MessageBoxW(owner, toWide(prompt).c_str(), toWide(caption).c_str(), MB_OK);
}

void Win32Host::PropertyChanged(const std::u16string& name) {
  if (propertyChanged_) propertyChanged_(name);
}

std::u16string Win32Host::InstanceName() {
  std::u16string name = instanceName_ ? instanceName_() : std::u16string();
  return name.empty() ? u"Corvane" : name;
}

}  // namespace corvane::win
