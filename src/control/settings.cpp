// The connection settings a host configures: server addresses (each a host with
// an optional ":port"), the POP3 account and the SMTP envelope sender.
#include "control/corvane.h"

namespace corvane {

namespace {

// "host:port" when a port is set, the host alone otherwise.
std::u16string JoinHostPort(const std::u16string& host, int32_t port) {
  return port == 0 ? host : host + u":" + DecimalText(port);
}

// Splits at the first ":"; the port is the number the rest starts with (a
// fraction rounded, no number 0, beyond 32 bits the overflow error, raised
// before anything is stored).
void SplitHostPort(const std::u16string& value, std::u16string& host, int32_t& port) {
  const size_t colon = value.find(u':');
  const int32_t newPort = colon == std::u16string::npos ? 0 : ReadInt32(std::u16string_view(value).substr(colon + 1));
  host = value.substr(0, colon);
  port = newPort;
}

}  // namespace

std::u16string Corvane::POP3host() const { return JoinHostPort(pop3Host_, pop3Port_); }

void Corvane::POP3host(const std::u16string& value) {
  SplitHostPort(value, pop3Host_, pop3Port_);
  host_.PropertyChanged(u"POP3host");
}

std::u16string Corvane::SMTPhost() const { return JoinHostPort(smtpHost_, smtpPort_); }

void Corvane::SMTPhost(const std::u16string& value) {
  SplitHostPort(value, smtpHost_, smtpPort_);
  host_.PropertyChanged(u"SMTPhost");
}

void Corvane::POP3user(const std::u16string& value) {
  pop3User_ = value;
  host_.PropertyChanged(u"POP3user");
}

void Corvane::POP3password(const std::u16string& value) {
  pop3Password_ = value;
  host_.PropertyChanged(u"POP3password");
}

void Corvane::SMTPsender(const std::u16string& value) {
  smtpSender_ = value.empty() ? u"<>" : value;  // the null reverse path
  host_.PropertyChanged(u"SMTPsender");
}

}  // namespace corvane
