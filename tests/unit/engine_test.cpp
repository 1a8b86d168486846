// The command and response engine (Dialogue): Say, WaitFor, WaitClose and the timer tick.
#include <gtest/gtest.h>

#include "scripted.h"

namespace corvane::testing {
namespace {

struct Engine : ::testing::Test {
  ScriptedControl c;
  corvane::Dialogue& d = c.control.DialogueObj();
  void SetUp() override {
    c.Connect();
    c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; };
  }
  bool Wait(const std::u16string& expected, int16_t timeout = -1) {
    return d.WaitFor(expected, timeout);
  }
};

TEST_F(Engine, MinusOneStandsForTimeoutInTheCallersVariableAndInTheTrace) {
  c.control.Debug_(true);
  int16_t timeout = -1;
  c.host.Then([&] { c.socket.Arrive(u"+OK ready\r\n"); });
  EXPECT_TRUE(d.WaitFor(u"+OK", timeout));
  EXPECT_EQ(timeout, 10);
  EXPECT_EQ(c.events.trace.front(), u"Wait for:  +OK [10]");
}

TEST_F(Engine, TheTraceEscapesTheExpectedText) {
  c.control.Debug_(true);
  c.host.Then([&] { c.socket.Arrive(u"\r\n.\r\n"); });
  Wait(u"\r\n.\r\n", 7);
  EXPECT_EQ(c.events.trace.front(), u"Wait for:  %0D%0A.%0D%0A [7]");
}

TEST_F(Engine, AMatchIsFoundAnywhereEvenAcrossPiecesButOnlyInTheRightCase) {
  c.host.Then([&] { c.socket.Arrive(u"-ERR no\r\n+"); }, [&] { c.socket.Arrive(u"OK\r\n"); });
  EXPECT_TRUE(Wait(u"+OK"));
  EXPECT_EQ(d.LastReply(), u"-ERR no\r\n+OK\r\n");

  c.host.Then([&] { c.socket.Arrive(u"+ok\r\n"); });
  EXPECT_FALSE(Wait(u"+OK", 2));
  EXPECT_EQ(c.control.ErrCode(), 3);
}

TEST_F(Engine, TimeoutZeroWaitsAsLongAsItTakes) {
  for (int i = 0; i < 100; ++i) c.host.Then([] {});
  c.host.Then([&] { c.socket.Arrive(u"250 ok\r\n"); });
  EXPECT_TRUE(Wait(u"250", 0));
  EXPECT_EQ(c.host.pumps, 1 + 101);
}

TEST_F(Engine, TextLeftInTheSocketAfterTheMatchIsDiscarded) {
  c.host.Then([&] {
    c.socket.Arrive(u"+OK one\r\n");
    c.socket.waiting = u"+OK stray\r\n";  // arrived, but not yet announced
  });
  EXPECT_TRUE(Wait(u"+OK"));
  EXPECT_TRUE(c.socket.waiting.empty());
  EXPECT_TRUE(d.Received().empty());
  EXPECT_FALSE(Wait(u"stray", 1));
}

TEST_F(Engine, TextThatArrivesBetweenWaitsCountsForTheNextWait) {
  c.host.Then([&] { c.socket.Arrive(u"220 early\r\n"); });
  c.host.Pump();
  EXPECT_TRUE(Wait(u"220"));
  EXPECT_EQ(d.LastReply(), u"220 early\r\n");
}

TEST_F(Engine, ATimeOutReportsCodeThreeWithWhatWasSaidAndReceived) {
  d.Say(u"STAT\r\n", false);
  EXPECT_FALSE(Wait(u"+OK", 2));
  ASSERT_EQ(c.events.errors.size(), 1u);
  EXPECT_EQ(c.events.errors[0].code, 3);
  EXPECT_EQ(c.events.errors[0].text, u"Operation timed out: said 'STAT', waited '+OK', got ''");
  EXPECT_EQ(c.control.ErrCode(), 3);
  EXPECT_EQ(c.host.pumps, 1 + 2);
}

TEST_F(Engine, AClosedConnectionReportsCodeFive) {
  d.Say(u"QUIT\r\n", false);
  c.host.Then([&] { c.socket.Arrive(u"-ERR bye\r\n"); }, [&] { c.socket.PeerCloses(); });
  EXPECT_FALSE(Wait(u"+OK", 0));
  ASSERT_EQ(c.events.errors.size(), 1u);
  EXPECT_EQ(c.events.errors[0].code, 5);
  EXPECT_EQ(c.events.errors[0].text, u"Invalid server response: said 'QUIT', waited '+OK', got '-ERR bye\r\n'");
  EXPECT_EQ(d.LastReply(), u"-ERR bye\r\n");
}

TEST_F(Engine, ErrorTextsQuoteTheLastTwoHundredCharactersSaidAndTheFirstTwoHundredGot) {
  const std::u16string said = u"HEAD" + std::u16string(196, u's') + u"TAIL";
  const std::u16string got = u"FRONT" + std::u16string(195, u'g') + u"BACK";
  d.Say(said + u"\r\n", false);
  EXPECT_EQ(d.LastSaid(), said.substr(4));
  c.host.Then([&] { c.socket.Arrive(got); });
  Wait(u"+OK", 1);
  ASSERT_EQ(c.events.errors.size(), 1u);
  EXPECT_EQ(c.events.errors[0].text, u"Operation timed out: said '" + said.substr(4) + u"', waited '+OK', got '" +
                                         got.substr(0, 200) + u"'");
}

TEST_F(Engine, SayRecordsAndTracesTheLine) {
  c.control.Debug_(true);
  d.Say(u"USER bob\r\n", false);
  d.Say(u"partial", false);  // no CR LF: LastSaid stays
  EXPECT_EQ(c.socket.sent, (std::vector<std::u16string>{u"USER bob\r\n", u"partial"}));
  EXPECT_EQ(d.LastSaid(), u"USER bob");
  EXPECT_EQ(c.events.trace, (std::vector<std::u16string>{u"Say:      USER bob\r\n", u"Say:      partial"}));
}

TEST_F(Engine, SayOnAClosedSocketDoesNothing) {
  c.socket.state = Socket::kClosed;
  c.control.Debug_(true);
  d.Say(u"NOOP\r\n", false);
  EXPECT_TRUE(c.socket.sent.empty());
  EXPECT_TRUE(c.events.trace.empty());
  EXPECT_EQ(d.LastSaid(), u"");
}

TEST_F(Engine, SayWaitsForTheSendReportOnlyWhenAskedAndNotForEver) {
  const int start = c.host.pumps;
  d.Say(u"command\r\n", false);
  EXPECT_EQ(c.host.pumps, start);

  c.host.Then([] {}, [] {}, [&] { c.socket.SendComplete(); }, [] {});
  d.Say(u"body line\r\n", true);
  EXPECT_EQ(c.host.pumps, start + 3);

  c.control.Timeout(4);  // the report never comes: bounded by Timeout
  d.Say(u"lost line\r\n", true);
  EXPECT_EQ(c.host.pumps, start + 3 + 4);
  EXPECT_EQ(d.LastSaid(), u"lost line");
}

TEST_F(Engine, SayStopsWaitingWhenTheConnectionBreaks) {
  c.control.Timeout(0);  // no time limit: only the connection can end the wait
  c.host.Then([] {}, [&] { c.socket.PeerCloses(); });
  d.Say(u"body\r\n", true);
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

TEST_F(Engine, TheTimerCountsDownToZeroAndStops) {
  int16_t timeout = 2;
  d.WaitFor(u"never", timeout);
  EXPECT_EQ(d.TicksLeft(), 0);
  c.host.Pump();
  EXPECT_EQ(d.TicksLeft(), 0);
}

TEST_F(Engine, WaitCloseReturnsAtOnceOnAClosedSocket) {
  c.socket.state = Socket::kClosed;
  d.WaitClose();
  EXPECT_EQ(c.host.pumps, 1);  // only the connecting pump of SetUp
  EXPECT_EQ(c.socket.closes, 0);
}

TEST_F(Engine, WaitCloseWaitsForThePeerThenClosesItselfAfterTimeoutSeconds) {
  c.host.Then([] {}, [&] { c.socket.PeerCloses(); });
  d.WaitClose();
  EXPECT_EQ(c.socket.closes, 1);  // the Closed handler's
  c.Connect();
  c.control.Timeout(3);
  const int start = c.host.pumps;
  d.WaitClose();
  EXPECT_EQ(c.host.pumps - start, 3);
  EXPECT_EQ(c.socket.closes, 2);
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

// --- A host that calls the control again from its events

struct Reentry : Engine {
  int depth = 0, deepest = 0;
  // The Debugger handler reads the socket whenever text arrives: a nested wait.
  void ReadOnEveryArrival() {
    c.control.Debug_(true);
    c.events.onDebugger = [this](const std::u16string& line) {
      if (!line.starts_with(u"Got ")) return;
      deepest = std::max(deepest, ++depth);
      c.control.SocketRead();
      --depth;
    };
  }
};

TEST_F(Reentry, ANestedWaitNeitherStopsNorRestartsTheOuterWaitsClock) {
  ReadOnEveryArrival();
  c.host.Then([&] { c.socket.Arrive(u"noise"); });
  c.host.peer = [&] {
    if (c.host.pumps > 100) throw std::runtime_error("the outer wait never ended");
    return false;
  };
  EXPECT_FALSE(Wait(u"+OK", 5));
  EXPECT_EQ(c.control.ErrCode(), 3);
  // The nested read waits out its ten seconds inside the outer wait's first pass;
  // the outer wait's five seconds have passed meanwhile, so it ends right after.
  EXPECT_LE(c.host.pumps, 1 + 1 + 10 + 1);
}

TEST_F(Reentry, EndlessReentryFromEveryArrivalStopsAtABoundedDepth) {
  ReadOnEveryArrival();
  c.host.peer = [&] {
    c.socket.Arrive(u"x");
    return true;
  };
  c.control.SocketRead();
  EXPECT_GT(deepest, 1);
  EXPECT_LE(deepest, 9);
}

TEST_F(Reentry, AMatchIsFoundAfterANestedCallTookTheTextSoFar) {
  c.host.Then([&] { c.socket.Arrive(u"abcdef"); }, [&] { c.control.SocketRead(); },
              [&] { c.socket.Arrive(u"+OK"); });
  EXPECT_TRUE(Wait(u"+OK"));
}

TEST_F(Engine, TextBeyondTheLimitIsDroppedAndTheConnectionClosed) {
  d.LongestReceived(8);
  c.host.Then([&] { c.socket.Arrive(u"12345"); }, [&] { c.socket.Arrive(u"6789+OK"); });
  EXPECT_FALSE(Wait(u"+OK"));
  EXPECT_EQ(c.control.ErrCode(), Corvane::kTooMuchReceived);
  EXPECT_EQ(c.events.errors.back().text,
            u"More text arrived than the control holds (8 characters): it was dropped and the connection closed");
  EXPECT_TRUE(d.LastReply().empty());
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

}  // namespace
}  // namespace corvane::testing
