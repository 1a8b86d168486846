// The C++ face of the control: conversions at the edges and the mapping of the
// control's failure values, events and raised errors to results.
#include "cpp/corvane.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include "control/corvane.h"
#include "control/errors.h"
#include "posix/posix_host.h"
#include "text/charset.h"

namespace corvane::cpp {

namespace {

// Bytes to and from the control's text: one character per byte in the host's
// character set (ISO-8859-1 natively, so every byte comes back as it went in).
std::u16string Text(std::string_view bytes) { return hostCharset().fromBytes(bytes); }
std::string Bytes(std::u16string_view text) { return hostCharset().toBytes(text); }

// UTF-8 as UTF-16: paths, which the control opens through std::filesystem (UTF-8
// on POSIX again), and the text of messages sent as UTF-8. A byte that starts no
// valid sequence becomes U+FFFD, so such a path names no file rather than another.
std::u16string Utf8Text(std::string_view utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                          : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    size_t taken = 1;
    while (taken < length && i + taken < utf8.size() && (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) == 0x80)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + taken++]) & 0x3F);
    const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
    if (length == 0 || taken < length || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      text += u'\uFFFD';
      i += taken;
      continue;
    }
    if (c >= 0x10000) {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
    i += taken;
  }
  return text;
}

// A number for a 16-bit argument, refused the way automation refuses one that
// does not fit.
int16_t Narrow(int value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
    throw AutomationError(ErrorNumber::Overflow);
  return static_cast<int16_t>(value);
}

std::u16string HostPort(const Server& server) {
  return Text(server.port == 0 ? server.host : server.host + ":" + std::to_string(server.port));
}

// The control's "host:port" (the port only when set).
Server SplitHostPort(const std::u16string& value) {
  const std::string bytes = Bytes(value);
  const size_t colon = bytes.find(':');
  Server server{bytes.substr(0, colon), 0};
  if (colon != std::string::npos) std::from_chars(bytes.data() + colon + 1, bytes.data() + bytes.size(), server.port);
  return server;
}

}  // namespace

struct Client::Impl : ControlEvents {
  explicit Impl(std::unique_ptr<Host> ownHost) : host(std::move(ownHost)), control(*host, *this) {
    control.InitProperties();
  }

  // Runs one member: `call` gives its result, or Failed() for its failure value.
  // An error the control raises becomes the result; what a call nested in an
  // event handler reports stays that call's own.
  template <class Call>
  auto Run(Call call) -> decltype(call()) {
    std::optional<cpp::Error> outer = std::exchange(reported, std::nullopt);
    struct Restore {
      Impl& impl;
      std::optional<cpp::Error>& outer;
      ~Restore() { impl.reported = std::move(outer); }
    } restore{*this, outer};
    try {
      return call();
    } catch (const AutomationError& raised) {
      return cpp::Error{cpp::Error::Kind::Raised, static_cast<int>(raised.number()), raised.what()};
    }
  }

  // The text of a message: bytes in the host's character set, or UTF-8 when the
  // control sends UTF-8.
  std::u16string MessageText(std::string_view bytes) const {
    return control.SendsUtf8() ? Utf8Text(bytes) : Text(bytes);
  }
  std::string MessageBytes(std::u16string_view text) const {
    return control.SendsUtf8() ? Utf8(text) : Bytes(text);
  }

  // Why the running member returned its failure value.
  cpp::Error Failed(std::string_view member) const {
    if (reported) return *reported;
    return {cpp::Error::Kind::Silent, 0, std::string(member) + " failed; the control reported no error"};
  }

  Status Check(bool succeeded, std::string_view member) const {
    return succeeded ? Status() : Status(Failed(member));
  }

  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    const cpp::Error error{cpp::Error::Kind::Reported, code, Bytes(text)};
    if (!reported) reported = error;
    if (onError) onError(error);
    cancel = !messageBoxes;
  }

  void Debugger(std::u16string& info) override {
    if (onTrace) onTrace(Bytes(info));
  }

  // Declared in this order so the control goes first and its handlers last.
  std::unique_ptr<Host> host;
  ErrorHandler onError;
  TraceHandler onTrace;
  bool messageBoxes = false;
  std::optional<cpp::Error> reported;  // the first error of the running call
  Corvane control;
};

