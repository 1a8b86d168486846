#pragma once
// The Corvane control: its state record, the members a host calls, error
// reporting and tracing. It talks through one Dialogue (transport/), which it
// feeds with its socket's events and serves with the host's pump and clock, the
// Timeout, error reporting and tracing. The protocol operations are members,
// defined in their own folders.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/host.h"
#include "control/property_bag.h"
#include "mime/mime.h"
#include "text/fields.h"
#include "transport/dialogue.h"
#include "transport/socket.h"

namespace corvane {

class Corvane : private SocketEvents, private Dialogue::Owner {
 public:
  // Creation: LineEnd becomes CR LF and the control's MIME object is made.
  Corvane(Host& host, ControlEvents& events);
  ~Corvane() override;
  Corvane(const Corvane&) = delete;
  Corvane& operator=(const Corvane&) = delete;

  // A new instance placed by the host (one with no saved settings).
  void InitProperties();
  // A saved instance loaded, and the instance saved: the nine settings in one
  // fixed order (settings.cpp). Loading stores straight into the fields and
  // signals nothing; a value the bag cannot give raises its AutomationError,
  // with the settings read before it kept.
  void ReadProperties(PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;

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

  // --- Connection settings (settings.cpp). A host value may carry ":port";
  // a port of 0 means the protocol's default.
  std::u16string POP3host() const;
  void POP3host(const std::u16string& value);
  std::u16string SMTPhost() const;
  void SMTPhost(const std::u16string& value);
  const std::u16string& POP3user() const { return pop3User_; }
  void POP3user(const std::u16string& value);
  const std::u16string& POP3password() const { return pop3Password_; }
  void POP3password(const std::u16string& value);
  const std::u16string& SMTPsender() const { return smtpSender_; }
  void SMTPsender(const std::u16string& value);  // "" is stored as "<>"

  // --- Extension settings (settings.cpp): authenticated, upgraded and UTF-8
  // mail. At their defaults the control is exactly the plain one: the same
  // commands, bytes, results and saved settings.
  const std::u16string& SMTPuser() const { return smtpUser_; }  // non-empty: SMTPLogin authenticates
  void SMTPuser(const std::u16string& value);
  const std::u16string& SMTPpassword() const { return smtpPassword_; }  // or the bearer token
  void SMTPpassword(const std::u16string& value);
  // "" (SMTP: the best of PLAIN and LOGIN offered; POP3: USER and PASS), "PLAIN",
  // "LOGIN" or "XOAUTH2", in any case; anything else raises InvalidPropertyValue.
  const std::u16string& AuthMechanism() const { return authMechanism_; }
  void AuthMechanism(const std::u16string& value);
  // Upgrades a plain connection before logging in (SMTP STARTTLS, POP3 STLS).
  bool StartTLS() const { return startTls_; }
  void StartTLS(bool on);
  // "" (the host's 8-bit character set) or "UTF-8", in any case; anything else
  // raises InvalidPropertyValue.
  const std::u16string& Charset() const { return charset_; }
  void Charset(const std::u16string& value);
  bool SendsUtf8() const { return !charset_.empty(); }

  // --- POP3 (pop3/). Message numbers go to the server as given.
  bool POP3Login();
  bool POP3Logout();
  bool Reset();
  int16_t MailBoxCount() const { return mailBoxCount_; }
  int32_t MailBoxSize() const { return mailBoxSize_; }
  int32_t Size(int16_t& Index);
  std::u16string Retrieve(int16_t& Index);
  // Retrieve into storage the caller chose; it is left empty on failure.
  void Retrieve(int16_t& Index, AnswerStorage& message);
  bool Delete(int16_t& Index);
  // The message's unique id (UIDL), "" when the server keeps none.
  std::u16string UniqueId(int16_t& Index);
  // The message's headers and first `Lines` lines of its body (TOP), read like Retrieve.
  std::u16string Top(int16_t& Index, int16_t& Lines);
  void Top(int16_t& Index, int16_t& Lines, AnswerStorage& message);

  // A value that the control would write into a command or header line and that
  // holds CR, LF or NUL is refused with error kLineBreakRefused before anything
  // is sent: the logins refuse their host, user and password before connecting,
  // SocketOpen its host, Send its envelope and Subject, SendMime every header
  // value of the composed message (which is kept).
  static constexpr int16_t kLineBreakRefused = 6;

  // Received text beyond the dialogue's limit is refused with this error.
  static constexpr int16_t kTooMuchReceived = Dialogue::kTooMuchReceived;

  // --- SMTP (smtp/).
  bool SMTPLogin();
  bool SMTPLogout();
  bool Send(std::u16string& Recipient, std::u16string& Subject, std::u16string& cc, std::u16string& mail);
  int16_t SendMime();

  // --- The MIME facade (smtp/mime_facade.cpp): the control's own MIME object.
  // The address puts store NormaliseAddress's outcome, or ignore the value.
  const std::u16string& MimeFrom() const { return mimeObj_->From(); }
  void MimeFrom(const std::u16string& value);
  const std::u16string& MimeTo() const { return mimeObj_->Too(); }
  void MimeTo(const std::u16string& value);
  const std::u16string& MimeNotification() const { return mimeObj_->Notification(); }
  void MimeNotification(const std::u16string& value);
  const std::u16string& MimeSubject() const { return mimeObj_->Subject(); }
  void MimeSubject(const std::u16string& value) { mimeObj_->Subject(value); }
  int32_t MimeContentCount() const { return mimeObj_->ContentCount(); }
  std::u16string MimeContentType(int32_t id) const { return mimeObj_->ContentType(id); }
  void MimeContentType(int32_t id, const std::u16string& value) { mimeObj_->ContentType(id, value); }
  std::u16string MimeContentEncoding(int32_t id) const { return mimeObj_->ContentEncoding(id); }
  void MimeContentEncoding(int32_t id, const std::u16string& value) { mimeObj_->ContentEncoding(id, value); }
  void MimeContentAdd(int32_t id, std::u16string s) { mimeObj_->ContentAdd(id, std::move(s)); }
  // Attaches the file's bytes as a base64 part named after the file (or `alias`).
  // A file that can't be read raises a file error naming the path; nothing changes.
  void MimeContentAddFromFile(int32_t id, const std::u16string& file, const std::u16string& alias = u"");

  // --- The control as a raw text socket; -1 success, 0 failure
  int16_t SocketOpen(std::u16string& iP, int16_t& Port);
  int16_t SocketClose();
  std::u16string SocketRead();
  int16_t SocketSend(std::u16string& Mess);

  // --- Text
  std::u16string z_URLEnc_EncodeEx(std::u16string& si, int16_t& mask);

  Mime& MimeObj() { return *mimeObj_; }
  // The command and response engine the operations talk through.
  Dialogue& DialogueObj() { return dialogue_; }

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
  // Refused with code 1 while Busy, or when `refused` (the check of the values
  // it is to send) raised an error; sets Busy.
  bool BeginLogin(std::u16string_view label, const std::function<bool()>& refused = nullptr);
  bool BeginInSession(std::u16string_view label);  // proceeds only while Busy

  // --- State record
  Host& host_;
  ControlEvents& events_;
  std::unique_ptr<Socket> ws_;
  std::unique_ptr<Timer> fsmTimer_;
  Dialogue dialogue_;
  std::unique_ptr<Mime> mimeObj_;

  // Configuration
  std::u16string pop3Host_, pop3User_, pop3Password_, smtpHost_, smtpSender_;
  int32_t pop3Port_ = 0, smtpPort_ = 0;
  int16_t timeout_ = 0;
  bool isSecured_ = false;
  std::u16string smtpUser_, smtpPassword_, authMechanism_, charset_;
  bool startTls_ = false;

  // Status
  bool busy_ = false;
  int16_t errCode_ = 0;
  int16_t mailBoxCount_ = 0;
  int32_t mailBoxSize_ = 0;
  bool pop3SessionActive_ = false;
  bool debug_ = false;
  FieldList tokens_;  // scratch of the reply parsers

 private:
  // The end of a failed login: the socket closed, the control offline.
  bool LoginFailed();
  // Says the lines of a message's text (split at CR LF) dot-stuffed, each waiting
  // for its send to complete: the text whole, or a piece of it at a time. False
  // once the connection is gone. "." ends the text.
  bool SendBody(std::u16string_view body);
  // Says `command` (RETR or TOP) and reads the message it brings, un-stuffed; a
  // "-ERR" gives "" (raising error 5 quoting it when `reportRefusal`).
  void ReadMessage(const std::u16string& command, bool reportRefusal, AnswerStorage& message);

  // --- The extension logins
  // StartTLS asked for on a connection that is not TLS already.
  bool Upgrades() const { return startTls_ && !IsSecured(); }
  // Greeting, EHLO, the upgrade and AUTH, each stopping at a refusal (smtp/).
  bool SubmissionLogin();
  // SASL `mechanism` (PLAIN, LOGIN or XOAUTH2, where the secret is the bearer
  // token) over either protocol; refused credentials raise error 4 (control/sasl.cpp).
  bool Authenticate(Dialogue::Grammar grammar, std::u16string_view mechanism, const std::u16string& user,
                    const std::u16string& secret);
  // Raises error 5: the server does not offer `what`; nothing more is said.
  bool RefuseUnoffered(std::u16string_view what);

  // Raises kLineBreakRefused naming `what` when `value` holds CR, LF or NUL
  // (HoldsLineBreak); a `secret` value is shown masked.
  bool RefuseLineBreak(std::u16string_view what, std::u16string_view value, bool secret = false);

  // SocketEvents
  void SocketError(int16_t number, std::u16string& description) override;
  void DataArrival(int32_t) override { dialogue_.DataArrived(); }
  void Closed() override;
  void SendComplete() override { dialogue_.SendCompleted(); }
  void SendProgress(int32_t, int32_t) override { dialogue_.SendProgressed(); }

  // Dialogue::Owner
  void PumpHost() override { host_.Pump(); }
  double Now() override { return host_.Now(); }
  int16_t WaitSeconds() const override { return timeout_; }
  bool Tracing() const override { return debug_; }
  void TraceLine(std::u16string line) override { Trace(std::move(line)); }
  void Report(int16_t code, std::u16string text) override { RaiseError(code, text); }
  std::u16string ErrorText(int16_t code) const override { return ErrString(code); }
};

}  // namespace corvane
