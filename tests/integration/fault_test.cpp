// Every operation of the control against a peer that misbehaves at the
// operation's own step: each case ends in its outcome within its time, spends
// no more CPU than the wait needs, and leaves the control good for a session
// against a well-behaved peer.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "control/corvane.h"
#include "harness.h"
#include "loopback_server.h"
#include "posix/posix_host.h"
#include "transport/socket_errors.h"

namespace corvane::integration {
namespace {

using test_servers::Fault;
using test_servers::LoopbackServer;
using test_servers::Protocol;

constexpr int16_t kTimeout = 1;
// The received-text limit lowered, so a flood ends by it rather than by time.
constexpr size_t kLongest = 1 << 20;

class Errors : public ControlEvents {
 public:
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    codes.push_back(code);
    last = Narrow(text);
    cancel = true;
  }
  void Debugger(std::u16string&) override {}
  std::vector<int16_t> codes;
  std::string last;
};

struct Operation {
  const char* name;
  Protocol protocol;
  const char* at;  // the step that misbehaves
  bool logout;     // its reply wait is followed by the wait for the close
  // Runs it; true when it succeeded.
  std::function<bool(Corvane&)> run;
  int timeOuts = 0;  // reply waits the run itself lets time out
};

bool SendHello(Corvane& c) {
  std::u16string to = u"you@corvane.test", subject = u"s", cc, mail = u"hello";
  return c.Send(to, subject, cc, mail);
}

bool Compose(Corvane& c) {
  c.MimeFrom(u"Me <me@corvane.test>");
  c.MimeTo(u"<you@corvane.test>");
  c.MimeContentAdd(1, u"hello");
  return c.SendMime() == -1;
}

const Operation kOperations[] = {
    {"POP3Login", Protocol::kPop3, "", false, [](Corvane& c) { return c.POP3Login(); }},
    {"Size", Protocol::kPop3, "LIST", false, [](Corvane& c) { int16_t n = 1; return c.Size(n) == 29; }},
    {"Retrieve", Protocol::kPop3, "RETR", false,
     [](Corvane& c) { int16_t n = 1; return c.Retrieve(n) == u"+OK 29 octets\r\nSubject: fault\r\n\r\nbody line\r\n"; }},
    {"Delete", Protocol::kPop3, "DELE", false, [](Corvane& c) { int16_t n = 1; return c.Delete(n); }},
    {"Reset", Protocol::kPop3, "RSET", false, [](Corvane& c) { return c.Reset(); }},
    {"POP3Logout", Protocol::kPop3, "QUIT", true, [](Corvane& c) { return c.POP3Logout(); }},
    {"SMTPLogin", Protocol::kSmtp, "HELO", false, [](Corvane& c) { return c.SMTPLogin(); }},
    {"Send", Protocol::kSmtp, ".", false, SendHello},
    {"SendMime", Protocol::kSmtp, "DATA", false, Compose},
    {"SMTPLogout", Protocol::kSmtp, "QUIT", true, [](Corvane& c) { return c.SMTPLogout(); }},
    // Against a refused recipient only (below): the server's transaction stays
    // open, so the next Send's MAIL FROM gets 503 and fails too; a new session
    // sends.
    {"SendAfterARefusedRecipient", Protocol::kSmtp, "RCPT", false,
     [](Corvane& c) {
       EXPECT_FALSE(SendHello(c));
       EXPECT_EQ(c.ErrCode(), 3);
       EXPECT_FALSE(SendHello(c));
       EXPECT_EQ(c.ErrCode(), 3);
       return c.SMTPLogout() && c.SMTPLogin() && SendHello(c);
     },
     2},
};
// The rows that every fault of kFaults meets.
constexpr size_t kEveryFaultRows = std::size(kOperations) - 1;

// The outcome each fault must give: success, or ErrCode.
int16_t ExpectedCode(Fault fault) {
  switch (fault) {
    case Fault::kNone:
    case Fault::kTrickle: return 0;
    case Fault::kClose:
    case Fault::kReset: return 5;
    case Fault::kStall:
    case Fault::kGarbage:
    case Fault::kLongLine: return 3;
    case Fault::kFlood: return Corvane::kTooMuchReceived;
    case Fault::kRefuse: return 0;  // its row ends with a send that succeeds
  }
  return -1;
}

constexpr Fault kFaults[] = {Fault::kNone,    Fault::kClose,   Fault::kStall,    Fault::kReset,
                             Fault::kTrickle, Fault::kGarbage, Fault::kLongLine, Fault::kFlood};

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class FaultFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    host.OnMessageBox([](const std::u16string&, const std::u16string&) {});
    control.InitProperties();
    control.Timeout(kTimeout);
    control.DialogueObj().LongestReceived(kLongest);
  }

  void Aim(Protocol protocol, uint16_t port, bool secured = false) {
    control.IsSecured(secured);
    const std::u16string where = u"localhost:" + Widen(std::to_string(port));
    protocol == Protocol::kPop3 ? control.POP3host(where) : control.SMTPhost(where);
  }

  // A whole session against a well-behaved peer.
  void ExpectUsable(Protocol protocol) {
    LoopbackServer good(test_servers::FaultyPeer(protocol));
    Aim(protocol, good.Port());
    const bool pop3 = protocol == Protocol::kPop3;
    EXPECT_TRUE(pop3 ? control.POP3Login() : control.SMTPLogin()) << events.last;
    EXPECT_TRUE(pop3 ? control.POP3Logout() : control.SMTPLogout()) << events.last;
    EXPECT_EQ(control.ErrCode(), 0);
  }

  PosixHost host;
  Errors events;
  Corvane control{host, events};
};

