#pragma once
// The socket component of the POSIX host: TCP through non-blocking sockets,
// implicit TLS through OpenSSL with certificate and host-name verification.
//
// Nothing touches the network outside the host's pump, except Close, and StartTls
// dropping clear text that waits unread: Connect, StartTls and SendData only
// change what the next pump waits for, and every event (and every byte received)
// comes from inside a pump.
//
// When sent text is written and reported complete is the SendQueue's to decide.
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "posix/event_loop.h"
#include "transport/send_queue.h"
#include "transport/socket.h"

using SSL = struct ssl_st;

namespace corvane::posix {

class PosixSocket final : public Socket, private Pollable {
 public:
  // The values State takes between closed (0) and connected (7).
  static constexpr int16_t kResolving = 4;   // looking the host name up
  static constexpr int16_t kConnecting = 6;  // TCP connect, then the TLS handshake
  static constexpr int16_t kPeerClosed = 8;  // the peer closed; State stays here until Close

  PosixSocket(std::shared_ptr<EventLoop> loop, SocketEvents& events);
  ~PosixSocket() override;
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;

  int16_t State() const override { return state_; }
  bool Secured() const override { return secured_; }
  void Secured(bool on) override { secured_ = on; }
  std::u16string LocalHostName() const override;

  // A socket that is not closed drops its connection first.
  void Connect(const std::u16string& host, int32_t port) override;
  // Writes what the kernel takes of the queue, then a TLS close_notify, without
  // waiting; text still unsent then is dropped.
  void Close() override;
  void StartTls() override;
  // While connecting, the text waits for the connection; on a socket that is
  // neither connected nor connecting, the next pump reports "not connected".
  void SendData(const std::u16string& data) override;
  void GetData(std::u16string& data) override;

 private:
  struct Lookup;
  struct Address {
    sockaddr_storage storage;
    socklen_t length;
  };
  enum class Io { Done, WouldBlock, Eof, Failed };
  struct IoResult {
    IoResult(Io status, size_t count = 0) : status(status), count(count) {}
    IoResult(int16_t number, std::string text) : status(Io::Failed), number(number), text(std::move(text)) {}
    Io status;
    size_t count = 0;
    int16_t number = 0;  // when Failed
    std::string text;
  };

  Wait Waiting() override;
  void Handle(short revents) override;

  void StartLookup();
  void TakeLookup();
  void TryNextAddress();
  void FinishTcpConnect();
  void BeginHandshake();
  void ContinueHandshake();
  void Transfer(short revents);
  // Each returns false when a handler or a failure ended the connection.
  bool Receive(bool& eof);
  bool SendQueued();

  IoResult ReadSome(char* buffer, size_t size);
  IoResult WriteSome(const char* data, size_t size);
  IoResult SystemFailure(int error) const;
  // What went wrong after an SSL call failed with `sslError`.
  IoResult TlsFailure(const char* what, int sslError, int savedErrno) const;

  // Drops the connection (State 0), then raises SocketError.
  void Fail(int16_t number, const std::string& description);
  void Fail(const IoResult& failure) { Fail(failure.number, failure.text); }
  // Outside the pump a failure waits for the next one.
  void FailLater(int16_t number, std::string description);
  void Disconnect(bool polite);

  std::string Endpoint() const;  // the host as given, with the port

  std::shared_ptr<EventLoop> loop_;
  uint64_t id_;
  SocketEvents& events_;
  bool secured_ = false;
  int16_t state_ = kClosed;
  // Changes with every Connect, Close and failure, and when the socket is
  // destroyed, so a handler that ends the connection, or destroys the socket,
  // stops the delivery of the rest of a pump's events for it. Shared, so that it
  // outlives the socket.
  std::shared_ptr<uint64_t> connection_ = std::make_shared<uint64_t>(0);

  std::string host_;
  uint16_t port_ = 0;
  bool tls_ = false;  // Secured when Connect was called, or upgraded since
  std::shared_ptr<Lookup> lookup_;
  std::vector<Address> addresses_;
  size_t nextAddress_ = 0;
  int lastConnectErrno_ = 0;
  std::string lastAddress_;  // numeric, of the latest attempt

  int fd_ = -1;
  SSL* ssl_ = nullptr;
  short handshakeWants_ = 0;

  std::u16string received_;
  std::unique_ptr<char[]> inbox_;  // for one pump's reads
  SendQueue sendQueue_;
  bool readMore_ = false;  // a pump stopped reading at its limit
  // The connection has ended (closed or failed) but the text received before the
  // end is still being handed over; a nested pump must not read past the end.
  bool ending_ = false;
  bool readWaitsForWrite_ = false;
  bool writeWaitsForRead_ = false;
  std::optional<std::pair<int16_t, std::string>> pendingError_;
};

}  // namespace corvane::posix
