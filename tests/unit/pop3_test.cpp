// The POP3 operations against a scripted server: every transcript is played
// whole and again one character per pump.
#include "control/errors.h"
#include "pop3/reply.h"
#include "transcript.h"

namespace corvane::testing {
namespace {

const Transcript kLogin = {u"S: +OK ready", u"C: USER u1", u"S: +OK", u"C: PASS p1", u"S: +OK", u"C: STAT",
                           u"S: +OK 2 320"};

struct Pop3 : Dialogue {
  Pop3() {
    c.control.POP3host(u"pop.test");
    c.control.POP3user(u"u1");
    c.control.POP3password(u"p1");
  }
  // Logs in with kLogin, then plays `then`.
  void LoggedIn(const Transcript& then) {
    Play(kLogin + then);
    ASSERT_TRUE(c.control.POP3Login());
  }
  bool Throws(ErrorNumber number, const std::function<void()>& operation) {
    try {
      operation();
    } catch (const AutomationError& e) {
      return e.number() == number;
    }
    return false;
  }
};
CORVANE_BOTH_WAYS(Pop3);

TEST_P(Pop3, LoginReadsTheCountersAndOpensTheSession) {
  c.control.Debug_(true);
  Play(kLogin);
  EXPECT_TRUE(c.control.POP3Login());
  peer->ExpectFinished();
  EXPECT_EQ(c.socket.connects, std::vector<std::u16string>{u"pop.test:110"});
  EXPECT_EQ(c.control.MailBoxCount(), 2);
  EXPECT_EQ(c.control.MailBoxSize(), 320);
  EXPECT_TRUE(c.control.Busy());
  EXPECT_TRUE(c.control.POP3SessionActive());
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(c.events.trace.front(), u"[POP3 logging in]");
  EXPECT_EQ(c.events.trace[1], u"Wait for:  +OK [10]");
}

TEST_P(Pop3, LoginChoosesThePort) {
  c.control.IsSecured(true);
  Play(kLogin);
  c.control.POP3Login();
  c.control.POP3Logout();
  c.control.POP3host(u"pop.test:1100");
  Play(kLogin);
  c.control.POP3Login();
  EXPECT_EQ(c.socket.connects, (std::vector<std::u16string>{u"pop.test:995", u"pop.test:1100"}));
}

TEST_P(Pop3, ARefusedPasswordEndsByTheServersCloseAndLeavesTheControlOffline) {
  Play({u"S: +OK ready", u"C: USER u1", u"S: +OK", u"C: PASS p1", u"S: -ERR no", u"close"});
  EXPECT_FALSE(c.control.POP3Login());
  peer->ExpectFinished();
  EXPECT_EQ(Code(), 5);
  if (!Split()) {  // cut up, the text after an early match counts towards the next wait
    EXPECT_EQ(LastError(), u"Invalid server response: said 'PASS p1', waited '+OK', got '-ERR no\r\n'");
  }
  EXPECT_FALSE(c.control.Busy());
  EXPECT_EQ(c.socket.state, Socket::kClosed);
  EXPECT_EQ(c.control.MailBoxCount(), 0);
}

TEST_P(Pop3, AValueThatWouldBreakItsLineIsRefusedBeforeConnecting) {
  const struct {
    std::function<void(Corvane&)> put;
    std::u16string refused;
  } cases[] = {
      // Else the server reads a second command: the password shown masked.
      {[](Corvane& c) { c.POP3password(u"p1\r\nDELE 1"); },
       u"POP3password holds a line break and was not sent: '**%0D%0A******'"},
      {[](Corvane& c) { c.POP3user(u"u1\nDELE 1"); }, u"POP3user holds a line break and was not sent: 'u1%0ADELE 1'"},
      {[](Corvane& c) { c.POP3user({u"u1\0x", 4}); }, u"POP3user holds a NUL character and was not sent: 'u1%00x'"},
      {[](Corvane& c) { c.POP3host(u"pop.test\r"); }, u"POP3host holds a line break and was not sent: 'pop.test%0D'"},
  };
  for (const auto& bad : cases) {
    bad.put(c.control);
    EXPECT_FALSE(c.control.POP3Login());
    EXPECT_EQ(Code(), Corvane::kLineBreakRefused);
    EXPECT_EQ(LastError(), bad.refused);
    EXPECT_FALSE(c.control.Busy());
    c.control.POP3host(u"pop.test");
    c.control.POP3user(u"u1");
    c.control.POP3password(u"p1");
  }
  EXPECT_TRUE(c.socket.connects.empty());
  LoggedIn({});
}

TEST_P(Pop3, ASilentServerTimesOut) {
  Play({u"S: +OK ready", u"C: USER u1"});
  EXPECT_FALSE(c.control.POP3Login());
  peer->ExpectFinished();
  EXPECT_EQ(Code(), 3);
  EXPECT_FALSE(c.control.Busy());
  EXPECT_GE(c.socket.closes, 1);
}

TEST_P(Pop3, ASecondLoginIsRefusedAndLeavesTheSessionAlone) {
  LoggedIn({u"C: RSET", u"S: +OK"});
  EXPECT_FALSE(c.control.POP3Login());
  EXPECT_EQ(Code(), 1);
  EXPECT_TRUE(c.control.Busy() && c.control.POP3SessionActive());
  EXPECT_TRUE(c.control.Reset());
  peer->ExpectFinished();
  EXPECT_EQ(c.socket.connects.size(), 1u);
}

TEST_P(Pop3, AStatReplyThatCantBeReadFailsTheLoginToTheCaller) {
  const struct {
    const char16_t* reply;
    ErrorNumber error;
  } cases[] = {{u"S: +OK 2", ErrorNumber::SubscriptOutOfRange}, {u"S: +OK 40000 1", ErrorNumber::Overflow}};
  for (const auto& bad : cases) {
    Transcript script = kLogin;
    script.back() = bad.reply;
    Play(script);
    EXPECT_TRUE(Throws(bad.error, [&] { c.control.POP3Login(); }));
    EXPECT_FALSE(c.control.Busy());
    EXPECT_FALSE(c.control.POP3SessionActive());
    EXPECT_EQ(c.socket.state, Socket::kClosed);
  }
}

TEST_P(Pop3, LogoutQuitsAndWaitsForTheClose) {
  LoggedIn({u"C: QUIT", u"S: +OK bye", u"close"});
  EXPECT_TRUE(c.control.POP3Logout());
  peer->ExpectFinished();
  EXPECT_FALSE(c.control.Busy() || c.control.POP3SessionActive());
  EXPECT_EQ(c.control.MailBoxCount(), 2);  // kept from the last STAT
  EXPECT_FALSE(c.control.POP3Logout());    // nothing left to quit
  EXPECT_EQ(c.socket.sent.back(), u"QUIT\r\n");
}

TEST_P(Pop3, OfflineOperationsSendNothingAndReportNothing) {
  c.control.Debug_(true);
  int16_t index = 1;
  EXPECT_FALSE(c.control.Reset());
  EXPECT_EQ(c.control.Size(index), 0);
  EXPECT_EQ(c.control.Retrieve(index), u"");
  EXPECT_FALSE(c.control.Delete(index));
  EXPECT_TRUE(c.socket.sent.empty());
  EXPECT_TRUE(c.events.errors.empty());
  EXPECT_EQ(c.events.trace,
            (std::vector<std::u16string>{u"[POP3 RSet]", u"[POP3 size 1]", u"[POP3 retrieve 1]", u"[POP3 delete 1]"}));
}

TEST_P(Pop3, SizeReadsTheThirdField) {
  int16_t index = 3;
  // A line before the one that holds "+OK" does not end the wait for its end.
  LoggedIn({u"C: LIST 3", u"S: -ERR", u"S: +OK 3 1234", u"C: LIST 3", u"S: +OK 3"});
  EXPECT_EQ(c.control.Size(index), 1234);
  EXPECT_TRUE(Throws(ErrorNumber::SubscriptOutOfRange, [&] { c.control.Size(index); }));
  peer->ExpectFinished();
}

TEST_P(Pop3, DeleteIsTrueOnceAcknowledgedAndRefreshesTheCounters) {
  int16_t index = 2;
  // The counters come from the line that answered STAT, not from the late tail
  // of DELE's reply before it.
  LoggedIn({u"C: DELE 2", u"S~ +OK", u"C: STAT", u"S:  message 2 deleted", u"S: +OK 1 120", u"C: DELE 2", u"S: +OK",
            u"C: STAT"});
  EXPECT_TRUE(c.control.Delete(index));
  EXPECT_EQ(c.control.MailBoxCount(), 1);
  EXPECT_EQ(c.control.MailBoxSize(), 120);
  EXPECT_TRUE(c.control.Delete(index));  // though STAT times out
  peer->ExpectFinished();
  EXPECT_EQ(Code(), 3);
  EXPECT_EQ(c.control.MailBoxCount(), 1);
}

TEST_P(Pop3, RetrieveKeepsTheStatusLineAndUndoesDotStuffing) {
  const struct {
    Transcript answer;
    std::u16string text;
  } cases[] = {
      {{u"S: +OK 4 octets", u"S: Hi", u"S: ."}, u"+OK 4 octets\r\nHi\r\n"},
      {{u"S: +OK", u"S: ..", u"S: ...", u"S: .x", u"S: ."}, u"+OK\r\n.\r\n..\r\n.x\r\n"},
      {{u"S: +OK", u"S: ."}, u"+OK\r\n"},
      {{u"S: +OK", u"S~ a\r\n.", u"S: "}, u"+OK\r\na\r\n"},  // terminator split
      {{u"S: +OK", u"S~ a\r\n.\r", u"S~ \n"}, u"+OK\r\na\r\n"},  // split after its CR
      {{u"S: +OK", u"S: \xE9\xFF\x80", u"S: ."}, u"+OK\r\n\xE9\xFF\x80\r\n"},
  };
  int16_t index = -1;
  for (const auto& retrieval : cases) {
    LoggedIn(Transcript{u"C: RETR -1"} + retrieval.answer + Transcript{u"C: QUIT", u"S: +OK", u"close"});
    EXPECT_EQ(c.control.Retrieve(index), retrieval.text);
    c.control.POP3Logout();
    peer->ExpectFinished();
  }
  EXPECT_EQ(Code(), 0);
}

TEST_P(Pop3, RetrieveTracesItsSteps) {
  c.control.Debug_(true);
  int16_t index = 1;
  LoggedIn({u"C: RETR 1", u"S: +OK", u"S: ."});
  c.events.trace.clear();
  c.control.Retrieve(index);
  std::vector<std::u16string> labels;
  for (const auto& line : c.events.trace)
    if (line.starts_with(u"RUN") || line.starts_with(u"RETR") || line.starts_with(u"[")) labels.push_back(line);
  EXPECT_EQ(labels, (std::vector<std::u16string>{u"[POP3 retrieve 1]", u"RUNNING WS_Wait", u"RUNNING WS_Wait OK",
                                                 u"RUNNING RETRIEVE LOOP", u"RETRIEVE LOOP COMPLETED"}));
}

TEST_P(Pop3, ARetrieveThatFailsGivesNothingAndAbandonsAConnectionLeftMidMessage) {
  int16_t index = 7;
  LoggedIn({u"C: RETR 7", u"S: -ERR no such message", u"C: RETR 7", u"S: +OK", u"S: half a message"});
  EXPECT_EQ(c.control.Retrieve(index), u"");
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(c.socket.state, Socket::kConnected);
  EXPECT_EQ(c.control.Retrieve(index), u"");  // no partial message passed off as whole
  EXPECT_EQ(Code(), 3);
  // The rest of message 7 would answer the next command: the connection ends
  // without QUIT, so the server commits nothing, and DELE is never said.
  EXPECT_EQ(c.socket.state, Socket::kClosed);
  EXPECT_FALSE(c.control.Delete(index));
  EXPECT_EQ(Code(), 5);
  EXPECT_TRUE(c.control.Busy());
  peer->ExpectFinished();
}

// The read-and-delete loop of the guide: a message is deleted only once its text
// came back whole.
TEST_P(Pop3, ErrInsideAMessageNeverPutsTheSessionOutOfStep) {
  const Transcript first = {u"C: RETR 1", u"S~ +OK\r\nSubject: Re: -ERR mailbox locked\r\n", u"S: body", u"S: ."};
  const Transcript second = {u"C: RETR 2", u"S: +OK", u"S: second", u"S: ."};
  const Transcript deleted = {u"S: +OK", u"C: STAT", u"S: +OK 1 9"};
  // Cut up, the first piece is the status line alone and message 1 comes whole.
  LoggedIn(first + (Split() ? Transcript{u"C: DELE 1"} + deleted : Transcript{}) + second + Transcript{u"C: DELE 2"} +
           deleted);
  std::vector<std::u16string> seen;
  for (int16_t n = 1; n <= 2; ++n) {
    int16_t index = n;
    const std::u16string text = c.control.Retrieve(index);
    if (text.empty()) continue;
    seen.push_back(text);
    c.control.Delete(index);
  }
  peer->ExpectFinished();
  EXPECT_EQ(seen.back(), u"+OK\r\nsecond\r\n");
  EXPECT_EQ(seen.size(), Split() ? 2u : 1u);
  EXPECT_EQ(Code(), 0);
}

TEST_P(Pop3, ARetrieveThatTricklesEndsInBoundedTime) {
  const std::u16string line(10000, u'x');
  int16_t index = 1;
  // A healthy slow server: 10,000 characters every 9 seconds.
  LoggedIn({u"C: RETR 1", u"S: +OK", u"pause 9", u"S: " + line, u"pause 9", u"S: " + line, u"pause 9", u"S: ."});
  EXPECT_EQ(c.control.Retrieve(index).size(), 5 + 2 * (line.size() + 2));
  EXPECT_EQ(Code(), 0);
  // A line every Timeout - 1 seconds keeps each wait fed, but not the call.
  Transcript trickle = {u"C: RETR 1", u"S: +OK"};
  for (int n = 0; n < 100; ++n) trickle = trickle + Transcript{u"pause 9", u"S: line"};
  c.control.POP3Logout();
  LoggedIn(trickle);
  const double start = c.host.now;
  EXPECT_EQ(c.control.Retrieve(index), u"");
  EXPECT_LE(c.host.now - start, 3 * c.control.Timeout());
  EXPECT_EQ(Code(), 3);
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

TEST(Pop3Reply, UndoDotStuffingMatchesReplaceAll) {
  for (std::u16string text : {u"", u"\r\n..", u"a\r\n...\r\n..\r\n..x", u"..a\r\n.b", u"\r\n..\r\n..\r\n....",
                              u"x\r\n.", u"no dots here"}) {
    const std::u16string expected = ReplaceAll(text, u"\r\n..", u"\r\n.");
    UndoDotStuffing(text);
    EXPECT_EQ(TranscriptPeer::Show(text), TranscriptPeer::Show(expected));
  }
}

TEST(Pop3Reply, AnnouncedSize) {
  EXPECT_EQ(AnnouncedSize(u"+OK 1234 octets\r\n"), 1234u);
  EXPECT_EQ(AnnouncedSize(u"+OK\r\n12 34"), 0u);
  EXPECT_EQ(AnnouncedSize(u"+OK message follows\r\n"), 0u);
  EXPECT_EQ(AnnouncedSize(u"+OK -5 octets"), 0u);
}

}  // namespace
}  // namespace corvane::testing
