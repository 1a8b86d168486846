// Retrieve with the server's answer cut into arbitrary pieces, the status line
// whole in the first: the same text as when it comes in one piece, and both as
// the plain rule gives it.
#include "oracle.h"
#include "peer.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// The answer up to the CR LF before the first CR LF "." CR LF, dots unstuffed;
// "" when the first piece holds "-ERR" or the terminator never comes.
std::u16string RetrieveNaive(const std::u16string& text, const std::u16string& first) {
  const size_t end = text.find(u"\r\n.\r\n");
  if (first.find(u"-ERR") != std::u16string::npos || end == std::u16string::npos) return u"";
  return ReplaceNaive(text.substr(0, end + 2), u"\r\n..", u"\r\n.");
}

std::u16string Retrieve(const std::vector<std::u16string>& pieces, int16_t index) {
  testing::ScriptedControl c;
  c.Connect();
  c.control.BeginLogin(u"");
  PiecesPeer peer(c);
  peer.Say(pieces);
  const std::u16string got = c.control.Retrieve(index);
  FUZZ_CHECK(c.socket.sent.front() == u"RETR " + DecimalText(index) + u"\r\n");
  FUZZ_CHECK(c.control.ErrCode() == (got.empty() && pieces.front().find(u"-ERR") == std::u16string::npos ? 5 : 0));
  return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const auto index = in.ConsumeIntegral<int16_t>();
  const std::u16string status = Widen(in.ConsumeRandomLengthString(40));
  const std::u16string text = status + u"\r\n" + Widen(in.ConsumeRandomLengthString(3000));
  const std::vector<std::u16string> pieces = Cut(text, text.find(u"\r\n") + 2, in);

  const std::u16string whole = Retrieve({text}, index);
  const std::u16string cut = Retrieve(pieces, index);
  if (whole != RetrieveNaive(text, text) || cut != RetrieveNaive(text, pieces.front())) {
    Show("whole", whole);
    Show("cut", cut);
    Show("expected", RetrieveNaive(text, pieces.front()));
    std::abort();
  }
  return 0;
}
