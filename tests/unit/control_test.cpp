// The control object: error table, error reporting with its event and box,
// tracing, the small properties, the session guard and attaching a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "control/errors.h"
#include "scripted.h"
#include "text/charset.h"

namespace corvane::testing {
namespace {

TEST(Timeout, StartsAtTenForANewInstanceAndIsClampedToZeroToSixty) {
  ScriptedControl c;
  EXPECT_EQ(c.control.Timeout(), 10);
  c.control.Timeout(-5);
  EXPECT_EQ(c.control.Timeout(), 0);
  c.control.Timeout(61);
  EXPECT_EQ(c.control.Timeout(), 60);
  c.control.Timeout(1000);
  EXPECT_EQ(c.control.Timeout(), 60);
}

TEST(Timeout, SignalsAChangeOnlyWhenTheStoredValueChanges) {
  ScriptedControl c;
  c.control.Timeout(10);  // the current value
  EXPECT_TRUE(c.host.changes.empty());
  c.control.Timeout(20);
  c.control.Timeout(90);
  c.control.Timeout(75);  // clamps to 60 again: no change
  EXPECT_EQ(c.host.changes, (std::vector<std::u16string>{u"Timeout", u"Timeout"}));
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

TEST(HostPort, TheHostEndsAtTheFirstColonAndThePortIsTheNumberThatFollows) {
  ScriptedControl c;
  const struct {
    const char16_t *put, *get;
  } cases[] = {{u"mail.test:995", u"mail.test:995"}, {u"mail.test", u"mail.test"}, {u"h:25:1", u"h:25"},
               {u"h: 99.5 x", u"h:100"},              {u"h:x", u"h"},                 {u":110", u":110"}};
  for (const auto& value : cases) {
    c.control.POP3host(value.put);
    EXPECT_EQ(c.control.POP3host(), value.get);
    c.control.SMTPhost(value.put);
    EXPECT_EQ(c.control.SMTPhost(), value.get);
  }
  EXPECT_THROW(c.control.SMTPhost(u"h:4294967296"), AutomationError);
  EXPECT_EQ(c.control.SMTPhost(), u":110");  // nothing stored
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

TEST(RaiseError, SetsTheCodeRaisesTheEventAndShowsTheBoxCaptionedWithTheInstanceName) {
  ScriptedControl c;
  c.control.RaiseError(3);
  EXPECT_EQ(c.control.ErrCode(), 3);
  ASSERT_EQ(c.events.errors.size(), 1u);
  EXPECT_EQ(c.events.errors[0].text, u"Operation timed out");
  EXPECT_EQ(c.host.boxes, (std::vector<std::u16string>{u"Corvane1|3 - Operation timed out"}));
}

TEST(RaiseError, ACancellingHandlerSuppressesTheBoxButNotTheCode) {
  ScriptedControl c;
  c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; };
  c.control.RaiseError(5);
  EXPECT_EQ(c.control.ErrCode(), 5);
  EXPECT_TRUE(c.host.boxes.empty());
}

TEST(RaiseError, TheBoxShowsWhatTheHandlerLeftButErrCodeKeepsTheRaisedCode) {
  ScriptedControl c;
  c.events.onError = [](int16_t& code, std::u16string& text, bool&) {
    code = -7;
    text = u"changed by the host";
  };
  int16_t code = 3;
  std::u16string text = u"own text";
  c.control.RaiseError(code, text);
  EXPECT_EQ(c.control.ErrCode(), 3);
  EXPECT_EQ(c.host.boxes, (std::vector<std::u16string>{u"Corvane1|-7 - changed by the host"}));
}

TEST(RaiseError, ReplacesAnEmptyTextInTheCallersVariable) {
  ScriptedControl c;
  int16_t code = 1;
  std::u16string text;
  c.control.RaiseError(code, text);
  EXPECT_EQ(text, u"Corvane control is busy");
}

TEST(SessionGuard, ASecondLoginIsRefusedWithCodeOneAndLeavesTheSessionAlone) {
  ScriptedControl c;
  c.control.Debug_(true);
  ASSERT_TRUE(c.control.BeginLogin(u"[POP3 logging in]"));
  EXPECT_TRUE(c.control.Busy());
  EXPECT_FALSE(c.control.BeginLogin(u"[SMTP logging in]"));
  EXPECT_TRUE(c.control.Busy());
  EXPECT_EQ(c.control.ErrCode(), 1);
  EXPECT_EQ(c.host.boxes, (std::vector<std::u16string>{u"Corvane1|1 - Corvane control is busy"}));
  // The label comes first, before anything the guard reports.
  EXPECT_EQ(c.events.trace, (std::vector<std::u16string>{u"[POP3 logging in]", u"[SMTP logging in]"}));
}

TEST(SessionGuard, SessionOperationsProceedOnlyWhileBusyAndClearTheCodeEitherWay) {
  ScriptedControl c;
  c.control.RaiseError(3);
  EXPECT_FALSE(c.control.BeginInSession(u""));
  EXPECT_EQ(c.control.ErrCode(), 0);
  ASSERT_TRUE(c.control.BeginLogin(u""));
  c.control.RaiseError(3);
  EXPECT_TRUE(c.control.BeginInSession(u""));
  EXPECT_EQ(c.control.ErrCode(), 0);
}

struct AddFromFile : ::testing::Test {
  ScriptedControl c;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "corvane-facade-test";
  void SetUp() override { std::filesystem::create_directories(folder); }
  void TearDown() override { std::filesystem::remove_all(folder); }
  std::u16string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return (folder / name).u16string();
  }
  ErrorNumber Fails(const std::u16string& path) {
    try {
      c.control.MimeContentAddFromFile(1, path);
    } catch (const AutomationError& e) {
      EXPECT_NE(std::string(e.what()).find(Utf8(ReplaceAll(path, {u"\0", 1}, u"%00"))), std::string::npos) << e.what();
      return e.number();
    }
    return ErrorNumber{};
  }
};

TEST_F(AddFromFile, AttachesEveryByteAsABase64PartNamedAfterTheFile) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  // Named by its last path element alone; quotes and backslashes escaped.
  c.control.MimeContentAddFromFile(2, Write("a \"b\" \\ c.bin", bytes));
  EXPECT_EQ(c.control.MimeContentEncoding(2), u"base64");
  EXPECT_EQ(c.control.MimeContentType(2), u"application/octet-stream; name=\"a \\\"b\\\" \\\\ c.bin\"");
  // The same message as one given the bytes as text directly.
  Mime expected;
  expected.ContentAdd(2, hostCharset().fromBytes(bytes));
  expected.ContentEncoding(2, u"base64");
  expected.ContentType(2, c.control.MimeContentType(2));
  std::u16string text, expectedText;
  c.control.MimeObj().GenerateMime(text);
  expected.GenerateMime(expectedText);
  EXPECT_EQ(text, expectedText);
  c.control.MimeContentAddFromFile(2, Write("empty", ""), u"p \"1\".jpg");
  EXPECT_EQ(c.control.MimeContentType(2), u"application/octet-stream; name=\"p \\\"1\\\".jpg\"");
  EXPECT_EQ(c.control.MimeContentCount(), 2);
}

TEST_F(AddFromFile, APathThatCantBeReadFailsAndChangesNothing) {
  EXPECT_EQ(Fails((folder / "missing.bin").u16string()), ErrorNumber::FileNotFound);
  EXPECT_EQ(Fails((folder / "no" / "x.bin").u16string()), ErrorNumber::PathNotFound);
  EXPECT_EQ(Fails(folder.u16string()), ErrorNumber::PathFileAccess);
  EXPECT_EQ(Fails(Write("real.bin", "x") + std::u16string(u"\0.evil", 6)), ErrorNumber{52});  // not cut short
  EXPECT_FALSE(std::filesystem::exists(folder / "missing.bin"));
  EXPECT_EQ(c.control.MimeContentCount(), 0);
}

}  // namespace
}  // namespace corvane::testing
