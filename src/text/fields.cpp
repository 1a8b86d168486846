#include "text/fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "control/errors.h"

namespace corvane {

int32_t FindDelimiter(int32_t start, std::u16string_view text, std::u16string_view delimiter) {
  if (text.size() > kLongestText) throw AutomationError(ErrorNumber::OutOfMemory);
  const auto notFound = static_cast<int32_t>(text.size()) + 1;
  if (start < 1) start = 1;
  if (start > static_cast<int32_t>(text.size())) return notFound;
  const size_t at = text.find(delimiter, static_cast<size_t>(start - 1));
  return at == std::u16string_view::npos ? notFound : static_cast<int32_t>(at) + 1;
}

size_t FindText(std::u16string_view text, std::u16string_view pattern, size_t from) {
  const size_t m = pattern.size();
  if (m < 2 || m > 255) return text.find(pattern, from);
  if (from > text.size() || text.size() - from < m) return std::u16string_view::npos;
  // How far a place may move on when its last character has low byte b: the
  // least distance from a character of the pattern with that low byte to its end.
  uint8_t shift[256];
  std::fill(std::begin(shift), std::end(shift), static_cast<uint8_t>(m));
  for (size_t k = 0; k + 1 < m; ++k) {
    uint8_t& s = shift[pattern[k] & 0xFF];
    s = std::min(s, static_cast<uint8_t>(m - 1 - k));
  }
  const char16_t last = pattern[m - 1];
  const std::u16string_view head = pattern.substr(0, m - 1);
  for (size_t at = from; text.size() - at >= m;) {
    const char16_t c = text[at + m - 1];
    if (c == last && text.substr(at, m - 1) == head) return at;
    at += shift[c & 0xFF];
  }
  return std::u16string_view::npos;
}

void SplitFields(std::u16string_view text, FieldList& fields, std::u16string_view delimiter) {
  // Positions are 32-bit: beyond an automation string's length they would wrap.
  if (text.size() > kLongestText || delimiter.size() > kLongestText) throw AutomationError(ErrorNumber::OutOfMemory);
  fields.assign(1, std::u16string());
  const auto length = static_cast<int32_t>(text.size());
  const auto d = static_cast<int32_t>(delimiter.size());
  int32_t p = 0;  // last character of the previous delimiter
  int32_t e = FindDelimiter(1, text, delimiter);
  while (p <= length) {
    fields.emplace_back(text.substr(static_cast<size_t>(p), static_cast<size_t>(e - p - 1)));
    p = e + d - 1;
    e = FindDelimiter(e + d, text, delimiter);
  }
}

namespace {
constexpr std::u16string_view kLineBreaking(u"\r\n\0", 3);
}  // namespace

bool HoldsLineBreak(std::u16string_view value) { return value.find_first_of(kLineBreaking) != value.npos; }

std::optional<std::u16string> LineBreakRefusal(std::u16string_view what, std::u16string_view value,
                                               std::u16string_view outcome, bool secret) {
  if (!HoldsLineBreak(value)) return std::nullopt;
  std::u16string shown;
  for (const char16_t c : value) {
    if (c == u'\r') shown += u"%0D";
    else if (c == u'\n') shown += u"%0A";
    else if (c == u'\0') shown += u"%00";
    else shown += secret ? u'*' : c;
  }
  const bool breaks = value.find_first_of(u"\r\n") != value.npos;
  return std::u16string(what) + (breaks ? u" holds a line break and " : u" holds a NUL character and ") +
         std::u16string(outcome) + u": '" + shown + u"'";
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view find,
                          std::u16string_view replacement) {
  FieldList fields;
  SplitFields(text, fields, find);
  std::u16string result = fields[1];
  for (size_t k = 2; k < fields.size(); ++k) {
    result += replacement;
    result += fields[k];
  }
  return result;
}

namespace {

// Roughly the power of ten of a non-zero number written as [sign]digits[.digits][e[sign]digits]:
// negative for numbers below 1, positive for numbers of two digits and more.
long decimalMagnitude(const std::string& number) {
  const size_t exponentAt = number.find('e');
  const std::string mantissa = number.substr(0, exponentAt);
  long exponent = 0;
  if (exponentAt != std::string::npos) {
    const char* first = number.data() + exponentAt + 1;
    if (*first == '+') ++first;
    if (std::from_chars(first, number.data() + number.size(), exponent).ec != std::errc())
      exponent = number[exponentAt + 1] == '-' ? -100000 : 100000;
  }
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  const size_t leading = mantissa.find_first_of("123456789");
  const long position = leading < point ? static_cast<long>(point - leading) - 1
                                        : -static_cast<long>(leading - point);
  // The position is bounded by the text's length, the exponent is not: beyond a
  // long, the exponent's sign decides.
  long magnitude = 0;
  return __builtin_add_overflow(position, exponent, &magnitude) ? exponent : magnitude;
}

}  // namespace

double ReadNumber(std::u16string_view field) {
  // Gather the characters that form the number, dropping the skipped whitespace,
  // then convert them with from_chars, which no locale can change.
  std::string number;
  auto skipped = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; };
  size_t i = 0;
  auto next = [&]() -> char16_t {
    while (i < field.size() && skipped(field[i])) ++i;
    return i < field.size() ? field[i] : u'\0';
  };
  auto takeDigits = [&] {
    bool any = false;
    for (char16_t c = next(); c >= u'0' && c <= u'9'; c = next(), any = true) {
      number += static_cast<char>(c);
      ++i;
    }
    return any;
  };
  if (char16_t c = next(); c == u'+' || c == u'-') {
    number += static_cast<char>(c);
    ++i;
  }
  bool digits = takeDigits();
  if (next() == u'.') {
    number += '.';
    ++i;
    digits = takeDigits() || digits;
  }
  if (!digits) return 0;
  if (char16_t c = next(); c == u'e' || c == u'E') {
    const size_t mark = i;
    const size_t kept = number.size();
    number += 'e';
    ++i;
    if (char16_t s = next(); s == u'+' || s == u'-') {
      number += static_cast<char>(s);
      ++i;
    }
    if (!takeDigits()) {  // "12e" or "12e+": the exponent is not part of the number
      number.resize(kept);
      i = mark;
    }
  }
  const bool negative = number[0] == '-';
  const char* first = number.data() + (number[0] == '-' || number[0] == '+' ? 1 : 0);
  double value = 0;
  if (std::from_chars(first, number.data() + number.size(), value).ec == std::errc::result_out_of_range) {
    // Beyond a double: too small reads as 0, too large fits no target.
    value = decimalMagnitude(number) < 0 ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

namespace {
template <class Int>
Int roundInto(double value) {
  const double rounded = std::nearbyint(value);  // the default mode rounds halves to even
  if (!(rounded >= std::numeric_limits<Int>::min() && rounded <= std::numeric_limits<Int>::max()))
    throw AutomationError(ErrorNumber::Overflow);
  return static_cast<Int>(rounded);
}
}  // namespace

int16_t ReadInt16(std::u16string_view field) { return roundInto<int16_t>(ReadNumber(field)); }
int32_t ReadInt32(std::u16string_view field) { return roundInto<int32_t>(ReadNumber(field)); }

std::u16string DecimalText(int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

const std::u16string& FieldAt(const FieldList& fields, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= fields.size())
    throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  return fields[static_cast<size_t>(index)];
}

}  // namespace corvane
