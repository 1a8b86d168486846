// The POSIX socket against loopback servers: connecting, the events and their
// order, errors, and text on the wire, over plain TCP and TLS.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "harness.h"
#include "loopback_server.h"
#include "posix/posix_host.h"
#include "posix/posix_socket.h"
#include "posix/socket_errors.h"

namespace corvane::integration {
namespace {

using posix::PosixSocket;
using test_servers::LoopbackServer;
using test_servers::ServerConnection;
namespace socket_error = corvane::socket_error;

class SocketTest : public ::testing::Test {
 protected:
  // Connects and pumps until connected or failed.
  bool ConnectTo(const std::string& name, uint16_t port, bool secured = false) {
    socket->Secured(secured);
    socket->Connect(Widen(name), port);
    return PumpUntil(host, [&] { return socket->State() == Socket::kConnected || socket->State() == Socket::kClosed; }) &&
           socket->State() == Socket::kConnected;
  }

  // Pumps until `size` characters were handed over by GetData.
  std::u16string Receive(size_t size) {
    std::u16string all;
    PumpUntil(host, [&] {
      std::u16string piece;
      socket->GetData(piece);
      all += piece;
      return all.size() >= size || socket->State() == Socket::kClosed || socket->State() == PosixSocket::kPeerClosed;
    });
    return all;
  }

  PosixHost host;
  SocketLog log;
  std::unique_ptr<Socket> socket = host.CreateSocket(log);
};

class PlainAndTls : public SocketTest, public ::testing::WithParamInterface<bool> {
 protected:
  const test_servers::Identity* Tls() const { return GetParam() ? &Pki().good : nullptr; }
};

INSTANTIATE_TEST_SUITE_P(Transport, PlainAndTls, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST_P(PlainAndTls, EchoRoundTripsEveryByteValueWithEventsOnlyInsidePumps) {
  LoopbackServer server(test_servers::Echo, Tls());
  socket->Secured(GetParam());
  socket->Connect(u"localhost", server.Port());
  EXPECT_NE(socket->State(), Socket::kClosed);
  EXPECT_NE(socket->State(), Socket::kConnected);
  ASSERT_TRUE(PumpUntil(host, [&] { return socket->State() != PosixSocket::kResolving; }));
  ASSERT_TRUE(PumpUntil(host, [&] { return socket->State() == Socket::kConnected; })) << log.errorText;

  const std::u16string text = EveryByteValue(4);
  socket->SendData(text);
  EXPECT_TRUE(log.events.empty()) << "SendData raised an event itself";
  EXPECT_EQ(Receive(text.size()), text);
  EXPECT_EQ(log.completes, 1);
  EXPECT_EQ(log.progressBytes, static_cast<int64_t>(text.size()));
  EXPECT_EQ(log.errorNumber, 0) << log.errorText;

  std::u16string rest = u"left over";
  socket->GetData(rest);
  EXPECT_EQ(rest, u"") << "GetData hands over only once";
}

TEST_F(SocketTest, CharactersOutsideLatin1GoOutAsQuestionMarks) {
  LoopbackServer server(test_servers::Echo);
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  std::u16string text(40, u'x');  // one block of the conversion and a rest
  text[3] = u'\u20ac';
  text[38] = u'\u0100';
  socket->SendData(text);
  std::u16string expected = text;
  expected[3] = expected[38] = u'?';
  EXPECT_EQ(Receive(text.size()), expected);
}

TEST_P(PlainAndTls, LargeSendReportsEveryPieceThenCompletesOnce) {
  auto received = std::make_shared<std::atomic<size_t>>(0);
  LoopbackServer server(test_servers::Discard(received), Tls());
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port(), GetParam())) << log.errorText;

  const std::u16string text(8 << 20, u'x');
  socket->SendData(text);
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes > 0 || log.errorNumber != 0; }, 60)) << log.errorText;
  EXPECT_EQ(log.completes, 1);
  EXPECT_EQ(log.progressBytes, static_cast<int64_t>(text.size()));
  EXPECT_EQ(log.lastRemaining, 0);
  EXPECT_GT(std::count_if(log.events.begin(), log.events.end(), [](auto& e) { return e.starts_with("progress"); }), 1);
  EXPECT_EQ(log.events.back(), "complete");
  EXPECT_TRUE(Eventually([&] { return *received == text.size(); }));
}

TEST_P(PlainAndTls, PeerCloseDeliversTheDataBeforeClosed) {
  LoopbackServer server(test_servers::GreetAndClose("+OK bye\r\n"), Tls());
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port(), GetParam())) << log.errorText;
  ASSERT_TRUE(PumpUntil(host, [&] { return !log.events.empty() && log.events.back() == "closed"; }));

  EXPECT_EQ(log.events.front(), "data 9");
  EXPECT_EQ(log.events, (std::vector<std::string>{"data 9", "closed"}));
  EXPECT_EQ(socket->State(), PosixSocket::kPeerClosed) << "State stays non-zero until Close";
  std::u16string text;
  socket->GetData(text);
  EXPECT_EQ(text, u"+OK bye\r\n");
  socket->Close();
  EXPECT_EQ(socket->State(), Socket::kClosed);
}

