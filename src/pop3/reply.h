#pragma once
// Reading POP3 replies: the counters of a status line and a multi-line answer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The first `length` characters of `pieces` joined, with dot-stuffing undone
// (every CR LF ".." becomes CR LF "."), in storage of their size; each piece is
// emptied once copied, so the text is held about once, never twice.
std::u16string JoinUnstuffed(std::vector<std::u16string>& pieces, size_t length);

}  // namespace corvane
