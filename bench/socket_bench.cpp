// The control on the POSIX host against loopback servers:
//  (a) the CPU time (user + system) of one SocketRead that waits Timeout 5 s for
//      data that never comes;
//  (b) SocketSend of 100,000 lines of 76 characters and CR LF, each waiting for
//      its send-complete report, then SocketClose, which writes what the last
//      lines left queued: lines per second.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "control/corvane.h"
#include "loopback_server.h"
#include "posix/posix_host.h"

namespace {

using corvane::test_servers::LoopbackServer;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CountingHost : public corvane::PosixHost {
 public:
  void Pump() override {
    ++pumps;
    PosixHost::Pump();
  }
  long pumps = 0;
};

class Events : public corvane::ControlEvents {
 public:
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    std::fprintf(stderr, "error %d: %s\n", code, std::string(text.begin(), text.end()).c_str());
    cancel = true;
    ++errors;
  }
  void Debugger(std::u16string&) override {}
  int errors = 0;
};

bool Open(corvane::Corvane& control, uint16_t port) {
  std::u16string iP = u"127.0.0.1";
  int16_t Port = static_cast<int16_t>(port);
  return control.SocketOpen(iP, Port) == -1;
}

int IdleRead() {
  CountingHost host;
  Events events;
  LoopbackServer server(corvane::test_servers::Silent);
  corvane::Corvane control(host, events);
  control.InitProperties();
  control.Timeout(5);
  if (!Open(control, server.Port())) return 1;

  host.pumps = 0;
  const double cpu = CpuSeconds();
  const double start = host.Now();
  const std::u16string text = control.SocketRead();
  const double elapsed = host.Now() - start;
  const double used = CpuSeconds() - cpu;

  std::printf("(a) idle SocketRead, Timeout 5\n");
  std::printf("    waited              %8.3f s, %ld pumps, %zu characters\n", elapsed, host.pumps, text.size());
  std::printf("    CPU (user+sys)      %8.4f s  (%.3f%% of the wait)\n", used, 100 * used / elapsed);
  control.SocketClose();
  return 0;
}

int SendLines() {
  constexpr int kLines = 100000;
  CountingHost host;
  Events events;
  auto received = std::make_shared<std::atomic<size_t>>(0);
  LoopbackServer server(corvane::test_servers::Discard(received));
  corvane::Corvane control(host, events);
  control.InitProperties();
  if (!Open(control, server.Port())) return 1;

  std::u16string line;
  for (int i = 0; i < 76; ++i) line += static_cast<char16_t>(u'!' + i % 90);
  line += u"\r\n";
  const size_t total = static_cast<size_t>(kLines) * line.size();

  host.pumps = 0;
  const double cpu = CpuSeconds();
  const double start = host.Now();
  for (int i = 0; i < kLines; ++i) {
    if (control.SocketSend(line) != -1) {
      std::fprintf(stderr, "SocketSend failed at line %d\n", i);
      return 1;
    }
  }
  control.SocketClose();
  const double elapsed = host.Now() - start;
  const double used = CpuSeconds() - cpu;
  for (int i = 0; i < 3000 && *received < total; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  std::printf("(b) SocketSend of %d lines of 78 bytes, then SocketClose\n", kLines);
  std::printf("    elapsed             %8.3f s, %ld pumps\n", elapsed, host.pumps);
  std::printf("    lines per second    %8.0f  (%.1f MB/s)\n", kLines / elapsed, total / elapsed / 1e6);
  std::printf("    CPU (user+sys)      %8.3f s  (whole process, server thread included)\n", used);
  std::printf("    server received     %8zu of %zu bytes\n", received->load(), total);
  return *received == total ? 0 : 1;
}

}  // namespace

int main() {
  const int idle = IdleRead();
  const int send = SendLines();
  return idle || send;
}
