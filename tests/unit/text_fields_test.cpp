#include "text/fields.h"

#include <gtest/gtest.h>

#include "control/errors.h"

namespace corvane {
namespace {

FieldList Split(std::u16string_view text, std::u16string_view delimiter) {
  FieldList fields;
  SplitFields(text, fields, delimiter);
  return fields;
}

// Runs `read` and gives the number of the automation error it raised.
template <class Read>
ErrorNumber ErrorOf(Read read) {
  try {
    read();
  } catch (const AutomationError& e) {
    return e.number();
  }
  ADD_FAILURE() << "no automation error was raised";
  return ErrorNumber{};
}

TEST(FindDelimiter, GivesTheOneBasedPositionAtOrAfterStart) {
  EXPECT_EQ(FindDelimiter(1, u"+OK 2 320", u" "), 4);
  EXPECT_EQ(FindDelimiter(4, u"+OK 2 320", u" "), 4);
  EXPECT_EQ(FindDelimiter(5, u"+OK 2 320", u" "), 6);
  EXPECT_EQ(FindDelimiter(1, u"x\r\ny", u"\r\n"), 2);
  EXPECT_EQ(FindDelimiter(1, u"abcABC", u"B"), 5);  // case-sensitive
}

TEST(FindDelimiter, GivesLengthPlusOneWhenNothingFollows) {
  EXPECT_EQ(FindDelimiter(1, u"abc", u","), 4);
  EXPECT_EQ(FindDelimiter(7, u"+OK 2 320", u" "), 10);
  EXPECT_EQ(FindDelimiter(10, u"+OK 2 320", u" "), 10);
  EXPECT_EQ(FindDelimiter(50, u"abc", u"a"), 4);
  EXPECT_EQ(FindDelimiter(1, u"", u","), 1);
  EXPECT_EQ(FindDelimiter(1, u"a\r", u"\r\n"), 3);  // a delimiter cut off at the end
}

TEST(SplitFields, StatusLineOnBlank) {
  EXPECT_EQ(Split(u"+OK 2 320", u" "), (FieldList{u"", u"+OK", u"2", u"320"}));
}

TEST(SplitFields, LastFieldKeepsTheLineEnd) {
  const FieldList fields = Split(u"+OK 2 320\r\n", u" ");
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[3], u"320\r\n");
  EXPECT_EQ(ReadInt32(fields[3]), 320);
  EXPECT_EQ(ReadInt16(fields[2]), 2);
}

TEST(SplitFields, EmptyFieldsStayWhereverTheyAre) {
  EXPECT_EQ(Split(u"a,,b,", u","), (FieldList{u"", u"a", u"", u"b", u""}));
  EXPECT_EQ(Split(u",a", u","), (FieldList{u"", u"", u"a"}));
  EXPECT_EQ(Split(u",", u","), (FieldList{u"", u"", u""}));
  EXPECT_EQ(Split(u"\r\n\r\n", u"\r\n"), (FieldList{u"", u"", u"", u""}));
}

TEST(SplitFields, TextWithoutDelimiterIsOneField) {
  EXPECT_EQ(Split(u"", u","), (FieldList{u"", u""}));
  EXPECT_EQ(Split(u"abc", u","), (FieldList{u"", u"abc"}));
  EXPECT_EQ(Split(u"a\r", u"\r\n"), (FieldList{u"", u"a\r"}));
}

TEST(SplitFields, LongDelimiterIsFoundWholeLeftToRightWithoutOverlap) {
  EXPECT_EQ(Split(u"x\r\ny", u"\r\n"), (FieldList{u"", u"x", u"y"}));
  EXPECT_EQ(Split(u"x\ry\nz\r\n", u"\r\n"), (FieldList{u"", u"x\ry\nz", u""}));
  EXPECT_EQ(Split(u"aaa", u"aa"), (FieldList{u"", u"", u"a"}));
  EXPECT_EQ(Split(u"aaaa", u"aa"), (FieldList{u"", u"", u"", u""}));
  EXPECT_EQ(Split(u"A\r\n..B\r\n.C", u"\r\n.."), (FieldList{u"", u"A", u"B\r\n.C"}));
}

TEST(SplitFields, SecondSplitLeavesNothingOfTheFirst) {
  FieldList fields;
  SplitFields(u"+OK 5 1200 extra words", fields, u" ");
  fields[0] = u"caller's own";
  SplitFields(u"-ERR", fields, u" ");
  EXPECT_EQ(fields, (FieldList{u"", u"-ERR"}));

  SplitFields(u"", fields, u" ");
  EXPECT_EQ(fields, (FieldList{u"", u""}));
}

TEST(ReplaceAll, UndoesDotStuffing) {
  EXPECT_EQ(ReplaceAll(u"A\r\n...", u"\r\n..", u"\r\n."), u"A\r\n..");
  EXPECT_EQ(ReplaceAll(u"\r\n..a\r\n..b\r\n..", u"\r\n..", u"\r\n."), u"\r\n.a\r\n.b\r\n.");
  EXPECT_EQ(ReplaceAll(u"A\r\n.B\r\nC..", u"\r\n..", u"\r\n."), u"A\r\n.B\r\nC..");
}

TEST(ReplaceAll, TextWithoutFindComesBackUnchanged) {
  EXPECT_EQ(ReplaceAll(u"", u",", u";"), u"");
  EXPECT_EQ(ReplaceAll(u"no commas here", u",", u";"), u"no commas here");
}

TEST(ReplaceAll, ReplacesLeftToRightAndNeverSearchesTheReplacement) {
  EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"b"), u"ba");
  EXPECT_EQ(ReplaceAll(u"a.b", u".", u".."), u"a..b");
  EXPECT_EQ(ReplaceAll(u"aa", u"a", u"aa"), u"aaaa");
  EXPECT_EQ(ReplaceAll(u"a, b, c", u", ", u""), u"abc");
}

