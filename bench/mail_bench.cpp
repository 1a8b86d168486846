// The control on the POSIX host against the real mail servers of
// scripts/mail-servers.sh (their servers.env named by CORVANE_MAIL_SERVERS), one
// measurement per process, and the files and timings its peer client needs:
//
//   mail_bench send                      SMTPLogin, Send of the 10 MiB body, SMTPLogout (to SINK_PORT)
//   mail_bench retrieve USER PASS BYTES  POP3Login, Retrieve 1, POP3Logout; checks the text against
//                                        the message made for BYTES
//   mail_bench sendmime FILE             MimeFrom, MimeTo, MimeContentAdd, MimeContentAddFromFile,
//                                        SMTPLogin, SendMime, SMTPLogout (to SINK_PORT)
//   mail_bench many retrieve USER PASS   POP3Login, Retrieve 1 to 2,000, each checked against the
//                                        2 KiB message, POP3Logout
//   mail_bench many send                 SMTPLogin, 2,000 Sends of a 2 KiB body, SMTPLogout (to SINK_PORT)
//   mail_bench write-send OUT [small]    the message Send puts on the wire, for curl --upload-file
//                                        (small: the 2 KiB body of many send)
//   mail_bench write-maildir BYTES OUT   a message for a Maildir
//   mail_bench write-attachment OUT      the 10 MiB attachment
//   mail_bench write-mime FILE OUT       the message SendMime makes with FILE attached
//   mail_bench time PROGRAM ARGS...      runs a program and measures it
//   mail_bench floor USER PASS           the server's own pace: a bare client that logs in,
//                                        reads RETR 1 to its end into one buffer and drops it
//
// A measurement prints one line, "wall=S cpu=S peak=BYTES compose=S": the session's
// wall and CPU time, what the process's peak memory grew by during it (and during
// composing, which `compose` times for sendmime; for `time`, the child's whole
// peak); `many` adds "first=S last=S", the mean time per message over the first
// and the last quarter of the session. It exits 1 when the control failed or the text came back wrong.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "control/corvane.h"
#include "mail_messages.h"
#include "posix/posix_host.h"
#include "text/charset.h"

namespace {

using namespace corvane::bench;
using Clock = std::chrono::steady_clock;

std::u16string Chars(const std::string& bytes) { return corvane::ByteCharset::latin1().fromBytes(bytes); }
std::string Bytes(const std::u16string& text) { return corvane::ByteCharset::latin1().toBytes(text); }

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

struct Usage {
  double cpu;
  long peakBytes;
};

Usage Now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss * 1024L};
}

struct Figures {
  double wall, cpu;
  long peak;
};

Figures Measure(const std::function<void()>& work) {
  const Usage before = Now();
  const auto start = Clock::now();
  work();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const Usage after = Now();
  return {wall, after.cpu - before.cpu, after.peakBytes - before.peakBytes};
}

void Print(const Figures& figures, double compose = 0, const Quarters* quarters = nullptr) {
  std::printf("wall=%.4f cpu=%.4f peak=%ld compose=%.4f", figures.wall, figures.cpu, figures.peak, compose);
  if (quarters) std::printf(" first=%.6f last=%.6f", quarters->first, quarters->last);
  std::printf("\n");
}

std::map<std::string, std::string> Servers() {
  const char* path = std::getenv("CORVANE_MAIL_SERVERS");
  std::ifstream in(path ? path : "");
  if (!in) throw std::runtime_error("CORVANE_MAIL_SERVERS names no servers.env");
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
    throw std::runtime_error("cannot write " + path);
}

class Events : public corvane::ControlEvents {
 public:
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    std::fprintf(stderr, "error %d: %s\n", code, Bytes(text).c_str());
    cancel = true;
    failed = true;
  }
  void Debugger(std::u16string&) override {}
  bool failed = false;
};

// A control on its own host, set up for the servers.
struct Client {
  Client() : control(host, events) { control.InitProperties(); }
  corvane::PosixHost host;
  Events events;
  corvane::Corvane control;
};

void Compose(corvane::Corvane& control, const std::string& file) {
  control.MimeFrom(u"Corvane Bench <u1@corvane.test>");
  control.MimeTo(u"u2@corvane.test");
  control.MimeSubject(Chars(kSubject));
  control.MimeContentAdd(1, u"The attachment follows.");
  control.MimeContentAddFromFile(2, Chars(file));
}

int Send() {
  const auto servers = Servers();
  Client client;
  client.control.SMTPhost(Chars("127.0.0.1:" + servers.at("SINK_PORT")));
  client.control.SMTPsender(u"<u1@corvane.test>");
  std::u16string recipient = u"<u2@corvane.test>", subject = Chars(kSubject), cc, mail = Chars(SendBody());
  bool sent = false;
  Print(Measure([&] {
    sent = client.control.SMTPLogin() && client.control.Send(recipient, subject, cc, mail);
    sent = client.control.SMTPLogout() && sent;
  }));
  return sent && !client.events.failed ? 0 : 1;
}

int Retrieve(const std::string& user, const std::string& password, size_t bytes) {
  const auto servers = Servers();
  Client client;
  client.control.POP3host(Chars("127.0.0.1:" + servers.at("POP3_PORT")));
  client.control.POP3user(Chars(user));
  client.control.POP3password(Chars(password));
  std::u16string text;
  Print(Measure([&] {
    int16_t index = 1;
    if (client.control.POP3Login()) text = client.control.Retrieve(index);
    client.control.POP3Logout();
  }));
  if (!IsRetrieved(std::u16string_view(text), MaildirMessage(bytes))) {
    std::fprintf(stderr, "Retrieve brought %zu characters, not the message made for %zu bytes\n", text.size(), bytes);
    return 1;
  }
  return client.events.failed ? 1 : 0;
}

