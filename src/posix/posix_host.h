#pragma once
// The POSIX host: lets a C++ program (and the tests) run the control natively.
//
//   corvane::PosixHost host;
//   MyEvents events;                       // a corvane::ControlEvents
//   corvane::Corvane control(host, events);
//   control.InitProperties();
//   ... call the control's members; they pump the host while they wait.
//
// Everything runs on the thread that calls Pump (through the control's waits).
#include <functional>
#include <memory>
#include <string>

#include "control/host.h"

namespace corvane {

namespace posix {
class EventLoop;
}

class PosixHost : public Host {
 public:
  using MessageBoxHandler = std::function<void(const std::u16string& prompt, const std::u16string& caption)>;
  using PropertyChangedHandler = std::function<void(const std::u16string& name)>;

  // Ignores SIGPIPE unless the program has its own handler: a peer that goes away
  // must show up as a socket error, not end the process.
  PosixHost();
  ~PosixHost() override;
  PosixHost(const PosixHost&) = delete;
  PosixHost& operator=(const PosixHost&) = delete;

  // Sleeps in poll() until a socket is ready, a timer tick is due or
  // kLongestPumpMilliseconds passed, then delivers socket events and the ticks
  // that fell due.
  void Pump() override;
  double Now() override;

  std::unique_ptr<Socket> CreateSocket(SocketEvents& events) override;
  std::unique_ptr<Timer> CreateTimer(std::function<void()> tick) override;

  // By default writes "caption: prompt" to standard error and returns.
  void MessageBox(const std::u16string& prompt, const std::u16string& caption) override;
  void OnMessageBox(MessageBoxHandler handler) { messageBox_ = std::move(handler); }

  void PropertyChanged(const std::u16string& name) override;
  void OnPropertyChanged(PropertyChangedHandler handler) { propertyChanged_ = std::move(handler); }

  std::u16string InstanceName() override { return instanceName_; }
  // Asks the kernel for transparent huge pages (where it offers them on request).
  void PreparingLargeStorage(void* data, size_t bytes) override;
  void InstanceName(std::u16string name) { instanceName_ = std::move(name); }

 private:
  std::shared_ptr<posix::EventLoop> loop_;
  MessageBoxHandler messageBox_;
  PropertyChangedHandler propertyChanged_;
  std::u16string instanceName_ = u"Corvane1";
};

}  // namespace corvane
