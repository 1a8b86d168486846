#include "mime/mime.h"

#include <gtest/gtest.h>

#include <functional>

#include "control/errors.h"
#include "mime/base64.h"

namespace corvane {
namespace {

constexpr std::u16string_view kWorkedExample =
    u"To: Ops\r\n"
    u"From: Dev\r\n"
    u"Subject: Hi\r\n"
    u"Disposition-Notification-To: Dev\r\n"
    u"MIME-Version: 1.0\r\n"
    u"Content-Type: multipart/mixed;\r\n"
    u" boundary=\"ABCDEFGHIJKLMNOP\"\r\n"
    u"\r\n"
    u"This is a multi-part message in MIME format.\r\n"
    u"--ABCDEFGHIJKLMNOP\r\n"
    u"Content-Type: text/plain; charset=ISO-8859-1; format=flowed\r\n"
    u"Content-Transfer-Encoding: 8bit\r\n"
    u"\r\n"
    u"Hello\r\n"
    u"\r\n"
    u"--ABCDEFGHIJKLMNOP\r\n"
    u"Content-Type: application/octet-stream\r\n"
    u"Content-Transfer-Encoding: base64\r\n"
    u"\r\n"
    u"YWJj\r\n"
    u"\r\n"
    u"--ABCDEFGHIJKLMNOP--";

constexpr std::u16string_view kEmptyMessage =
    u"To: \r\n"
    u"From: \r\n"
    u"Subject: \r\n"
    u"MIME-Version: 1.0\r\n"
    u"Content-Type: multipart/mixed;\r\n"
    u" boundary=\"ABCDEFGHIJKLMNOP\"\r\n"
    u"\r\n"
    u"This is a multi-part message in MIME format.\r\n"
    u"--ABCDEFGHIJKLMNOP--";

// The header of a message with empty To, From and Subject and no notification.
constexpr std::u16string_view kEmptyHeader = kEmptyMessage.substr(0, kEmptyMessage.size() - 20);
constexpr std::u16string_view kClosing = u"--ABCDEFGHIJKLMNOP--";

std::u16string Part(std::u16string_view type, std::u16string_view encoding, std::u16string_view body) {
  std::u16string part = u"--ABCDEFGHIJKLMNOP\r\nContent-Type: ";
  part += type;
  part += u"\r\nContent-Transfer-Encoding: ";
  part += encoding;
  part += u"\r\n\r\n";
  part += body;
  part += u"\r\n\r\n";
  return part;
}

constexpr std::u16string_view kGapPart =
    u"--ABCDEFGHIJKLMNOP\r\nContent-Type: \r\nContent-Transfer-Encoding: \r\n\r\n\r\n\r\n";

std::u16string Generate(const Mime& mime) {
  std::u16string text = u"whatever the caller held";
  EXPECT_EQ(mime.GenerateMime(text), -1);
  return text;
}

std::u16string TextPart(std::u16string_view body) { return Part(Mime::kDefaultTextType, u"8bit", body); }

void FillWorkedExample(Mime& mime) {
  mime.Too(u"Ops");
  mime.From(u"Dev");
  mime.Subject(u"Hi");
  mime.Notification(u"Dev");
  mime.ContentAdd(1, u"Hello");
  mime.ContentAdd(2, u"abc");
  mime.ContentEncoding(2, u"base64");
  mime.ContentType(2, u"application/octet-stream");
}

ErrorNumber ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  ADD_FAILURE() << "no automation error was raised";
  return ErrorNumber{};
}

TEST(MimeMessage, WorkedExample) {
  Mime mime;
  FillWorkedExample(mime);
  EXPECT_EQ(mime.ContentCount(), 2);
  const std::u16string text = Generate(mime);
  EXPECT_EQ(text.size(), 446u);
  EXPECT_EQ(text, kWorkedExample);
}

TEST(MimeMessage, NewObjectGivesTheEmptyMessage) {
  const Mime mime;
  EXPECT_EQ(mime.ContentCount(), 0);
  const std::u16string text = Generate(mime);
  EXPECT_EQ(text.size(), 174u);
  EXPECT_EQ(text, kEmptyMessage);
}

TEST(MimeMessage, GeneratingTwiceGivesTheSameText) {
  Mime mime;
  FillWorkedExample(mime);
  std::u16string first, second = u"stale";
  EXPECT_EQ(mime.GenerateMime(first), -1);
  EXPECT_EQ(mime.GenerateMime(second), -1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(mime.ContentCount(), 2);
}

TEST(MimeMessage, ClearGivesTheStateOfANewObject) {
  Mime mime;
  FillWorkedExample(mime);
  mime.ContentType(9, u"x/y");
  mime.Clear();
  EXPECT_EQ(mime.ContentCount(), 0);
  EXPECT_EQ(mime.Too(), u"");
  EXPECT_EQ(mime.From(), u"");
  EXPECT_EQ(mime.Subject(), u"");
  EXPECT_EQ(mime.Notification(), u"");
  EXPECT_EQ(mime.ContentType(1), u"");
  EXPECT_EQ(mime.ContentEncoding(2), u"");
  EXPECT_EQ(Generate(mime), kEmptyMessage);

  // Filled again after a Clear, nothing of the old parts shows through.
  mime.ContentType(2, u"x/y");
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + std::u16string(kGapPart) +
                                Part(u"x/y", u"", u"") + std::u16string(kClosing));
}

TEST(MimeHeaders, ValuesAreStoredAndWrittenUnchanged) {
  Mime mime;
  mime.Too(u"a@b.c, d@e.f");
  mime.From(u"  Dev <dev@x>  ");
  mime.Subject(u"caf\u00E9 \u20AC\tx");
  EXPECT_EQ(mime.Subject(), u"caf\u00E9 \u20AC\tx");
  EXPECT_EQ(Generate(mime), u"To: a@b.c, d@e.f\r\nFrom:   Dev <dev@x>  \r\nSubject: caf\u00E9 \u20AC\tx\r\n" +
                                std::u16string(kEmptyHeader.substr(25)) + std::u16string(kClosing));
}

TEST(MimeHeaders, AValueThatWouldBreakItsLineIsKeptButNotWritten) {
  const struct {
    std::function<void(Mime&)> put;
    std::string refused;  // "" where the value is never written
  } cases[] = {
      {[](Mime& m) { m.Subject(u"Hi\r\nBcc: evil@x"); },
       "Subject holds a line break and was not written: 'Hi%0D%0ABcc: evil@x'"},
      {[](Mime& m) { m.From(u"Dev\n <d@x>"); }, "From holds a line break and was not written: 'Dev%0A <d@x>'"},
      {[](Mime& m) { m.Too(u"a@b\r"); }, "To holds a line break and was not written: 'a@b%0D'"},
      {[](Mime& m) { m.Notification({u"n\0@x", 4}); },
       "Disposition-Notification-To holds a NUL character and was not written: 'n%00@x'"},
      {[](Mime& m) { m.ContentType(2, u"x/y\r\nBcc: z"); },
       "Content-Type of part 2 holds a line break and was not written: 'x/y%0D%0ABcc: z'"},
      {[](Mime& m) { m.ContentEncoding(4, u"8bit\n"); },
       "Content-Transfer-Encoding of part 4 holds a line break and was not written: '8bit%0A'"},
      {[](Mime& m) { m.cc(u"c@x\r\nBcc: z"); }, ""},
      {[](Mime& m) { m.ContentType(0, u"x/y\r\nBcc: z"); }, ""},
      {[](Mime& m) { m.ContentAdd(1, {u"body\r\n.\0", 9}); }, ""},
  };
  for (const auto& value : cases) {
    Mime mime;
    FillWorkedExample(mime);
    value.put(mime);
    std::u16string text = u"kept";
    try {
      mime.GenerateMime(text);
      EXPECT_EQ(value.refused, "");
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), ErrorNumber::InvalidArgument);
      EXPECT_EQ(e.what(), value.refused);
      EXPECT_EQ(text, u"kept");
    }
  }
}

