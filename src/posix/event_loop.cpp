#include "posix/event_loop.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>

namespace corvane::posix {

namespace {

constexpr auto kTickInterval = std::chrono::seconds(1);

// Rounded up, so a pump that wakes for a tick never wakes just before it.
int MillisecondsUntil(Clock::time_point due, Clock::time_point now) {
  if (due <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, 1 << 30));
}

}  // namespace

EventLoop::~EventLoop() { SSL_CTX_free(tls_); }

uint64_t EventLoop::Add(Pollable& pollable) {
  pollables_[nextId_] = &pollable;
  return nextId_++;
}

uint64_t EventLoop::Add(LoopTimer& timer) {
  timers_[nextId_] = &timer;
  return nextId_++;
}

void EventLoop::Remove(uint64_t id) {
  pollables_.erase(id);
  timers_.erase(id);
}

void EventLoop::Pump(int longestMilliseconds) {
  ++pumps_;
  // Handlers may add, remove or pump again, so work from a snapshot of ids and
  // look each one up again before calling it.
  if (depth_ == snapshots_.size()) snapshots_.emplace_back();
  Snapshot& snapshot = snapshots_[depth_++];
  struct Leave {
    size_t& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  snapshot.ids.clear();
  snapshot.fds.clear();
  snapshot.ready.clear();
  bool anyReady = false;
  for (auto& [id, pollable] : pollables_) {
    const Pollable::Wait wait = pollable->Waiting();
    snapshot.ids.push_back(id);
    snapshot.fds.push_back(pollfd{wait.fd, wait.events, 0});
    snapshot.ready.push_back(wait.ready);
    anyReady = anyReady || wait.ready;
  }

  const bool look = !anyReady || ++readyPumps_ >= kReadyPumpsPerLook;
  if (look) {
    readyPumps_ = 0;
    int timeout = 0;
    if (!anyReady) {
      timeout = longestMilliseconds;
      const auto now = Clock::now();
      for (auto& [id, timer] : timers_) {
        if (timer->Enabled()) timeout = std::min(timeout, MillisecondsUntil(timer->NextDue(), now));
      }
    }
    if (poll(snapshot.fds.data(), snapshot.fds.size(), timeout) < 0) {
      for (auto& fd : snapshot.fds) fd.revents = 0;  // interrupted: deliver what is ready anyway
    }
  }

  for (size_t i = 0; i < snapshot.ids.size(); ++i) {
    if (snapshot.fds[i].revents == 0 && !snapshot.ready[i]) continue;
    auto it = pollables_.find(snapshot.ids[i]);
    if (it != pollables_.end()) it->second->Handle(snapshot.fds[i].revents);
  }
  if (look) DeliverTicks(Clock::now());
}

void EventLoop::DeliverTicks(Clock::time_point now) {
  // A tick may add or remove timers: each step looks the next id up afresh.
  for (auto it = timers_.begin(); it != timers_.end();) {
    const uint64_t id = it->first;
    for (int due = it->second->TakeDue(now); due > 0; --due) {
      it->second->Tick();
      it = timers_.find(id);
      if (it == timers_.end() || !it->second->Enabled()) break;
    }
    it = timers_.upper_bound(id);
  }
}

SSL_CTX* EventLoop::TlsContext(std::string& error) {
  if (tls_) return tls_;
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx && SSL_CTX_set_default_verify_paths(ctx) == 1) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // Older versions are broken; a server that offers only those is refused.
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Many servers close without a TLS close_notify; that is an ordinary close.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // The send queue may grow (and move) between the retries of one write.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return tls_ = ctx;
  }
  const char* reason = ERR_reason_error_string(ERR_peek_last_error());
  error = reason ? reason : "cannot create the TLS context";
  SSL_CTX_free(ctx);
  return nullptr;
}

LoopTimer::LoopTimer(std::shared_ptr<EventLoop> loop, std::function<void()> tick)
    : loop_(std::move(loop)), id_(loop_->Add(*this)), tick_(std::move(tick)) {}

LoopTimer::~LoopTimer() { loop_->Remove(id_); }

void LoopTimer::Enabled(bool on) {
  if (on && !enabled_) nextDue_ = Clock::now() + kTickInterval;
  enabled_ = on;
}

int LoopTimer::TakeDue(Clock::time_point now) {
  if (!enabled_ || now < nextDue_) return 0;
  const auto due = 1 + (now - nextDue_) / kTickInterval;
  nextDue_ += due * kTickInterval;
  return static_cast<int>(due);
}

}  // namespace corvane::posix
