#include "text/percent.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "test_charset.h"

namespace corvane {
namespace {

using testing_support::kEuro;
using testing_support::kYDiaeresis;
using testing_support::HostCharsetFor;

std::string Row(std::u16string_view text) { return testing::PrintToString(std::u16string(text)); }

// Each row on ISO-8859-1 or the Windows-like host: what the encoder gives, what it
// hands back in its argument (nothing: the text) and what the character-wise twin
// gives (nothing: the same).
TEST(PercentEncoding, EncoderAndCharacterTwinByMaskAndHost) {
  const std::u16string control = {0, 9, 15, 16, 31, 127, 128, 255}, unsafe = u" <>\"#%{}|\\~^[]`",
                       reserved = u";/?:@=&", others = u"+-._!$'()*,09AZaz", ex = u"a b/c?\r\n", euro(1, kEuro);
  const struct {
    bool windowsLike;
    std::u16string text;
    int16_t mask;
    std::u16string encoded;
    std::optional<std::u16string> handedBack = {}, escaped = {};
  } rows[] = {
      {false, control, 1, u"%00%09%0F%10%1F%7F%80%FF"}, {false, reserved, 4, u"%3B%2F%3F%3A%40%3D%26"},
      {false, unsafe, 2, u"%20%3C%3E%22%23%25%7B%7D%7C%5C%7E%5E%5B%5D%60"}, {false, others, 7, others},
      {false, control + unsafe, 4, control + unsafe}, {false, unsafe + reserved, 1, unsafe + reserved},
      {false, control + reserved, 2, control + reserved},
      {false, control + unsafe + reserved, -8, control + unsafe + reserved},  // bits other than 1, 2, 4
      {false, ex, 0, ex}, {false, ex, 1, u"a b/c?%0D%0A"}, {false, ex, 2, u"a%20b/c?\r\n"},
      {false, ex, 3, u"a%20b/c?%0D%0A"}, {false, ex, 4, u"a b%2Fc%3F\r\n"}, {false, ex, 7, u"a%20b%2Fc%3F%0D%0A"},
      {false, u"100%", 2, u"100%25"}, {false, u"100%", 5, u"100%"}, {false, u"a+b c", 7, u"a+b%20c"},
      {false, u"\r\n\r\n\r\n", 1, u"%0D%0A%0D%0A%0D%0A"}, {false, u"x?", 4, u"x%3F"}, {false, u"", -1, u""},
      // the byte of the host's set is tested and escaped; Latin-1 shares its codes
      {true, {kEuro, u'5', kYDiaeresis, u'\u00E9'}, 1, u"%805%9F%E9"},
      {true, {kEuro, u' ', kYDiaeresis}, 2, {kEuro, u'%', u'2', u'0', kYDiaeresis}},
      // a character without a byte becomes the substitute, which the twin keeps
      {true, u"a\u0080b", 1, u"a?b", u"a?b", u"a\u0080b"}, {true, u"\u0080", 4, u"%3F", u"?"},
      {false, u"\u0080", 1, u"%80"}, {false, u"\u4E2D=", 4, u"%3F%3D", u"?="}, {false, euro, 0, u"?", u"?", euro}};
  for (const auto& r : rows) {
    SCOPED_TRACE(Row(r.text) + " mask " + std::to_string(r.mask) + (r.windowsLike ? " windows-like" : ""));
    HostCharsetFor host(r.windowsLike);
    std::u16string si = r.text;
    EXPECT_EQ(z_URLEnc_EncodeEx(si, r.mask), r.encoded);
    EXPECT_EQ(si, r.handedBack.value_or(r.text));
    EXPECT_EQ(EscapeText(r.text, r.mask), r.escaped.value_or(r.encoded));
  }
}

TEST(TraceEscape, ShowsControlAndUnsafeCharactersButKeepsReservedOnes) {
  const struct { bool windowsLike; std::u16string_view text, shown; } rows[] = {
      {false, u"\r\n", u"%0D%0A"}, {false, u"", u""}, {true, u"\u20AC5\u0178", u"%805%9F"},
      {false, u"+OK user@host: a=b;c/d?&\r\n", u"+OK%20user@host:%20a=b;c/d?&%0D%0A"}};
  for (const auto& r : rows) {
    HostCharsetFor host(r.windowsLike);
    EXPECT_EQ(TraceEscape(r.text), r.shown) << Row(r.text);
  }
}

TEST(HexDigits, UpperCaseWithoutLeadingZerosNegativesFrom65536) {
  const std::pair<int16_t, std::u16string_view> rows[] = {{0, u"0"}, {9, u"9"}, {10, u"A"}, {16, u"10"},
      {255, u"FF"}, {4096, u"1000"}, {0x7FFF, u"7FFF"}, {-1, u"FFFF"}, {-256, u"FF00"}, {INT16_MIN, u"8000"}};
  for (const auto& [value, digits] : rows) EXPECT_EQ(HexDigits(value), digits) << value;
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

}  // namespace
}  // namespace corvane