TEST(MimeHeaders, NotificationLineOnlyWhenNotEmpty) {
  Mime mime;
  mime.Notification(u"");
  EXPECT_EQ(Generate(mime), kEmptyMessage);
  mime.Notification(u" ");
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader.substr(0, 25)) + u"Disposition-Notification-To:  \r\n" +
                                std::u16string(kEmptyHeader.substr(25)) + std::u16string(kClosing));
}

TEST(MimeHeaders, CcNeverEntersTheMessage) {
  Mime mime;
  mime.cc(u"copy@x");
  EXPECT_EQ(mime.cc(), u"copy@x");
  EXPECT_EQ(Generate(mime), kEmptyMessage);
}

TEST(ContentAdd, GivesTheDefaultTextTypeOnlyToAPartWithoutType) {
  Mime mime;
  mime.ContentAdd(1, u"one");
  mime.ContentType(2, u"text/html");
  mime.ContentAdd(2, u"<p>two</p>");
  EXPECT_EQ(mime.ContentType(1), Mime::kDefaultTextType);
  EXPECT_EQ(mime.ContentType(2), u"text/html");
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + TextPart(u"one") +
                                Part(u"text/html", u"8bit", u"<p>two</p>") + std::u16string(kClosing));
}

TEST(ContentAdd, ResetsTheEncodingAndReplacesTheData) {
  Mime mime;
  mime.ContentEncoding(1, u"base64");  // no lasting effect: ContentAdd comes after
  mime.ContentAdd(1, u"first");
  EXPECT_EQ(mime.ContentEncoding(1), u"8bit");
  mime.ContentType(1, u"application/pdf");
  mime.ContentEncoding(1, u"base64");
  mime.ContentAdd(1, u"second");
  EXPECT_EQ(mime.ContentType(1), u"application/pdf");
  EXPECT_EQ(mime.ContentEncoding(1), u"8bit");
  EXPECT_EQ(Generate(mime),
            std::u16string(kEmptyHeader) + Part(u"application/pdf", u"8bit", u"second") + std::u16string(kClosing));
}

