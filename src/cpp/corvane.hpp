#pragma once
// The Corvane control for C++ programs: byte strings instead of UTF-16, values
// instead of by-reference outputs, results instead of error codes, callbacks for
// the events and the settings as one struct. Every call goes to the control
// (control/corvane.h) on the POSIX host; nothing here decides anything itself.
//
//   corvane::cpp::Client mail;
//   (void)mail.configure({.pop3 = {"127.0.0.1", 110}, .user = "u1", .password = "pw"});
//   if (auto box = mail.pop3_login()) std::printf("%d messages\n", box.value().count);
//   else std::printf("%s\n", box.error().text.c_str());
//
// Strings are bytes: what reaches the wire (settings, addresses, subjects, bodies,
// raw socket text) goes out byte for byte, and what comes back arrives as the
// server sent it, so UTF-8 stays UTF-8. Only file paths are read as UTF-8 text,
// and with charset "UTF-8" the text of messages (send(), mime()): the control then
// sends it as UTF-8 with the labels that say so.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace corvane {
class Corvane;
class Host;
}  // namespace corvane

namespace corvane::cpp {

// Why a call failed.
struct Error {
  enum class Kind {
    Reported,  // the control reported it (ErrCode and its Error event): the first of the call
    Raised,    // the control refused the call: a bad argument, a number too large, a file error
    Silent,    // the member returned its failure value and reported nothing
  };
  Kind kind = Kind::Silent;
  int code = 0;      // ErrCode, a socket's error number, or an automation error number
  std::string text{};  // as the event carried it, or the raised error's description
};

// value() or error() asked of a result that holds the other.
class BadResultAccess : public std::logic_error {
 public:
  explicit BadResultAccess(const char* what) : std::logic_error(what) {}
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  const T& value() const& { return std::get<0>(checked(true)); }
  T&& value() && { return std::get<0>(std::move(checked(true))); }
  T value_or(T fallback) const& { return ok() ? std::get<0>(state_) : std::move(fallback); }
  const Error& error() const { return std::get<1>(checked(false)); }

