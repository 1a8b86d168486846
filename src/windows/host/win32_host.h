#pragma once
// The control's host under Windows: the pump lets the thread's message queue run,
// so the host application's own windows keep working while the control waits;
// timers and sockets deliver through the thread's message-only window.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "control/host.h"
#include "windows/host/win32.h"

#include <unknwn.h>

namespace corvane::win {

class MessageWindow;

class Win32Host final : public Host {
 public:
  // `owner` is the COM object the host serves, if any: every notification its
  // sockets and timers get from the message loop holds it (see MessageTarget).
  explicit Win32Host(IUnknown* owner = nullptr);
  ~Win32Host() override;

  void Pump() override;
  double Now() override;
  std::unique_ptr<Socket> CreateSocket(SocketEvents& events) override;
  std::unique_ptr<Timer> CreateTimer(std::function<void()> tick) override;
  void MessageBox(const std::u16string& prompt, const std::u16string& caption) override;
  void PropertyChanged(const std::u16string& name) override;
  std::u16string InstanceName() override;

  // Where the control's container plugs in: the owner window of message boxes
  // (asked each time, since it can change), the property-change notice and the
  // instance name.
  void setMessageBoxOwner(std::function<HWND()> owner) { boxOwner_ = std::move(owner); }
  void setPropertyChanged(std::function<void(const std::u16string&)> notify) { propertyChanged_ = std::move(notify); }
  void setInstanceName(std::function<std::u16string()> name) { instanceName_ = std::move(name); }

  // One call of the control, for as long as it may pump. A WM_QUIT that a pump
  // takes meanwhile is held (left queued, it would come first on every pass and
  // starve the timers and sockets) and posted again when the outermost call
  // returns, so the application's own loop still ends. Outside any call it goes
  // back right after the pump that took it.
  class Call {
   public:
    explicit Call(Win32Host& host) noexcept : host_(host) { ++host_.calls_; }
    ~Call() {
      if (--host_.calls_ == 0) host_.postQuitRequest();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    Win32Host& host_;
  };

 private:
  std::shared_ptr<MessageWindow> window_;
  IUnknown* owner_;
  std::function<HWND()> boxOwner_;
  std::function<void(const std::u16string&)> propertyChanged_;
  std::function<std::u16string()> instanceName_;  // "Corvane" when it tells none
  double ticksPerSecond_;
  void postQuitRequest() noexcept;

  std::optional<int> quitCode_;  // a WM_QUIT that a pump took from the queue
  int calls_ = 0;                // calls of the control under way (nested ones too)
  ULONGLONG lastLook_ = 0;       // when a pump last read the thread's queue
};

}  // namespace corvane::win
