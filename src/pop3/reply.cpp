#include "pop3/reply.h"

#include <algorithm>

namespace corvane {

MailboxCounters ReadCounters(std::u16string_view reply, FieldList& fields) {
  SplitFields(reply, fields, u" ");
  // Both read before either is stored, so a bad reply changes neither.
  const int16_t count = ReadInt16(FieldAt(fields, 2));
  return {count, ReadInt32(FieldAt(fields, 3))};
}

std::u16string JoinUnstuffed(std::vector<std::u16string>& pieces, size_t length) {
  static constexpr std::u16string_view kStuffed = u"\r\n..";
  constexpr size_t keep = kStuffed.size() - 1;  // characters a CR LF ".." may begin in before a piece
  std::u16string text;
  text.reserve(length);
  std::u16string tail;  // the last of them so far, as they came
  size_t taken = 0;
  for (std::u16string& stored : pieces) {
    const std::u16string_view piece = std::u16string_view(stored).substr(0, length - taken);
    taken += piece.size();
    // The dot dropped ends its CR LF "..", so it lies in the piece that completes
    // it; the first search covers what the last piece ended with.
    size_t copied = 0;
    size_t found = FindText(tail + std::u16string(piece.substr(0, keep)), kStuffed);
    if (found < tail.size()) {
      copied = found + keep - tail.size();
      text.append(piece.substr(0, copied++));
    }
    for (; (found = FindText(piece, kStuffed, copied)) != std::u16string_view::npos; copied = found + keep + 1)
      text.append(piece.substr(copied, found + keep - copied));
    text.append(piece.substr(copied));
    tail.append(piece.substr(piece.size() - std::min(piece.size(), keep)));
    tail.erase(0, tail.size() - std::min(tail.size(), keep));
    std::u16string().swap(stored);
  }
  return text;
}
}  // namespace corvane
