#include "posix/posix_host.h"

#include <csignal>
#include <cstdio>

#include "posix/event_loop.h"
#include "posix/posix_socket.h"
#include "text/charset.h"

namespace corvane {

PosixHost::PosixHost() : loop_(std::make_shared<posix::EventLoop>()) {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
}

PosixHost::~PosixHost() = default;

void PosixHost::Pump() { loop_->Pump(kLongestPumpMilliseconds); }

double PosixHost::Now() {
  return std::chrono::duration<double>(posix::Clock::now().time_since_epoch()).count();
}

std::unique_ptr<Socket> PosixHost::CreateSocket(SocketEvents& events) {
  return std::make_unique<posix::PosixSocket>(loop_, events);
}

std::unique_ptr<Timer> PosixHost::CreateTimer(std::function<void()> tick) {
  return std::make_unique<posix::LoopTimer>(loop_, std::move(tick));
}

void PosixHost::MessageBox(const std::u16string& prompt, const std::u16string& caption) {
  if (messageBox_) {
    messageBox_(prompt, caption);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", Utf8(caption).c_str(), Utf8(prompt).c_str());
}

void PosixHost::PropertyChanged(const std::u16string& name) {
  if (propertyChanged_) propertyChanged_(name);
}

}  // namespace corvane
