#pragma once
// The socket component under Windows: a non-blocking Winsock TCP client whose
// notifications arrive at the thread's message window (WSAAsyncSelect), with
// implicit TLS through Schannel. Everything it reports, it reports from there,
// that is, only while the host pumps.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "transport/socket.h"
#include "windows/host/message_window.h"
#include "windows/host/tls_channel.h"

namespace corvane::win {

class WinsockSocket final : public Socket, MessageTarget {
 public:
  // State values between closed (0) and connected (7).
  static constexpr int16_t kResolving = 4;   // looking the host name up
  static constexpr int16_t kConnecting = 6;  // TCP connect, then the TLS handshake
  static constexpr int16_t kPeerClosed = 8;  // the peer closed; Close brings it to 0

  WinsockSocket(std::shared_ptr<MessageWindow> window, SocketEvents& events);
  ~WinsockSocket() override;
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;

  int16_t State() const override { return state_; }
  bool Secured() const override { return secured_; }
  void Secured(bool on) override { secured_ = on; }
  std::u16string LocalHostName() const override;
  void Connect(const std::u16string& host, int32_t port) override;
  void Close() override;
  void SendData(const std::u16string& data) override;
  void GetData(std::u16string& data) override;

  void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  struct Lookup;
  enum Task : LPARAM { kLookedUp = 1, kFlush, kReportErrors };

  void schedule(Task task);
  void lookedUp();
  void connectNext(int lastError);
  void connected();
  void receive();
  void accept(std::string_view bytes);
  void peerClosed();
  void flush();
  void deferError(int number, std::wstring description);
  void reportDeferredErrors();
  void fail(int number, const std::wstring& what, const std::wstring& reason);
  void failTls(const TlsError& error);
  void release();
  std::wstring peer() const;
  // Expires when the socket is destroyed, which an event handler may do.
  std::weak_ptr<char> aliveToken() const { return alive_; }
  // Raises one event; false when the socket was destroyed meanwhile.
  template <class Event>
  bool raise(Event&& event);

  std::shared_ptr<MessageWindow> window_;
  SocketEvents& events_;
  UINT taskMessage_;     // work deferred to the pump, for the socket's whole life
  UINT networkMessage_ = 0;  // notifications of the current connection attempt
  int16_t state_ = kClosed;
  bool secured_ = false;
  std::wstring host_;
  int32_t port_ = 0;
  std::shared_ptr<Lookup> lookup_;
  const ADDRINFOW* nextAddress_ = nullptr;
  SOCKET socket_ = INVALID_SOCKET;
  std::unique_ptr<TlsChannel> tls_;
  std::string incoming_;  // received TLS records not yet decrypted
  std::string received_;  // received text not yet taken by GetData
  std::string queued_;    // text handed to SendData, not yet cut into pieces
  size_t queuedOffset_ = 0;
  std::string wire_;      // bytes for send(): a piece of text, a record or handshake messages
  size_t wireSent_ = 0;
  size_t wireText_ = 0;   // how much queued text the wire bytes carry
  int32_t sentSinceIdle_ = 0;
  bool completeOwed_ = false;
  bool flushScheduled_ = false;
  std::deque<std::pair<int16_t, std::wstring>> deferredErrors_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace corvane::win
