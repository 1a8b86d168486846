#pragma once
// The socket component a Dialogue talks through: an asynchronous TCP client with
// an implicit-TLS switch. Connecting, closing and sending only begin in the calls;
// what follows arrives as events, delivered only while the host pumps.
#include <cstdint>
#include <string>

namespace corvane {

class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  // A socket error: its number and a readable description.
  virtual void SocketError(int16_t number, std::u16string& description) = 0;
  // Received text waits for GetData; `count` is how many characters.
  virtual void DataArrival(int32_t count) = 0;
  // The peer closed the connection (State stays non-zero until Close).
  virtual void Closed() = 0;
  // Everything handed to SendData has gone out, or sits in the socket's own small
  // queue, which it sends without further calls.
  virtual void SendComplete() = 0;
  // Part of it has gone out.
  virtual void SendProgress(int32_t sent, int32_t remaining) = 0;
};

class Socket {
 public:
  static constexpr int16_t kClosed = 0;
  static constexpr int16_t kConnecting = 6;
  static constexpr int16_t kConnected = 7;

  virtual ~Socket() = default;

  // 0 closed, 7 connected, anything else on the way between.
  virtual int16_t State() const = 0;
  // Implicit TLS for later connections.
  virtual bool Secured() const = 0;
  virtual void Secured(bool on) = 0;
  virtual std::u16string LocalHostName() const = 0;

  // Begins connecting and returns at once; a failure comes as SocketError and
  // leaves State at 0. Ports outside 1..65535 fail that way too.
  virtual void Connect(const std::u16string& host, int32_t port) = 0;
  // Begins closing; State reaches 0.
  virtual void Close() = 0;
  // Begins a TLS handshake on the connected plain socket, with the same checks and
  // versions as implicit TLS, naming the host it connected to. Text received and
  // not yet taken is dropped: it came in clear text and can't be trusted. State is
  // kConnecting until the handshake ends (kConnected) or fails (SocketError, 0).
  // A socket not connected, or connected through TLS already, closes at once and
  // fails from the next pump.
  virtual void StartTls() = 0;
  // Queues text for sending, one byte per character in the host's character set.
  virtual void SendData(const std::u16string& data) = 0;
  // Hands over all text received and not yet taken (empty when none), in place of
  // what `data` held; the socket may keep `data`'s storage for its next receipt.
  // It never reads from the network itself: text is received only while the host pumps.
  virtual void GetData(std::u16string& data) = 0;
};

}  // namespace corvane
