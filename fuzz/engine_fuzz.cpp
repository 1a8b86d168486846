// The engine's match, and the whole status line read where numbers are read,
// with the server's text cut into arbitrary pieces.
#include "control/errors.h"
#include "oracle.h"
#include "peer.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// WaitFor ends with the first piece after which the text received holds the
// expected text; without one it fails when the server hangs up, quoting the
// last command line's last 200 characters and the reply's first 200.
void Match(FuzzedDataProvider& in) {
  const std::u16string command = Widen(in.ConsumeRandomLengthString(300));
  const std::u16string expected = Widen(in.ConsumeRandomLengthString(6));
  const std::u16string text = Widen(in.ConsumeRandomLengthString(2000));
  if (expected.empty()) return;
  testing::ScriptedControl c;
  c.Connect();
  PiecesPeer peer(c);
  const std::vector<std::u16string> pieces = Cut(text, 0, in);
  peer.Say(pieces);
  Dialogue& dialogue = c.control.DialogueObj();
  dialogue.Say(command + u"\r\n", false);
  int16_t timeout = in.ConsumeBool() ? 0 : -1;
  const bool found = dialogue.WaitFor(expected, timeout);

  std::u16string received;
  for (const std::u16string& piece : pieces) {
    received += piece;
    if (received.find(expected) != std::u16string::npos) break;
  }
  FUZZ_CHECK(found == (text.find(expected) != std::u16string::npos));
  FUZZ_CHECK(dialogue.LastReply() == received && dialogue.Received().empty());
  FUZZ_CHECK(c.control.ErrCode() == (found ? 0 : 5));
  if (!found) {
    const std::u16string said = command.size() > 200 ? command.substr(command.size() - 200) : command;
    FUZZ_CHECK(c.events.errors.back().text == u"Invalid server response: said '" + said + u"', waited '" + expected +
                                                   u"', got '" + received.substr(0, 200) + u"'");
  }
}

// LIST's "+OK n size" line gives the same size, or the same error, however the
// network cut it; text before it may come (the late tail of an earlier reply,
// not read), nothing after it.
void StatusLine(FuzzedDataProvider& in) {
  std::u16string line = Widen(in.ConsumeRandomLengthString(80));
  if (const size_t ok = line.find(u"+OK"); ok != std::u16string::npos) {
    const size_t end = line.find(u'\n', ok);
    if (end == std::u16string::npos)
      line += u"\r\n";
    else
      line.resize(end + 1);
  }
  testing::ScriptedControl c;
  c.Connect();
  c.control.BeginLogin(u"");
  PiecesPeer peer(c);
  peer.Say(Cut(line, 0, in));
  int16_t index = 1;
  std::optional<int64_t> expected = 0;
  ErrorNumber error{};
  if (const size_t ok = line.find(u"+OK"); ok != std::u16string::npos) {
    const std::vector<std::u16string> fields = SplitNaive(line.substr(ok), u" ");
    if (fields.size() < 3) {
      error = ErrorNumber::SubscriptOutOfRange;
    } else if (!(expected = RoundNaive(NumberNaive(fields[2]), INT32_MIN, INT32_MAX))) {
      error = ErrorNumber::Overflow;
    }
  }
  try {
    const int32_t size = c.control.Size(index);
    FUZZ_CHECK(error == ErrorNumber{} && size == *expected);
  } catch (const AutomationError& e) {
    FUZZ_CHECK(e.number() == error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool())
    Match(in);
  else
    StatusLine(in);
  return 0;
}
