#include "pop3/reply.h"

#include <algorithm>
#include <string>

namespace corvane {

MailboxCounters ReadCounters(std::u16string_view reply, FieldList& fields) {
  SplitFields(reply, fields, u" ");
  // Both read before either is stored, so a bad reply changes neither.
  const int16_t count = ReadInt16(FieldAt(fields, 2));
  return {count, ReadInt32(FieldAt(fields, 3))};
}

size_t Unstuff(char16_t* text, size_t length) {
  static constexpr std::u16string_view kStuffed = u"\r\n..";
  const std::u16string_view view(text, length);
  size_t kept = FindText(view, kStuffed);  // the text before `kept` is final
  if (kept == std::u16string::npos) return length;
  size_t from = kept;  // the text from `from` on is still to be moved down to `kept`
  for (size_t found = kept; found != std::u16string::npos; found = FindText(view, kStuffed, from)) {
    const size_t n = found + 3 - from;  // up to and with the dot that stays
    std::char_traits<char16_t>::move(text + kept, text + from, n);
    kept += n;
    from = found + 4;
  }
  std::char_traits<char16_t>::move(text + kept, text + from, length - from);
  return kept + length - from;
}

size_t AnnouncedSize(std::u16string_view status) {
  const size_t ok = status.find(u"+OK ");
  size_t size = 0;
  // Nine digits at most: beyond them it is no size a message can have here.
  for (size_t at = ok + 4; ok != status.npos && at < status.size() && at < ok + 13; ++at) {
    if (status[at] < u'0' || status[at] > u'9') return status.substr(at).starts_with(u" octets") ? size : 0;
    size = size * 10 + (status[at] - u'0');
  }
  return 0;
}

}  // namespace corvane
