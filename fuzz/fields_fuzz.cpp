// Reply fields and the number rule: FindDelimiter, SplitFields, ReplaceAll and
// ReadNumber/ReadInt16/ReadInt32 against their plain statements.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <limits>

#include "control/errors.h"
#include "oracle.h"
#include "text/fields.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

void CheckFind(std::u16string_view text, std::u16string_view delimiter, int32_t start) {
  const int32_t at = FindDelimiter(start, text, delimiter);
  const auto size = static_cast<int32_t>(text.size());
  int32_t naive = size + 1;
  for (int32_t p = std::max(start, 1); p <= size; ++p)
    if (text.substr(static_cast<size_t>(p - 1)).starts_with(delimiter)) {
      naive = p;
      break;
    }
  FUZZ_CHECK(at == naive);
}

void CheckSplit(std::u16string_view text, std::u16string_view delimiter) {
  FieldList fields = {u"left", u"over", u"from before"};
  SplitFields(text, fields, delimiter);
  FUZZ_CHECK(fields.size() >= 2 && fields[0].empty());
  // The fields joined by the delimiter give the text back, none holds the
  // delimiter, and m non-overlapping delimiters give m + 1 fields.
  std::u16string joined = fields[1];
  for (size_t k = 2; k < fields.size(); ++k) joined += std::u16string(delimiter) + fields[k];
  FUZZ_CHECK(joined == text);
  for (size_t k = 1; k < fields.size(); ++k) FUZZ_CHECK(fields[k].find(delimiter) == std::u16string::npos);
  size_t m = 0;
  for (size_t at = text.find(delimiter); at != std::u16string_view::npos; at = text.find(delimiter, at + delimiter.size())) ++m;
  FUZZ_CHECK(fields.size() == m + 2);
}

template <class Int>
void CheckInt(Int (*read)(std::u16string_view), std::u16string_view field, double value) {
  const auto expected = RoundNaive(value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max());
  try {
    const Int got = read(field);
    FUZZ_CHECK(expected && got == *expected);
  } catch (const AutomationError& e) {
    FUZZ_CHECK(!expected && e.number() == ErrorNumber::Overflow);
  }
}

void CheckNumber(std::u16string_view field) {
  const double got = ReadNumber(field);
  const double expected = NumberNaive(field);
  // A result beyond a double's normal range may read as 0 or as its subnormal.
  if (std::fabs(expected) < DBL_MIN)
    FUZZ_CHECK(std::fabs(got) < DBL_MIN);
  else
    FUZZ_CHECK(got == expected);
  CheckInt<int16_t>(ReadInt16, field, expected);
  CheckInt<int32_t>(ReadInt32, field, expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string delimiter = Widen(in.ConsumeRandomLengthString(3));
  const int32_t start = in.ConsumeIntegralInRange<int32_t>(-2, 300);
  const int64_t value = in.ConsumeIntegral<int64_t>() >> 11;  // exact as a double
  const std::u16string text = Widen(in.ConsumeRemainingBytesAsString());

  CheckNumber(text);
  if (const auto at = text.find(u' '); at != std::u16string::npos) CheckNumber(std::u16string_view(text).substr(at + 1));
  // Decimal forms read back as the same number.
  FUZZ_CHECK(ReadNumber(DecimalText(value)) == static_cast<double>(value));

  if (delimiter.empty()) return 0;  // every caller passes a fixed, non-empty one
  CheckFind(text, delimiter, start);
  CheckSplit(text, delimiter);
  const std::u16string replacement = delimiter.size() > 1 ? delimiter.substr(1) + u"#" : u"";
  FUZZ_CHECK(ReplaceAll(text, delimiter, replacement) == ReplaceNaive(text, delimiter, replacement));
  return 0;
}
