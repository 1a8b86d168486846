#pragma once
// Scripted servers on 127.0.0.1 for the integration tests and benchmarks: each
// accepted connection runs a behaviour on a thread of its own, over plain TCP or
// TLS. Destroying the server breaks whatever its connections are blocked in, so
// a test never hangs on a server.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace corvane::test_servers {

// A server's certificate and private key: PEM files (scripts/lib/test_certificates.sh).
struct Identity {
  std::string certificateFile;
  std::string keyFile;
};

// The server's end of one connection. Reads and writes block.
class ServerConnection {
 public:
  ServerConnection(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}

  // Whatever arrives next; empty at the end of the stream or on an error.
  std::string Read();
  // Reads until `size` bytes arrived or the stream ended.
  std::string ReadExactly(size_t size);
  // `beneathTls`: on a TLS connection the bytes go out as they are, not as records.
  bool Write(std::string_view bytes, bool beneathTls = false);
  // The connection ends with a TCP reset instead of an orderly close when the
  // behaviour returns.
  void Reset();
  bool WasReset() const { return reset_; }

  // TLS: the host name the client sent as SNI ("" for none).
  std::string ServerName() const;
  // TLS: whether the client's close_notify has arrived.
  bool ClientSentCloseNotify() const;

 private:
  int fd_;
  SSL* ssl_;
  bool reset_ = false;
};

using Behaviour = std::function<void(ServerConnection&)>;

class LoopbackServer {
 public:
  // `tls` null: plain TCP. `tls10Only`: the server speaks TLS 1.0 and nothing newer.
  explicit LoopbackServer(Behaviour behaviour, const Identity* tls = nullptr, bool tls10Only = false);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t Port() const { return port_; }
  // Connections that reached the behaviour (for TLS: whose handshake succeeded).
  int Served() const { return served_; }

 private:
  void AcceptLoop();
  void Serve(int fd);

  Behaviour behaviour_;
  SSL_CTX* tls_ = nullptr;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<int> served_{0};
  std::mutex mutex_;
  std::vector<int> openFds_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// Behaviours
void Echo(ServerConnection& connection);
// Says nothing; reads (and drops) what comes until the client closes.
void Silent(ServerConnection& connection);
// Reads and counts what comes until the client closes.
Behaviour Discard(std::shared_ptr<std::atomic<size_t>> received);

// A POP3 or SMTP peer with canned replies (a mailbox of one short message; every
// command accepted) that misbehaves once in its life, whatever the connection: in
// place of its greeting (`at` "") or of its answer to the first command with the
// verb `at` ("RETR", "DATA", "." for the end of a message). As a real SMTP server
// it answers a MAIL inside an open transaction with 503.
enum class Protocol { kPop3, kSmtp };
enum class Fault {
  kNone,
  kClose,     // closes instead of answering
  kStall,     // says nothing and reads on until the client goes
  kReset,     // ends the connection with a TCP reset
  kTrickle,   // the right answer, one byte at a time, then on as usual
  kGarbage,   // a line of binary noise instead of the answer
  kLongLine,  // 64 KiB without a line end instead of the answer
  kFlood,     // text without end (at most 16 MB/s) until the client goes away
  kRefuse,    // a refusal: POP3 "-ERR", SMTP 550 (a refused MAIL opens no transaction)
};
Behaviour FaultyPeer(Protocol protocol, Fault fault = Fault::kNone, std::string at = "");
const char* FaultName(Fault fault);
// kNone for a name it doesn't know ("none" included).
Fault FaultNamed(std::string_view name);

// A POP3 mailbox whose every message has "-ERR" in its first line (Subject:
// Re: -ERR ...) except the even-numbered ones. Each RETR answer goes out in two
// pieces: the status line with the message's first line, then after 50 ms the
// rest. At QUIT it reports "deleted N" through `log` for each message removed.
Behaviour Pop3SplitMailbox(std::function<void(const std::string&)> log);
// Message `n` (from 1) of that mailbox, as RETR brings it before un-stuffing.
std::string SplitMailboxMessage(int n);
constexpr int kSplitMailboxSize = 4;

// A port on 127.0.0.1 where nothing listens (just released by the system).
uint16_t UnusedPort();

}  // namespace corvane::test_servers
