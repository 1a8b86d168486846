// The control on the POSIX host against the real servers that
// scripts/mail-servers.sh starts (Dovecot and Postfix on 127.0.0.1, plain and
// implicit TLS); CORVANE_MAIL_SERVERS names their servers.env. Every test runs
// plain and TLS, and each user's mailbox belongs to one test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "control/corvane.h"
#include "cpp/corvane.hpp"
#include "posix/posix_host.h"
#include "text/charset.h"

namespace corvane::mail {
namespace {

std::map<std::string, std::string> Servers() {
  static const std::map<std::string, std::string> values = [] {
    std::map<std::string, std::string> read;
    const char* file = std::getenv("CORVANE_MAIL_SERVERS");
    std::ifstream in(file ? file : "");
    for (std::string line; std::getline(in, line);)
      if (const size_t eq = line.find('='); eq != std::string::npos) read[line.substr(0, eq)] = line.substr(eq + 1);
    // The servers' certificates come from the test CA alone.
    if (read.count("CA_FILE")) setenv("SSL_CERT_FILE", read["CA_FILE"].c_str(), 1);
    return read;
  }();
  return values;
}

std::u16string Text(const std::string& bytes) { return hostCharset().fromBytes(bytes); }

struct Events : ControlEvents {
  std::vector<std::pair<int16_t, std::string>> errors;
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    errors.emplace_back(code, Utf8(text));
    cancel = true;
  }
  void Debugger(std::u16string&) override {}
  std::string Last() const { return errors.empty() ? "none" : errors.back().second; }
};

struct MailServers : ::testing::TestWithParam<bool> {
  std::map<std::string, std::string> env = Servers();
  PosixHost host;
  Events events;
  Corvane control{host, events};

