#include "mime/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "test_charset.h"

namespace corvane {
namespace {

using testing_support::kEuro;
using testing_support::WindowsLikeHostCharset;

using Bytes = std::vector<uint8_t>;

// A plain bit-by-bit encoder to check the real one against: digits for every six
// bits, "=" up to a multiple of four, then lines of 76 joined by CR LF.
std::u16string ReferenceBase64(const Bytes& bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string digits;
  uint32_t bits = 0;
  int pending = 0;
  for (uint8_t b : bytes) {
    bits = (bits << 8) | b;
    pending += 8;
    while (pending >= 6) {
      pending -= 6;
      digits += static_cast<char16_t>(alphabet[(bits >> pending) & 63]);
    }
  }
  if (pending > 0) digits += static_cast<char16_t>(alphabet[(bits << (6 - pending)) & 63]);
  while (digits.size() % 4 != 0) digits += u'=';
  std::u16string text;
  for (size_t i = 0; i < digits.size(); i += 76) {
    if (i != 0) text += u"\r\n";
    text += digits.substr(i, 76);
  }
  return text;
}

std::u16string Latin1Text(const Bytes& bytes) { return std::u16string(bytes.begin(), bytes.end()); }

std::u16string Encode(std::u16string_view input) {
  std::u16string output = u"left over from before";
  EncodeBase64(input, output);
  return output;
}

// Every way into the encoder, each writing into a buffer with guard cells after
// the expected length, must give the same text.
void ExpectAllEncodersGive(const Bytes& bytes, const std::u16string& expected) {
  constexpr size_t guard = 8;
  ASSERT_EQ(Base64Length(bytes.size()), expected.size());
  const std::u16string text = Latin1Text(bytes);
  EXPECT_EQ(Encode(text), expected);

  std::vector<char> narrow(expected.size() + guard, '#');
  EncodeBase64Bytes(bytes.data(), bytes.size(), narrow.data());
  EXPECT_EQ(std::u16string(narrow.begin(), narrow.end() - guard), expected);
  EXPECT_EQ(std::string(narrow.end() - guard, narrow.end()), std::string(guard, '#'));

  std::vector<char16_t> wide(expected.size() + guard, u'#');
  EncodeBase64Bytes(bytes.data(), bytes.size(), wide.data());
  EXPECT_EQ(std::u16string(wide.begin(), wide.end() - guard), expected);
  EXPECT_EQ(std::u16string(wide.end() - guard, wide.end()), std::u16string(guard, u'#'));

  std::fill(wide.begin(), wide.end(), u'#');
  EncodeBase64Text(text, wide.data());
  EXPECT_EQ(std::u16string(wide.begin(), wide.end() - guard), expected);
  EXPECT_EQ(std::u16string(wide.end() - guard, wide.end()), std::u16string(guard, u'#'));
}

Bytes RandomBytes(size_t size, std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(byte(random));
  return bytes;
}

TEST(EncodeBase64, KnownTexts) {
  EXPECT_EQ(Encode(u""), u"");
  EXPECT_EQ(Encode(u"M"), u"TQ==");
  EXPECT_EQ(Encode(u"Ma"), u"TWE=");
  EXPECT_EQ(Encode(u"Man"), u"TWFu");
  EXPECT_EQ(Encode(u"abc"), u"YWJj");
  EXPECT_EQ(Encode(u"Hello"), u"SGVsbG8=");
  EXPECT_EQ(Encode(u"foobar"), u"Zm9vYmFy");
  EXPECT_EQ(Encode(u"fooba"), u"Zm9vYmE=");
}

TEST(EncodeBase64, NulAndHighBytesAreBytesLikeAnyOther) {
  EXPECT_EQ(Encode(std::u16string(5, u'\0')), u"AAAAAAA=");
  EXPECT_EQ(Encode(std::u16string(1, u'\0')), u"AA==");
  EXPECT_EQ(Encode(u"\u00FF\u00FE\u00FD"), u"//79");
  EXPECT_EQ(Encode(u"\u00FB\u00FF"), u"+/8=");
  EXPECT_EQ(Encode(std::u16string{u'a', u'\0', u'b'}), u"YQBi");
}

TEST(EncodeBase64, LinesHold76CharactersWithCrLfOnlyBetweenThem) {
  const struct {
    size_t bytes;
    size_t length;
    size_t lines;
  } cases[] = {{0, 0, 0}, {1, 4, 1}, {2, 4, 1}, {3, 4, 1}, {57, 76, 1}, {58, 82, 2},
               {114, 154, 2}, {115, 160, 3}, {171, 232, 3}, {172, 238, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Base64Length(c.bytes), c.length);
    const std::u16string text = Encode(std::u16string(c.bytes, u'a'));
    ASSERT_EQ(text.size(), c.length);
    size_t lines = 0;
    for (size_t at = 0; at < text.size(); at += 78, ++lines) {
      const std::u16string_view rest = std::u16string_view(text).substr(at);
      if (rest.size() > 76) {
        EXPECT_EQ(rest.substr(76, 2), u"\r\n");
      } else {
        EXPECT_EQ(rest.find_first_of(u"\r\n"), std::u16string_view::npos);
      }
    }
    EXPECT_EQ(lines, c.lines);
  }
  EXPECT_EQ(Encode(std::u16string(58, u'a')).substr(76), u"\r\nYQ==");
  EXPECT_EQ(Encode(std::u16string(115, u'a')).substr(154), u"\r\nYQ==");
  EXPECT_EQ(Encode(std::u16string(114, u'a')).substr(74, 6), u"Fh\r\nYW");
}

TEST(EncodeBase64, AgreesWithReferenceOnEveryByteValue) {
  Bytes all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
  ExpectAllEncodersGive(all, ReferenceBase64(all));
  ExpectAllEncodersGive(Bytes(all.rbegin(), all.rend()), ReferenceBase64(Bytes(all.rbegin(), all.rend())));
}

TEST(EncodeBase64, AgreesWithReferenceOnRandomDataOfManyLengths) {
  std::mt19937 random(20240607);
  std::vector<size_t> sizes;
  for (size_t n = 0; n <= 240; ++n) sizes.push_back(n);
  for (size_t n : {1023, 1024, 1025, 4095, 4096, 4097, 14591, 14592, 14593, 29184, 65535, 65536, 65537, 100003})
    sizes.push_back(n);
  for (size_t n : sizes) {
    SCOPED_TRACE(n);
    const Bytes bytes = RandomBytes(n, random);
    ExpectAllEncodersGive(bytes, ReferenceBase64(bytes));
    if (HasFailure()) break;
  }
}

TEST(EncodeBase64OnWindowsLikeHost, EncodesTheHostByteOfEachCharacter) {
  WindowsLikeHostCharset charset;
  const std::u16string text = {kEuro, u'a', u'\u00E9'};  // bytes 0x80 0x61 0xE9
  EXPECT_EQ(Encode(text), u"gGHp");
  std::u16string out(4, u'#');
  EncodeBase64Text(text, out.data());
  EXPECT_EQ(out, u"gGHp");
}

TEST(EncodeBase64OnWindowsLikeHost, CharacterWithoutAByteIsStillOneByte) {
  WindowsLikeHostCharset charset;
  const std::u16string text = u"\u0080\u4E2Dxyz\uFFFF";
  const std::u16string encoded = Encode(text);
  EXPECT_EQ(encoded.size(), Base64Length(text.size()));
  std::u16string out(Base64Length(text.size()), u'#');
  EncodeBase64Text(text, out.data());
  EXPECT_EQ(out, encoded);
}

}  // namespace
}  // namespace corvane
