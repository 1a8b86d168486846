#pragma once
// The client side of a TLS connection through Schannel, on byte buffers: the
// socket feeds it what arrives and sends what it produces, so the handshake runs
// as the socket's notifications come in and never blocks.
#include <cstddef>
#include <string>
#include <string_view>

#include "windows/host/win32.h"

#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

namespace corvane::win {

// A TLS failure: the Schannel or certificate status and what it means.
struct TlsError {
  long status;
  std::wstring reason;
};

class TlsChannel {
 public:
  enum class Status { kHandshaking, kOpen, kClosedByPeer };

  // `serverName` is sent to the server and must be named by its certificate.
  explicit TlsChannel(std::wstring serverName);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // The first handshake message.
  std::string start();
  // Takes what it can from `incoming` (a partial record stays there), appends
  // decrypted text to `plain` and anything the handshake must answer to
  // `outgoing`. The handshake ends by checking the server's certificate against
  // the system's trusted roots and the server name.
  Status feed(std::string& incoming, std::string& plain, std::string& outgoing);
  // The largest piece of text that one record carries.
  size_t maxPiece() const { return sizes_.cbMaximumMessage; }
  // One record holding `piece` (at most maxPiece() bytes).
  std::string encrypt(std::string_view piece);
  // The close_notify alert, or nothing when it cannot be made.
  std::string closeNotify();

 private:
  Status handshake(std::string& incoming, std::string& outgoing);
  SECURITY_STATUS initialize(SecBufferDesc* input, std::string& outgoing);
  void verifyServerCertificate();
  [[noreturn]] void fail(long status, std::wstring_view reason) const;

  std::wstring serverName_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveContext_ = false;
  bool handshaking_ = true;
  bool verified_ = false;
  SecPkgContext_StreamSizes sizes_{};
};

}  // namespace corvane::win
