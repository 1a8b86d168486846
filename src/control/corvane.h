#pragma once
// The Corvane control: its state record, the members a host calls, error
// reporting and tracing. The transport (socket layer and command engine) and the
// protocol operations are members too, defined in their own folders.
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

  // --- POP3 (pop3/). Message numbers go to the server as given.
  bool POP3Login();
  bool POP3Logout();
  bool Reset();
  int16_t MailBoxCount() const { return mailBoxCount_; }
  int32_t MailBoxSize() const { return mailBoxSize_; }
  int32_t Size(int16_t& Index);
  std::u16string Retrieve(int16_t& Index);
  bool Delete(int16_t& Index);

  // A value that the control would write into a command or header line and that
  // holds CR, LF or NUL is refused with error kLineBreakRefused before anything
  // is sent: the logins refuse their host, user and password before connecting,
  // SocketOpen its host, Send its envelope and Subject, SendMime every header
  // value of the composed message (which is kept).
  static constexpr int16_t kLineBreakRefused = 6;

  // --- SMTP (smtp/).
  // Received text is held up to kLongestReceived characters (a reply, a message
  // being retrieved, what SocketRead gathers): beyond it the text is dropped, the
  // connection closed and error kTooMuchReceived raised, so a server that sends
  // without end can't exhaust the host's memory.
  static constexpr size_t kLongestReceived = size_t{1} << 27;
  static constexpr int16_t kTooMuchReceived = 7;
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

  // --- Command engine
  void Say(const std::u16string& line, bool waitSent);
  // `timeout` -1 stands for Timeout (and is replaced in the caller's variable);
  // 0 means no time limit. LastReply holds what was received. `report` false
  // keeps a failure silent.
  bool WaitFor(const std::u16string& expected, int16_t& timeout, bool report = true);
  void WaitClose();
  // Says `command` + LineEnd (not waiting for the send) and waits for `expected`
  // with the default time-out: one step of a dialogue.
  bool Ask(const std::u16string& command, const std::u16string& expected);
  // As Ask, then waits on to the end of the line that holds `expected`.
  bool AskForLine(const std::u16string& command, const std::u16string& expected);
  // Ends a session: QUIT, its reply and the server's close when connected (whether
  // QUIT was acknowledged), else just closes (no value).
  std::optional<bool> Quit(const std::u16string& expected);
  // Waits for `expected` with the default time-out.
  bool Await(const std::u16string& expected);

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
  size_t longestReceived_ = kLongestReceived;  // lowered by tests

 private:
  // One wait's lifetime (engine.cpp). A host may call the control again from an
  // event while a wait pumps, and that call may wait in turn: the outer wait's
  // countdown keeps counting meanwhile and gets back its value and its timer
  // afterwards, and beyond kDeepestWait nested waits no longer pump, so a host
  // that re-enters from every event can't grow the stack without end.
  class WaitScope;
  static constexpr size_t kDeepestWait = 8;
  std::vector<int16_t> outerTicks_;  // the countdowns of the running waits, outermost first
  // Why received text was refused: it went past longestReceived_, or the process
  // had no memory left for it.
  enum class Overflow { kNone, kTooLong, kOutOfMemory };
  Overflow overflow_ = Overflow::kNone;
  // After the first Timeout seconds, a multi-line answer must average at least
  // this many characters a second: each line restarts a wait's countdown, so a
  // server that trickles a line every Timeout - 1 seconds would otherwise hold
  // the call for ever, while a healthy slow one is far faster.
  static constexpr double kSlowestAnswer = 1024;

  void TimerTick();
  bool TimeIsUp() const { return ticksLeft_ < 1; }
  // Loads the countdown with Timeout and starts the timer.
  void StartCountdown();
  // Takes what the socket holds into RecvBuffer, if connected.
  void TakeData();
  // Appends to RecvBuffer, or drops it all once it would pass longestReceived_.
  void Collect(const std::u16string& text);
  // Reports (when `report`) the refused received text and closes the connection.
  void RefuseReceived(bool report = true);
  // Ends a connection whose replies are out of step with its commands, without
  // QUIT: the server then commits nothing of the session, and the next
  // operation fails with the connection's error.
  void AbandonSession();
  // Collects a multi-line answer into `answer`, from LastReply on, waiting for
  // line feeds: the position of its terminator, or npos when a wait failed, the
  // text was refused or it came too slowly. The connection is abandoned then, as
  // the rest of the answer would be taken for later replies. `report` false keeps
  // the failure silent.
  size_t CollectAnswer(std::u16string& answer, bool report);

  // The end of a failed login: the socket closed, the control offline.
  bool LoginFailed();
  // Says the lines of `body` (split at CR LF) dot-stuffed, each waiting for its
  // send to complete, then "." and waits for "250".
  bool SendBody(const std::u16string& body);
  // Raises kLineBreakRefused naming `what` when `value` holds CR, LF or NUL
  // (HoldsLineBreak); a `secret` value is shown masked.
  bool RefuseLineBreak(std::u16string_view what, std::u16string_view value, bool secret = false);

  // SocketEvents
  void SocketError(int16_t number, std::u16string& description) override;
  void DataArrival(int32_t count) override;
  void Closed() override;
  void SendComplete() override;
  void SendProgress(int32_t sent, int32_t remaining) override;
};

}  // namespace corvane
