// A message round trip with the native library: composes a text part and a file
// attachment through the control's MIME facade, submits it with SendMime, finds
// it again over POP3, and compares what arrived with what was sent.
//   roundtrip SMTPHOST:PORT POP3HOST:PORT USER PASSWORD ADDRESS FILE [--tls] [--trace]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "console_events.h"
#include "control/corvane.h"
#include "posix/posix_host.h"

namespace {

using corvane::hostCharset;

// The text between `before` (after its first occurrence from `from`) and `after`.
std::u16string Between(const std::u16string& text, const std::u16string& before, const std::u16string& after,
                       size_t from = 0) {
  const size_t start = text.find(before, from);
  if (start == std::u16string::npos) return {};
  const size_t end = text.find(after, start + before.size());
  return end == std::u16string::npos ? std::u16string() : text.substr(start + before.size(), end - start - before.size());
}

std::string DecodeBase64(const std::u16string& text) {
  static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (char16_t c : text) {
    const size_t value = c < 128 ? digits.find(static_cast<char>(c)) : std::string::npos;
    if (value == std::string::npos) continue;  // line ends and padding
    bits = (bits << 6) | static_cast<unsigned>(value);
    if ((count += 6) >= 8) bytes += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s SMTPHOST:PORT POP3HOST:PORT USER PASSWORD ADDRESS FILE [--tls] [--trace]\n", argv[0]);
    return 2;
  }
  corvane::PosixHost host;
  ConsoleEvents events;
  corvane::Corvane control(host, events);
  ApplyFlags(control, events, argc, argv, 7);
  control.SMTPhost(Text(argv[1]));
  control.POP3host(Text(argv[2]));
  control.POP3user(Text(argv[3]));
  control.POP3password(Text(argv[4]));
  const std::u16string address = Text(argv[5]), file = Text(argv[6]);

  // --- Compose and send
  const std::u16string subject = u"Round trip " + corvane::DecimalText(std::chrono::system_clock::now().time_since_epoch().count());
  const std::u16string text = u"Hello from the round trip.\r\n.a line that starts with a dot\r\n" + std::u16string(998, u'x');
  control.MimeFrom(u"Round Trip " + address);
  control.MimeTo(address);
  control.MimeSubject(subject);
  // The part is named after the file's last path element.
  const std::u16string name = file.substr(file.rfind(u'/') + 1);
  control.MimeContentAdd(1, text);
  control.MimeContentAddFromFile(2, file);
  if (!control.SMTPLogin()) return 1;
  const bool sent = control.SendMime() == -1;
  control.SMTPLogout();
  std::printf("SendMime: %s\n", sent ? "accepted" : "refused");
  if (!sent) return 1;

  // --- Find it again: delivery takes a moment
  std::u16string message;
  for (int attempt = 0; attempt < 50 && message.empty(); ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!control.POP3Login()) return 1;
    for (int16_t n = control.MailBoxCount(); n >= 1 && message.empty(); --n) {
      std::u16string candidate = control.Retrieve(n);
      if (candidate.find(u"Subject: " + subject + u"\r\n") == std::u16string::npos) continue;
      message = std::move(candidate);
      control.Delete(n);  // committed by the logout
    }
    control.POP3Logout();
  }
  if (message.empty()) {
    std::printf("FAIL: the message did not arrive\n");
    return 1;
  }
  std::printf("retrieved %zu characters\n", message.size());

  // --- Compare
  std::ifstream in(argv[6], std::ios::binary);
  const std::string original{std::istreambuf_iterator<char>(in), {}};
  const std::string attachment =
      DecodeBase64(Between(message, u"\r\n\r\n", u"\r\n\r\n--", message.find(u"name=\"" + name + u"\"")));
  const bool textSame = Between(message, u"8bit\r\n\r\n", u"\r\n\r\n--") == text;
  const bool bytesSame = attachment == original;
  std::printf("text part: %s\n", textSame ? "identical" : "DIFFERENT");
  std::printf("%s: the attachment %s arrived with %zu of %zu bytes %s\n", textSame && bytesSame ? "PASS" : "FAIL",
              corvane::Utf8(name).c_str(), attachment.size(), original.size(), bytesSame ? "identical" : "DIFFERENT");
  return textSame && bytesSame ? 0 : 1;
}
