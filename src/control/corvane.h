#pragma once
// The Corvane control: its state record, the members a host calls, error
// reporting and tracing. The transport (socket layer and command engine) and the
// protocol operations are members too, defined in their own folders.
#include <cstdint>
#include <memory>
#include <string>

#include "control/host.h"
#include "mime/mime.h"
#include "text/fields.h"
#include "transport/socket.h"

namespace corvane {

class Corvane : private SocketEvents {
 public:
  // Creation: LineEnd becomes CR LF and the control's MIME object is made.
  Corvane(Host& host, ControlEvents& events);
  ~Corvane() override;
  Corvane(const Corvane&) = delete;
  Corvane& operator=(const Corvane&) = delete;

  // A new instance placed by the host (one with no saved settings).
  void InitProperties();

  // --- Error reporting and tracing
  int16_t ErrCode() const { return errCode_; }
  static std::u16string ErrString(int16_t n);
  bool Debug_() const { return debug_; }
  void Debug_(bool on);

  // --- Small properties
  int16_t Timeout() const { return timeout_; }
  void Timeout(int16_t seconds);  // clamped to 0..60
  bool IsSecured() const;         // the socket's own switch
  void IsSecured(bool on);
  bool POP3SessionActive() const { return pop3SessionActive_; }
  bool Busy() const { return busy_; }

  // --- The control as a raw text socket; -1 success, 0 failure
  int16_t SocketOpen(std::u16string& iP, int16_t& Port);
  int16_t SocketClose();
  std::u16string SocketRead();
  int16_t SocketSend(std::u16string& Mess);

  // --- Text
  std::u16string z_URLEnc_EncodeEx(std::u16string& si, int16_t& mask);

  Mime& MimeObj() { return *mimeObj_; }

 protected:
  // --- Shared by every operation
  void RaiseError(int16_t& code, std::u16string& text);
  void RaiseError(int16_t code) {
    std::u16string text;
    RaiseError(code, text);
  }
  void Trace(std::u16string info);

  // The session guard. Every guarded operation starts with one of these: its
  // trace label (when tracing), ErrCode cleared, then the rule for its kind.
  void BeginOperation(std::u16string_view label);  // logouts: always proceed
  bool BeginLogin(std::u16string_view label);      // refused with code 1 while Busy; sets Busy
  bool BeginInSession(std::u16string_view label);  // proceeds only while Busy

  // --- Command engine
  void Say(const std::u16string& line, bool waitSent);
  // `timeout` -1 stands for Timeout (and is replaced in the caller's variable);
  // 0 means no time limit. LastReply holds what was received.
  bool WaitFor(const std::u16string& expected, int16_t& timeout);
  void WaitClose();

  // --- State record
  Host& host_;
  ControlEvents& events_;
  std::unique_ptr<Socket> ws_;
  std::unique_ptr<Timer> fsmTimer_;
  std::unique_ptr<Mime> mimeObj_;

  // Configuration
  std::u16string pop3Host_, pop3User_, pop3Password_, smtpHost_, smtpSender_;
  int32_t pop3Port_ = 0, smtpPort_ = 0;
  int16_t timeout_ = 0;
  bool isSecured_ = false;

  // Status
  bool busy_ = false;
  int16_t errCode_ = 0;
  int16_t mailBoxCount_ = 0;
  int32_t mailBoxSize_ = 0;
  bool pop3SessionActive_ = false;
  bool debug_ = false;

  // Transport scratch
  std::u16string recvBuffer_;
  std::u16string lineEnd_;
  int16_t ticksLeft_ = 0;
  std::u16string lastReply_;
  bool sendDone_ = false;
  bool gotData_ = false;
  FieldList tokens_;
  std::u16string lastSaid_;

 private:
  void TimerTick();
  bool TimeIsUp() const { return ticksLeft_ < 1; }
  // Loads the countdown with Timeout and starts the timer.
  void StartCountdown();
  // Takes what the socket holds into RecvBuffer, if connected.
  void TakeData();

  // SocketEvents
  void SocketError(int16_t number, std::u16string& description) override;
  void DataArrival(int32_t count) override;
  void Closed() override;
  void SendComplete() override;
  void SendProgress(int32_t sent, int32_t remaining) override;
};

}  // namespace corvane
