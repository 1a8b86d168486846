#pragma once
// The socket component under Windows: a non-blocking Winsock TCP client whose
// notifications arrive at the thread's message window (WSAAsyncSelect), with
// implicit TLS through Schannel. Everything it reports, it reports from there,
// that is, only while the host pumps.
//
// When sent text is written and reported complete is the SendQueue's to decide;
// a send that joins a run costs no window message of its own either. The queue of
// a run is written once it reaches kFlushAt, or when a message posted at the start
// of the run comes through the thread's queue, whoever reads it.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "transport/send_queue.h"
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

  // `owner`: see MessageTarget.
  WinsockSocket(std::shared_ptr<MessageWindow> window, SocketEvents& events, IUnknown* owner = nullptr);
  ~WinsockSocket() override;
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;

  int16_t State() const override { return state_; }
  bool Secured() const override { return secured_; }
  void Secured(bool on) override { secured_ = on; }
  std::u16string LocalHostName() const override;
  void Connect(const std::u16string& host, int32_t port) override;
  void Close() override;
  void StartTls() override;
  void SendData(const std::u16string& data) override;
  void GetData(std::u16string& data) override;

  void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // The connection ends with a SocketError (out of memory for std::bad_alloc).
  void OnException(std::exception_ptr failure) noexcept override;

 private:
  struct Lookup;
  enum Task : LPARAM { kLookedUp = 1, kFlush, kPostedFlush, kComplete, kReportErrors, kUpgrade };

  void schedule(Task task);
  void lookedUp();
  void connectNext(int lastError);
  void connected();
  // The handshake, on a new connection or an upgraded one.
  void beginTls();
  void receive();
  char* inbox();  // made on first use
  void accept(std::string_view bytes);
  void peerClosed();
  // Sends what Winsock takes. Quiet, it raises nothing, not even a failure.
  void flush(bool quiet = false);
  // Raises SendComplete if it is owed and can be reported now.
  void completeIfReady();
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
  std::unique_ptr<char[]> inbox_;  // what one recv() brings
  // Staged for send(): a piece of text, a record or handshake messages.
  SendQueue sendQueue_;
  uint64_t sentSinceIdle_ = 0;
  bool flushScheduled_ = false;
  bool flushPosted_ = false;
  std::deque<std::pair<int16_t, std::wstring>> deferredErrors_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace corvane::win
