// Submission of the message composed in the control's own MIME object.
#include "control/corvane.h"
#include "control/errors.h"

namespace corvane {

namespace {

// The envelope sender: From from its first "<" to its first ">", both kept.
std::u16string EnvelopeSender(const std::u16string& from) {
  const size_t open = from.find(u'<');
  const size_t close = from.find(u'>');
  // As 1-based positions, with 0 for "none": the length is close - open + 1.
  const long first = open == std::u16string::npos ? 0 : static_cast<long>(open) + 1;
  const long last = close == std::u16string::npos ? 0 : static_cast<long>(close) + 1;
  if (first == 0 || last - first + 1 < 0)
    throw AutomationError(ErrorNumber::InvalidArgument,
                          "SendMime: the message's From holds no <address> to send from");
  return from.substr(open, static_cast<size_t>(last - first + 1));
}

// Too cut at every ","; an empty Too gives no recipient at all.
FieldList EnvelopeRecipients(const std::u16string& too) {
  FieldList pieces;
  if (too.empty()) return pieces;
  SplitFields(too, pieces, u",");
  pieces.erase(pieces.begin());  // element 0 is not a field
  return pieces;
}

}  // namespace

int16_t Corvane::SendMime() {
  if (!BeginInSession({})) return 0;
  // Refused before anything is made or sent, and kept, to be put right.
  const std::optional<Mime::NamedValue> bad = mimeObj_->UnwritableValue();
  if (bad && RefuseLineBreak(bad->what, bad->value)) return 0;
  // Checked and measured before anything is sent, then written as it goes out:
  // from a copy, as handlers may change the object meanwhile.
  const Mime::Outgoing message(*mimeObj_, SendsUtf8());
  const std::u16string sender = EnvelopeSender(mimeObj_->From());
  const bool sent = [&] {
    if (!dialogue_.Ask(u"MAIL FROM:" + sender, u"250")) return false;
    // Taken once MAIL FROM is accepted; a handler may have changed it meanwhile,
    // so it is checked again.
    const FieldList recipients = EnvelopeRecipients(mimeObj_->Too());
    for (const std::u16string& recipient : recipients)
      if (RefuseLineBreak(u"To", recipient) || !dialogue_.Ask(u"RCPT TO: " + recipient, u"250")) return false;
    if (!dialogue_.Ask(u"DATA", u"354")) return false;
    message.Write([this](std::u16string_view piece) { return SendBody(piece); });
    return dialogue_.Ask(u".", u"250").has_value();
  }();
  // Each composed message is sent at most once, whatever the server said.
  mimeObj_->Clear();
  return sent ? -1 : 0;
}

}  // namespace corvane
