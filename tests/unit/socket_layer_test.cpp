// The raw-socket members and the handlers of the socket's events.
#include <gtest/gtest.h>

#include "scripted.h"

namespace corvane::testing {
namespace {

TEST(SocketOpen, ConnectsAndLeavesTheTimerRunning) {
  ScriptedControl c;
  std::u16string ip = u"mail.test";
  int16_t port = 110;
  c.host.Then([&] { c.socket.Connected(); });
  EXPECT_EQ(c.control.SocketOpen(ip, port), -1);
  EXPECT_EQ(c.socket.connects, (std::vector<std::u16string>{u"mail.test:110"}));
  EXPECT_TRUE(c.host.timer->enabled);
}

TEST(SocketOpen, PassesAPortAbove32767InItsNegative16BitForm) {
  ScriptedControl c;
  std::u16string ip = u"h";
  int16_t port = -25536;  // 40000
  c.host.Then([&] { c.socket.Connected(); });
  c.control.SocketOpen(ip, port);
  EXPECT_EQ(c.socket.connects.back(), u"h:40000");
}

TEST(SocketOpen, WithTimeoutZeroPumpsExactlyOnce) {
  ScriptedControl c;
  c.control.Timeout(0);
  std::u16string ip = u"h";
  int16_t port = 1;
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);  // not connected within the pump
  EXPECT_EQ(c.host.pumps, 1);
  EXPECT_EQ(c.control.SocketClose(), -1);
  c.host.Then([&] { c.socket.Connected(); });
  EXPECT_EQ(c.control.SocketOpen(ip, port), -1);
  EXPECT_EQ(c.host.pumps, 2);
}

TEST(SocketOpen, GivesUpAfterTimeoutSecondsOrAtOnceWhenTheAttemptFails) {
  ScriptedControl c;
  c.control.Timeout(3);
  std::u16string ip = u"h";
  int16_t port = 1;
  c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; };
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);
  EXPECT_EQ(c.host.pumps, 3);
  EXPECT_EQ(c.control.SocketClose(), -1);  // closing ends the attempt still under way

  c.host.Then([&] { c.socket.Error(10061, u"Connection refused"); });
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);
  EXPECT_EQ(c.host.pumps, 4);
  EXPECT_EQ(c.control.ErrCode(), 10061);
}

TEST(SocketOpen, RefusesASocketThatIsNotClosed) {
  ScriptedControl c;
  c.Connect();
  std::u16string ip = u"other";
  int16_t port = 25;
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);
  EXPECT_EQ(c.socket.connects.size(), 1u);
}

TEST(SocketRead, WaitsForTheFirstDataOnlyThenReturnsAtOnceEvenWhenEmpty) {
  ScriptedControl c;
  c.Connect();
  int pumps = c.host.pumps;
  c.host.Then([] {}, [] {}, [&] { c.socket.Arrive(u"hello"); });
  EXPECT_EQ(c.control.SocketRead(), u"hello");
  EXPECT_EQ(c.host.pumps - pumps, 3);  // no pump after the data came
  EXPECT_FALSE(c.host.timer->enabled);
  pumps = c.host.pumps;
  EXPECT_EQ(c.control.SocketRead(), u"");
  EXPECT_EQ(c.host.pumps, pumps);
}

TEST(SocketRead, ReturnsEmptyAfterTimeoutSecondsWhenNothingComes) {
  ScriptedControl c;
  c.Connect();
  c.control.Timeout(4);
  const int pumps = c.host.pumps;
  EXPECT_EQ(c.control.SocketRead(), u"");
  EXPECT_EQ(c.host.pumps - pumps, 4);  // one second per pump: no pump past the time-out
}

TEST(SocketRead, WithTimeoutZeroReturnsTheBufferWithoutPumping) {
  ScriptedControl c;
  c.control.Timeout(0);
  const int pumps = c.host.pumps;
  EXPECT_EQ(c.control.SocketRead(), u"");
  EXPECT_EQ(c.host.pumps, pumps);
}

TEST(SocketRead, ASecondReadGetsWhatArrivedInBetween) {
  ScriptedControl c;
  c.Connect();
  c.host.Then([&] { c.socket.Arrive(u"one"); });
  EXPECT_EQ(c.control.SocketRead(), u"one");
  c.host.Then([&] { c.socket.Arrive(u"two"); });
  c.host.Pump();
  EXPECT_EQ(c.control.SocketRead(), u"two");
}

