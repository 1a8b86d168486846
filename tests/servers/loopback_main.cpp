// corvane_loopback: the loopback servers as a program, for the Wine suites.
//   corvane_loopback PORTS_FILE [NAME=CERT.pem:KEY.pem[:tls1.0]]...
// Listens on 127.0.0.1: a plain echo port, one TLS echo port per certificate, and
// a sink port (":tls1.0": that TLS server speaks TLS 1.0 only). An echo connection gets back what it sends; a piece holding the line
// "LATER" comes back after 0.3 s; after a line "QUIT" the server closes the
// connection (TLS: with a close_notify); a piece that is the line "SNI" gets back
// "SNI name", the host name the client sent (none: empty), and one holding the line
// "RESET" a TCP reset instead of its echo; the line "POLITE" gets "POLITE yes" when
// the last client to close a TLS connection sent a close_notify; a piece holding the line "NOISE" gets,
// 0.3 s later, a TLS record that does not decrypt instead of its echo. A sink
// reads and drops what it gets and, when the connection ends, prints
// "sink: N bytes". Once everything listens,
// writes "NAME PORT" per server to PORTS_FILE: "plain", each certificate's name,
// "sink", "refused", a port where nothing listens, the faulty peers of kFaulty
// (FaultyPeer: POP3 or SMTP, plain) under their names, and "pop3_split_err"
// (Pop3SplitMailbox, printing "pop3_split_err: deleted N"). Runs until killed.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>

#include "loopback_server.h"

using namespace corvane::test_servers;

namespace {

// Whether the last TLS client to go away said goodbye with a close_notify.
std::atomic<bool> lastClosePolite{false};

void EchoUntilQuit(ServerConnection& connection) {
  std::string tail;
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) {
    if (data == "POLITE\r\n") data = lastClosePolite ? "POLITE yes\r\n" : "POLITE no\r\n";
    const bool noise = data.find("NOISE\r\n") != std::string::npos;
    if (noise || data.find("LATER\r\n") != std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Application data too short for any cipher's tag.
    if (noise) data.assign("\x17\x03\x03\x00\x05noise", 10);
    if (data == "SNI\r\n") data = "SNI " + connection.ServerName() + "\r\n";
    if (data.find("RESET\r\n") != std::string::npos) return connection.Reset();
    if (!connection.Write(data, noise)) return;
    tail += data;
    if (tail.size() > 6) tail.erase(0, tail.size() - 6);
    if (tail == "QUIT\r\n") return;
  }
  lastClosePolite = connection.ClientSentCloseNotify();
}

void Sink(ServerConnection& connection) {
  size_t received = 0;
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) received += data.size();
  std::printf("sink: %zu bytes\n", received);
  std::fflush(stdout);
}

// The faulty peers: NAME, protocol, fault, and the verb it misbehaves at ("" the
// greeting, "." the end of a message).
struct Faulty {
  const char* name;
  Protocol protocol;
  Fault fault;
  const char* at;
};
constexpr Faulty kFaulty[] = {
    {"pop3_ok", Protocol::kPop3, Fault::kNone, ""},
    {"smtp_ok", Protocol::kSmtp, Fault::kNone, ""},
    {"pop3_close_greeting", Protocol::kPop3, Fault::kClose, ""},
    {"pop3_reset_user", Protocol::kPop3, Fault::kReset, "USER"},
    {"pop3_garbage_user", Protocol::kPop3, Fault::kGarbage, "USER"},
    {"pop3_longline_pass", Protocol::kPop3, Fault::kLongLine, "PASS"},
    {"pop3_stall_stat", Protocol::kPop3, Fault::kStall, "STAT"},
    {"pop3_close_list", Protocol::kPop3, Fault::kClose, "LIST"},
    {"pop3_trickle_retr", Protocol::kPop3, Fault::kTrickle, "RETR"},
    {"pop3_flood_retr", Protocol::kPop3, Fault::kFlood, "RETR"},
    {"smtp_garbage_greeting", Protocol::kSmtp, Fault::kGarbage, ""},
    {"smtp_stall_data", Protocol::kSmtp, Fault::kStall, "DATA"},
    {"smtp_close_dot", Protocol::kSmtp, Fault::kClose, "."},
    {"smtp_refuse_rcpt", Protocol::kSmtp, Fault::kRefuse, "RCPT"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvane_loopback PORTS_FILE [NAME=CERT.pem:KEY.pem]...\n");
    return 2;
  }
  std::list<LoopbackServer> servers;
  std::ostringstream ports;
  servers.emplace_back(EchoUntilQuit);
  ports << "plain " << servers.back().Port() << "\n";
  for (int i = 2; i < argc; ++i) {
    const std::string entry = argv[i];
    const size_t equals = entry.find('='), colon = entry.find(':', equals);
    if (equals == std::string::npos || colon == std::string::npos) {
      std::fprintf(stderr, "not NAME=CERT:KEY: %s\n", argv[i]);
      return 2;
    }
    std::string key = entry.substr(colon + 1);
    const bool old = key.ends_with(":tls1.0");
    if (old) key.resize(key.size() - 7);
    const Identity identity{entry.substr(equals + 1, colon - equals - 1), key};
    servers.emplace_back(EchoUntilQuit, &identity, old);
    ports << entry.substr(0, equals) << " " << servers.back().Port() << "\n";
  }
  servers.emplace_back(Sink);
  ports << "sink " << servers.back().Port() << "\nrefused " << UnusedPort() << "\n";
  for (const Faulty& faulty : kFaulty) {
    servers.emplace_back(FaultyPeer(faulty.protocol, faulty.fault, faulty.at));
    ports << faulty.name << " " << servers.back().Port() << "\n";
  }
  static std::mutex logged;
  servers.emplace_back(Pop3SplitMailbox([](const std::string& line) {
    std::lock_guard lock(logged);
    std::printf("pop3_split_err: %s\n", line.c_str());
    std::fflush(stdout);
  }));
  ports << "pop3_split_err " << servers.back().Port() << "\n";
  const std::string file = argv[1];
  std::ofstream(file + ".tmp") << ports.str();
  std::rename((file + ".tmp").c_str(), file.c_str());
  for (;;) pause();
}