// A handler may pump the host again (a host's own wait, a message box); the end of
// the connection must still come once, after its data.
TEST_P(PlainAndTls, NestedPumpInsideDataArrivalDoesNotRepeatTheClose) {
  struct NestedPumpLog : SocketLog {
    void DataArrival(int32_t count) override {
      SocketLog::DataArrival(count);
      host->Pump();
    }
    Host* host = nullptr;
  } nested;
  nested.host = &host;
  socket = host.CreateSocket(nested);
  LoopbackServer server(test_servers::GreetAndClose("+OK bye\r\n"), Tls());
  socket->Secured(GetParam());
  socket->Connect(u"127.0.0.1", server.Port());
  ASSERT_TRUE(PumpUntil(host, [&] { return socket->State() == Socket::kConnected; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // greeting and close both wait
  ASSERT_TRUE(PumpUntil(host, [&] { return socket->State() != Socket::kConnected; }));
  EXPECT_EQ(nested.events, (std::vector<std::string>{"data 9", "closed"}));
}

TEST_F(SocketTest, TextIsTakenFromTheNetworkOnlyWhilePumping) {
  LoopbackServer server(test_servers::Echo);
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  socket->SendData(u"ping");
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the echo waits in the kernel

  std::u16string text;
  socket->GetData(text);
  EXPECT_EQ(text, u"");
  host.Pump();
  ASSERT_EQ(log.events.back(), "data 4");
  socket->GetData(text);
  EXPECT_EQ(text, u"ping");
}

TEST_F(SocketTest, RefusedConnectionIsAnErrorAndTheStateReturnsToClosed) {
  const uint16_t port = test_servers::UnusedPort();
  EXPECT_FALSE(ConnectTo("127.0.0.1", port));
  EXPECT_EQ(log.errorNumber, socket_error::kConnectionRefused);
  EXPECT_EQ(log.errorText, "Connection refused (127.0.0.1:" + std::to_string(port) + ")");
  EXPECT_EQ(socket->State(), Socket::kClosed);
}

TEST_F(SocketTest, UnknownHostIsALookupError) {
  EXPECT_FALSE(ConnectTo("nosuch.invalid", 110));
  EXPECT_TRUE(log.errorNumber == socket_error::kHostNotFound || log.errorNumber == socket_error::kLookupTryAgain)
      << log.errorNumber;
  EXPECT_TRUE(log.errorText.starts_with("Host name lookup failed: ")) << log.errorText;
  EXPECT_TRUE(log.errorText.ends_with("(nosuch.invalid:110)")) << log.errorText;
}

TEST_F(SocketTest, BadCallsAreReportedByTheNextPumpNotInsideTheCall) {
  socket->Connect(u"127.0.0.1", 70000);
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(socket->State(), Socket::kClosed);
  host.Pump();
  EXPECT_EQ(log.events, std::vector<std::string>{"error 10022 Port out of range: 70000 (127.0.0.1)"});

  socket->SendData(u"lost");
  EXPECT_EQ(log.events.size(), 1u);
  host.Pump();
  EXPECT_EQ(log.events.back(), "error 10057 Not connected: nothing was sent");
}

TEST_F(SocketTest, ResetByThePeerIsAnError) {
  LoopbackServer server([](ServerConnection& connection) {
    connection.Read();
    connection.Reset();
  });
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  socket->SendData(u"QUIT\r\n");
  ASSERT_TRUE(PumpUntil(host, [&] { return log.errorNumber != 0 || socket->State() != Socket::kConnected; }));
  EXPECT_EQ(log.errorNumber, socket_error::kConnectionReset) << log.errorText;
  EXPECT_EQ(socket->State(), Socket::kClosed);
}

TEST_F(SocketTest, CloseWhileConnectingDropsTheAttemptSilently) {
  LoopbackServer server(test_servers::Echo);
  socket->Connect(u"localhost", server.Port());
  socket->SendData(u"never sent");
  socket->Close();
  EXPECT_EQ(socket->State(), Socket::kClosed);
  host.Pump();
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(server.Served(), 0);
}

TEST_F(SocketTest, TextSentWhileConnectingGoesOutOnceConnected) {
  LoopbackServer server(test_servers::Echo);
  socket->Connect(u"127.0.0.1", server.Port());
  socket->SendData(u"early\r\n");
  EXPECT_EQ(Receive(7), u"early\r\n");
  EXPECT_EQ(log.completes, 1);
}

// --- Runs of sends: a message body said line by line, each waiting for its completion

// Reads until the client closes, then hands over all that came.
test_servers::Behaviour Record(std::shared_ptr<std::promise<std::string>> got) {
  return [got](ServerConnection& connection) {
    std::string all;
    for (std::string piece; !(piece = connection.Read()).empty();) all += piece;
    got->set_value(all);
  };
}

TEST_P(PlainAndTls, SendsRightAfterACompletionAreWrittenTogetherOnceTheRunEnds) {
  auto got = std::make_shared<std::promise<std::string>>();
  auto received = got->get_future();
  LoopbackServer server(Record(got), Tls());
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port(), GetParam())) << log.errorText;
  std::u16string sent = u"line 0\r\n";
  socket->SendData(sent);
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 1; }));
  for (int i = 1; i < 200; ++i) {
    const std::u16string line = u"line " + Widen(std::to_string(i)) + u"\r\n";
    socket->SendData(line);
    sent += line;
    host.Pump();
    ASSERT_EQ(log.completes, i + 1) << "each send completes at the next pump";
  }
  EXPECT_EQ(log.progressBytes, 8) << "only the first line, which began the run, went out during it";
  host.Pump();
  EXPECT_EQ(log.progressBytes, static_cast<int64_t>(sent.size())) << "a pump that owes nothing writes the run";
  socket->Close();
  ASSERT_EQ(received.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(received.get(), Narrow(sent));
  EXPECT_EQ(log.errorNumber, 0) << log.errorText;
}

