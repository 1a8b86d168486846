// The connection settings a host configures: server addresses (each a host with
// an optional ":port"), the POP3 account and the SMTP envelope sender.
#include "control/corvane.h"

#include <algorithm>
#include <initializer_list>

#include "control/errors.h"
#include "text/charset.h"

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

// `value` when it is one of `allowed` (matched in any case), in its listed
// spelling; anything else is refused before it is stored.
std::u16string OneOf(std::u16string_view what, const std::u16string& value,
                     std::initializer_list<std::u16string_view> allowed) {
  for (std::u16string_view name : allowed)
    if (EqualsIgnoringCase(value, name)) return std::u16string(name);
  throw AutomationError(ErrorNumber::InvalidPropertyValue,
                        Utf8(what) + ": '" + Utf8(value) + "' is not a value it takes");
}

std::u16string Mechanism(const std::u16string& value) {
  return OneOf(u"AuthMechanism", value, {u"", u"PLAIN", u"LOGIN", u"XOAUTH2"});
}

std::u16string CharsetName(const std::u16string& value) { return OneOf(u"Charset", value, {u"", u"UTF-8"}); }

}  // namespace

// The keys, their types and defaults, in the one order both directions use.
// Hosts are saved without their ports; the time-out goes under "TimeOut". The
// extension keys follow, present only when changed, so an instance that never
// used them saves what it always did. The SMTP password is never saved: a saved
// form is a file anyone with the program can read.
void Corvane::ReadProperties(PropertyBag& bag) {
  pop3Host_ = bag.ReadString(u"POP3host", u"");
  pop3Port_ = bag.ReadInt32(u"POP3port", 0);
  pop3User_ = bag.ReadString(u"POP3user", u"");
  pop3Password_ = bag.ReadString(u"POP3password", u"");
  smtpHost_ = bag.ReadString(u"SMTPhost", u"");
  smtpPort_ = bag.ReadInt32(u"SMTPport", 0);
  smtpSender_ = bag.ReadString(u"SMTPsender", u"<>");  // an empty one stays empty
  const int16_t seconds = bag.ReadInt16(u"TimeOut", 10);
  if (seconds < 0 || seconds > 60)
    throw AutomationError(ErrorNumber::InvalidPropertyValue,
                          "Saved setting TimeOut: " + std::to_string(seconds) + " is not between 0 and 60");
  timeout_ = seconds;
  IsSecured(bag.ReadBool(u"IsSecured", false));
  smtpUser_ = bag.ReadString(u"SMTPuser", u"");
  authMechanism_ = Mechanism(bag.ReadString(u"AuthMechanism", u""));
  startTls_ = bag.ReadBool(u"StartTLS", false);
  charset_ = CharsetName(bag.ReadString(u"Charset", u""));
}

void Corvane::WriteProperties(PropertyBag& bag) const {
  bag.Write(u"POP3host", pop3Host_, u"");
  bag.Write(u"POP3port", pop3Port_, 0);
  bag.Write(u"POP3user", pop3User_, u"");
  bag.Write(u"POP3password", pop3Password_, u"");
  bag.Write(u"SMTPhost", smtpHost_, u"");
  bag.Write(u"SMTPport", smtpPort_, 0);
  bag.Write(u"SMTPsender", smtpSender_, u"<>");
  bag.Write(u"TimeOut", timeout_, int16_t{10});
  bag.Write(u"IsSecured", isSecured_, false);
  bag.Write(u"SMTPuser", smtpUser_, u"");
  bag.Write(u"AuthMechanism", authMechanism_, u"");
  bag.Write(u"StartTLS", startTls_, false);
  bag.Write(u"Charset", charset_, u"");
}

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

void Corvane::SMTPuser(const std::u16string& value) {
  smtpUser_ = value;
  host_.PropertyChanged(u"SMTPuser");
}

void Corvane::SMTPpassword(const std::u16string& value) {
  smtpPassword_ = value;
  host_.PropertyChanged(u"SMTPpassword");
}

void Corvane::AuthMechanism(const std::u16string& value) {
  authMechanism_ = Mechanism(value);
  host_.PropertyChanged(u"AuthMechanism");
}

void Corvane::StartTLS(bool on) {
  startTls_ = on;
  host_.PropertyChanged(u"StartTLS");
}

void Corvane::Charset(const std::u16string& value) {
  charset_ = CharsetName(value);
  host_.PropertyChanged(u"Charset");
}

}  // namespace corvane