Client::Client() : Client(std::make_unique<PosixHost>()) {}

Client::Client(std::unique_ptr<Host> host) : impl_(std::make_unique<Impl>(std::move(host))) {}

Client::~Client() = default;
Client::Client(Client&&) noexcept = default;
Client& Client::operator=(Client&&) noexcept = default;

Status Client::configure(const Settings& settings) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Status {
    impl.control.POP3host(HostPort(settings.pop3));
    impl.control.POP3user(Text(settings.user));
    impl.control.POP3password(Text(settings.password));
    impl.control.SMTPhost(HostPort(settings.smtp));
    impl.control.SMTPsender(Text(settings.sender));
    impl.control.Timeout(static_cast<int16_t>(std::clamp<int>(settings.timeout, INT16_MIN, INT16_MAX)));
    impl.control.IsSecured(settings.tls);
    impl.control.SMTPuser(Text(settings.smtp_user));
    impl.control.SMTPpassword(Text(settings.smtp_password));
    impl.control.AuthMechanism(Text(settings.auth));
    impl.control.StartTLS(settings.starttls);
    impl.control.Charset(Text(settings.charset));
    return {};
  });
}

Settings Client::settings() const {
  const Corvane& control = impl_->control;
  return {SplitHostPort(control.POP3host()), Bytes(control.POP3user()), Bytes(control.POP3password()),
          SplitHostPort(control.SMTPhost()), Bytes(control.SMTPsender()), control.Timeout(), control.IsSecured(),
          Bytes(control.SMTPuser()), Bytes(control.SMTPpassword()), Bytes(control.AuthMechanism()),
          control.StartTLS(), Bytes(control.Charset())};
}

void Client::on_error(ErrorHandler handler) { impl_->onError = std::move(handler); }

void Client::on_trace(TraceHandler handler) {
  impl_->onTrace = std::move(handler);
  impl_->control.Debug_(static_cast<bool>(impl_->onTrace));
}

void Client::message_boxes(bool on) { impl_->messageBoxes = on; }

bool Client::busy() const { return impl_->control.Busy(); }
bool Client::pop3_session_active() const { return impl_->control.POP3SessionActive(); }
int Client::error_code() const { return impl_->control.ErrCode(); }

// --- POP3

Result<Mailbox> Client::pop3_login() {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<Mailbox> {
    if (!impl.control.POP3Login()) return impl.Failed("POP3Login");
    return mailbox();
  });
}

Status Client::pop3_logout() {
  return impl_->Run([&] { return impl_->Check(impl_->control.POP3Logout(), "POP3Logout"); });
}

Status Client::reset() {
  return impl_->Run([&] { return impl_->Check(impl_->control.Reset(), "Reset"); });
}

Mailbox Client::mailbox() const { return {impl_->control.MailBoxCount(), impl_->control.MailBoxSize()}; }

Result<int32_t> Client::size(int index) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<int32_t> {
    int16_t n = Narrow(index);
    const int32_t bytes = impl.control.Size(n);
    if (bytes == 0) return impl.Failed("Size");
    return bytes;
  });
}

Result<std::string> Client::retrieve(int index) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<std::string> {
    int16_t n = Narrow(index);
    const std::u16string message = impl.control.Retrieve(n);
    if (message.empty()) return impl.Failed("Retrieve");
    return Bytes(message);
  });
}

Status Client::remove(int index) {
  Impl& impl = *impl_;
  return impl.Run([&] {
    int16_t n = Narrow(index);
    return impl.Check(impl.control.Delete(n), "Delete");
  });
}

Result<std::string> Client::unique_id(int index) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<std::string> {
    int16_t n = Narrow(index);
    const std::u16string id = impl.control.UniqueId(n);
    if (impl.reported) return *impl.reported;  // "" is also a message without an id
    return Bytes(id);
  });
}

Result<std::string> Client::top(int index, int lines) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<std::string> {
    int16_t n = Narrow(index), count = Narrow(lines);
    const std::u16string message = impl.control.Top(n, count);
    if (message.empty()) return impl.Failed("Top");
    return Bytes(message);
  });
}

// --- SMTP

Status Client::smtp_login() {
  return impl_->Run([&] { return impl_->Check(impl_->control.SMTPLogin(), "SMTPLogin"); });
}