class Faults : public FaultFixture, public ::testing::WithParamInterface<std::tuple<size_t, Fault>> {};

TEST_P(Faults, EndInTheirOutcomeInTimeAndLeaveTheControlUsable) {
  const Operation& op = kOperations[std::get<0>(GetParam())];
  const Fault fault = std::get<1>(GetParam());
  const int16_t code = ExpectedCode(fault);
  {
    LoopbackServer peer(test_servers::FaultyPeer(op.protocol, fault, op.at));
    Aim(op.protocol, peer.Port());
    // The other operations run inside a session the peer opens well.
    if (std::string(op.name).find("Login") == std::string::npos) {
      ASSERT_TRUE(op.protocol == Protocol::kPop3 ? control.POP3Login() : control.SMTPLogin()) << events.last;
    }
    events.codes.clear();

    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    const bool succeeded = op.run(control);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(succeeded, code == 0);
    EXPECT_EQ(control.ErrCode(), code) << events.last;
    if (code == 3 || code == 5) {
      EXPECT_EQ(events.last.rfind(Narrow(Corvane::ErrString(code)) + ": said '", 0), 0u) << events.last;
    }
    // A failed reply wait takes Timeout. A logout waits up to Timeout more for the
    // close, and the pump that notices it up to a second on top.
    const double bound = (op.logout ? 2 * kTimeout + 1 : code == 3 ? kTimeout : 0.5) + op.timeOuts * kTimeout;
    EXPECT_LE(wall, bound + 0.5) << "seconds";
    if (fault != Fault::kFlood) {
      EXPECT_LE(cpu, 0.5 * wall + 0.05) << "CPU seconds of " << wall << " s";
    }
  }  // the peer gone, its connection too
  if (control.Busy()) op.protocol == Protocol::kPop3 ? control.POP3Logout() : control.SMTPLogout();
  EXPECT_FALSE(control.Busy());
  ExpectUsable(op.protocol);
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<size_t, Fault>>& info) {
  return std::string(kOperations[std::get<0>(info.param)].name) + "_" + test_servers::FaultName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, Faults,
                         ::testing::Combine(::testing::Range<size_t>(0, kEveryFaultRows), ::testing::ValuesIn(kFaults)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(RefusedRecipient, Faults, ::testing::Values(std::tuple{kEveryFaultRows, Fault::kRefuse}),
                         CaseName);

// The guide's read-and-delete loop against a server whose answers put "-ERR"
// in a first piece: only messages whose text came back whole are deleted.
TEST_F(FaultFixture, ErrInAnAnswersFirstPieceDeletesNoUnseenMessage) {
  std::mutex mutex;
  std::vector<std::string> log;
  {
    LoopbackServer peer(test_servers::Pop3SplitMailbox([&](const std::string& line) {
      std::lock_guard lock(mutex);
      log.push_back(line);
    }));
    Aim(Protocol::kPop3, peer.Port());
    ASSERT_TRUE(control.POP3Login()) << events.last;
    std::vector<std::string> expected;
    for (int16_t n = 1; n <= test_servers::kSplitMailboxSize; ++n) {
      int16_t index = n;
      const std::u16string text = control.Retrieve(index);
      if (text.empty()) continue;
      EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n") + 2)), test_servers::SplitMailboxMessage(n));
      EXPECT_TRUE(control.Delete(index));
      expected.push_back("deleted " + std::to_string(n));
    }
    EXPECT_TRUE(control.POP3Logout()) << events.last;
    EXPECT_EQ(expected, (std::vector<std::string>{"deleted 2", "deleted 4"}));
    EXPECT_EQ(control.ErrCode(), 0);
  }  // the peer's connections end before the log is read
  EXPECT_EQ(log, (std::vector<std::string>{"deleted 2", "deleted 4"}));
}

// A handshake the client must refuse: the login fails with the socket's number.
struct Handshake {
  const char* name;
  const char* certificate;
  bool tls10Only;
  int16_t number;
};

class RefusedHandshakes : public FaultFixture, public ::testing::WithParamInterface<Handshake> {};

TEST_P(RefusedHandshakes, FailTheLoginWithTheSocketError) {
  const auto& [name, certificate, tls10Only, number] = GetParam();
  const auto identity = Certificate(certificate);
  for (const Protocol protocol : {Protocol::kPop3, Protocol::kSmtp}) {
    SCOPED_TRACE(protocol == Protocol::kPop3 ? "POP3" : "SMTP");
    {
      LoopbackServer peer(test_servers::FaultyPeer(protocol), &identity, tls10Only);
      Aim(protocol, peer.Port(), true);
      events.codes.clear();
      const auto start = std::chrono::steady_clock::now();
      EXPECT_FALSE(protocol == Protocol::kPop3 ? control.POP3Login() : control.SMTPLogin());
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_NE(std::find(events.codes.begin(), events.codes.end(), number), events.codes.end()) << events.last;
      EXPECT_EQ(peer.Served(), 0);
      EXPECT_LE(wall, kTimeout + 0.5);
      EXPECT_FALSE(control.Busy());
    }
    control.IsSecured(false);
    ExpectUsable(protocol);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, RefusedHandshakes,
    ::testing::Values(Handshake{"WrongName", "wrongname", false, socket_error::kTlsHostnameMismatch},
                      Handshake{"Expired", "expired", false, socket_error::kTlsCertificateExpired},
                      Handshake{"Untrusted", "untrusted", false, socket_error::kTlsCertificateUntrusted},
                      Handshake{"Tls10Only", "trusted", true, socket_error::kTlsFailure}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane::integration
