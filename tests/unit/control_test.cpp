// The control object: error reporting with its event and box, tracing, the small
// properties and the session guard.
#include <gtest/gtest.h>

#include "scripted.h"

namespace corvane::testing {
namespace {

TEST(Timeout, StartsAtTenIsClampedToZeroToSixtyAndSignalsOnlyAChangedValue) {
  ScriptedControl c;
  EXPECT_EQ(c.control.Timeout(), 10);
  const struct { int16_t put, stored; bool signalled; } rows[] = {
      {10, 10, false}, {20, 20, true}, {-5, 0, true}, {61, 60, true}, {1000, 60, false}, {75, 60, false}};
  for (const auto& r : rows) {
    c.host.changes.clear();
    c.control.Timeout(r.put);
    EXPECT_EQ(c.control.Timeout(), r.stored) << r.put;
    EXPECT_EQ(c.host.changes, std::vector<std::u16string>(r.signalled ? 1 : 0, u"Timeout")) << r.put;
  }
}

TEST(Debug, SignalsAChangeEveryTimeAndGatesTheTrace) {
  ScriptedControl c;
  c.control.BeginOperation(u"[silent]");
  c.control.Debug_(true);
  c.control.Debug_(true);
  c.control.BeginOperation(u"[traced]");
  EXPECT_EQ(c.host.changes, (std::vector<std::u16string>{u"Debug_", u"Debug_"}));
  EXPECT_EQ(c.events.trace, (std::vector<std::u16string>{u"[traced]"}));
}

TEST(IsSecured, ReportsTheSocketsOwnSwitch) {
  ScriptedControl c;
  c.control.IsSecured(true);
  EXPECT_TRUE(c.control.IsSecured());
  EXPECT_TRUE(c.socket.secured);
  c.socket.acceptsSecured = false;  // a socket that cannot do TLS refuses the switch
  c.control.IsSecured(true);
  EXPECT_FALSE(c.control.IsSecured());
}

// ErrCode keeps the raised code; the event gets the text (the table's for an empty
// one, which also goes back into the caller's variable); the box shows what the
// handler left, unless it cancelled.
TEST(RaiseError, SetsTheCodeRaisesTheEventAndShowsTheBoxCaptionedWithTheInstanceName) {
  const struct { std::function<void(int16_t&, std::u16string&, bool&)> handler; int16_t code;
                 std::u16string text, raised, box; } rows[] = {
      {nullptr, 3, u"", u"Operation timed out", u"Corvane1|3 - Operation timed out"},
      {nullptr, 1, u"", u"Corvane control is busy", u"Corvane1|1 - Corvane control is busy"},
      {[](int16_t&, std::u16string&, bool& cancel) { cancel = true; }, 5, u"", u"Invalid server response", u""},
      {[](int16_t& code, std::u16string& text, bool&) { code = -7, text = u"changed by the host"; }, 3, u"own text",
       u"own text", u"Corvane1|-7 - changed by the host"},
  };
  for (const auto& r : rows) {
    ScriptedControl c;
    c.events.onError = r.handler;
    int16_t code = r.code;
    std::u16string text = r.text;
    c.control.RaiseError(code, text);
    EXPECT_EQ(c.control.ErrCode(), r.code);
    ASSERT_EQ(c.events.errors.size(), 1u);
    EXPECT_EQ(c.events.errors[0].text, r.raised);
    EXPECT_EQ(c.host.boxes, std::vector<std::u16string>(r.box.empty() ? 0 : 1, r.box));
    if (r.text.empty()) {
      EXPECT_EQ(text, r.raised);
    }
  }
}

// Logins proceed only while not Busy, other session operations only while Busy;
// a refused login reports code 1, and either kind clears the code when it goes on.
TEST(SessionGuard, ASecondLoginIsRefusedWithCodeOneAndSessionOperationsNeedOne) {
  ScriptedControl c;
  c.control.RaiseError(3);
  EXPECT_FALSE(c.control.BeginInSession(u""));
  EXPECT_EQ(c.control.ErrCode(), 0);
  c.control.Debug_(true);
  ASSERT_TRUE(c.control.BeginLogin(u"[POP3 logging in]"));
  EXPECT_FALSE(c.control.BeginLogin(u"[SMTP logging in]"));
  EXPECT_TRUE(c.control.Busy());
  EXPECT_EQ(c.control.ErrCode(), 1);
  EXPECT_EQ(c.host.boxes, (std::vector<std::u16string>{u"Corvane1|3 - Operation timed out",
                                                       u"Corvane1|1 - Corvane control is busy"}));
  // The label comes first, before anything the guard reports.
  EXPECT_EQ(c.events.trace, (std::vector<std::u16string>{u"[POP3 logging in]", u"[SMTP logging in]"}));
  EXPECT_TRUE(c.control.BeginInSession(u""));
  EXPECT_EQ(c.control.ErrCode(), 0);
}

}  // namespace
}  // namespace corvane::testing
