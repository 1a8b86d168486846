// Sends a plain message over SMTP with the native library.
//   smtp_send HOST:PORT SENDER RECIPIENT SUBJECT [--tls] [--trace]   (the body from standard input)
#include <cstdio>
#include <iostream>
#include <iterator>

#include "console_events.h"
#include "control/corvane.h"
#include "posix/posix_host.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s HOST:PORT SENDER RECIPIENT SUBJECT [--tls] [--trace] < body\n", argv[0]);
    return 2;
  }
  corvane::PosixHost host;
  ConsoleEvents events;
  corvane::Corvane control(host, events);
  ApplyFlags(control, events, argc, argv, 5);
  control.SMTPhost(Text(argv[1]));
  control.SMTPsender(Text(argv[2]));

  // The body's lines end with CR LF on the wire.
  const std::string input{std::istreambuf_iterator<char>(std::cin), {}};
  std::string body;
  for (char c : input) {
    if (c == '\n' && (body.empty() || body.back() != '\r')) body += '\r';
    body += c;
  }
  std::u16string recipient = Text(argv[3]), subject = Text(argv[4]), cc, mail = corvane::hostCharset().fromBytes(body);

  if (!control.SMTPLogin()) return 1;
  const bool sent = control.Send(recipient, subject, cc, mail);
  control.SMTPLogout();
  std::printf(sent ? "sent\n" : "not sent\n");
  return sent ? 0 : 1;
}
