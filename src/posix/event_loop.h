#pragma once
// The machinery behind PosixHost: the poll() loop, the sockets it waits on and the
// one-second timers it ticks. Sockets and timers hold the loop, so they may outlive
// the host that made them.
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/host.h"

using SSL_CTX = struct ssl_ctx_st;

namespace corvane::posix {

using Clock = std::chrono::steady_clock;

// Something the pump waits on.
class Pollable {
 public:
  struct Wait {
    int fd = -1;          // -1: nothing to poll
    short events = 0;     // POLLIN, POLLOUT
    bool ready = false;   // has work that needs no waiting
  };

  virtual ~Pollable() = default;
  virtual Wait Waiting() = 0;
  // Called inside the pump when poll reported `revents` or Waiting said ready.
  // `revents` may be stale when a nested pump ran first, so I/O must not block.
  virtual void Handle(short revents) = 0;
};

class LoopTimer;

class EventLoop {
 public:
  EventLoop() = default;
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Waits until something is ready, a timer tick is due or `longestMilliseconds`
  // passed; then delivers socket readiness first and timer ticks after it.
  // Work that is ready without waiting is delivered with no system call; every
  // kReadyPumpsPerLook-th such pump still polls (without waiting) and ticks the
  // timers, so a long run of ready work holds back no arrival, close, error or tick.
  // Safe to re-enter from any handler it calls.
  void Pump(int longestMilliseconds);
  static constexpr int kReadyPumpsPerLook = 32;

  // How many pumps have begun, nested ones included.
  uint64_t Pumps() const { return pumps_; }

  uint64_t Add(Pollable& pollable);
  uint64_t Add(LoopTimer& timer);
  void Remove(uint64_t id);

  // The TLS client context, made on first use, so the trust store (including
  // SSL_CERT_FILE and SSL_CERT_DIR) is read then. Null with `error` set on failure.
  SSL_CTX* TlsContext(std::string& error);

 private:
  // One pump's view of the pollables. Each level of nesting keeps its own, reused,
  // so a pump allocates nothing once the loop has warmed up.
  struct Snapshot {
    std::vector<uint64_t> ids;
    std::vector<pollfd> fds;
    std::vector<bool> ready;
  };

  void DeliverTicks(Clock::time_point now);

  uint64_t pumps_ = 0;
  int readyPumps_ = 0;  // in a row without a look
  size_t depth_ = 0;    // of nested pumps
  std::deque<Snapshot> snapshots_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, Pollable*> pollables_;
  std::map<uint64_t, LoopTimer*> timers_;
  SSL_CTX* tls_ = nullptr;
};

// A timer that ticks once a second while enabled, measured on the monotonic clock
// from the moment it was enabled.
class LoopTimer final : public Timer {
 public:
  LoopTimer(std::shared_ptr<EventLoop> loop, std::function<void()> tick);
  ~LoopTimer() override;

  void Enabled(bool on) override;
  bool Enabled() const override { return enabled_; }

  Clock::time_point NextDue() const { return nextDue_; }
  // How many ticks have fallen due by `now`, counted as delivered: a late pump
  // gets one per whole second elapsed, never more.
  int TakeDue(Clock::time_point now);
  void Tick() { tick_(); }

 private:
  std::shared_ptr<EventLoop> loop_;
  uint64_t id_;
  std::function<void()> tick_;
  bool enabled_ = false;
  Clock::time_point nextDue_{};
};

}  // namespace corvane::posix