 private:
  const std::variant<T, Error>& checked(bool wantValue) const {
    if (ok() != wantValue) throw BadResultAccess(wantValue ? "the call failed: no value" : "the call succeeded: no error");
    return state_;
  }
  std::variant<T, Error>& checked(bool wantValue) {
    std::as_const(*this).checked(wantValue);
    return state_;
  }
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  void value() const {
    if (error_) throw BadResultAccess("the call failed");
  }
  const Error& error() const {
    if (!error_) throw BadResultAccess("the call succeeded: no error");
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

using Status = Result<void>;

struct Server {
  std::string host{};  // a name or an address, without ":"
  int port = 0;      // 0: the protocol's default (POP3 110, with tls 995; SMTP 25, with tls 465)
};

struct Settings {
  Server pop3{};           // POP3host
  std::string user{};      // POP3user
  std::string password{};  // POP3password
  Server smtp{};           // SMTPhost
  std::string sender{};    // SMTPsender: MAIL FROM of send(), written as given; "" becomes "<>"
  int timeout = 10;      // Timeout: seconds for each wait, 0..60, 0 for no limit
  bool tls = false;      // IsSecured: implicit TLS for every connection
  std::string smtp_user{};      // SMTPuser: when set, smtp_login() authenticates
  std::string smtp_password{};  // SMTPpassword, or the bearer token for "XOAUTH2"; never saved
  std::string auth{};           // AuthMechanism: "", "PLAIN", "LOGIN" or "XOAUTH2"
  bool starttls = false;        // StartTLS: upgrade plain connections before logging in
  std::string charset{};        // Charset: "" (bytes as given) or "UTF-8"
};

// The counters of the last STAT (MailBoxCount, MailBoxSize).
struct Mailbox {
  int count = 0;
  int32_t size = 0;
};

// A message for send(): one header line (Subject) followed by the body as given.
struct PlainMessage {
  std::string to{};       // Recipient: one RCPT TO, as written ("<a@b>")
  std::string cc{};       // more RCPT TO, comma-separated, as written; no Cc header
  std::string subject{};  // Subject
  std::string body{};     // mail: lines separated by CR LF
};

// Classes of bytes that percent_encode escapes; combine with |.
enum Escape : int { kControlBytes = 1, kUnsafe = 2, kReserved = 4 };

class Client {
  struct Impl;

 public:
  using ErrorHandler = std::function<void(const Error& error)>;
  using TraceHandler = std::function<void(std::string_view line)>;

  // A new control (Timeout 10) on a POSIX host of its own.
  Client();
  // The control on a host of the program's own.
  explicit Client(std::unique_ptr<corvane::Host> host);
  ~Client();
  Client(Client&&) noexcept;
  Client& operator=(Client&&) noexcept;

  // --- Settings: every field put through its property (a host whose port
  // does not fit 32 bits is refused with Overflow, the fields before it kept).
  Status configure(const Settings& settings);
  Settings settings() const;

  // --- Events. Every reported error goes to the error handler; the control's
  // message box is shown only when message_boxes(true). Tracing (Debug_) is on
  // while a trace handler is set.
  void on_error(ErrorHandler handler);
  void on_trace(TraceHandler handler);
  void message_boxes(bool on);

  bool busy() const;                 // Busy: a session is open
  bool pop3_session_active() const;  // POP3SessionActive
  int error_code() const;            // ErrCode: the last error; each session call starts at 0

  // --- POP3. Message numbers go to the server as given (up to 32767).
  Result<Mailbox> pop3_login();
  Status pop3_logout();
  Status reset();
  Mailbox mailbox() const;
  Result<int32_t> size(int index);          // 0 is the control's failure value
  Result<std::string> retrieve(int index);  // "+OK ..." status line, then the message
  Status remove(int index);                 // DELE, then STAT refreshes mailbox()
  Result<std::string> unique_id(int index);  // UIDL: "" when the server keeps none
  Result<std::string> top(int index, int lines);  // TOP: like retrieve(), the body cut after `lines`

  // --- SMTP
  Status smtp_login();
  Status smtp_logout();
  Status send(const PlainMessage& message);
  Status send_mime();  // the message composed through mime(); clears it once sent or refused

  // --- The control's MIME members: the one message send_mime() sends.
  class Mime {
   public:
    // Addresses: "a@b" is stored as "<a@b>", "Name a@b" as "Name <a@b>"; a value
    // whose last word holds no "@" changes nothing.
    void from(std::string_view address);
    std::string from() const;
    void to(std::string_view addresses);
    std::string to() const;
    void notification(std::string_view address);
    std::string notification() const;
    void subject(std::string_view subject);
    std::string subject() const;

    int32_t count() const;                                   // the highest part id used
    Status add(int32_t id, std::string_view data);           // "8bit", the default text type if none
    Status add_file(int32_t id, std::string_view path,       // base64, application/octet-stream;
                    std::string_view alias = {});            // name = alias, else the path after its last "\"
    void type(int32_t id, std::string_view type);
    std::string type(int32_t id) const;
    void encoding(int32_t id, std::string_view encoding);
    std::string encoding(int32_t id) const;

   private:
    friend class Client;
    explicit Mime(Impl& impl) : impl_(&impl) {}
    Impl* impl_;
  };
  Mime mime();

  // --- The control as a raw text socket (the control's Timeout bounds each wait).
  Status socket_open(std::string_view host, uint16_t port);
  Status socket_close();
  Result<std::string> socket_read();  // what arrived (may be empty)
  Status socket_send(std::string_view bytes);

  // z_URLEnc_EncodeEx: the bytes of the classes in `mask` as "%XX".
  Result<std::string> percent_encode(std::string_view text, int mask);

  // The control itself, for what this class does not cover.
  corvane::Corvane& control();

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::cpp
