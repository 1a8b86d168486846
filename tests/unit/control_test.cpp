// The control object: error reporting with its event and box, tracing, the small
// properties, the session guard and attaching a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "control/errors.h"
#include "scripted.h"
#include "text/charset.h"

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