TEST(ReadNumber, ReadsTheLeadingNumberAndStopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(ReadNumber(u"12abc"), 12);
  EXPECT_EQ(ReadNumber(u"320\r\n"), 320);
  EXPECT_EQ(ReadNumber(u"3\r20"), 3);
  EXPECT_EQ(ReadNumber(u"1,000"), 1);
  EXPECT_EQ(ReadNumber(u"7-3"), 7);
  EXPECT_EQ(ReadNumber(u"-5"), -5);
  EXPECT_EQ(ReadNumber(u"+5"), 5);
  EXPECT_EQ(ReadNumber(u"1.5"), 1.5);
  EXPECT_EQ(ReadNumber(u".5"), 0.5);
  EXPECT_EQ(ReadNumber(u"5."), 5);
  EXPECT_EQ(ReadNumber(u"1.2.3"), 1.2);
}

TEST(ReadNumber, FieldWithoutANumberReadsAsZero) {
  for (std::u16string_view field : {u"", u"abc", u"+OK", u"-ERR", u"-", u".", u"e5", u"--5", u"+-5", u"\r\n5"})
    EXPECT_EQ(ReadNumber(field), 0) << testing::PrintToString(std::u16string(field));
}

TEST(ReadNumber, SkipsBlanksTabsAndLineFeedsWhereverTheyStand) {
  EXPECT_EQ(ReadNumber(u" 7"), 7);
  EXPECT_EQ(ReadNumber(u"1 2 3"), 123);
  EXPECT_EQ(ReadNumber(u"\t\n 42"), 42);
  EXPECT_EQ(ReadNumber(u"- 5"), -5);
  EXPECT_EQ(ReadNumber(u"1 . 5"), 1.5);
  EXPECT_EQ(ReadNumber(u"1 e 3"), 1000);
}

TEST(ReadNumber, ReadsAnExponentOnlyWhenItHasDigits) {
  EXPECT_EQ(ReadNumber(u"1e3"), 1000);
  EXPECT_EQ(ReadNumber(u"2E2"), 200);
  EXPECT_EQ(ReadNumber(u"1.5e1"), 15);
  EXPECT_EQ(ReadNumber(u"5e-1"), 0.5);
  EXPECT_EQ(ReadNumber(u"5e+1x"), 50);
  EXPECT_EQ(ReadNumber(u"12e"), 12);
  EXPECT_EQ(ReadNumber(u"12e+"), 12);
  EXPECT_EQ(ReadNumber(u"12ex3"), 12);
}

