#include "text/percent.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_charset.h"

namespace corvane {
namespace {

using testing_support::kEuro;
using testing_support::kYDiaeresis;
using testing_support::WindowsLikeHostCharset;

std::u16string Encode(std::u16string si, int16_t mask) { return z_URLEnc_EncodeEx(si, mask); }

constexpr int16_t kMasks[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 16, -1, -8, 0x7FF8, 0x4003};

TEST(PercentEncoding, EachClassAloneAndOnlyItsMask) {
  const std::u16string control = {0, 9, 15, 16, 31, 127, 128, 255}, unsafe = u" <>\"#%{}|\\~^[]`", reserved = u";/?:@=&";
  const std::u16string others = u"+-._!$'()*,09AZaz";
  EXPECT_EQ(Encode(control, 1), u"%00%09%0F%10%1F%7F%80%FF");
  EXPECT_EQ(Encode(unsafe, 2), u"%20%3C%3E%22%23%25%7B%7D%7C%5C%7E%5E%5B%5D%60");
  EXPECT_EQ(Encode(reserved, 4), u"%3B%2F%3F%3A%40%3D%26");
  EXPECT_EQ(Encode(others, 7), others);
  EXPECT_EQ(EscapeText(control + unsafe + reserved + others, 7), Encode(control + unsafe + reserved + others, 7));
  EXPECT_EQ(Encode(control + unsafe, 4), control + unsafe);
  EXPECT_EQ(Encode(unsafe + reserved, 1), unsafe + reserved);
  EXPECT_EQ(Encode(control + reserved, 2), control + reserved);
  EXPECT_EQ(Encode(control + unsafe + reserved, -8), control + unsafe + reserved);  // bits other than 1, 2, 4
}

TEST(PercentEncoding, WorkedExample) {
  const std::u16string text = u"a b/c?\r\n";
  const std::pair<int16_t, std::u16string_view> table[] = {
      {0, u"a b/c?\r\n"},
      {1, u"a b/c?%0D%0A"},
      {2, u"a%20b/c?\r\n"},
      {3, u"a%20b/c?%0D%0A"},
      {4, u"a b%2Fc%3F\r\n"},
      {7, u"a%20b%2Fc%3F%0D%0A"},
  };
  for (const auto& [mask, result] : table) {
    EXPECT_EQ(Encode(text, mask), result) << "mask " << mask;
    EXPECT_EQ(EscapeText(text, mask), result) << "mask " << mask;
  }
}

TEST(PercentEncoding, PercentAndPlus) {
  EXPECT_EQ(Encode(u"100%", 2), u"100%25");
  EXPECT_EQ(Encode(u"100%", 1), u"100%");
  EXPECT_EQ(Encode(u"100%", 4), u"100%");
  EXPECT_EQ(Encode(u"a+b c", 7), u"a+b%20c");
  EXPECT_EQ(Encode(u"a+b c", 5), u"a+b c");
}

TEST(PercentEncoding, NothingIsLostAtTheEnd) {
  const std::u16string crlfs = u"\r\n\r\n\r\n\r\n\r\n";
  EXPECT_EQ(Encode(crlfs, 1), u"%0D%0A%0D%0A%0D%0A%0D%0A%0D%0A");
  const std::u16string highs(1000, u'\u00FF');
  std::u16string expected;
  for (int i = 0; i < 1000; ++i) expected += u"%FF";
  EXPECT_EQ(Encode(highs, 3), expected);
  EXPECT_EQ(EscapeText(highs, 3), expected);
  EXPECT_EQ(Encode(u"x?", 4), u"x%3F");
}

TEST(PercentEncoding, EmptyTextGivesEmptyText) {
  for (int16_t mask : kMasks) {
    std::u16string si;
    EXPECT_EQ(z_URLEnc_EncodeEx(si, mask), u"");
    EXPECT_EQ(si, u"");
    EXPECT_EQ(EscapeText(u"", mask), u"");
  }
}

TEST(TraceEscape, ShowsControlAndUnsafeCharactersButKeepsReservedOnes) {
  EXPECT_EQ(TraceEscape(u"\r\n"), u"%0D%0A");
  EXPECT_EQ(TraceEscape(u"+OK"), u"+OK");
  EXPECT_EQ(TraceEscape(u" "), u"%20");
  EXPECT_EQ(TraceEscape(u"+OK user@host: a=b;c/d?&\r\n"), u"+OK%20user@host:%20a=b;c/d?&%0D%0A");
  EXPECT_EQ(TraceEscape(u""), u"");
}

TEST(HexDigits, UpperCaseWithoutLeadingZeros) {
  EXPECT_EQ(HexDigits(0), u"0");
  EXPECT_EQ(HexDigits(9), u"9");
  EXPECT_EQ(HexDigits(10), u"A");
  EXPECT_EQ(HexDigits(16), u"10");
  EXPECT_EQ(HexDigits(255), u"FF");
  EXPECT_EQ(HexDigits(4096), u"1000");
  EXPECT_EQ(HexDigits(0x7FFF), u"7FFF");
}

TEST(HexDigits, NegativeValuesCountFrom65536) {
  EXPECT_EQ(HexDigits(-1), u"FFFF");
  EXPECT_EQ(HexDigits(-256), u"FF00");
  EXPECT_EQ(HexDigits(INT16_MIN), u"8000");
}

TEST(PutEscape, WritesTheEscapeAndLeavesThePositionOnItsLastCharacter) {
  std::vector<uint8_t> buffer(10, '.');
  size_t position = 2;
  PutEscape(position, buffer.data(), 10, "%0");
  EXPECT_EQ(position, 4u);
  PutEscape(++position, buffer.data(), 233, "%");
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "..%0A%E9..");
}

class PercentEncodingOnWindowsLikeHost : public testing::Test {
  WindowsLikeHostCharset charset_;
};

TEST_F(PercentEncodingOnWindowsLikeHost, TestsTheByteOfTheHostCharacterSet) {
  const std::u16string text = {kEuro, u'5', kYDiaeresis};
  EXPECT_EQ(Encode(text, 1), u"%805%9F");
  EXPECT_EQ(EscapeText(text, 1), u"%805%9F");
  EXPECT_EQ(TraceEscape(text), u"%805%9F");
  // Latin-1 characters that share their code with the byte are unaffected.
  EXPECT_EQ(Encode(u"\u00E9", 1), u"%E9");
}

TEST_F(PercentEncodingOnWindowsLikeHost, UnescapedBytesComeBackAsTheirCharacters) {
  std::u16string si = {kEuro, u' ', kYDiaeresis};
  EXPECT_EQ(z_URLEnc_EncodeEx(si, 2), (std::u16string{kEuro, u'%', u'2', u'0', kYDiaeresis}));
  EXPECT_EQ(si, (std::u16string{kEuro, u' ', kYDiaeresis}));
}

TEST_F(PercentEncodingOnWindowsLikeHost, CharacterWithoutAByteBecomesTheSubstitute) {
  std::u16string si = u"a\u0080b";
  EXPECT_EQ(z_URLEnc_EncodeEx(si, 1), u"a?b");
  EXPECT_EQ(si, u"a?b");  // handed back through the character set
  EXPECT_EQ(Encode(u"\u0080", 4), u"%3F");
  // The character-wise twin keeps a character it does not escape as it stood.
  EXPECT_EQ(EscapeText(u"a\u0080b", 1), u"a\u0080b");
}

TEST(PercentEncodingOnLatin1Host, CharacterBeyondLatin1BecomesTheSubstitute) {
  std::u16string si = u"\u4E2D=";
  EXPECT_EQ(z_URLEnc_EncodeEx(si, 4), u"%3F%3D");
  EXPECT_EQ(si, u"?=");
  // The installed set is gone again once its guard is: 0x80 is a control code.
  { WindowsLikeHostCharset windows; }
  EXPECT_EQ(EscapeText(u"\u0080", 1), u"%80");
  EXPECT_EQ(Encode(std::u16string(1, kEuro), 0), u"?");
}

}  // namespace
}  // namespace corvane
