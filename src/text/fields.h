#pragma once
// Taking server replies apart: fields split at a delimiter, and numbers read from
// fields. Positions are 1-based; comparison is exact and case-sensitive.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The longest text the control makes or takes, in characters: what one automation
// string holds. Longer inputs are refused with the out-of-memory error.
inline constexpr size_t kLongestText = 0x3FFFFFFF;

// Element 0 is not a field (it starts empty and callers may use it); the fields
// are elements 1 to size() - 1, and a split always yields at least one.
using FieldList = std::vector<std::u16string>;

// Where `delimiter` next begins at or after `start`, or text.size() + 1.
int32_t FindDelimiter(int32_t start, std::u16string_view text, std::u16string_view delimiter);

// As text.find(pattern, from), but it looks at the last character of each place
// the pattern could end and skips past characters the pattern does not hold: on
// long text and a short pattern of rare characters (a line end, a terminator) it
// reads a fraction of the text, and never more than text.size() * pattern.size().
size_t FindText(std::u16string_view text, std::u16string_view pattern, size_t from = 0);

// Replaces the whole of `fields` with the fields of `text`: m delimiters give
// m + 1 fields, empty ones included. The delimiter must not be empty; a text
// beyond kLongestText raises out of memory.
void SplitFields(std::u16string_view text, FieldList& fields, std::u16string_view delimiter);

// `text` with every non-overlapping occurrence of `find`, left to right, replaced.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view find,
                          std::u16string_view replacement);

// A value that goes into a command or header line must hold no CR or LF, which
// would end its line early and start another, and no NUL, which would cut it
// short on the way out.
bool HoldsLineBreak(std::u16string_view value);

// For such a value, the text that reports it: `what`, the fault, `outcome` ("was
// not sent") and the value with CR, LF and NUL shown as %0D, %0A and %00, every
// other character as "*" when it is `secret`. Nothing for a value that may go.
std::optional<std::u16string> LineBreakRefusal(std::u16string_view what, std::u16string_view value,
                                               std::u16string_view outcome, bool secret = false);

// A field read as a decimal number: blanks, tabs and line feeds are skipped
// wherever they stand, then a sign, digits, a fraction and an exponent are read up
// to the first character that cannot continue the number; no number reads as 0.
double ReadNumber(std::u16string_view field);

// ReadNumber rounded half to even into the target width; a value that does not
// fit raises the overflow error.
int16_t ReadInt16(std::u16string_view field);
int32_t ReadInt32(std::u16string_view field);

// The decimal form of a number: a minus sign for negatives, no leading zeros.
std::u16string DecimalText(int64_t value);

// The character with a-z made A-Z, for matching protocol words in any case.
constexpr char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

// Whether `a` and `b` are the same but for the case of a-z: protocol words, MIME
// names and saved words compare this way.
inline bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

// fields[index], or the subscript-out-of-range error for a field the list lacks.
const std::u16string& FieldAt(const FieldList& fields, int32_t index);

}  // namespace corvane
