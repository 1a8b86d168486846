#include "pop3/reply.h"

#include <algorithm>

namespace corvane {

MailboxCounters ReadCounters(std::u16string_view reply, FieldList& fields) {
  SplitFields(reply, fields, u" ");
  // Both read before either is stored, so a bad reply changes neither.
  const int16_t count = ReadInt16(FieldAt(fields, 2));
  return {count, ReadInt32(FieldAt(fields, 3))};
}

size_t AnnouncedSize(std::u16string_view statusLine) {
  statusLine = statusLine.substr(0, statusLine.find(u'\n'));
  const size_t blank = statusLine.find(u' ');
  if (blank == std::u16string_view::npos) return 0;
  const double size = ReadNumber(statusLine.substr(blank + 1));
  return size >= 1 && size < 1e15 ? static_cast<size_t>(size) : 0;
}

void UndoDotStuffing(std::u16string& text) {
  static constexpr std::u16string_view kStuffed = u"\r\n..";
  size_t found = FindText(text, kStuffed);
  if (found == std::u16string::npos) return;
  // Moves each stretch between stuffed dots back over the dots dropped so far.
  size_t write = found + 3;  // keeps CR LF "." of the first one
  size_t read = found + 4;
  auto moveBack = [&](size_t end) {
    write = static_cast<size_t>(std::copy(text.begin() + read, text.begin() + end, text.begin() + write) - text.begin());
  };
  while ((found = FindText(text, kStuffed, read)) != std::u16string::npos) {
    moveBack(found + 3);
    read = found + 4;
  }
  moveBack(text.size());
  text.resize(write);
}

}  // namespace corvane