TEST(ContentAdd, AttachmentIsWrittenAsBase64Lines) {
  // A file's bytes, one character per byte, including NUL and bytes above 127.
  std::u16string data;
  for (int i = 0; i < 200; ++i) data += static_cast<char16_t>((i * 37) % 256);
  Mime mime;
  mime.ContentAdd(1, data);
  mime.ContentEncoding(1, u"base64");
  mime.ContentType(1, u"application/octet-stream; name=\"a.bin\"");
  std::u16string body;
  EncodeBase64(data, body);
  ASSERT_EQ(body.size(), Base64Length(200));
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) +
                                Part(u"application/octet-stream; name=\"a.bin\"", u"base64", body) +
                                std::u16string(kClosing));
}

TEST(ContentAdd, NegativeIdRaisesSubscriptOutOfRangeAndChangesNothing) {
  Mime mime;
  FillWorkedExample(mime);
  EXPECT_EQ(ErrorOf([&] { mime.ContentAdd(-1, u"x"); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { mime.ContentAdd(INT32_MIN, u"x"); }), ErrorNumber::SubscriptOutOfRange);
  EXPECT_EQ(mime.ContentCount(), 2);
  EXPECT_EQ(Generate(mime), kWorkedExample);
}

TEST(ContentParts, BodyOnlyForExactlyBase64Or8bit) {
  Mime mime;
  const std::u16string_view encodings[] = {u"Base64", u"7bit", u"quoted-printable", u"8BIT", u"", u"base64 "};
  int32_t id = 0;
  std::u16string expected(kEmptyHeader);
  for (std::u16string_view encoding : encodings) {
    mime.ContentAdd(++id, u"data");
    mime.ContentEncoding(id, std::u16string(encoding));
    expected += Part(Mime::kDefaultTextType, encoding, u"");
  }
  EXPECT_EQ(Generate(mime), expected + std::u16string(kClosing));
}

TEST(ContentParts, EmptyDataGivesAnEmptyBody) {
  Mime mime;
  mime.ContentAdd(1, u"");
  mime.ContentAdd(2, u"");
  mime.ContentEncoding(2, u"base64");
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + TextPart(u"") +
                                Part(Mime::kDefaultTextType, u"base64", u"") + std::u16string(kClosing));
}

TEST(ContentParts, EightBitDataIsWrittenUnchanged) {
  const std::u16string data = u"line\r\n.\r\n..dot\n\u20AC\u00E9\r\n--ABCDEFGHIJKLMNOP\r\n--ABCDEFGHIJKLMNOP--\r\n";
  Mime mime;
  mime.ContentAdd(1, data);
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + TextPart(data) + std::u16string(kClosing));
}