TEST_F(SocketTest, ASendRightAfterAPumpThatBroughtTextGoesOutAtOnce) {
  LoopbackServer server(test_servers::Echo);
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  socket->SendData(u"a");
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the echo waits in the kernel
  // A run of sends; one of its pumps looks at the socket and hands over the echo
  // together with a completion.
  size_t sent = 1;
  while (std::find(log.events.begin(), log.events.end(), "data 1") == log.events.end() && sent < 200) {
    socket->SendData(u"b");
    ++sent;
    host.Pump();
  }
  ASSERT_LT(sent, 200u) << "the echo never came during the run";
  socket->SendData(u"c");
  host.Pump();
  EXPECT_EQ(log.progressBytes, static_cast<int64_t>(sent + 1)) << "the answer waited in the queue";
  EXPECT_EQ(log.completes, static_cast<int>(sent + 1));
}

TEST_F(SocketTest, ARunIsWrittenWhenItsQueueReachesTheFlushSize) {
  auto received = std::make_shared<std::atomic<size_t>>(0);
  LoopbackServer server(test_servers::Discard(received));
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  const std::u16string line(1000, u'x');
  socket->SendData(line);
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 1; }));
  size_t queued = 0;
  while (queued + line.size() < PosixSocket::kFlushAt) {
    socket->SendData(line);
    queued += line.size();
    host.Pump();
    ASSERT_EQ(log.progressBytes, 1000) << "below the flush size the queue waits";
  }
  socket->SendData(line);
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 2 + static_cast<int>(queued / line.size()); }));
  EXPECT_EQ(log.progressBytes, static_cast<int64_t>(2 * line.size() + queued));
  EXPECT_TRUE(Eventually([&] { return *received == 2 * line.size() + queued; }));
}

TEST_F(SocketTest, CloseWritesWhatARunLeftQueued) {
  auto received = std::make_shared<std::atomic<size_t>>(0);
  LoopbackServer server(test_servers::Discard(received));
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  const std::u16string line = u"a line of a message body\r\n";
  socket->SendData(line);
  ASSERT_TRUE(PumpUntil(host, [&] { return log.completes == 1; }));
  for (int i = 0; i < 100; ++i) {
    socket->SendData(line);
    host.Pump();
  }
  ASSERT_EQ(log.completes, 101);
  socket->Close();
  EXPECT_TRUE(Eventually([&] { return *received == 101 * line.size(); })) << *received;
}

TEST_F(SocketTest, APeerThatStopsReadingHoldsBackTheCompletionUntilItReadsAgain) {
  std::promise<void> readAgain;
  auto resumed = readAgain.get_future().share();
  LoopbackServer server([resumed](ServerConnection& connection) {
    resumed.wait();
    test_servers::Silent(connection);
  });
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port()));
  const std::u16string piece(16384, u'x');
  int sends = 0;
  bool stalled = false;
  while (!stalled && sends < 20000) {  // 320 MB: far more than the kernel's buffers
    socket->SendData(piece);
    ++sends;
    stalled = !PumpUntil(host, [&] { return log.completes == sends || log.errorNumber != 0; }, 0.5);
  }
  ASSERT_TRUE(stalled) << sends << " sends all completed";
  EXPECT_EQ(log.errorNumber, 0) << log.errorText;
  readAgain.set_value();
  EXPECT_TRUE(PumpUntil(host, [&] { return log.completes == sends; }));
}

