#include "mime/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "test_charset.h"

namespace corvane {
namespace {

using namespace std::string_literals;
using testing_support::kEuro;
using testing_support::HostCharsetFor;

constexpr size_t kGuard = 8;

// Runs `encode` into a buffer `length` long followed by guard cells, and gives
// what it wrote; the guard cells must stay untouched.
template <class Char, class Encode>
std::u16string Written(size_t length, Encode encode) {
  std::vector<Char> out(length + kGuard, '#');
  encode(out.data());
  EXPECT_EQ(std::vector<Char>(out.end() - kGuard, out.end()), std::vector<Char>(kGuard, '#')) << "written past";
  return std::u16string(out.begin(), out.end() - kGuard);
}

TEST(EncodeBase64, EveryWayInGivesTheKnownTextIn76CharacterLines) {
  std::u16string line;  // 57 bytes "a" make one whole line
  for (int k = 0; k < 19; ++k) line += u"YWFh";
  const struct { bool windowsLike; std::u16string input, encoded; } rows[] = {
      {false, u"", u""}, {false, u"M", u"TQ=="}, {false, u"Ma", u"TWE="}, {false, u"Man", u"TWFu"},
      {false, u"Hello", u"SGVsbG8="}, {false, u"foobar", u"Zm9vYmFy"}, {false, std::u16string(5, u'\0'), u"AAAAAAA="},
      {false, {u'a', u'\0', u'b'}, u"YQBi"}, {false, u"\u00FF\u00FE\u00FD", u"//79"}, {false, u"\u00FB\u00FF", u"+/8="},
      {false, u"\x00\x10\x83\x10\x51\x87\x20\x92\x8B\x30\xD3\x8F\x41\x14\x93\x51\x55\x97\x61\x96\x9B\x71\xD7\x9F"
              u"\x82\x18\xA3\x92\x59\xA7\xA2\x9A\xAB\xB2\xDB\xAF\xC3\x1C\xB3\xD3\x5D\xB7\xE3\x9E\xBB\xF3\xDF\xBF"s,
       u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"},  // every digit
      {false, std::u16string(57, u'a'), line}, {false, std::u16string(58, u'a'), line + u"\r\nYQ=="},
      {false, std::u16string(114, u'a'), line + u"\r\n" + line},
      {false, std::u16string(115, u'a'), line + u"\r\n" + line + u"\r\nYQ=="},
      // one byte of the host's set per character, "?" for one without
      {true, {kEuro, u'a', u'\u00E9'}, u"gGHp"}, {true, u"\u0080\u4E2Dx", u"Pz94"}, {false, u"\u4E2D", u"Pw=="}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.input.substr(0, 8)) + " of " + std::to_string(r.input.size()));
    HostCharsetFor host(r.windowsLike);
    const size_t length = r.encoded.size();
    EXPECT_EQ(Base64Length(r.input.size()), length);
    std::u16string output = u"left over from before";
    EncodeBase64(r.input, output);
    EXPECT_EQ(output, r.encoded);
    EXPECT_EQ(Written<char16_t>(length, [&](char16_t* out) { EncodeBase64Text(r.input, out); }), r.encoded);
    if (r.windowsLike || std::ranges::any_of(r.input, [](char16_t c) { return c > 255; })) continue;
    const std::vector<uint8_t> bytes(r.input.begin(), r.input.end());
    EXPECT_EQ(Written<char>(length, [&](char* out) { EncodeBase64Bytes(bytes.data(), bytes.size(), out); }),
              r.encoded);
    EXPECT_EQ(Written<char16_t>(length, [&](char16_t* out) { EncodeBase64Bytes(bytes.data(), bytes.size(), out); }),
              r.encoded);
  }
}

}  // namespace
}  // namespace corvane
