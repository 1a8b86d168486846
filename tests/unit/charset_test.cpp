#include "text/charset.h"

#include <gtest/gtest.h>

#include "mime/base64.h"
#include "test_charset.h"
#include "text/header_words.h"

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
  for (const auto& r : rows) {
    EXPECT_EQ(Utf8(r.text), r.bytes);
    EXPECT_EQ(Utf8Length(r.text), r.bytes.size());
  }
}

// One encoded word of `text`'s UTF-8.
std::u16string Word(std::u16string_view text) {
  const std::string bytes = Utf8(text);
  std::u16string digits(Base64Length(bytes.size()), u' ');
  EncodeBase64Bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digits.data());
  return u"=?UTF-8?B?" + digits + u"?=";
}

// Words hold whole characters and fit their lines: after "Subject: " (lead 9) a
// first word carries 39 bytes, later ones 45; a line already full still gets one
// 4-byte character per word.
TEST(HeaderWords, AsciiStaysAndWordsSplitBetweenCharactersWithinTheLine) {
  const std::u16string fits = u"\u00E9" + std::u16string(33, u'a'), over = fits + u'a', clef = u"\U0001D11E";
  const std::u16string euros15(15, kEuro), fold = u"\r\n ";
  const struct { std::u16string value; size_t lead; std::u16string words; } rows[] = {
      {u"Hi =?x?= \t(a)", 9, u"Hi =?x?= \t(a)"}, {u"", 9, u""},
      {u"Gr\u00FC\u00DFe \u20AC", 9, u"=?UTF-8?B?R3LDvMOfZSDigqw=?="},
      {fits + clef, 9, Word(fits + clef)}, {over + clef, 9, Word(over) + fold + Word(clef)},
      {std::u16string(80, kEuro), 0, Word(euros15) + fold + Word(euros15) + fold + Word(euros15) + fold +
                                         Word(euros15) + fold + Word(euros15) + fold + Word(std::u16string(5, kEuro))},
      {clef + clef, 80, Word(clef) + fold + Word(clef)}};
  for (const auto& r : rows) EXPECT_EQ(Utf8(HeaderWords(r.value, r.lead)), Utf8(r.words)) << Utf8(r.value);
}

TEST(AddressWords, OnlyDisplayNamesChange) {
  const std::u16string long_ = u"\u00E9" + std::u16string(33, u'a') + u"\U0001D11E";
  const struct { std::u16string value, words; } rows[] = {
      {u"Dev <d@x>", u"Dev <d@x>"}, {u" a@b, d@e ,<f@g>", u" a@b, d@e ,<f@g>"}, {u"", u""},
      {u"J\u00F6rg <j@x>", u"=?UTF-8?B?SsO2cmc=?= <j@x>"},
      {u"J. Smith <j@x>,  J\u00F6rg  <k\u00E9@x>", u"\"J. Smith\" <j@x>,  =?UTF-8?B?SsO2cmc=?=  <k\u00E9@x>"},
      {u"\"J\u00F6rg \\\"J\\\"\" <j@x>", Word(u"J\u00F6rg \"J\"") + u" <j@x>"}, {u"\"A, B\" <a@b>", u"\"A, B\" <a@b>"},
      {u"J\u00F6rg j@x", u"J\u00F6rg j@x"}, {long_ + u" <j@xy.z>", Word(long_) + u"\r\n <j@xy.z>"}};
  for (const auto& r : rows) EXPECT_EQ(Utf8(AddressWords(r.value, 6)), Utf8(r.words)) << Utf8(r.value);
}

// A piece never ends inside an escape; the line of each stays within 76 characters.
TEST(ExtendedParameter, OneLineOrNumberedPieces) {
  std::u16string escapes;
  for (int k = 0; k < 60; ++k) escapes += k % 2 ? u"%A9" : u"%C3";
  const struct { std::u16string_view attribute; std::u16string value, parameter; } rows[] = {
      {u"name", u"\u20AC a'b*(%).txt", u"name*=UTF-8''%E2%82%AC%20a%27b%2A%28%25%29.txt"},
      {u"name", std::u16string(30, u'\u00E9'), u"name*0*=UTF-8''" + escapes.substr(0, 57) + u";\r\n name*1*=" +
                                                    escapes.substr(57, 63) + u";\r\n name*2*=" + escapes.substr(120)}};
  for (const auto& r : rows) EXPECT_EQ(Utf8(ExtendedParameter(r.attribute, r.value)), Utf8(r.parameter));
}

}  // namespace
}  // namespace corvane
