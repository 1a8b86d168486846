// The C++ facade's own logic on the scripted host: bytes and paths at its edges,
// settings in and out, and the control's failures mapped to results.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cpp/corvane.hpp"
#include "scripted.h"
#include "text/charset.h"

namespace corvane::testing {
namespace {

using cpp::Error;

std::string EveryByte() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

struct Facade {
  ScriptedHost* host = new ScriptedHost;
  cpp::Client client{std::unique_ptr<Host>(host)};
  ScriptedSocket& socket = *host->socket;
  std::vector<Error> errors;

  Facade() {
    client.on_error([this](const Error& e) { errors.push_back(e); });
  }
  void Open(uint16_t port = 7) {
    host->Then([this] { socket.Connected(); });
    ASSERT_TRUE(client.socket_open("peer", port).ok());
  }
};

TEST(Bytes, EveryByteReachesTheWireAndComesBackUnchanged) {
  Facade f;
  std::vector<std::string> trace;
  f.client.on_trace([&](std::string_view line) { trace.emplace_back(line); });
  EXPECT_TRUE(f.client.control().Debug_());

  f.Open(40000);  // above 32767: handed over in its 16-bit form, connected as given
  EXPECT_EQ(f.socket.connects.back(), u"peer:40000");
  f.host->Then([&] { f.socket.SendComplete(); });
  ASSERT_TRUE(f.client.socket_send(EveryByte()).ok());
  EXPECT_EQ(hostCharset().toBytes(f.socket.sent.back()), EveryByte());
  EXPECT_EQ(f.socket.sent.back()[0xE9], u'\u00E9');  // byte n is character n

  f.host->Then([&] { f.socket.Arrive(hostCharset().fromBytes(EveryByte())); });
  EXPECT_EQ(f.client.socket_read().value(), EveryByte());
  EXPECT_EQ(trace.back(), "Got " + EveryByte());

  f.client.mime().subject(EveryByte());
  EXPECT_EQ(f.client.mime().subject(), EveryByte());
  EXPECT_EQ(f.client.percent_encode("\xC3\xA9 x", cpp::kControlBytes | cpp::kUnsafe).value(), "%C3%A9%20x");

  f.client.on_trace(nullptr);
  EXPECT_FALSE(f.client.control().Debug_());
}

TEST(Paths, AreReadAsUtf8AndNamedSoInRaisedErrors) {
  Facade f;
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "corvane-cpp-test";
  std::filesystem::create_directories(folder);
  const std::string name = (folder / "n\xC3\xB6t \xE2\x82\xAC \xF0\x9F\x93\x8E.bin").string();
  std::ofstream(name, std::ios::binary) << "data";

  EXPECT_TRUE(f.client.mime().add_file(2, name, "a.bin").ok());
  EXPECT_EQ(f.client.mime().type(2), "application/octet-stream; name=\"a.bin\"");

  const cpp::Status missing = f.client.mime().add_file(3, name + ".gone");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, Error::Kind::Raised);
  EXPECT_EQ(missing.error().code, 53);
  EXPECT_EQ(missing.error().text, "File not found: '" + name + ".gone'");

