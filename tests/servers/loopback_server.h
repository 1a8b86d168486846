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
  // `clear`: TLS begins only with StartTls.
  ServerConnection(int fd, SSL* ssl, bool clear = false) : fd_(fd), ssl_(ssl), clear_(clear) {}

  // Whatever arrives next; empty at the end of the stream or on an error.
  std::string Read();
  // Whether data (or the end) is there to read within `milliseconds`.
  bool Readable(int milliseconds) const;
  // `beneathTls`: on a TLS connection the bytes go out as they are, not as records.
  bool Write(std::string_view bytes, bool beneathTls = false);
  // The handshake, on a connection that began in clear text.
  bool StartTls();
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
  bool clear_;
  bool reset_ = false;
};

using Behaviour = std::function<void(ServerConnection&)>;

class LoopbackServer {
 public:
  // `tls` null: plain TCP. `tls10Only`: the server speaks TLS 1.0 and nothing newer.
  // `startPlain`: connections begin in clear text; the behaviour starts TLS.
  explicit LoopbackServer(Behaviour behaviour, const Identity* tls = nullptr, bool tls10Only = false,
                          bool startPlain = false);
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
  bool startPlain_;
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
// Says nothing; reads (and drops) what comes until the client closes.
void Silent(ServerConnection& connection);
// Reads and counts what comes until the client closes.
Behaviour Discard(std::shared_ptr<std::atomic<size_t>> received);

// A port on 127.0.0.1 where nothing listens (just released by the system).
uint16_t UnusedPort();

}  // namespace corvane::test_servers
