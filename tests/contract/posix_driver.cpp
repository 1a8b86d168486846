// The host contract on the POSIX host, and what only its poll loop promises.
// Run by run_native.sh, which starts corvane_loopback and trusts its authority.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "contract.h"
#include "posix/event_loop.h"
#include "posix/posix_host.h"

using namespace corvane;
using checks::check;

namespace {

long descriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A late pump catches up one tick per whole second, unless a tick disables the timer.
void lateTicks(PosixHost& host) {
  int ticks = 0;
  std::unique_ptr<Timer> timer = host.CreateTimer([&] { ++ticks; });
  timer->Enabled(true);
  contract::sleepFor(2.3);
  host.Pump();
  const int late = ticks;
  const double before = host.Now();
  host.Pump();
  check("a late pump delivers one tick per whole second, then the timer keeps its rhythm",
        late == 2 && ticks == 3 && host.Now() - before < 0.9, std::to_string(late) + " then " + std::to_string(ticks));

  ticks = 0;
  timer = host.CreateTimer([&] {
    ++ticks;
    timer->Enabled(false);
  });
  timer->Enabled(true);
  contract::sleepFor(2.2);
  host.Pump();
  check("a tick that disables the timer ends a late burst", ticks == 1, std::to_string(ticks));
}

// Work that is always ready must not keep the loop from what arrives or falls due.
void alwaysReady() {
  struct Pipe final : posix::Pollable {
    explicit Pipe(posix::EventLoop& loop) : loop(loop) {
      if (pipe(fds) == 0) id = loop.Add(*this);
    }
    ~Pipe() override {
      loop.Remove(id);
      close(fds[0]);
      close(fds[1]);
    }
    Wait Waiting() override { return {.fd = fds[0], .events = POLLIN, .ready = busy}; }
    void Handle(short revents) override { readable = readable || (revents & POLLIN); }
    posix::EventLoop& loop;
    int fds[2] = {-1, -1};
    uint64_t id = 0;
    bool busy = false, readable = false;
  };
  auto loop = std::make_shared<posix::EventLoop>();
  Pipe busy(*loop), arrival(*loop);
  busy.busy = true;
  int pumps = 0;
  if (write(arrival.fds[1], "x", 1) == 1) {
    while (!arrival.readable && pumps < 1000) {
      loop->Pump(Host::kLongestPumpMilliseconds);
      ++pumps;
    }
  }
  check("always-ready work still lets an arrival through within a few pumps",
        arrival.readable && pumps <= posix::EventLoop::kReadyPumpsPerLook, std::to_string(pumps) + " pumps");
  int ticks = 0;
  posix::LoopTimer timer(loop, [&] { ++ticks; });
  timer.Enabled(true);
  const auto deadline = posix::Clock::now() + std::chrono::milliseconds(1500);
  while (ticks == 0 && posix::Clock::now() < deadline) loop->Pump(Host::kLongestPumpMilliseconds);
  check("always-ready work still lets the timer tick", ticks == 1);
}

void hooks() {
  PosixHost host;
  const bool defaultName = host.InstanceName() == u"Corvane1";
  // Without a handler the box goes to standard error, in UTF-8.
  char said[64] = {};
  const int standardError = dup(2);
  std::FILE* file = std::tmpfile();
  dup2(fileno(file), 2);
  host.MessageBox(u"3 - timed out \u00e9", u"Corvane1");
  dup2(standardError, 2);
  std::rewind(file);
  const size_t length = std::fread(said, 1, sizeof said - 1, file);
  std::fclose(file);
  host.InstanceName(u"Mailer");
  std::u16string shown, changed;
  host.OnMessageBox([&](const std::u16string& prompt, const std::u16string& caption) { shown = caption + u"|" + prompt; });
  host.MessageBox(u"hello", host.InstanceName());
  host.PropertyChanged(u"ignored without a handler");
  host.OnPropertyChanged([&](const std::u16string& name) { changed = name; });
  host.PropertyChanged(u"Timeout");
  check("the name, message box and property hooks reach the program's handlers",
        defaultName && std::string(said, length) == "Corvane1: 3 - timed out \xc3\xa9\n" && shown == u"Mailer|hello" &&
            changed == u"Timeout",
        said + checks::narrow(shown + u" " + changed));
}

}  // namespace

int main(int argc, char** argv) {
  PosixHost host;
  return contract::run(argc, argv, host, {.cpuSeconds = cpuSeconds, .tlsByAddress = true, .resetSeen = true, .resources = descriptors},
                       [&](const contract::Servers&) {
                         lateTicks(host);
                         alwaysReady();
                         hooks();
                       });
}