  void SetUp() override {
    ASSERT_FALSE(env.empty()) << "CORVANE_MAIL_SERVERS names no servers.env";
    control.InitProperties();
    control.Timeout(3);
    control.IsSecured(GetParam());
    control.SMTPhost(Text("127.0.0.1:" + env[GetParam() ? "SMTPS_PORT" : "SMTP_PORT"]));
    control.POP3host(Text("127.0.0.1:" + env[GetParam() ? "POP3S_PORT" : "POP3_PORT"]));
  }
  // The POP3 tests read users 1 (plain) and 2 (TLS); SMTP delivers to 3 and 2.
  void User(int n) {
    control.POP3user(Text(env["USER" + std::to_string(n)]));
    control.POP3password(Text(env["PASS" + std::to_string(n)]));
  }
  std::string Address(int n) { return env["USER" + std::to_string(n)] + "@" + env["MAIL_DOMAIN"]; }
  void Deliver(int n, const std::string& message) {
    const std::string file = testing::TempDir() + "corvane-fixture";
    std::ofstream(file, std::ios::binary) << message;
    const std::string folder = std::getenv("CORVANE_MAIL_SERVERS");
    const std::string command = "bash " CORVANE_SOURCE_DIR "/scripts/mail-servers.sh deliver " +
                                folder.substr(0, folder.rfind('/')) + " " + env["USER" + std::to_string(n)] + " " + file;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // Logs in, deletes every message, logs out.
  void Empty() {
    ASSERT_TRUE(control.POP3Login());
    for (int16_t k = control.MailBoxCount(); k >= 1; --k) control.Delete(k);
    control.POP3Logout();
  }
  // Polls the mailbox until a message holding `mark` arrived; returns it.
  std::u16string Await(const std::u16string& mark) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (!control.POP3Login()) return {};
      for (int16_t k = control.MailBoxCount(); k >= 1; --k) {
        std::u16string message = control.Retrieve(k);
        if (message.find(mark) != std::u16string::npos) {
          control.Delete(k);
          control.POP3Logout();
          return message;
        }
      }
      control.POP3Logout();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
};
INSTANTIATE_TEST_SUITE_P(, MailServers, ::testing::Bool(), [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST_P(MailServers, Pop3ReadsAMailboxByteForByte) {
  User(GetParam() ? 2 : 1);
  Empty();
  std::string body = "Subject: fixture\r\n\r\n.a line that starts with a dot\r\n..two\r\n";
  for (int b = 128; b < 256; ++b) body += static_cast<char>(b);
  body += "\r\n";
  Deliver(GetParam() ? 2 : 1, body);
  const std::string short_ = "Subject: second\r\n\r\nshort\r\n";
  Deliver(GetParam() ? 2 : 1, short_);

  ASSERT_TRUE(control.POP3Login());
  EXPECT_EQ(control.MailBoxCount(), 2);
  EXPECT_EQ(control.MailBoxSize(), static_cast<int32_t>(body.size() + short_.size()));
  int16_t first = 1, second = 2;
  EXPECT_EQ(control.Size(first), static_cast<int32_t>(body.size()));
  const std::u16string message = control.Retrieve(first);
  EXPECT_EQ(Utf8(message.substr(message.find(u"\r\n") + 2)), Utf8(Text(body)));
  EXPECT_TRUE(message.starts_with(u"+OK"));
  EXPECT_TRUE(control.Delete(first));
  EXPECT_EQ(control.MailBoxCount(), 1);
  EXPECT_TRUE(control.Reset());  // undeletes
  EXPECT_TRUE(control.Delete(second));
  EXPECT_TRUE(control.POP3Logout());  // commits the deletion
  ASSERT_TRUE(control.POP3Login());
  EXPECT_EQ(control.MailBoxCount(), 1);
  EXPECT_EQ(control.Retrieve(first), message);
  EXPECT_TRUE(control.POP3Logout());
  EXPECT_TRUE(events.errors.empty());
}

TEST_P(MailServers, AWrongPasswordEndsWithTheEnginesError) {
  User(1);
  control.POP3password(u"wrong");
  EXPECT_FALSE(control.POP3Login());
  EXPECT_FALSE(control.Busy());
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_TRUE(control.ErrCode() == 3 || control.ErrCode() == 5) << control.ErrCode();
  EXPECT_NE(events.errors[0].second.find(": said 'PASS wrong', waited '+OK', got '"), std::string::npos)
      << events.errors[0].second;
}

TEST_P(MailServers, SmtpDeliversToEveryRecipientAndPop3ReadsItBack) {
  User(3);
  control.SMTPsender(Text("<sender@" + env["MAIL_DOMAIN"] + ">"));
  const std::u16string subject = GetParam() ? u"over TLS" : u"in plain";
  std::u16string recipient = Text(Address(3)), cc = Text(Address(2)), mail = u"\r\nLine one\r\n.dot\r\n\xE9t\xE9";
  std::u16string subjectLine = subject;
  ASSERT_TRUE(control.SMTPLogin());
  EXPECT_TRUE(control.Send(recipient, subjectLine, cc, mail));
  EXPECT_TRUE(control.SMTPLogout());
  const std::u16string arrived = Await(u"Subject: " + subject + u"\r\n");
  EXPECT_NE(arrived.find(u"Subject: " + subject + u"\r\n\r\nLine one\r\n.dot\r\n\xE9t\xE9\r\n"), std::u16string::npos)
      << Utf8(arrived);
  User(2);
  EXPECT_FALSE(Await(u"Subject: " + subject + u"\r\n").empty());
  EXPECT_TRUE(events.errors.empty());
}

// A retrieved message as the standard library's reader sees it, one line each:
// Subject, the display name of From, then every part's type, file name and
// content (text with "\n" shown as "\\n", other parts in hexadecimal).
std::string AsRead(const std::u16string& retrieved) {
  if (retrieved.empty()) return "(nothing arrived)";
  const std::string file = testing::TempDir() + "corvane-read", script = file + ".py";
  std::ofstream(file, std::ios::binary) << hostCharset().toBytes(retrieved.substr(retrieved.find(u"\r\n") + 2));
  std::ofstream(script) << R"(import email, email.policy, sys
m = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
out = [str(m["Subject"]), m["From"].addresses[0].display_name if m["From"] else ""]
for p in m.walk():
    if not p.is_multipart():
        c = p.get_content()
        c = c.replace("\r\n", "\n").replace("\n", "\\n") if isinstance(c, str) else c.hex()
        out.append(p.get_content_type() + "|" + (p.get_filename() or "") + "|" + c)
sys.stdout.buffer.write("\n".join(out).encode())
)";
  std::string read;
  if (FILE* python = popen(("python3 " + script + " " + file).c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, python)) > 0;) read.append(buffer, n);
    pclose(python);
  }
  return read;
}

// With Charset "UTF-8" what was set is what a standard reader reads back, through
// SendMime (display names, a file name long enough for numbered pieces) and Send.
TEST_P(MailServers, Utf8TextReadsBackAsItWasSet) {
  User(3);
  control.Charset(u"UTF-8");
  control.SMTPsender(Text("<sender@" + env["MAIL_DOMAIN"] + ">"));
  const std::u16string mark = GetParam() ? u"utf8-tls" : u"utf8-plain", text = u"Gr\u00FC\u00DFe \u20AC \U0001D11E ";
  const std::u16string name = u"J\u00F6rg \"\U0001D11E\" M\u00FCller";
  const std::u16string fileName = text + text + text + u"\u00E9t\u00E9.bin";
  const std::string path = testing::TempDir() + "corvane-attachment", bytes("\0\x80\xC3\xFF\r\n.", 7);
  std::ofstream(path, std::ios::binary) << bytes;
  control.MimeFrom(name + u" <sender@" + Text(env["MAIL_DOMAIN"]) + u">");
  control.MimeTo(Text(Address(3)));  // the envelope recipient is the whole of To
  control.MimeSubject(text + u"mime");
  control.MimeContentAdd(1, text + mark + u"-mime");
  control.MimeContentAddFromFile(2, Text(path), fileName);
  std::u16string recipient = Text(Address(3)), subject = text + u"send", cc, mail = u"\r\n" + text + mark + u"-send";
  ASSERT_TRUE(control.SMTPLogin());
  EXPECT_EQ(control.SendMime(), -1);
  EXPECT_TRUE(control.Send(recipient, subject, cc, mail));
  EXPECT_TRUE(control.SMTPLogout());
  EXPECT_EQ(AsRead(Await(mark + u"-mime")),
            Utf8(text + u"mime\n" + name + u"\ntext/plain||" + text + mark + u"-mime\\n\napplication/octet-stream|" +
                 fileName + u"|0080c3ff0d0a2e"));
  EXPECT_EQ(AsRead(Await(mark + u"-send")), Utf8(text + u"send\n\ntext/plain||" + text + mark + u"-send\\n"));
  EXPECT_TRUE(events.errors.empty());
}

TEST_P(MailServers, RefusedRecipientsAndSendersEndByTheTimeOut) {
  control.SMTPsender(Text("<sender@" + env["MAIL_DOMAIN"] + ">"));
  std::u16string refused = Text(env["REFUSED_RCPT"]), subject = u"s", cc, mail = u"b";
  ASSERT_TRUE(control.SMTPLogin());
  EXPECT_FALSE(control.Send(refused, subject, cc, mail));
  EXPECT_EQ(control.ErrCode(), 3);
  control.SMTPLogout();

  control.SMTPsender(Text(env["REFUSED_SENDER"]));
  std::u16string recipient = Text(Address(3));
  ASSERT_TRUE(control.SMTPLogin());
  EXPECT_FALSE(control.Send(recipient, subject, cc, mail));
  EXPECT_EQ(control.ErrCode(), 3);
  EXPECT_NE(events.errors.back().second.find("553"), std::string::npos) << events.errors.back().second;
  EXPECT_TRUE(control.SMTPLogout());
}

// The extended members against the submission service (STARTTLS on the plain
// run, implicit TLS on the other, AUTH through Dovecot) and POP3 upgraded by STLS
// or over implicit TLS: user 4's mailbox.
TEST_P(MailServers, SubmissionWithAuthThenReadingByUniqueIdAndTop) {
  const bool tls = GetParam();
  User(4);
  control.StartTLS(!tls);
  control.SMTPhost(Text("127.0.0.1:" + env[tls ? "SUBMISSIONS_PORT" : "SUBMISSION_PORT"]));
  control.SMTPuser(Text(env["USER4"]));
  control.SMTPpassword(Text(env["PASS4"]));
  control.SMTPsender(Text("<" + Address(4) + ">"));
  Empty();
  const std::u16string subject = tls ? u"submitted over TLS" : u"submitted after STARTTLS";
  std::u16string recipient = Text(Address(4)), cc, subjectLine = subject, mail = u"the body\r\n.dot";
  for (const char16_t* mechanism : {u"", u"LOGIN"}) {
    control.AuthMechanism(mechanism);
    ASSERT_TRUE(control.SMTPLogin()) << events.Last();
    EXPECT_TRUE(control.Send(recipient, subjectLine, cc, mail));
    EXPECT_TRUE(control.SMTPLogout());
  }

  control.AuthMechanism(u"PLAIN");  // POP3 by SASL; "" above was USER and PASS
  std::u16string id, top;
  for (int attempt = 0; attempt < 50 && control.MailBoxCount() < 2; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(control.POP3Login());
    if (control.MailBoxCount() < 2) control.POP3Logout();
  }
  ASSERT_EQ(control.MailBoxCount(), 2);
  int16_t first = 1, second = 2, none = 0;
  id = control.UniqueId(first);
  EXPECT_FALSE(id.empty());
  EXPECT_NE(id, control.UniqueId(second));
  top = control.Top(first, none);
  EXPECT_NE(top.find(u"\r\nSubject: " + subject + u"\r\n"), std::u16string::npos) << Utf8(top);
  EXPECT_TRUE(top.ends_with(u"\r\n\r\n")) << Utf8(top);  // the headers, no body line
  EXPECT_NE(control.Retrieve(first).find(u"\r\n\r\nthe body\r\n.dot\r\n"), std::u16string::npos);
  EXPECT_TRUE(control.POP3Logout());
  ASSERT_TRUE(control.POP3Login());
  EXPECT_EQ(control.UniqueId(first), id);  // the same id in the next session
  control.POP3Logout();
  Empty();
  EXPECT_TRUE(events.errors.empty()) << events.Last();

  // Refusals end at once with their error, the secret in neither trace nor text.
  control.SMTPpassword(u"wrong-secret");
  control.AuthMechanism(u"");
  EXPECT_FALSE(control.SMTPLogin());
  EXPECT_EQ(control.ErrCode(), 4);
  EXPECT_EQ(events.Last().find("wrong-secret"), std::string::npos);
  EXPECT_NE(events.Last().find("535"), std::string::npos) << events.Last();
  if (!tls) {  // the plain service offers no STARTTLS
    control.SMTPhost(Text("127.0.0.1:" + env["SMTP_PORT"]));
    EXPECT_FALSE(control.SMTPLogin());
    EXPECT_EQ(events.Last(),
              "Invalid server response: the server does not offer STARTTLS; nothing more was sent");
  }
  EXPECT_FALSE(control.Busy());
}

// A bearer token that Dovecot validates with its local key, for POP3 and for
// submission (Postfix asks Dovecot).
TEST_P(MailServers, OAuthBearerTokens) {
  control.AuthMechanism(u"XOAUTH2");
  control.StartTLS(!GetParam());
  control.POP3user(Text(env["OAUTH_USER"]));
  control.SMTPuser(Text(env["OAUTH_USER"]));
  control.SMTPhost(Text("127.0.0.1:" + env[GetParam() ? "SUBMISSIONS_PORT" : "SUBMISSION_PORT"]));
  for (const char* token : {"OAUTH_TOKEN", "OAUTH_BAD_TOKEN"}) {
    const bool good = token == std::string("OAUTH_TOKEN");
    control.POP3password(Text(env[token]));
    control.SMTPpassword(Text(env[token]));
    EXPECT_EQ(control.POP3Login(), good) << events.Last();
    EXPECT_EQ(control.ErrCode(), good ? 0 : 4);
    control.POP3Logout();
    EXPECT_EQ(control.SMTPLogin(), good) << events.Last();
    EXPECT_EQ(control.ErrCode(), good ? 0 : 4);
    control.SMTPLogout();
  }
  EXPECT_EQ(events.errors.size(), 2u);  // the refused token, once for each protocol
}

// The same through the C++ facade: submission with STARTTLS and AUTH PLAIN, read
// back over STLS by SASL PLAIN with unique_id and top (user 4's mailbox).
TEST(Facade, SubmissionThenReadingBackByUniqueIdAndTop) {
  std::map<std::string, std::string> env = Servers();
  const std::string address = env["USER4"] + "@" + env["MAIL_DOMAIN"];
  cpp::Client mail;
  std::vector<std::string> errors;
  mail.on_error([&](const cpp::Error& e) { errors.push_back(e.text); });
  ASSERT_TRUE(mail.configure({.pop3 = {"127.0.0.1", std::stoi(env["POP3_PORT"])},
                              .user = env["USER4"],
                              .password = env["PASS4"],
                              .smtp = {"127.0.0.1", std::stoi(env["SUBMISSION_PORT"])},
                              .sender = "<" + address + ">",
                              .timeout = 5,
                              .smtp_user = env["USER4"],
                              .smtp_password = env["PASS4"],
                              .auth = "PLAIN",
                              .starttls = true}));
  const auto empty = [&] {
    const auto box = mail.pop3_login();
    for (int k = box ? box.value().count : 0; k >= 1; --k) (void)mail.remove(k);
    return box.ok() && mail.pop3_logout().ok();
  };
  ASSERT_TRUE(empty());
  ASSERT_TRUE(mail.smtp_login());
  EXPECT_TRUE(mail.send({.to = "<" + address + ">", .subject = "through the facade", .body = "facade body"}));
  EXPECT_TRUE(mail.smtp_logout());
  for (int attempt = 0; attempt < 50; ++attempt) {
    const auto box = mail.pop3_login();
    ASSERT_TRUE(box);
    if (box.value().count > 0) break;
    (void)mail.pop3_logout();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto id = mail.unique_id(1);
  const auto top = mail.top(1, 0);
  ASSERT_TRUE(id && top);
  EXPECT_FALSE(id.value().empty());
  EXPECT_NE(top.value().find("\r\nSubject: through the facade\r\n"), std::string::npos) << top.value();
  EXPECT_EQ(top.value().find("facade body"), std::string::npos);
  EXPECT_TRUE(mail.pop3_logout());
  EXPECT_TRUE(empty());
  EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
}  // namespace corvane::mail