TEST(ContentParts, GapsAreEmittedAsEmptyParts) {
  Mime mime;
  mime.ContentAdd(3, u"x");
  EXPECT_EQ(mime.ContentCount(), 3);
  EXPECT_EQ(mime.ContentType(1), u"");
  EXPECT_EQ(mime.ContentEncoding(2), u"");
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + std::u16string(kGapPart) + std::u16string(kGapPart) +
                                TextPart(u"x") + std::u16string(kClosing));
}

TEST(ContentParts, NamingAHigherIdGrowsTheTableKeepingItsParts) {
  Mime mime;
  FillWorkedExample(mime);
  mime.ContentType(7, u"text/x");
  EXPECT_EQ(mime.ContentCount(), 7);
  mime.ContentEncoding(5, u"8bit");
  EXPECT_EQ(mime.ContentCount(), 7);
  mime.ContentEncoding(8, u"");
  EXPECT_EQ(mime.ContentCount(), 8);

  std::u16string expected(kWorkedExample.substr(0, kWorkedExample.size() - kClosing.size()));
  expected += kGapPart;                   // 3
  expected += kGapPart;                   // 4
  expected += Part(u"", u"8bit", u"");    // 5
  expected += kGapPart;                   // 6
  expected += Part(u"text/x", u"", u"");  // 7
  expected += kGapPart;                   // 8
  expected += kClosing;
  EXPECT_EQ(Generate(mime), expected);
}

TEST(ContentParts, GetsNeverGrowTheTable) {
  Mime mime;
  mime.ContentAdd(1, u"x");
  EXPECT_EQ(mime.ContentType(2), u"");
  EXPECT_EQ(mime.ContentEncoding(1000), u"");
  EXPECT_EQ(mime.ContentType(INT32_MAX), u"");
  EXPECT_EQ(mime.ContentCount(), 1);
}

TEST(ContentParts, NegativeIdsAreIgnoredWithoutReport) {
  Mime mime;
  mime.ContentAdd(1, u"x");
  mime.ContentType(-1, u"text/x");
  mime.ContentEncoding(-1, u"base64");
  mime.ContentType(INT32_MIN, u"text/x");
  EXPECT_EQ(mime.ContentType(-1), u"");
  EXPECT_EQ(mime.ContentEncoding(-1), u"");
  EXPECT_EQ(mime.ContentCount(), 1);
  EXPECT_EQ(Generate(mime), std::u16string(kEmptyHeader) + TextPart(u"x") + std::u16string(kClosing));
}

TEST(ContentParts, IdZeroHoldsValuesButIsNeverWritten) {
  Mime mime;
  mime.ContentType(0, u"text/zero");
  mime.ContentAdd(0, u"zero");
  mime.ContentEncoding(0, u"base64");
  EXPECT_EQ(mime.ContentType(0), u"text/zero");
  EXPECT_EQ(mime.ContentEncoding(0), u"base64");
  EXPECT_EQ(mime.ContentCount(), 0);
  EXPECT_EQ(Generate(mime), kEmptyMessage);
}

TEST(ContentParts, LargestIdIsCountedWithoutFillingTheGaps) {
  Mime mime;
  mime.ContentType(INT32_MAX, u"text/last");
  EXPECT_EQ(mime.ContentCount(), INT32_MAX);
  EXPECT_EQ(mime.ContentType(INT32_MAX), u"text/last");
  EXPECT_EQ(mime.ContentType(INT32_MAX - 1), u"");
  mime.ContentType(5, u"text/five");
  EXPECT_EQ(mime.ContentCount(), INT32_MAX);
  mime.Clear();
  EXPECT_EQ(mime.ContentCount(), 0);
}

TEST(ContentParts, MessageTooLongForOneStringRaisesOutOfMemoryAndKeepsTheResult) {
  Mime mime;
  mime.ContentAdd(1, u"x");
  mime.ContentType(INT32_MAX, u"text/last");  // some 150 GB of empty parts
  std::u16string result = u"earlier message";
  EXPECT_EQ(ErrorOf([&] { mime.GenerateMime(result); }), ErrorNumber::OutOfMemory);
  EXPECT_EQ(result, u"earlier message");
  EXPECT_EQ(mime.ContentCount(), INT32_MAX);
}

}  // namespace
}  // namespace corvane
