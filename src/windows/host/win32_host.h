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

namespace corvane::win {

class MessageWindow;

class Win32Host final : public Host {
 public:
  Win32Host();
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
  void setMessageBoxOwner(std::function<HWND()> owner) { owner_ = std::move(owner); }
  void setPropertyChanged(std::function<void(const std::u16string&)> notify) { propertyChanged_ = std::move(notify); }
  void setInstanceName(std::function<std::u16string()> name) { instanceName_ = std::move(name); }

  // A WM_QUIT that arrived while pumping is kept here and posted again when the
  // host is destroyed; a container may post it earlier, once the control's call
  // has returned.
  std::optional<int> takeQuitRequest() { return std::exchange(quitCode_, std::nullopt); }

 private:
  std::shared_ptr<MessageWindow> window_;
  std::function<HWND()> owner_;
  std::function<void(const std::u16string&)> propertyChanged_;
  std::function<std::u16string()> instanceName_;  // "Corvane" when it tells none
  double ticksPerSecond_;
  std::optional<int> quitCode_;  // a WM_QUIT that a pump took from the queue
  ULONGLONG lastLook_ = 0;       // when a pump last read the thread's queue
};

}  // namespace corvane::win