// One session of many small messages: Retrieve (the mailbox holds them) or Send.
int Many(bool retrieve, const std::string& user = "", const std::string& password = "") {
  const auto servers = Servers();
  Client client;
  corvane::Corvane& control = client.control;
  if (retrieve) {
    control.POP3host(Chars("127.0.0.1:" + servers.at("POP3_PORT")));
    control.POP3user(Chars(user));
    control.POP3password(Chars(password));
  } else {
    control.SMTPhost(Chars("127.0.0.1:" + servers.at("SINK_PORT")));
    control.SMTPsender(u"<u1@corvane.test>");
  }
  const std::string message = MaildirMessage(kSmallBytes);
  std::u16string recipient = u"<u2@corvane.test>", subject = Chars(kSubject), cc, mail = Chars(SendBody(kSmallLines));
  const auto now = [] { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); };
  Quarters quarters;
  bool done = false;
  const Figures figures = Measure([&] {
    if (retrieve ? control.POP3Login() : control.SMTPLogin())
      quarters = TimeEach(kManyMessages, now, [&](size_t i) {
        if (!retrieve) return control.Send(recipient, subject, cc, mail);
        int16_t index = static_cast<int16_t>(i + 1);
        return IsRetrieved(std::u16string_view(control.Retrieve(index)), message);
      });
    done = (retrieve ? control.POP3Logout() : control.SMTPLogout()) && quarters.first > 0;
  });
  Print(figures, 0, &quarters);
  if (!done) std::fprintf(stderr, "the session of %zu messages did not complete\n", kManyMessages);
  return done && !client.events.failed ? 0 : 1;
}

int SendMime(const std::string& file) {
  const auto servers = Servers();
  Client client;
  client.control.SMTPhost(Chars("127.0.0.1:" + servers.at("SINK_PORT")));
  const long peak = Now().peakBytes;
  const auto start = Clock::now();
  Compose(client.control, file);
  const double composed = std::chrono::duration<double>(Clock::now() - start).count();
  bool sent = false;
  Figures figures = Measure([&] {
    sent = client.control.SMTPLogin() && client.control.SendMime() == -1;
    sent = client.control.SMTPLogout() && sent;
  });
  figures.peak = Now().peakBytes - peak;  // composing included
  Print(figures, composed);
  return sent && !client.events.failed ? 0 : 1;
}

int WriteMime(const std::string& file, const std::string& out) {
  Client client;
  Compose(client.control, file);
  std::u16string message;
  if (client.control.MimeObj().GenerateMime(message) != -1) return 1;
  Write(out, Bytes(message));
  return 0;
}

// The child's wall time, CPU time and peak memory.
int Time(char** argv) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return 1;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  Print({wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss * 1024L});
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

// What no client can beat: the server sending the message to a reader that does
// nothing with it, in pieces as large as the control reads.
int Floor(const char* user, const char* password) {
  const int port = std::stoi(Servers().at("POP3_PORT"));
  std::string buffer(1 << 18, '\0');
  bool whole = false;
  Print(Measure([&] {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    const std::string commands = std::string("USER ") + user + "\r\nPASS " + password + "\r\nRETR 1\r\n";
    if (send(fd, commands.data(), commands.size(), 0) != static_cast<ssize_t>(commands.size())) return;
    std::string last;  // the last five bytes read: the answer ends in its terminator
    for (ssize_t got; (got = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
      last.append(buffer.data() + got - std::min<ssize_t>(got, 5), static_cast<size_t>(std::min<ssize_t>(got, 5)));
      if (last.ends_with("\r\n.\r\n")) {
        whole = send(fd, "QUIT\r\n", 6, 0) == 6;
        break;
      }
      last.erase(0, last.size() - std::min<size_t>(last.size(), 4));
    }
    close(fd);
  }));
  return whole ? 0 : 1;
}

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "send" && argc == 2) return Send();
    if (command == "retrieve" && argc == 5) return Retrieve(argv[2], argv[3], std::stoul(argv[4]));
    if (command == "many" && argc == 5 && argv[2] == std::string("retrieve")) return Many(true, argv[3], argv[4]);
    if (command == "many" && argc == 3 && argv[2] == std::string("send")) return Many(false);
    if (command == "sendmime" && argc == 3) return SendMime(argv[2]);
    if (command == "write-send" && (argc == 3 || (argc == 4 && argv[3] == std::string("small"))))
      return Write(argv[2], SendMessage(SendBody(argc == 4 ? kSmallLines : kSendLines))), 0;
    if (command == "write-maildir" && argc == 4) return Write(argv[3], MaildirMessage(std::stoul(argv[2]))), 0;
    if (command == "write-attachment" && argc == 3) return Write(argv[2], Attachment()), 0;
    if (command == "write-mime" && argc == 4) return WriteMime(argv[2], argv[3]);
    if (command == "time" && argc > 2) return Time(argv + 2);
    if (command == "floor" && argc == 4) return Floor(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mail_bench %s: %s\n", command.c_str(), e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: see the head of bench/mail_bench.cpp\n");
  return 2;
}
