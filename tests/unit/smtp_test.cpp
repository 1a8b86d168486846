// The SMTP operations, SendMime and the MIME facade against a scripted server:
// every transcript is played whole and again one character per pump.
#include <filesystem>
#include <fstream>
#include <functional>

#include "control/errors.h"
#include "text/charset.h"
#include "smtp/mime_facade.h"
#include "transcript.h"

namespace corvane::testing {
namespace {

const Transcript kLogin = {u"S: 220 hello", u"C: HELO testhost", u"S: 250 hi"};
const Transcript kQuit = {u"C: QUIT", u"S: 221 bye", u"close"};

struct Smtp : Dialogue {
  Smtp() {
    c.control.SMTPhost(u"smtp.test");
    c.control.SMTPsender(u"<s>");
  }
  void LoggedIn(const Transcript& then) {
    Play(kLogin + then);
    ASSERT_TRUE(c.control.SMTPLogin());
  }
  bool Send(std::u16string recipient, std::u16string subject, std::u16string cc, std::u16string mail) {
    return c.control.Send(recipient, subject, cc, mail);
  }
};
CORVANE_BOTH_WAYS(Smtp);

TEST_P(Smtp, LoginGreetsAndSaysHelo) {
  c.control.Debug_(true);
  LoggedIn(kQuit);
  EXPECT_TRUE(c.control.Busy());
  EXPECT_EQ(c.events.trace.front(), u"[SMTP logging in]");
  EXPECT_TRUE(c.control.SMTPLogout());
  peer->ExpectFinished();
  EXPECT_FALSE(c.control.Busy());
  EXPECT_EQ(c.socket.connects, std::vector<std::u16string>{u"smtp.test:25"});
}

TEST_P(Smtp, LoginChoosesThePort) {
  c.control.IsSecured(true);
  Play(kLogin + kQuit);
  c.control.SMTPLogin();
  c.control.SMTPLogout();
  c.control.SMTPhost(u"smtp.test:2525");
  Play(kLogin);
  c.control.SMTPLogin();
  EXPECT_EQ(c.socket.connects, (std::vector<std::u16string>{u"smtp.test:465", u"smtp.test:2525"}));
}

TEST_P(Smtp, AMissingGreetingTimesOutAndClosesTheSocket) {
  Play({u"S: 554 go away"});
  EXPECT_FALSE(c.control.SMTPLogin());
  EXPECT_EQ(Code(), 3);
  EXPECT_FALSE(c.control.Busy());
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

TEST_P(Smtp, ASecondLoginIsRefusedAndTheFirstSessionWorksOn) {
  LoggedIn({u"C: MAIL FROM: <s>", u"S: 250 ok", u"C: RCPT TO: r1", u"S: 250 ok", u"C: DATA", u"C: Subject: s",
            u"S: 354 go", u"C: b", u"C: .", u"S: 250 queued"});
  EXPECT_FALSE(c.control.SMTPLogin());
  EXPECT_EQ(Code(), 1);
  EXPECT_TRUE(Send(u"r1", u"s", u"", u"b"));
  peer->ExpectFinished();
}

TEST_P(Smtp, SendFollowsTheWireExample) {
  LoggedIn({u"C: MAIL FROM: <s>", u"S: 250 ok", u"C: RCPT TO: r1", u"S: 250 ok", u"C: RCPT TO: r2", u"S: 250 ok",
            u"C: RCPT TO: r3", u"S: 250 ok", u"C: DATA", u"C: Subject: Hi", u"S: 354 go", u"C: Line one",
            u"C: ..end", u"C: .", u"S: 250 queued"});
  EXPECT_TRUE(Send(u"r1", u"Hi", u"r2,r3", u"Line one\r\n.end"));
  peer->ExpectFinished();
  EXPECT_TRUE(c.control.Busy());
}

TEST_P(Smtp, RecipientsAndBodyLines) {
  const Transcript accepted = {u"S: 250 ok"};
  const struct {
    std::u16string recipient, cc, mail;
    Transcript wire;  // after MAIL FROM
  } cases[] = {
      {u"r1,r2", u"", u"", {u"C: RCPT TO: r1,r2", u"S: 250", u"C: DATA", u"C: Subject: s", u"S: 354", u"C: "}},
      {u"r1", u"r2, r3", u"x\r\n", {u"C: RCPT TO: r1", u"S: 250", u"C: RCPT TO: r2", u"S: 250", u"C: RCPT TO:  r3",
                                    u"S: 250", u"C: DATA", u"C: Subject: s", u"S: 354", u"C: x", u"C: "}},
      {u"r", u"", u".\r\n.x\r\n .x\r\na\n.b\r.c.d",
       {u"C: RCPT TO: r", u"S: 250", u"C: DATA", u"C: Subject: s", u"S: 354", u"C: ..", u"C: ..x", u"C:  .x",
        u"C: a\n..b\r..c.d"}},
  };
  for (const auto& mail : cases) {
    LoggedIn(Transcript{u"C: MAIL FROM: <s>", u"S: 250"} + mail.wire + Transcript{u"C: .", u"S: 250 queued"});
    EXPECT_TRUE(Send(mail.recipient, u"s", mail.cc, mail.mail));
    peer->ExpectFinished();
    c.control.SMTPLogout();
  }
}

TEST_P(Smtp, AnEmptyCcFieldIsSentAndItsRefusalEndsTheSend) {
  LoggedIn({u"C: MAIL FROM: <s>", u"S: 250", u"C: RCPT TO: r1", u"S: 250", u"C: RCPT TO: ", u"S: 501 syntax"});
  EXPECT_FALSE(Send(u"r1", u"s", u",", u"b"));
  peer->ExpectFinished();
  EXPECT_EQ(Code(), 3);
  EXPECT_TRUE(c.control.Busy());
}

TEST_P(Smtp, ARefusalThatHappensToHoldTheCodeCountsAsAcceptance) {
  LoggedIn({u"C: MAIL FROM: <s>", u"S: 550 no such user x250@h", u"C: RCPT TO: r", u"S: 250", u"C: DATA",
            u"C: Subject: s", u"S: 354", u"C: b", u"C: .", u"S: 250"});
  EXPECT_TRUE(Send(u"r", u"s", u"", u"b"));
}

TEST_P(Smtp, WithoutASessionNothingIsSent) {
  EXPECT_FALSE(Send(u"r", u"s", u"", u"b"));
  EXPECT_EQ(c.control.SendMime(), 0);
  EXPECT_TRUE(c.control.SMTPLogout());
  EXPECT_TRUE(c.socket.sent.empty());
  EXPECT_EQ(Code(), 0);
}

TEST_P(Smtp, LogoutAfterTheServerClosedIsTrueAndFreesTheControl) {
  LoggedIn({u"close"});
  for (int pump = 0; pump < 10 && c.socket.state != Socket::kClosed; ++pump) c.host.Pump();
  EXPECT_EQ(c.socket.state, Socket::kClosed);
  EXPECT_TRUE(c.control.SMTPLogout());
  EXPECT_FALSE(c.control.Busy());
  Play(kLogin);
  EXPECT_TRUE(c.control.SMTPLogin());
}

TEST_P(Smtp, AHostNameThatWouldBreakItsLineIsRefusedBeforeConnecting) {
  const struct {
    std::function<bool(Corvane&)> connect;
    std::u16string refused;
  } cases[] = {
      {[](Corvane& c) { c.SMTPhost(u"smtp.test\r\nx"); return c.SMTPLogin(); },
       u"SMTPhost holds a line break and was not sent: 'smtp.test%0D%0Ax'"},
      {[](Corvane& c) {
         std::u16string host(u"smtp.test\0.evil", 15);
         int16_t port = 25;
         return c.SocketOpen(host, port) != 0;
       },
       u"iP holds a NUL character and was not sent: 'smtp.test%00.evil'"},
  };
  for (const auto& bad : cases) {
    EXPECT_FALSE(bad.connect(c.control));
    EXPECT_EQ(Code(), Corvane::kLineBreakRefused);
    EXPECT_EQ(LastError(), bad.refused);
    EXPECT_FALSE(c.control.Busy());
  }
  EXPECT_TRUE(c.socket.connects.empty());
}

TEST_P(Smtp, ALineBreakInAnEnvelopeValueOrTheSubjectIsRefusedBeforeItsLine) {
  const struct {
    std::u16string sender, recipient, subject, cc, refused;
  } cases[] = {
      {u"<s>", u"r\r\nRCPT TO: x", u"s", u"", u"Recipient holds a line break and was not sent: 'r%0D%0ARCPT TO: x'"},
      {u"<s>", u"r", u"s", u"a,b\nDATA", u"cc holds a line break and was not sent: 'b%0ADATA'"},
      {u"<s>", u"r", u"Hi\r\nBcc: x", u"", u"Subject holds a line break and was not sent: 'Hi%0D%0ABcc: x'"},
      {u"<s>\r", u"r", u"s", u"", u"SMTPsender holds a line break and was not sent: '<s>%0D'"},
      {u"<s>", {u"r\0x", 3}, u"s", u"", u"Recipient holds a NUL character and was not sent: 'r%00x'"},
  };
  LoggedIn({u"C: MAIL FROM: <s>", u"S: 250", u"C: RCPT TO: r", u"S: 250", u"C: DATA", u"C: Subject: s", u"S: 354",
            u"C: b", u"C: .", u"S: 250"});
  for (const auto& bad : cases) {
    c.control.SMTPsender(bad.sender);
    EXPECT_FALSE(Send(bad.recipient, bad.subject, bad.cc, u"b"));
    EXPECT_EQ(Code(), Corvane::kLineBreakRefused);
    EXPECT_EQ(LastError(), bad.refused);
  }
  c.control.SMTPsender(u"<s>");
  EXPECT_TRUE(Send(u"r", u"s", u"", u"b"));  // the session is still usable
  peer->ExpectFinished();
}

// --- SendMime

struct SendMime : Smtp {
  Mime& message = c.control.MimeObj();
  void Compose(const std::u16string& from, const std::u16string& too) {
    message.From(from);
    message.Too(too);
    message.ContentAdd(1, u".hidden\r\nline");
  }
  // The generated message as the client says it, dot-stuffed.
  Transcript Said() {
    std::u16string text;
    message.GenerateMime(text);
    FieldList split;
    SplitFields(text, split, u"\r\n");
    Transcript lines;
    for (size_t k = 1; k < split.size(); ++k)
      lines.push_back(std::u16string(u"C: ") + (split[k].starts_with(u".") ? u"." : u"") + split[k]);
    return lines;
  }
  bool InvalidArgument() {
    try {
      c.control.SendMime();
    } catch (const AutomationError& e) {
      return e.number() == ErrorNumber::InvalidArgument;
    }
    return false;
  }
};
CORVANE_BOTH_WAYS(SendMime);

TEST_P(SendMime, SendsTheGeneratedMessageAndClearsTheObject) {
  Compose(u"Sales <u@h>", u"<v@h>,<w@h>");
  const Transcript lines = Said();
  LoggedIn(Transcript{u"C: MAIL FROM:<u@h>", u"S: 250", u"C: RCPT TO: <v@h>", u"S: 250", u"C: RCPT TO: <w@h>",
                      u"S: 250", u"C: DATA", u"S: 354"} +
           lines + Transcript{u"C: .", u"S: 250 queued"});
  EXPECT_EQ(c.control.SendMime(), -1);
  peer->ExpectFinished();
  EXPECT_NE(std::find(lines.begin(), lines.end(), u"C: ..hidden"), lines.end());
  EXPECT_EQ(lines.back(), u"C: --ABCDEFGHIJKLMNOP--");
  EXPECT_EQ(message.From(), u"");
  EXPECT_TRUE(InvalidArgument());  // a second send finds the object cleared
}

TEST_P(SendMime, TheEnvelopeComesFromFromAndToo) {
  const struct {
    std::u16string from, too;
    Transcript envelope;
  } cases[] = {
      {u"A <a@x>", u"B <b@y>, c@z", {u"C: MAIL FROM:<a@x>", u"S: 250", u"C: RCPT TO: B <b@y>", u"S: 250",
                                     u"C: RCPT TO:  c@z", u"S: 250"}},
      {u"A<B <u@h>", u"<v@h>", {u"C: MAIL FROM:<B <u@h>", u"S: 250", u"C: RCPT TO: <v@h>", u"S: 250"}},
      {u"<u@h>", u"", {u"C: MAIL FROM:<u@h>", u"S: 250"}},
      {u"<u@h", u"", {u"C: MAIL FROM:", u"S: 250"}},  // "<" first and no ">": an empty sender
  };
  for (const auto& envelope : cases) {
    Compose(envelope.from, envelope.too);
    LoggedIn(envelope.envelope + Transcript{u"C: DATA", u"S: 503 no recipients"});
    EXPECT_EQ(c.control.SendMime(), 0);
    peer->ExpectFinished();
    EXPECT_EQ(Code(), 3);
    EXPECT_EQ(message.ContentCount(), 0);  // cleared after a failure too
    c.control.SMTPLogout();
  }
}

TEST_P(SendMime, AFromWithoutAnAddressFailsToTheCallerBeforeAnythingIsSent) {
  LoggedIn({});
  for (const char16_t* from : {u"a>b <u@h>", u"", u"no address"}) {
    Compose(from, u"<v@h>");
    EXPECT_TRUE(InvalidArgument());
    EXPECT_EQ(message.ContentCount(), 1);  // not cleared
  }
  EXPECT_EQ(c.socket.sent.size(), 1u);  // HELO only
  EXPECT_TRUE(c.events.errors.empty());
  EXPECT_EQ(Code(), 0);
}

TEST_P(SendMime, OfflineTheMessageIsKept) {
  Compose(u"<u@h>", u"<v@h>");
  EXPECT_EQ(c.control.SendMime(), 0);
  EXPECT_EQ(message.ContentCount(), 1);
}

TEST_P(SendMime, AValueThatWouldBreakItsLineIsRefusedBeforeAnythingIsSentAndKept) {
  const struct {
    std::function<void(Corvane&)> put;
    std::u16string refused;
  } cases[] = {
      {[](Corvane& c) { c.MimeTo(u"<v@h>,<w@h>\r\nDATA"); },
       u"To holds a line break and was not sent: '<<v@h>,<w@h>%0D%0ADATA>'"},
      {[](Corvane& c) { c.MimeFrom(u"Sales\r\nBcc: <x@h> <u@h>"); },
       u"From holds a line break and was not sent: 'Sales%0D%0ABcc: <x@h> <u@h>'"},
      {[](Corvane& c) { c.MimeSubject(u"Hi\nBcc: x@h"); }, u"Subject holds a line break and was not sent: 'Hi%0ABcc: x@h'"},
      {[](Corvane& c) { c.MimeNotification(u"A\r <n@h>"); },
       u"Disposition-Notification-To holds a line break and was not sent: 'A%0D <n@h>'"},
      {[](Corvane& c) { c.MimeContentType(1, u"text/plain\r\nBcc: x@h"); },
       u"Content-Type of part 1 holds a line break and was not sent: 'text/plain%0D%0ABcc: x@h'"},
      {[](Corvane& c) { c.MimeContentEncoding(1, {u"8bit\0", 5}); },
       u"Content-Transfer-Encoding of part 1 holds a NUL character and was not sent: '8bit%00'"},
  };
  Compose(u"<u@h>", u"<v@h>");
  LoggedIn(Transcript{u"C: MAIL FROM:<u@h>", u"S: 250", u"C: RCPT TO: <v@h>", u"S: 250", u"C: DATA", u"S: 354"} +
           Said() + Transcript{u"C: .", u"S: 250 queued"});
  for (const auto& bad : cases) {
    message.Clear();
    Compose(u"<u@h>", u"<v@h>");
    bad.put(c.control);
    EXPECT_EQ(c.control.SendMime(), 0);
    EXPECT_EQ(Code(), Corvane::kLineBreakRefused);
    EXPECT_EQ(LastError(), bad.refused);
    EXPECT_EQ(message.ContentCount(), 1);  // kept, to be put right
  }
  EXPECT_EQ(c.socket.sent.size(), 1u);  // HELO only
  message.Clear();
  Compose(u"<u@h>", u"<v@h>");
  EXPECT_EQ(c.control.SendMime(), -1);  // the session is still usable
  peer->ExpectFinished();
}

// --- The MIME facade

TEST(MimeFacade, NormaliseAddress) {
  const struct {
    std::u16string put;
    std::optional<std::u16string> stored;
  } cases[] = {
      {u"u@h", u"<u@h>"},
      {u"Sales Desk u@h", u"Sales Desk <u@h>"},
      {u"Sales Desk <u@h>", u"Sales Desk <u@h>"},
      {u"<u@h", u"<<u@h>"},
      {u"Sales (u@h)", u"Sales <(u@h)>"},
      {u"u@h,v@h", u"<u@h,v@h>"},
      {u"u@h, v@h", u"u@h, <v@h>"},
      {u"<u@h>,<v@h>", u"<u@h>,<v@h>"},
      {u"Tab\tu@h", u"<Tab\tu@h>"},
      {u"Sales Desk", std::nullopt},
      {u"u@h ", std::nullopt},
      {u"", std::nullopt},
  };
  for (const auto& address : cases) EXPECT_EQ(NormaliseAddress(address.put), address.stored) << Utf8(address.put);
}

TEST(MimeFacade, AnIgnoredAddressKeepsThePreviousOne) {
  ScriptedControl c;
  c.control.MimeNotification(u"u@h");
  c.control.MimeNotification(u"Sales Desk");
  EXPECT_EQ(c.control.MimeNotification(), u"<u@h>");
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
  const std::u16string path = Write("a \"b\" \\ c.bin", bytes);
  c.control.MimeContentAddFromFile(2, path);
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
