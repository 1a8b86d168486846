// The POSIX host's loop: the one-second timer, bounded pumps that sleep instead
// of spinning, and the message box, property and name hooks.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "harness.h"
#include "posix/event_loop.h"
#include "posix/posix_host.h"

namespace corvane::integration {
namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(PosixHostTimer, TicksOncePerSecondWhileSleepingInPoll) {
  PosixHost host;
  std::vector<double> tickTimes;
  auto timer = host.CreateTimer([&] { tickTimes.push_back(host.Now()); });
  const double cpuBefore = CpuSeconds();
  const double start = host.Now();
  timer->Enabled(true);
  int pumps = 0;
  while (tickTimes.size() < 3 && pumps < 10) {
    host.Pump();
    ++pumps;
  }
  ASSERT_EQ(tickTimes.size(), 3u);
  EXPECT_EQ(pumps, 3) << "each pump sleeps until the next tick is due";
  for (size_t i = 0; i < tickTimes.size(); ++i) EXPECT_NEAR(tickTimes[i] - start, i + 1.0, 0.2);
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.2);

  timer->Enabled(false);
  host.Pump();
  EXPECT_EQ(tickTimes.size(), 3u);
}

TEST(PosixHostTimer, LatePumpDeliversOneTickPerWholeSecondElapsed) {
  PosixHost host;
  int ticks = 0;
  auto timer = host.CreateTimer([&] { ++ticks; });
  timer->Enabled(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  host.Pump();
  EXPECT_EQ(ticks, 2);
  // The third tick keeps the timer's own rhythm: due 3 s after enabling.
  const double before = host.Now();
  host.Pump();
  EXPECT_EQ(ticks, 3);
  EXPECT_LT(host.Now() - before, 0.9);
}

TEST(PosixHostTimer, TickThatDisablesTheTimerEndsALateBurst) {
  PosixHost host;
  int ticks = 0;
  std::unique_ptr<Timer> timer;
  timer = host.CreateTimer([&] {
    ++ticks;
    timer->Enabled(false);
  });
  timer->Enabled(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  host.Pump();
  EXPECT_EQ(ticks, 1);
}

TEST(PosixHostTimer, PumpWithNothingArmedReturnsAfterTheLongestWait) {
  PosixHost host;
  const double start = host.Now();
  host.Pump();
  const double waited = host.Now() - start;
  EXPECT_GE(waited, Host::kLongestPumpMilliseconds / 1000.0 - 0.05);
  EXPECT_LT(waited, 3.0);
}

// Work that is always ready must not keep the loop from what arrives or falls due.
TEST(PosixEventLoop, AlwaysReadyWorkStillLetsArrivalsAndTicksThrough) {
  struct Pipe final : posix::Pollable {
    explicit Pipe(posix::EventLoop& loop) : loop(loop) {
      EXPECT_EQ(pipe(fds), 0);
      id = loop.Add(*this);
    }
    ~Pipe() override {
      loop.Remove(id);
      close(fds[0]);
      close(fds[1]);
    }
    Wait Waiting() override { return {.fd = fds[0], .events = POLLIN, .ready = alwaysReady}; }
    void Handle(short revents) override {
      if (revents & POLLIN) readable = true;
    }
    posix::EventLoop& loop;
    int fds[2] = {-1, -1};
    uint64_t id = 0;
    bool alwaysReady = false;
    bool readable = false;
  };
  posix::EventLoop loop;
  Pipe busy(loop), arrival(loop);
  busy.alwaysReady = true;
  ASSERT_EQ(write(arrival.fds[1], "x", 1), 1);
  int pumps = 0;
  while (!arrival.readable && pumps < 1000) {
    loop.Pump(Host::kLongestPumpMilliseconds);
    ++pumps;
  }
  EXPECT_TRUE(arrival.readable);
  EXPECT_LE(pumps, posix::EventLoop::kReadyPumpsPerLook);

  int ticks = 0;
  auto loopShare = std::shared_ptr<posix::EventLoop>(&loop, [](posix::EventLoop*) {});
  posix::LoopTimer timer(loopShare, [&] { ++ticks; });
  timer.Enabled(true);
  const auto deadline = posix::Clock::now() + std::chrono::milliseconds(1500);
  while (ticks == 0 && posix::Clock::now() < deadline) loop.Pump(Host::kLongestPumpMilliseconds);
  EXPECT_EQ(ticks, 1);
}

TEST(PosixHostHooks, MessageBoxPropertyChangedAndInstanceName) {
  PosixHost host;
  EXPECT_EQ(host.InstanceName(), u"Corvane1");
  host.InstanceName(u"Mailer");
  EXPECT_EQ(host.InstanceName(), u"Mailer");

  ::testing::internal::CaptureStderr();
  host.MessageBox(u"3 - Operation timed out \u00e9", u"Mailer");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Mailer: 3 - Operation timed out \xc3\xa9\n");

  std::u16string shown;
  host.OnMessageBox([&](const std::u16string& prompt, const std::u16string& caption) { shown = caption + u"|" + prompt; });
  host.MessageBox(u"hello", u"Mailer");
  EXPECT_EQ(shown, u"Mailer|hello");

  std::u16string changed;
  host.PropertyChanged(u"ignored without a handler");
  host.OnPropertyChanged([&](const std::u16string& name) { changed = name; });
  host.PropertyChanged(u"Timeout");
  EXPECT_EQ(changed, u"Timeout");
}

}  // namespace
}  // namespace corvane::integration
