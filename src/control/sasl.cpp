// SASL authentication for the extension logins: the same mechanisms over POP3
// ("AUTH", "+ " to ask for more, "+OK") and SMTP ("AUTH", 334, 235). Credentials
// go as UTF-8 and never into the trace or an error text.
#include <string>

#include "control/corvane.h"
#include "mime/base64.h"
#include "text/charset.h"

namespace corvane {

namespace {

// Base64 on one line, as SASL carries it.
std::u16string Base64Line(std::string_view bytes) {
  std::u16string text;
  AppendBase64(bytes, text);
  return ReplaceAll(text, u"\r\n", u"");
}

}  // namespace

bool Corvane::Authenticate(Dialogue::Grammar grammar, std::u16string_view mechanism, const std::u16string& user,
                           const std::u16string& secret) {
  using enum Dialogue::Grammar;
  const std::string name = Utf8(user), key = Utf8(secret);
  const std::u16string command = u"AUTH " + std::u16string(mechanism);
  // A positive reply that asks for more is not the end.
  const auto done = [grammar](const std::optional<std::u16string>& reply) {
    return reply && (grammar == kPop3 ? reply->starts_with(u"+OK") : reply->starts_with(u"2"));
  };
  std::optional<std::u16string> reply;
  if (mechanism == u"PLAIN") {
    reply = dialogue_.Exchange(command + u" " + Base64Line(std::string(1, '\0') + name + '\0' + key), grammar, 4,
                               command + u" ****");
  } else if (mechanism == u"LOGIN") {
    reply = dialogue_.Exchange(command, grammar, 4);
    if (reply && !done(reply)) reply = dialogue_.Exchange(Base64Line(name), grammar, 4, u"****");
    if (reply && !done(reply)) reply = dialogue_.Exchange(Base64Line(key), grammar, 4, u"****");
  } else {
    reply = dialogue_.Exchange(command + u" " + Base64Line("user=" + name + "\1auth=Bearer " + key + "\1\1"),
                               grammar, 4, command + u" ****");
    // A refused token comes back as a request carrying the server's reasons; an
    // empty line ends the exchange, with the refusal.
    if (reply && !done(reply)) reply = dialogue_.Exchange(u"", grammar, 4);
  }
  if (done(reply)) return true;
  if (reply) {
    int16_t code = 5;
    std::u16string text = ErrString(5) + u": the server asked for more after " + command + u" was complete";
    RaiseError(code, text);
  }
  return false;
}

bool Corvane::RefuseUnoffered(std::u16string_view what) {
  int16_t code = 5;
  std::u16string text = ErrString(5) + u": the server does not offer " + std::u16string(what) +
                        u"; nothing more was sent";
  RaiseError(code, text);
  return false;
}

}  // namespace corvane
