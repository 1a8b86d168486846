// Reads a mailbox over POP3 with the native library: logs in, prints the counters
// and the first lines of every message, and logs out.
//   pop3_read HOST:PORT USER PASSWORD [--tls] [--trace]
// With --tls the server's certificate must be trusted (SSL_CERT_FILE names a
// private CA) and must name HOST.
#include <cstdio>

#include "console_events.h"
#include "control/corvane.h"
#include "posix/posix_host.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s HOST:PORT USER PASSWORD [--tls] [--trace]\n", argv[0]);
    return 2;
  }
  corvane::PosixHost host;
  ConsoleEvents events;
  corvane::Corvane control(host, events);
  ApplyFlags(control, events, argc, argv, 4);
  control.POP3host(Text(argv[1]));
  control.POP3user(Text(argv[2]));
  control.POP3password(Text(argv[3]));

  if (!control.POP3Login()) return 1;
  std::printf("%d messages, %d bytes\n", control.MailBoxCount(), control.MailBoxSize());
  for (int16_t n = 1; n <= control.MailBoxCount(); ++n) {
    const std::u16string message = control.Retrieve(n);
    const std::string bytes = corvane::hostCharset().toBytes(message);
    std::printf("--- message %d, %d bytes on the server, %zu received:\n", n, control.Size(n), bytes.size());
    std::fwrite(bytes.data(), 1, std::min<size_t>(bytes.size(), 400), stdout);
    if (bytes.size() > 400) std::printf("...\n");
  }
  return control.POP3Logout() ? 0 : 1;
}