Status Client::smtp_logout() {
  return impl_->Run([&] { return impl_->Check(impl_->control.SMTPLogout(), "SMTPLogout"); });
}

Status Client::send(const PlainMessage& message) {
  Impl& impl = *impl_;
  return impl.Run([&] {
    std::u16string to = impl.MessageText(message.to), subject = impl.MessageText(message.subject),
                   cc = impl.MessageText(message.cc), body = impl.MessageText(message.body);
    return impl.Check(impl.control.Send(to, subject, cc, body), "Send");
  });
}

Status Client::send_mime() {
  return impl_->Run([&] { return impl_->Check(impl_->control.SendMime() == -1, "SendMime"); });
}

// --- MIME

Client::Mime Client::mime() { return Mime(*impl_); }

void Client::Mime::from(std::string_view address) { impl_->control.MimeFrom(impl_->MessageText(address)); }
std::string Client::Mime::from() const { return impl_->MessageBytes(impl_->control.MimeFrom()); }
void Client::Mime::to(std::string_view addresses) { impl_->control.MimeTo(impl_->MessageText(addresses)); }
std::string Client::Mime::to() const { return impl_->MessageBytes(impl_->control.MimeTo()); }
void Client::Mime::notification(std::string_view address) {
  impl_->control.MimeNotification(impl_->MessageText(address));
}
std::string Client::Mime::notification() const { return impl_->MessageBytes(impl_->control.MimeNotification()); }
void Client::Mime::subject(std::string_view subject) { impl_->control.MimeSubject(impl_->MessageText(subject)); }
std::string Client::Mime::subject() const { return impl_->MessageBytes(impl_->control.MimeSubject()); }
int32_t Client::Mime::count() const { return impl_->control.MimeContentCount(); }

Status Client::Mime::add(int32_t id, std::string_view data) {
  return impl_->Run([&]() -> Status {
    impl_->control.MimeContentAdd(id, impl_->MessageText(data));
    return {};
  });
}

Status Client::Mime::add_file(int32_t id, std::string_view path, std::string_view alias) {
  return impl_->Run([&]() -> Status {
    impl_->control.MimeContentAddFromFile(id, Utf8Text(path), impl_->MessageText(alias));
    return {};
  });
}

void Client::Mime::type(int32_t id, std::string_view type) { impl_->control.MimeContentType(id, Text(type)); }
std::string Client::Mime::type(int32_t id) const { return Bytes(impl_->control.MimeContentType(id)); }
void Client::Mime::encoding(int32_t id, std::string_view encoding) {
  impl_->control.MimeContentEncoding(id, Text(encoding));
}
std::string Client::Mime::encoding(int32_t id) const { return Bytes(impl_->control.MimeContentEncoding(id)); }

// --- Raw socket

Status Client::socket_open(std::string_view host, uint16_t port) {
  Impl& impl = *impl_;
  return impl.Run([&] {
    std::u16string ip = Text(host);
    int16_t port16 = static_cast<int16_t>(port);  // above 32767: the negative 16-bit form the control takes
    return impl.Check(impl.control.SocketOpen(ip, port16) == -1, "SocketOpen");
  });
}

Status Client::socket_close() {
  return impl_->Run([&] { return impl_->Check(impl_->control.SocketClose() == -1, "SocketClose"); });
}

Result<std::string> Client::socket_read() {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<std::string> {
    const std::u16string text = impl.control.SocketRead();
    if (impl.reported) return *impl.reported;  // nothing marks a failed read but its report
    return Bytes(text);
  });
}

Status Client::socket_send(std::string_view bytes) {
  Impl& impl = *impl_;
  return impl.Run([&] {
    std::u16string text = Text(bytes);
    return impl.Check(impl.control.SocketSend(text) == -1, "SocketSend");
  });
}

Result<std::string> Client::percent_encode(std::string_view text, int mask) {
  Impl& impl = *impl_;
  return impl.Run([&]() -> Result<std::string> {
    std::u16string si = Text(text);
    int16_t mask16 = Narrow(mask);
    return Bytes(impl.control.z_URLEnc_EncodeEx(si, mask16));
  });
}

Corvane& Client::control() { return impl_->control; }

}  // namespace corvane::cpp