TEST(ReadNumber, HugeValuesOverflowEveryTarget) {
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"1e400"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"-1e400"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt16(u"1" + std::u16string(400, u'0')); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"1e99999999999999999999"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"42e9223372036854775807"); }), ErrorNumber::Overflow);  // the largest exponent
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"0." + std::u16string(400, u'0') + u"1e500"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ReadInt32(u"0e999999"), 0);
}

TEST(ReadNumber, ValuesTooSmallForADoubleReadAsZero) {
  const std::u16string tiny = u"0." + std::u16string(400, u'0') + u"1";
  EXPECT_EQ(ReadNumber(u"1e-310"), 1e-310);
  EXPECT_EQ(ReadNumber(u"1e-400"), 0);
  EXPECT_EQ(ReadNumber(tiny), 0);
  EXPECT_EQ(ReadNumber(u"100000e-400"), 0);
  EXPECT_EQ(ReadNumber(u"1e-99999999999999999999"), 0);
  EXPECT_EQ(ReadNumber(u"0.001e-9223372036854775808"), 0);  // the smallest exponent
  for (std::u16string_view field : {std::u16string_view(u"1e-400"), std::u16string_view(u"-1e-400"),
                                     std::u16string_view(tiny)}) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(field.substr(0, 8))));
    int32_t wide = -1;
    int16_t narrow = -1;
    EXPECT_NO_THROW(wide = ReadInt32(field));
    EXPECT_NO_THROW(narrow = ReadInt16(field));
    EXPECT_EQ(wide, 0);
    EXPECT_EQ(narrow, 0);
  }
}

TEST(ReadInt, RoundsHalvesToTheEvenNeighbour) {
  EXPECT_EQ(ReadInt32(u"2.5"), 2);
  EXPECT_EQ(ReadInt32(u"3.5"), 4);
  EXPECT_EQ(ReadInt32(u"-2.5"), -2);
  EXPECT_EQ(ReadInt32(u"-3.5"), -4);
  EXPECT_EQ(ReadInt32(u"0.5"), 0);
  EXPECT_EQ(ReadInt32(u"2.4999"), 2);
  EXPECT_EQ(ReadInt32(u"2.5001"), 3);
  EXPECT_EQ(ReadInt16(u"1.5"), 2);
  EXPECT_EQ(ReadInt16(u"-0.5"), 0);
}

TEST(ReadInt, SixteenBitOverflowsAt32768) {
  EXPECT_EQ(ReadInt16(u"32767"), 32767);
  EXPECT_EQ(ReadInt16(u"-32768"), -32768);
  EXPECT_EQ(ReadInt16(u"32766.5"), 32766);
  EXPECT_EQ(ReadInt16(u"-32768.5"), -32768);
  EXPECT_EQ(ErrorOf([] { ReadInt16(u"32768"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt16(u"32767.5"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt16(u"-32769"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt16(u"1e5"); }), ErrorNumber::Overflow);
}

TEST(ReadInt, ThirtyTwoBitOverflowsAt2147483648) {
  EXPECT_EQ(ReadInt32(u"2147483647"), 2147483647);
  EXPECT_EQ(ReadInt32(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(ReadInt32(u"2147483646.5"), 2147483646);
  EXPECT_EQ(ReadInt32(u"32768"), 32768);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"2147483648"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"2147483647.5"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"-2147483649"); }), ErrorNumber::Overflow);
  EXPECT_EQ(ErrorOf([] { ReadInt32(u"99999999999999999999999"); }), ErrorNumber::Overflow);
}

TEST(ReadInt, OverflowCarriesTheStandardDescription) {
  try {
    ReadInt16(u"40000");
    FAIL() << "no overflow";
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "Overflow");
  }
}

TEST(FieldAt, GivesFieldsZeroToNAndRaisesBeyond) {
  const FieldList fields = Split(u"+OK 2", u" ");
  EXPECT_EQ(FieldAt(fields, 0), u"");
  EXPECT_EQ(FieldAt(fields, 2), u"2");
  EXPECT_EQ(ErrorOf([&] { FieldAt(fields, 3); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { FieldAt(fields, -1); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { FieldAt(fields, INT32_MAX); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([] { FieldAt(FieldList{}, 0); }), ErrorNumber::SubscriptOutOfRange);
}

}  // namespace
}  // namespace corvane
