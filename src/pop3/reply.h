#pragma once
// Reading POP3 replies: the counters of a status line and a multi-line answer.
#include <cstdint>
#include <string>
#include <string_view>

#include "text/fields.h"

namespace corvane {

// The end of a multi-line answer: CR LF "." CR LF.
inline constexpr std::u16string_view kPop3Terminator = u"\r\n.\r\n";

struct MailboxCounters {
  int16_t count;
  int32_t size;
};

// Fields 2 and 3 of a "+OK count size" reply, split on blanks into `fields`.
// Too few fields raise subscript out of range, numbers too large overflow.
MailboxCounters ReadCounters(std::u16string_view reply, FieldList& fields);

// The size an answer announces in its status line ("+OK 1234 octets"), in
// characters, or 0 when it announces none.
size_t AnnouncedSize(std::u16string_view statusLine);

// Undoes dot-stuffing in place: every CR LF ".." becomes CR LF ".".
void UndoDotStuffing(std::u16string& text);

}  // namespace corvane