  // A byte that starts no UTF-8 sequence names no file, not another one.
  std::ofstream((folder / "\xC3\xBF.bin").string()) << "y";  // U+00FF, which a Latin-1 reading would find
  EXPECT_EQ(f.client.mime().add_file(4, (folder / "\xFF.bin").string()).error().code, 53);
  EXPECT_TRUE(f.errors.empty());
  std::filesystem::remove_all(folder);
}

TEST(Settings, GoToTheControlsPropertiesAndComeBack) {
  Facade f;
  const cpp::Settings in{.pop3 = {"pop.test", 995}, .user = "j\xC3\xBCrgen", .password = "p\xFF",
                         .smtp = {"smtp.test", 0}, .sender = "", .timeout = 65541, .tls = true,
                         .smtp_user = "ann", .smtp_password = "token", .auth = "xoauth2", .starttls = true,
                         .charset = "utf-8"};
  ASSERT_TRUE(f.client.configure(in).ok());
  Corvane& control = f.client.control();
  EXPECT_EQ(control.POP3host(), u"pop.test:995");
  EXPECT_EQ(control.SMTPhost(), u"smtp.test");
  EXPECT_EQ(control.POP3user(), u"j\u00C3\u00BCrgen");  // the bytes, as USER will send them
  EXPECT_EQ(control.Timeout(), 60);                       // clamped, not wrapped to 5
  EXPECT_TRUE(control.StartTLS());
  f.client.mime().subject("\xC3\xA9t\xC3\xA9");  // UTF-8 text read as such when sent as UTF-8
  EXPECT_EQ(control.MimeSubject(), u"\u00E9t\u00E9");
  EXPECT_EQ(f.client.mime().subject(), "\xC3\xA9t\xC3\xA9");

  const cpp::Settings out = f.client.settings();
  EXPECT_EQ(out.pop3.host, "pop.test");
  EXPECT_EQ(out.pop3.port, 995);
  EXPECT_EQ(out.smtp.port, 0);
  EXPECT_EQ(out.user, in.user);
  EXPECT_EQ(out.password, in.password);
  EXPECT_EQ(out.sender, "<>");
  EXPECT_TRUE(out.tls);
  EXPECT_EQ(out.smtp_user + out.smtp_password + out.auth + out.charset, "anntokenXOAUTH2UTF-8");

  const cpp::Status refused = f.client.configure({.pop3 = {"h:99999999999", 0}});
  EXPECT_EQ(refused.error().kind, Error::Kind::Raised);
  EXPECT_EQ(refused.error().code, 6);
  EXPECT_EQ(f.client.configure({.charset = "UTF-16"}).error().code, 380);
}

TEST(Errors, AReportedOneIsTheFirstOfTheCallAndCancelsTheBoxUnlessAsked) {
  Facade f;
  f.host->Then([&] {
    f.socket.Error(10061, u"Connection refused");
  });
  const auto login = f.client.pop3_login();
  ASSERT_FALSE(login.ok());
  EXPECT_EQ(login.error().kind, Error::Kind::Reported);
  EXPECT_EQ(login.error().code, 10061);
  EXPECT_EQ(login.error().text, "Connection refused");
  ASSERT_GE(f.errors.size(), 2u);  // the wait's own report follows
  EXPECT_EQ(f.errors.back().code, f.client.error_code());
  EXPECT_TRUE(f.host->boxes.empty());

  f.client.message_boxes(true);
  ASSERT_TRUE(f.client.configure({.timeout = 1}).ok());
  const auto silentServer = f.client.smtp_login();
  EXPECT_EQ(silentServer.error().code, 3);
  EXPECT_EQ(f.host->boxes.size(), 1u);
}

TEST(Errors, FailureValuesWithoutAReportAndRaisedErrorsBecomeResultsToo) {
  Facade f;
  const auto noSession = f.client.retrieve(1);
  EXPECT_EQ(noSession.error().kind, Error::Kind::Silent);
  EXPECT_EQ(noSession.error().code, 0);
  EXPECT_NE(noSession.error().text.find("Retrieve"), std::string::npos);
  EXPECT_EQ(f.client.size(1).error().kind, Error::Kind::Silent);

  const auto tooLarge = f.client.remove(32768);  // what a 16-bit index can't hold
  EXPECT_EQ(tooLarge.error().code, 6);
  EXPECT_EQ(f.client.mime().add(-1, "x").error().code, 9);
  EXPECT_TRUE(f.socket.connects.empty());

  f.host->Then([&] { f.socket.Connected(), f.socket.Arrive(u"220 hi\r\n"); }, [&] { f.socket.Arrive(u"250 ok\r\n"); });
  ASSERT_TRUE(f.client.smtp_login().ok());
  const size_t said = f.socket.sent.size();
  const auto noSender = f.client.send_mime();  // a From without "<address>"
  EXPECT_EQ(noSender.error().kind, Error::Kind::Raised);
  EXPECT_EQ(noSender.error().code, 5);
  EXPECT_EQ(f.socket.sent.size(), said);
  EXPECT_TRUE(f.errors.empty());

  EXPECT_THROW((void)noSession.value(), cpp::BadResultAccess);
  EXPECT_EQ(noSession.value_or("none"), "none");
  EXPECT_THROW((void)f.client.mime().add(1, "x").error(), cpp::BadResultAccess);
}

}  // namespace
}  // namespace corvane::testing