TEST(SocketSend, SendsUnchangedAndCompletesOnTheReport) {
  ScriptedControl c;
  c.Connect();
  std::u16string mess = u"no terminator added";
  c.host.Then([] {}, [&] { c.socket.SendComplete(); });
  EXPECT_EQ(c.control.SocketSend(mess), -1);
  EXPECT_EQ(c.socket.sent, (std::vector<std::u16string>{u"no terminator added"}));
  EXPECT_FALSE(c.host.timer->enabled);
}

TEST(SocketSend, EachProgressReportRestartsTheFullTimeout) {
  ScriptedControl c;
  c.Connect();
  c.control.Timeout(3);
  std::u16string mess = u"big";
  // Six seconds of sending, with progress every two seconds, then the end.
  c.host.Then([] {}, [&] { c.socket.SendProgress(); }, [] {}, [&] { c.socket.SendProgress(); }, [] {},
              [&] { c.socket.SendComplete(); });
  EXPECT_EQ(c.control.SocketSend(mess), -1);
}

TEST(SocketSend, FailsWhenTheReportNeverComesOrTheSocketIsNotConnected) {
  ScriptedControl c;
  std::u16string mess = u"x";
  EXPECT_EQ(c.control.SocketSend(mess), 0);
  EXPECT_TRUE(c.socket.sent.empty());
  c.Connect();
  c.control.Timeout(2);
  EXPECT_EQ(c.control.SocketSend(mess), 0);
  EXPECT_EQ(c.control.ErrCode(), 0);  // time-outs of the raw members are silent
  EXPECT_TRUE(c.events.errors.empty());
}

TEST(SocketClose, OnAClosedSocketReturnsAtOnceWithoutClosing) {
  ScriptedControl c;
  EXPECT_EQ(c.control.SocketClose(), -1);
  EXPECT_EQ(c.socket.closes, 0);
}

TEST(SocketClose, IsBoundedEvenWhenTheTimerIsOff) {
  ScriptedControl c;
  c.Connect();
  c.host.timer->enabled = false;
  c.socket.closesAtOnce = false;
  c.control.Timeout(3);
  EXPECT_EQ(c.control.SocketClose(), 0);
  EXPECT_FALSE(c.host.timer->enabled);  // left as it was found
  c.host.Then([&] { c.socket.state = Socket::kClosed; });
  EXPECT_EQ(c.control.SocketClose(), -1);
}

TEST(Events, DataIsTracedAsReceivedAndCollectsForTheNextRead) {
  ScriptedControl c;
  c.Connect();
  c.control.Debug_(true);
  c.host.Then([&] { c.socket.Arrive(u"+OK\r\n"); });
  c.host.Pump();
  EXPECT_EQ(c.events.trace, (std::vector<std::u16string>{u"Got +OK\r\n"}));
  EXPECT_EQ(c.control.DialogueObj().Received(), u"+OK\r\n");
}

TEST(Events, APeerCloseClosesTheSocketAndEndsThePop3SessionButNotBusy) {
  ScriptedControl c;
  const auto says = [&](const char16_t* reply) { return [&c, reply] { c.socket.Arrive(reply); }; };
  c.host.Then([&] { c.socket.Connected(); }, says(u"+OK\r\n"), says(u"+OK\r\n"), says(u"+OK\r\n"), says(u"+OK 0 0\r\n"),
              [&] { c.socket.PeerCloses(); });
  ASSERT_TRUE(c.control.POP3Login());
  ASSERT_TRUE(c.control.POP3SessionActive());
  c.host.Pump();
  EXPECT_EQ(c.socket.state, Socket::kClosed);
  EXPECT_FALSE(c.control.POP3SessionActive());
  EXPECT_TRUE(c.control.Busy());
}

TEST(Events, ASocketErrorWithoutTextShowsUnknownError) {
  ScriptedControl c;
  c.host.Then([&] { c.socket.Error(42, u""); });
  c.host.Pump();
  EXPECT_EQ(c.control.ErrCode(), 42);
  EXPECT_EQ(c.host.boxes, (std::vector<std::u16string>{u"Corvane1|42 - Unknown error"}));
}

}  // namespace
}  // namespace corvane::testing
