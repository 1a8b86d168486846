#include "text/charset.h"

#include <gtest/gtest.h>

#include "test_charset.h"

namespace corvane {
namespace {

using testing_support::kEuro;

// Whole blocks of text are converted apart from the rest: a block whose highest
// character is the first one the set maps elsewhere must still be mapped.
TEST(HostCharset, BlocksMapLikeSingleCharacters) {
  testing_support::WindowsLikeHostCharset host;
  const ByteCharset& set = hostCharset();
  for (const size_t run : {0, 31, 64}) {
    const std::string bytes = std::string(run, 'a') + "\x80\x7F";
    const std::u16string text = std::u16string(run, u'a') + kEuro + u'\x7F';
    EXPECT_EQ(set.fromBytes(bytes), text) << run;
    EXPECT_EQ(set.toBytes(text), bytes) << run;
    EXPECT_EQ(set.toBytes(std::u16string(run, u'a') + u"\u0080\x7F"), std::string(run, 'a') + "?\x7F") << run;
  }
}

// Errors and the C++ facade speak UTF-8: every length of sequence at its edges,
// surrogate pairs joined, a lone surrogate as U+FFFD.
TEST(Utf8, EncodesEachRangeAtItsEdges) {
  const struct { std::u16string text; std::string bytes; } rows[] = {
      {u"\x7F\x80", "\x7F\xC2\x80"}, {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"\uFFFF\U00010000", "\xEF\xBF\xBF\xF0\x90\x80\x80"}, {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {{char16_t(0xDBFF), char16_t(0xDC00)}, "\xF4\x8F\xB0\x80"}, {{char16_t(0xDC00), u'a'}, "\xEF\xBF\xBD" "a"}};
  for (const auto& r : rows) EXPECT_EQ(Utf8(r.text), r.bytes);
}

}  // namespace
}  // namespace corvane
