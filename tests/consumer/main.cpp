// A program outside the tree, built against the installed package: sends a MIME
// message (UTF-8 text and a file holding every byte value, named in UTF-8) and a
// plain one through SMTP, reads both back over POP3 and compares them byte for byte.
//   consumer HOST SMTP_PORT POP3_PORT USER PASSWORD ADDRESS [tls]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "control/corvane.h"  // the control itself stays in reach
#include "cpp/corvane.hpp"

namespace {

// The text between `before` (its first occurrence from `from`) and `after`.
std::string Between(const std::string& text, const std::string& before, const std::string& after, size_t from = 0) {
  const size_t start = text.find(before, from);
  if (start == std::string::npos) return {};
  const size_t end = text.find(after, start + before.size());
  return end == std::string::npos ? std::string() : text.substr(start + before.size(), end - start - before.size());
}

std::string DecodeBase64(const std::string& text) {
  static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (char c : text) {
    const size_t value = digits.find(c);
    if (value == std::string::npos) continue;  // line ends and padding
    bits = (bits << 6) | static_cast<unsigned>(value);
    if ((count += 6) >= 8) bytes += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return bytes;
}

int failures = 0;
void Check(bool ok, const char* what) {
  std::printf("%s - %s\n", ok ? "ok" : "not ok", what);
  failures += ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s HOST SMTP_PORT POP3_PORT USER PASSWORD ADDRESS [tls]\n", argv[0]);
    return 2;
  }
  const std::string host = argv[1], address = argv[6];
  const bool tls = argc > 7 && std::string(argv[7]) == "tls";

  corvane::cpp::Client mail;
  mail.on_error([](const corvane::cpp::Error& e) { std::fprintf(stderr, "error %d: %s\n", e.code, e.text.c_str()); });
  const corvane::cpp::Status configured = mail.configure({.pop3 = {host, std::stoi(argv[3])},
                                                          .user = argv[4],
                                                          .password = argv[5],
                                                          .smtp = {host, std::stoi(argv[2])},
                                                          .sender = "<" + address + ">",
                                                          .timeout = 10,
                                                          .tls = tls});
  Check(configured.ok() && mail.control().Timeout() == 10, "settings reach the control");

  // --- Compose: UTF-8 stays UTF-8, the file's bytes go as they are.
  const std::string stamp = std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x89\r\n.a line that starts with a dot\r\nend";
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  bytes = bytes + bytes + "\r\n.\r\n\x00\r\x0a.";
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("corvane-consumer-" + stamp);
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "donn\xC3\xA9" "es.bin").string();
  std::ofstream(file, std::ios::binary) << bytes;

  auto mime = mail.mime();
  mime.from("Consumer " + address);
  mime.to(address);
  mime.subject("Consumer MIME " + stamp);
  Check(mime.add(1, text).ok(), "text part added");
  mime.type(1, "text/plain; charset=UTF-8");
  Check(mime.add_file(2, file, "donnees.bin").ok(), "file attached by its UTF-8 path");

  // --- Send both
  bool sent = false;
  if (const auto login = mail.smtp_login(); login.ok()) {
    Check(mail.send_mime().ok(), "SendMime accepted");
    Check(mail.send({.to = "<" + address + ">", .subject = "Consumer plain " + stamp,
                     .body = "\r\nPlain \xE2\x9C\x93\r\n..two dots"}).ok(), "Send accepted");
    Check(mail.smtp_logout().ok(), "SMTP logout");
    sent = true;
  } else {
    Check(false, ("SMTP login: " + login.error().text).c_str());
  }

  // --- Read them back: delivery takes a moment.
  std::string composed, plain;
  for (int attempt = 0; sent && attempt < 50 && (composed.empty() || plain.empty()); ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto box = mail.pop3_login();
    if (!box) {
      Check(false, ("POP3 login: " + box.error().text).c_str());
      break;
    }
    for (int n = box.value().count; n >= 1; --n) {
      const auto message = mail.retrieve(n);
      if (!message) continue;
      const std::string& m = message.value();
      if (m.find("Subject: Consumer MIME " + stamp + "\r\n") != std::string::npos)
        composed = m;
      else if (m.find("Subject: Consumer plain " + stamp + "\r\n") != std::string::npos)
        plain = m;
      else
        continue;
      Check(mail.remove(n).ok(), "message deleted");
    }
    (void)mail.pop3_logout();
  }
  Check(composed.rfind("+OK", 0) == 0, "the MIME message arrived");
  Check(Between(composed, "8bit\r\n\r\n", "\r\n\r\n--") == text, "its UTF-8 text is byte for byte the same");
  Check(DecodeBase64(Between(composed, "\r\n\r\n", "\r\n\r\n--", composed.find("name=\"donnees.bin\""))) == bytes,
        "its attachment is byte for byte the same");
  // The server may add header lines behind Subject; the body follows the blank line.
  Check(plain.ends_with("\r\n\r\nPlain \xE2\x9C\x93\r\n..two dots\r\n"), "the plain message arrived byte for byte");
  Check(!mail.busy() && mail.error_code() == 0, "the control is idle, no error left");

  std::filesystem::remove_all(folder);
  std::printf("%s: %s, %s\n", failures ? "FAIL" : "PASS", tls ? "implicit TLS" : "plain", argv[0]);
  return failures ? 1 : 0;
}
