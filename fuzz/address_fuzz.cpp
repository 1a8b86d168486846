// The envelope of SendMime and the facade's address rule: arbitrary From and Too
// values, and a message whose lines need dot-stuffing, through the control on the
// scripted host against a server that accepts everything.
#include "control/errors.h"
#include "oracle.h"
#include "peer.h"
#include "smtp/mime_facade.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

void CheckAddressRule(testing::ScriptedControl& c, const std::u16string& value) {
  const size_t blank = value.rfind(u' ');
  const std::u16string word = blank == std::u16string::npos ? value : value.substr(blank + 1);
  const std::u16string before = c.control.MimeNotification();
  const std::optional<std::u16string> stored = NormaliseAddress(value);
  c.control.MimeNotification(value);
  if (word.empty() || word.find(u'@') == std::u16string::npos) {
    FUZZ_CHECK(!stored && c.control.MimeNotification() == before);
    return;
  }
  // The last word ends up in angle brackets, what stands before it unchanged,
  // and a stored value is its own normal form.
  const bool bracketed = word.front() == u'<' && word.back() == u'>';
  FUZZ_CHECK(stored && *stored == value.substr(0, value.size() - word.size()) + (bracketed ? word : u"<" + word + u">"));
  FUZZ_CHECK(c.control.MimeNotification() == *stored && NormaliseAddress(*stored) == stored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string from = Widen(in.ConsumeRandomLengthString(60));
  const std::u16string too = Widen(in.ConsumeRandomLengthString(80));
  const std::u16string body = Widen(in.ConsumeRandomLengthString(400));

  testing::ScriptedControl c;
  CheckAddressRule(c, from);
  CheckAddressRule(c, too);
  c.Connect();
  c.control.BeginLogin(u"");
  PiecesPeer peer(c);
  bool inData = false;
  peer.answer = [&](const std::u16string& line) -> std::u16string {
    if (inData) {
      inData = line != u".\r\n";
      return inData ? u"" : u"250 queued\r\n";
    }
    inData = line == u"DATA\r\n";
    return inData ? u"354 go on\r\n" : u"250 ok\r\n";
  };
  Mime& mime = c.control.MimeObj();
  mime.From(from);
  mime.Too(too);
  mime.ContentAdd(1, body);
  std::u16string message;
  if (BreaksItsLine(from) || BreaksItsLine(too)) {
    // Refused whole, before anything is made or sent; the composition is kept.
    bool refused = false;
    try {
      mime.GenerateMime(message);
    } catch (const AutomationError& e) {
      refused = e.number() == ErrorNumber::InvalidArgument;
    }
    FUZZ_CHECK(refused && message.empty());
    FUZZ_CHECK(c.control.SendMime() == 0 && c.control.ErrCode() == Corvane::kLineBreakRefused);
    FUZZ_CHECK(c.socket.sent.empty() && mime.From() == from && mime.ContentCount() == 1);
    return 0;
  }
  mime.GenerateMime(message);

  // The sender: From from its first "<" to its first ">"; none when there is no
  // "<", or a ">" stands more than one place before it.
  const size_t open = from.find(u'<'), close = from.find(u'>');
  const long length =
      close == std::u16string::npos ? -static_cast<long>(open) : static_cast<long>(close) - static_cast<long>(open) + 1;
  int16_t result = 0;
  try {
    result = c.control.SendMime();
  } catch (const AutomationError& e) {
    FUZZ_CHECK(e.number() == ErrorNumber::InvalidArgument && (open == std::u16string::npos || length < 0));
    FUZZ_CHECK(c.socket.sent.empty() && mime.From() == from && mime.ContentCount() == 1);
    return 0;
  }
  FUZZ_CHECK(open != std::u16string::npos && length >= 0);
  FUZZ_CHECK(mime.From().empty() && mime.ContentCount() == 0);  // sent or not, each message goes once
  const std::u16string sender = from.substr(open, static_cast<size_t>(length));
  const std::vector<std::u16string> recipients = too.empty() ? std::vector<std::u16string>{} : SplitNaive(too, u",");
  std::vector<std::u16string> expected = {u"MAIL FROM:" + sender + u"\r\n"};
  for (const std::u16string& r : recipients) expected.push_back(u"RCPT TO: " + r + u"\r\n");
  expected.push_back(u"DATA\r\n");
  // A dot opening a line, or standing behind a bare CR or LF, is doubled.
  for (const std::u16string& line : SplitNaive(message, u"\r\n")) {
    std::u16string stuffed;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == u'.' && (i == 0 || line[i - 1] == u'\r' || line[i - 1] == u'\n')) stuffed += u'.';
      stuffed += line[i];
    }
    expected.push_back(stuffed + u"\r\n");
  }
  expected.push_back(u".\r\n");
  FUZZ_CHECK(result == -1 && c.control.ErrCode() == 0 && c.socket.sent == expected);
  return 0;
}
