// The SMTP session and the plain send: greeting, HELO, one mail transaction per
// message, QUIT.
#include <algorithm>
#include <optional>

#include "control/corvane.h"
#include "mime/base64.h"
#include "text/charset.h"
#include "text/header_words.h"

namespace corvane {

namespace {

// What follows `keyword` on the EHLO line that names it first ("AUTH PLAIN
// LOGIN" gives " PLAIN LOGIN"), matched in any case; none when no line does.
std::optional<std::u16string> Offered(std::u16string_view ehlo, std::u16string_view keyword) {
  for (size_t start = 0, end; start < ehlo.size(); start = end + 1) {
    end = std::min(ehlo.find(u'\n', start), ehlo.size());
    std::u16string_view line = ehlo.substr(start, end - start);
    if (line.ends_with(u'\r')) line.remove_suffix(1);
    if (line.size() < 4) continue;
    line.remove_prefix(4);  // the code and its separator
    const std::u16string_view word = line.substr(0, keyword.size());
    if (EqualsIgnoringCase(word, keyword) &&
        (line.size() == keyword.size() || line[keyword.size()] == u' ' || line[keyword.size()] == u'='))
      return std::u16string(line.substr(keyword.size()));
  }
  return std::nullopt;
}

// Whether `word` is one of the blank- or "="-separated words of `words`, in any case.
bool HoldsWord(std::u16string_view words, std::u16string_view word) {
  for (size_t start = 0, end; start < words.size(); start = end + 1) {
    end = std::min(words.find_first_of(u" =", start), words.size());
    if (EqualsIgnoringCase(words.substr(start, end - start), word)) return true;
  }
  return false;
}

// What goes after the Subject when the mail is sent as UTF-8: the lines that say
// so, then `mail` as its UTF-8 bytes, one character each in the host's set. Where
// that set can't carry every byte the text after the caller's own header lines
// (those up to the first blank line) goes as base64.
std::u16string Utf8Mail(const std::u16string& mail) {
  const ByteCharset& host = hostCharset();
  std::u16string out = u"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: ";
  if (host.carriesEveryByte() || IsAscii(mail)) return out + u"8bit\r\n" + host.fromBytes(Utf8(mail));
  const size_t blank = mail.starts_with(u"\r\n") ? 0 : mail.find(u"\r\n\r\n");
  const size_t body = blank == mail.npos ? 0 : blank + (blank == 0 ? 2 : 4);
  const std::string bytes = Utf8(std::u16string_view(mail).substr(body));
  out += u"base64\r\n" + host.fromBytes(Utf8(mail.substr(0, body == 0 ? 0 : body - 2))) + u"\r\n";
  AppendBase64(bytes, out);
  return out;
}

}  // namespace

bool Corvane::SMTPLogin() {
  if (!BeginLogin(u"[SMTP logging in]", [this] {
        return RefuseLineBreak(u"SMTPhost", smtpHost_) || RefuseLineBreak(u"SMTPuser", smtpUser_) ||
               RefuseLineBreak(u"SMTPpassword", smtpPassword_, true);
      }))
    return false;
  // Authenticated or upgraded sessions speak EHLO; the plain one stays as it was.
  const bool extended = !smtpUser_.empty() || Upgrades();
  dialogue_.ReadRepliesBy(extended ? std::optional(Dialogue::Grammar::kSmtp) : std::nullopt);
  ws_->Connect(smtpHost_, smtpPort_ != 0 ? smtpPort_ : IsSecured() ? 465 : Upgrades() ? 587 : 25);
  if (extended ? !SubmissionLogin()
               : !dialogue_.Await(u"220") || !dialogue_.Ask(u"HELO " + ws_->LocalHostName(), u"250"))
    return LoginFailed();
  return true;
}

bool Corvane::SubmissionLogin() {
  using enum Dialogue::Grammar;
  const std::u16string ehlo = u"EHLO " + ws_->LocalHostName();
  std::optional<std::u16string> offers;
  if (!dialogue_.ReadReply(kSmtp, 5) || !(offers = dialogue_.Exchange(ehlo, kSmtp, 5))) return false;
  if (Upgrades()) {
    if (!Offered(*offers, u"STARTTLS").has_value()) return RefuseUnoffered(u"STARTTLS");
    // Capabilities said before the upgrade can't be trusted: they are asked again.
    if (!dialogue_.Exchange(u"STARTTLS", kSmtp, 5) || !dialogue_.StartTls() ||
        !(offers = dialogue_.Exchange(ehlo, kSmtp, 5)))
      return false;
  }
  if (smtpUser_.empty()) return true;
  const std::optional<std::u16string> mechanisms = Offered(*offers, u"AUTH");
  std::u16string mechanism = authMechanism_;
  if (mechanism.empty()) {
    for (const std::u16string_view best : {u"PLAIN", u"LOGIN"}) {
      if (mechanisms && HoldsWord(*mechanisms, best)) {
        mechanism = best;
        break;
      }
    }
    if (mechanism.empty()) return RefuseUnoffered(u"AUTH PLAIN or LOGIN");
  } else if (!mechanisms || !HoldsWord(*mechanisms, mechanism)) {
    return RefuseUnoffered(u"AUTH " + mechanism);
  }
  return Authenticate(kSmtp, mechanism, smtpUser_, smtpPassword_);
}

bool Corvane::SMTPLogout() {
  BeginOperation(u"[SMTP logging out]");
  // A connection already gone counts as logged out.
  const bool acknowledged = dialogue_.Quit(u"221").value_or(true);
  busy_ = false;
  return acknowledged;
}

bool Corvane::Send(std::u16string& Recipient, std::u16string& Subject, std::u16string& cc, std::u16string& mail) {
  if (!BeginInSession(u"[SMTP send]")) return false;
  // Recipient first, then every field of cc; an empty cc adds none.
  FieldList recipients;
  SplitFields(cc, recipients, u",");
  if (recipients.size() == 2 && recipients[1].empty()) recipients.resize(1);
  recipients[0] = Recipient;

  if (RefuseLineBreak(u"SMTPsender", smtpSender_) || RefuseLineBreak(u"Subject", Subject)) return false;
  for (size_t k = 0; k < recipients.size(); ++k)
    if (RefuseLineBreak(k == 0 ? u"Recipient" : u"cc", recipients[k])) return false;

  if (!dialogue_.Ask(u"MAIL FROM: " + smtpSender_, u"250")) return false;
  for (const std::u16string& recipient : recipients)
    if (!dialogue_.Ask(u"RCPT TO: " + recipient, u"250")) return false;
  // The Subject line goes out right behind DATA, before the go-ahead is seen.
  dialogue_.Say(u"DATA" + dialogue_.LineEnd(), false);
  dialogue_.Say(u"Subject: " + (SendsUtf8() ? HeaderWords(Subject, 9) : Subject) + dialogue_.LineEnd(), false);
  if (!dialogue_.Await(u"354")) return false;
  SendBody(SendsUtf8() ? Utf8Mail(mail) : mail);
  return dialogue_.Ask(u".", u"250").has_value();
}

bool Corvane::SendBody(std::u16string_view body) {
  const std::u16string& lineEnd = dialogue_.LineEnd();
  std::u16string line;
  for (size_t start = 0;;) {
    const size_t end = std::min(body.find(lineEnd, start), body.size());
    const std::u16string_view text = body.substr(start, end - start);
    // A dot at the start of a line is doubled, and so is one behind a bare CR or
    // LF: a server that takes either for a line end never sees a lone ".".
    line.clear();
    size_t copied = 0;
    for (size_t dot = text.find(u'.'); dot != text.npos; dot = text.find(u'.', dot + 1)) {
      if (dot == 0 || text[dot - 1] == u'\r' || text[dot - 1] == u'\n') {
        line.append(text.substr(copied, dot - copied)).push_back(u'.');
        copied = dot;
      }
    }
    line.append(text.substr(copied)).append(lineEnd);
    dialogue_.Say(line, true);
    if (ws_->State() != Socket::kConnected) return false;
    if (end == body.size()) return true;
    start = end + lineEnd.size();
  }
}

bool Corvane::RefuseLineBreak(std::u16string_view what, std::u16string_view value, bool secret) {
  std::optional<std::u16string> text = LineBreakRefusal(what, value, u"was not sent", secret);
  if (!text) return false;
  int16_t code = kLineBreakRefused;
  RaiseError(code, *text);
  return true;
}

}  // namespace corvane
