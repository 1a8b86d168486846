#include "posix/posix_host.h"

#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
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

void PosixHost::PreparingLargeStorage(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  // Whole pages inside the storage only; a refusal leaves small pages, as before.
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace corvane
