// The control on the POSIX host, used as a raw text socket against loopback
// servers: the round trip over plain TCP and TLS, silent time-outs, the server
// closing, and a socket error reaching the control's Error event.
#include <gtest/gtest.h>
#include <sys/resource.h>


#include "control/corvane.h"
#include "harness.h"
#include "loopback_server.h"
#include "posix/posix_host.h"
#include "transport/socket_errors.h"

namespace corvane::integration {
namespace {

using test_servers::LoopbackServer;

class RecordingEvents : public ControlEvents {
 public:
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    errors.emplace_back(code, Narrow(text));
    cancel = cancelBox;
  }
  void Debugger(std::u16string&) override {}

  bool cancelBox = true;
  std::vector<std::pair<int16_t, std::string>> errors;
};

class ControlSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.OnMessageBox([this](const std::u16string& prompt, const std::u16string& caption) {
      boxes.push_back(Narrow(caption) + ": " + Narrow(prompt));
    });
    control.InitProperties();
    control.Timeout(5);
  }

  int16_t Open(const std::string& name, uint16_t port) {
    std::u16string iP = Widen(name);
    int16_t Port = static_cast<int16_t>(port);
    return control.SocketOpen(iP, Port);
  }

  int16_t Send(std::u16string text) { return control.SocketSend(text); }

  // Reads until `size` characters came; the host pumps between reads, as a host
  // that polls SocketRead does.
  std::u16string ReadAtLeast(size_t size) {
    std::u16string all = control.SocketRead();
    PumpUntil(host, [&] {
      all += control.SocketRead();
      return all.size() >= size;
    });
    return all;
  }

  PosixHost host;
  RecordingEvents events;
  Corvane control{host, events};
  std::vector<std::string> boxes;
};

class ControlOverPlainAndTls : public ControlSocketTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Transport, ControlOverPlainAndTls, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST_P(ControlOverPlainAndTls, OpenSendReadClose) {
  LoopbackServer server(test_servers::Echo, GetParam() ? &Pki().good : nullptr);
  control.IsSecured(GetParam());
  ASSERT_EQ(Open("localhost", server.Port()), -1) << (events.errors.empty() ? "" : events.errors[0].second);

  EXPECT_EQ(Send(u"hello\r\n"), -1);
  EXPECT_EQ(ReadAtLeast(7), u"hello\r\n");
  const std::u16string bytes = EveryByteValue(8);
  EXPECT_EQ(Send(bytes), -1);
  EXPECT_EQ(ReadAtLeast(bytes.size()), bytes);

  EXPECT_EQ(control.SocketClose(), -1);
  EXPECT_EQ(Send(u"after close"), 0);
  EXPECT_TRUE(events.errors.empty());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlSocketTest, ReadFromASilentServerTimesOutQuietlyWithoutSpinning) {
  LoopbackServer server(test_servers::Silent);
  ASSERT_EQ(Open("127.0.0.1", server.Port()), -1);
  control.Timeout(2);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const double start = host.Now();
  EXPECT_EQ(control.SocketRead(), u"");
  const double waited = host.Now() - start;
  getrusage(RUSAGE_SELF, &after);
  const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) + (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                     ((after.ru_utime.tv_usec - before.ru_utime.tv_usec) + (after.ru_stime.tv_usec - before.ru_stime.tv_usec)) / 1e6;
  EXPECT_GT(waited, 1.5);
  EXPECT_LT(waited, 3.5);
  EXPECT_LT(cpu, 0.2);
  EXPECT_TRUE(events.errors.empty());
  EXPECT_EQ(control.ErrCode(), 0);
}

TEST_F(ControlSocketTest, ServerClosingClosesTheControlsSocket) {
  LoopbackServer server(test_servers::GreetAndClose("+OK bye\r\n"));
  ASSERT_EQ(Open("127.0.0.1", server.Port()), -1);
  EXPECT_EQ(ReadAtLeast(9), u"+OK bye\r\n");
  // The Closed handler closes the socket, after which a send fails at once.
  EXPECT_TRUE(PumpUntil(host, [&] { return Send(u"") == 0; }));
  EXPECT_EQ(control.SocketClose(), -1);
  EXPECT_TRUE(events.errors.empty());
}

TEST_F(ControlSocketTest, RefusedConnectionRaisesTheErrorEventWithTheSocketsNumber) {
  const uint16_t port = test_servers::UnusedPort();
  const std::string text = "Connection refused (127.0.0.1:" + std::to_string(port) + ")";
  EXPECT_EQ(Open("127.0.0.1", port), 0);
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0], std::make_pair(socket_error::kConnectionRefused, text));
  EXPECT_EQ(control.ErrCode(), socket_error::kConnectionRefused);
  EXPECT_TRUE(boxes.empty()) << "the handler cancelled the box";

  events.cancelBox = false;
  EXPECT_EQ(Open("127.0.0.1", port), 0);
  EXPECT_EQ(boxes, std::vector<std::string>{"Corvane1: 10061 - " + text});
}

}  // namespace
}  // namespace corvane::integration
