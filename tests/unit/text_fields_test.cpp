#include "text/fields.h"

#include <gtest/gtest.h>

#include "raises.h"

namespace corvane {
namespace {

using testing_support::NumberRaisedBy;
using testing_support::Raised;
using testing_support::RaisedBy;

std::string Row(std::u16string_view text) { return testing::PrintToString(std::u16string(text)); }

TEST(FindDelimiter, OneBasedPositionAtOrAfterStartElseLengthPlusOne) {
  const struct { int32_t start; std::u16string_view text, delimiter; int32_t at; } rows[] = {
      {1, u"+OK 2 320", u" ", 4}, {4, u"+OK 2 320", u" ", 4}, {5, u"+OK 2 320", u" ", 6}, {7, u"+OK 2 320", u" ", 10},
      {10, u"+OK 2 320", u" ", 10}, {1, u"x\r\ny", u"\r\n", 2}, {1, u"abcABC", u"B", 5} /* case-sensitive */,
      {1, u"abc", u",", 4}, {50, u"abc", u"a", 4}, {1, u"", u",", 1}, {1, u"a\r", u"\r\n", 3} /* cut off */};
  for (const auto& r : rows)
    EXPECT_EQ(FindDelimiter(r.start, r.text, r.delimiter), r.at) << r.start << " in " << Row(r.text);
}

// Element 0 of the list is not a field: it comes back empty whatever it held.
TEST(SplitFields, EveryFieldKeptWithNothingOfTheListBefore) {
  const struct { std::u16string_view text, delimiter; FieldList fields; } rows[] = {
      {u"+OK 2 320\r\n", u" ", {u"+OK", u"2", u"320\r\n"}}, {u"-ERR", u" ", {u"-ERR"}}, {u"", u",", {u""}},
      {u"a,,b,", u",", {u"a", u"", u"b", u""}}, {u",a", u",", {u"", u"a"}}, {u",", u",", {u"", u""}},
      {u"a\r", u"\r\n", {u"a\r"}}, {u"\r\n\r\n", u"\r\n", {u"", u"", u""}}, {u"aaa", u"aa", {u"", u"a"}},
      {u"x\ry\nz\r\n", u"\r\n", {u"x\ry\nz", u""}}, {u"aaaa", u"aa", {u"", u"", u""}} /* left to right, no overlap */,
      {u"A\r\n..B\r\n.C", u"\r\n..", {u"A", u"B\r\n.C"}}};
  for (const auto& r : rows) {
    FieldList fields = {u"caller's own", u"5", u"1200", u"extra", u"words"}, expected = {u""};
    SplitFields(r.text, fields, r.delimiter);
    expected.insert(expected.end(), r.fields.begin(), r.fields.end());
    EXPECT_EQ(fields, expected) << Row(r.text) << " at " << Row(r.delimiter);
  }
}

TEST(ReplaceAll, LeftToRightWithoutSearchingTheReplacement) {
  const struct { std::u16string_view text, find, replacement, result; } rows[] = {
      {u"A\r\n...", u"\r\n..", u"\r\n.", u"A\r\n.."} /* dot-stuffing undone */, {u"aaa", u"aa", u"b", u"ba"},
      {u"\r\n..a\r\n..b\r\n..", u"\r\n..", u"\r\n.", u"\r\n.a\r\n.b\r\n."}, {u"aa", u"a", u"aa", u"aaaa"},
      {u"A\r\n.B\r\nC..", u"\r\n..", u"\r\n.", u"A\r\n.B\r\nC.."}, {u"a, b, c", u", ", u"", u"abc"},
      {u"", u",", u";", u""}, {u"no commas here", u",", u";", u"no commas here"}};
  for (const auto& r : rows) EXPECT_EQ(ReplaceAll(r.text, r.find, r.replacement), r.result) << Row(r.text);
}

TEST(ReadNumber, LeadingNumberWithBlanksSkippedElseZero) {
  const std::pair<std::u16string_view, double> rows[] = {
      {u"12abc", 12}, {u"320\r\n", 320}, {u"3\r20", 3}, {u"1,000", 1}, {u"7-3", 7}, {u"-5", -5}, {u"+5", 5},
      {u"1.5", 1.5}, {u".5", 0.5}, {u"5.", 5}, {u"1.2.3", 1.2}, {u"1e-310", 1e-310}, {u"1e-400", 0} /* too small */,
      {u" 7", 7}, {u"1 2 3", 123}, {u"\t\n 42", 42}, {u"- 5", -5}, {u"1 . 5", 1.5}, {u"1 e 3", 1000} /* blanks */,
      {u"1e3", 1000}, {u"2E2", 200}, {u"1.5e1", 15}, {u"5e-1", 0.5}, {u"5e+1x", 50}, {u"12e", 12}, {u"12e+", 12},
      {u"12ex3", 12}, {u"", 0}, {u"abc", 0}, {u"+OK", 0}, {u"-", 0}, {u".", 0}, {u"e5", 0}, {u"--5", 0},
      {u"+-5", 0}, {u"\r\n5", 0}, {u"100000e-400", 0}, {u"1e-99999999999999999999", 0},
      {u"0.001e-9223372036854775808", 0} /* the smallest exponent */};
  for (const auto& [field, value] : rows) EXPECT_EQ(ReadNumber(field), value) << Row(field);
}

TEST(ReadInt, RoundsHalfToEvenAndOverflowsBeyondTheWidth) {
  constexpr int64_t kOver = INT64_MIN;
  const std::u16string tiny = u"0." + std::u16string(400, u'0') + u"1", huge = u"1" + std::u16string(400, u'0'),
                       scaled = tiny + u"e500";
  const struct { std::u16string_view field; int64_t narrow, wide; } rows[] = {
      {u"2.5", 2, 2}, {u"3.5", 4, 4}, {u"-2.5", -2, -2}, {u"-3.5", -4, -4}, {u"0.5", 0, 0}, {u"-0.5", 0, 0},
      {u"1.5", 2, 2}, {u"2.4999", 2, 2}, {u"2.5001", 3, 3}, {u"0e999999", 0, 0}, {u"-1e-400", 0, 0}, {tiny, 0, 0},
      {u"32767", 32767, 32767}, {u"-32768", -32768, -32768}, {u"32766.5", 32766, 32766},
      {u"-32768.5", -32768, -32768}, {u"32767.5", kOver, 32768}, {u"-32769", kOver, -32769}, {u"1e5", kOver, 100000},
      {u"2147483647", kOver, INT32_MAX}, {u"-2147483648", kOver, INT32_MIN}, {u"2147483646.5", kOver, 2147483646},
      {u"2147483647.5", kOver, kOver}, {u"-2147483649", kOver, kOver}, {u"1e400", kOver, kOver},
      {u"-1e400", kOver, kOver}, {u"1e99999999999999999999", kOver, kOver}, {u"42e9223372036854775807", kOver, kOver},
      {huge, kOver, kOver}, {scaled, kOver, kOver}};
  for (const auto& r : rows) {
    SCOPED_TRACE(Row(r.field.substr(0, 16)));
    for (const bool narrow : {true, false}) {
      const int64_t expected = narrow ? r.narrow : r.wide;
      int32_t got = 0;
      const Raised raised = RaisedBy([&] { got = narrow ? ReadInt16(r.field) : ReadInt32(r.field); });
      const Raised overflow = std::pair{ErrorNumber::Overflow, std::string("Overflow")};
      EXPECT_EQ(raised, expected == kOver ? overflow : Raised()) << "16-bit " << narrow;
      EXPECT_EQ(got, expected == kOver ? 0 : expected) << "16-bit " << narrow;
    }
  }
}

TEST(FieldAt, FieldsZeroToNAndTheSubscriptErrorBeyond) {
  const FieldList fields = {u"", u"+OK", u"2"};
  EXPECT_EQ(FieldAt(fields, 0), u"");
  EXPECT_EQ(FieldAt(fields, 2), u"2");
  for (const int32_t index : {3, -1, INT32_MAX}) {
    EXPECT_EQ(NumberRaisedBy([&] { FieldAt(fields, index); }), ErrorNumber::SubscriptOutOfRange) << index;
  }
}

}  // namespace
}  // namespace corvane