// --- TLS

// The server's view of one TLS connection, handed to the test thread.
struct TlsPeer {
  std::mutex mutex;
  std::string serverName;
  bool closeNotify = false;
  std::promise<void> finished;
};

test_servers::Behaviour EchoRecording(TlsPeer& peer) {
  return [&peer](ServerConnection& connection) {
    {
      std::lock_guard lock(peer.mutex);
      peer.serverName = connection.ServerName();
    }
    test_servers::Echo(connection);
    {
      std::lock_guard lock(peer.mutex);
      peer.closeNotify = connection.ClientSentCloseNotify();
    }
    peer.finished.set_value();
  };
}

TEST_F(SocketTest, TlsByNameSendsSniAndClosesPolitely) {
  TlsPeer peer;
  LoopbackServer server(EchoRecording(peer), &Pki().good);
  ASSERT_TRUE(ConnectTo("localhost", server.Port(), true)) << log.errorText;
  socket->SendData(u"hello\r\n");
  EXPECT_EQ(Receive(7), u"hello\r\n");
  socket->Close();
  EXPECT_EQ(socket->State(), Socket::kClosed);

  ASSERT_EQ(peer.finished.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::lock_guard lock(peer.mutex);
  EXPECT_EQ(peer.serverName, "localhost");
  EXPECT_TRUE(peer.closeNotify);
}

TEST_F(SocketTest, TlsByAddressChecksTheAddressAndSendsNoSni) {
  TlsPeer peer;
  LoopbackServer server(EchoRecording(peer), &Pki().good);
  ASSERT_TRUE(ConnectTo("127.0.0.1", server.Port(), true)) << log.errorText;
  socket->Close();
  ASSERT_EQ(peer.finished.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::lock_guard lock(peer.mutex);
  EXPECT_EQ(peer.serverName, "");
}

struct RefusedCertificate {
  const char* name;
  test_servers::Identity test_servers::TestPki::*identity;
  const char* host;
  int16_t number;
  const char* reason;
};

void PrintTo(const RefusedCertificate& c, std::ostream* out) { *out << c.name; }

class TlsRefusal : public SocketTest, public ::testing::WithParamInterface<RefusedCertificate> {};

INSTANTIATE_TEST_SUITE_P(
    Certificates, TlsRefusal,
    ::testing::Values(
        RefusedCertificate{"OtherName", &test_servers::TestPki::wrongName, "localhost",
                           socket_error::kTlsHostnameMismatch, "hostname mismatch"},
        RefusedCertificate{"NoAddress", &test_servers::TestPki::wrongName, "127.0.0.1",
                           socket_error::kTlsHostnameMismatch, "IP address mismatch"},
        RefusedCertificate{"Untrusted", &test_servers::TestPki::untrusted, "localhost",
                           socket_error::kTlsCertificateUntrusted, "unable to get local issuer certificate"}),
    [](const auto& info) { return info.param.name; });

TEST_P(TlsRefusal, FailsVerificationThroughSocketError) {
  const RefusedCertificate& c = GetParam();
  LoopbackServer server(test_servers::Echo, &(Pki().*c.identity));
  EXPECT_FALSE(ConnectTo(c.host, server.Port(), true));
  EXPECT_EQ(log.errorNumber, c.number);
  EXPECT_EQ(log.errorText, std::string("TLS certificate verification failed: ") + c.reason + " (" + c.host + ":" +
                               std::to_string(server.Port()) + ")");
  EXPECT_EQ(socket->State(), Socket::kClosed);
  EXPECT_EQ(server.Served(), 0);
}

TEST_F(SocketTest, TlsOlderThan12IsRefused) {
  LoopbackServer server(test_servers::Echo, &Pki().good, true);
  EXPECT_FALSE(ConnectTo("localhost", server.Port(), true));
  EXPECT_EQ(log.errorNumber, socket_error::kTlsFailure);
  EXPECT_EQ(log.errorText, "TLS handshake failed: the protocol version was refused: TLS 1.2 or later is required "
                           "(localhost:" + std::to_string(server.Port()) + ")");
  EXPECT_EQ(server.Served(), 0);
}

TEST_F(SocketTest, TlsToAPlainServerFailsTheHandshake) {
  LoopbackServer server(test_servers::GreetAndClose("+OK plain text server ready\r\n"));
  EXPECT_FALSE(ConnectTo("localhost", server.Port(), true));
  EXPECT_EQ(log.errorNumber, socket_error::kTlsFailure);
  EXPECT_TRUE(log.errorText.starts_with("TLS handshake failed: ")) << log.errorText;
  EXPECT_EQ(socket->State(), Socket::kClosed);
}

}  // namespace
}  // namespace corvane::integration
