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

// Undoes dot-stuffing of `text` in place, every CR LF ".." becoming CR LF ".":
// the length of what is left.
size_t Unstuff(char16_t* text, size_t length);

// The size a status line announces ("+OK 1234 octets"), 0 when it names none: a
// hint for storage, never trusted beyond it.
size_t AnnouncedSize(std::u16string_view status);

}  // namespace corvane
