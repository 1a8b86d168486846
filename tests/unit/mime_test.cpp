#include "mime/mime.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "control/errors.h"
#include "mime/base64.h"

namespace corvane {
namespace {

using namespace std::string_literals;

constexpr std::u16string_view kWorkedExample =
    u"To: Ops\r\nFrom: Dev\r\nSubject: Hi\r\nDisposition-Notification-To: Dev\r\nMIME-Version: 1.0\r\n"
    u"Content-Type: multipart/mixed;\r\n boundary=\"ABCDEFGHIJKLMNOP\"\r\n\r\n"
    u"This is a multi-part message in MIME format.\r\n"
    u"--ABCDEFGHIJKLMNOP\r\nContent-Type: text/plain; charset=ISO-8859-1; format=flowed\r\n"
    u"Content-Transfer-Encoding: 8bit\r\n\r\nHello\r\n\r\n"
    u"--ABCDEFGHIJKLMNOP\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    u"YWJj\r\n\r\n--ABCDEFGHIJKLMNOP--";
constexpr std::u16string_view kEmptyMessage =
    u"To: \r\nFrom: \r\nSubject: \r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n"
    u" boundary=\"ABCDEFGHIJKLMNOP\"\r\n\r\nThis is a multi-part message in MIME format.\r\n--ABCDEFGHIJKLMNOP--";
constexpr std::u16string_view kClosing = u"--ABCDEFGHIJKLMNOP--";
constexpr std::u16string_view kGapPart =
    u"--ABCDEFGHIJKLMNOP\r\nContent-Type: \r\nContent-Transfer-Encoding: \r\n\r\n\r\n\r\n";

std::u16string Part(std::u16string_view type, std::u16string_view encoding, std::u16string_view body) {
  return u"--ABCDEFGHIJKLMNOP\r\nContent-Type: " + std::u16string(type) + u"\r\nContent-Transfer-Encoding: " +
         std::u16string(encoding) + u"\r\n\r\n" + std::u16string(body) + u"\r\n\r\n";
}
std::u16string TextPart(std::u16string_view body) { return Part(Mime::kDefaultTextType, u"8bit", body); }

void FillWorkedExample(Mime& m) {
  m.Too(u"Ops"), m.From(u"Dev"), m.Subject(u"Hi"), m.Notification(u"Dev");
  m.ContentAdd(1, u"Hello"), m.ContentAdd(2, u"abc");
  m.ContentEncoding(2, u"base64"), m.ContentType(2, u"application/octet-stream");
}

// Each row composes a message; a row with `refused` expects GenerateMime to refuse
// it with that text, leaving its argument as it was.
TEST(GenerateMime, MessageOfEachComposition) {
  std::u16string data;  // a file's bytes, one character per byte, NUL and bytes above 127 included
  for (int i = 0; i < 200; ++i) data += static_cast<char16_t>((i * 37) % 256);
  std::u16string base64, bodyOnly;
  EncodeBase64(data, base64);
  const std::u16string_view encodings[] = {u"Base64", u"7bit", u"quoted-printable", u"8BIT", u"", u"base64 "};
  for (std::u16string_view e : encodings) bodyOnly += Part(Mime::kDefaultTextType, e, u"");
  const std::u16string eightBit = u"l\r\n.\r\n..d\n\0\u20AC\u00E9\r\n--ABCDEFGHIJKLMNOP--\r\n"s;
  // The header of a message with empty To, From and Subject and no notification.
  const std::u16string head(kEmptyMessage.substr(0, kEmptyMessage.size() - kClosing.size())), gap(kGapPart), end(kClosing),
      worked(kWorkedExample.substr(0, kWorkedExample.size() - kClosing.size()));
  const struct {
    const char* name;
    std::function<void(Mime&)> fill;
    int32_t count;
    std::u16string message;
    std::string refused = "";
  } rows[] = {
      {"worked example", FillWorkedExample, 2, std::u16string(kWorkedExample)},
      {"new object", [](Mime&) {}, 0, std::u16string(kEmptyMessage)},
      {"cleared", [](Mime& m) { FillWorkedExample(m), m.ContentType(9, u"x/y"), m.Clear(); }, 0,
       std::u16string(kEmptyMessage)},
      {"filled after a clear", [](Mime& m) { FillWorkedExample(m), m.Clear(), m.ContentType(2, u"x/y"); }, 2,
       head + gap + Part(u"x/y", u"", u"") + end},
      {"headers unchanged",
       [](Mime& m) { m.Too(u"a@b.c, d@e.f"), m.From(u"  Dev <dev@x>  "), m.Subject(u"caf\u00E9 \u20AC\tx"); }, 0,
       u"To: a@b.c, d@e.f\r\nFrom:   Dev <dev@x>  \r\nSubject: caf\u00E9 \u20AC\tx\r\n" + head.substr(25) + end},
      {"empty notification", [](Mime& m) { m.Notification(u""); }, 0, std::u16string(kEmptyMessage)},
      {"blank notification", [](Mime& m) { m.Notification(u" "); }, 0,
       head.substr(0, 25) + u"Disposition-Notification-To:  \r\n" + head.substr(25) + end},
      {"cc is never written", [](Mime& m) { m.cc(u"c@x\r\nBcc: z"); }, 0, std::u16string(kEmptyMessage)},
      {"default type only without a type",
       [](Mime& m) { m.ContentAdd(1, u"one"), m.ContentType(2, u"text/html"), m.ContentAdd(2, u"<p>"); }, 2,
       head + TextPart(u"one") + Part(u"text/html", u"8bit", u"<p>") + end},
      {"add resets the encoding",
       [](Mime& m) {
         m.ContentType(1, u"application/pdf"), m.ContentEncoding(1, u"base64"), m.ContentAdd(1, u"second");
       },
       1, head + Part(u"application/pdf", u"8bit", u"second") + end},
      {"attachment",
       [&](Mime& m) { m.ContentAdd(1, data), m.ContentEncoding(1, u"base64"), m.ContentType(1, u"a/b; name=x"); },
       1, head + Part(u"a/b; name=x", u"base64", base64) + end},
      {"body only for exactly base64 or 8bit",
       [&](Mime& m) {
         int32_t id = 0;
         for (std::u16string_view e : encodings) m.ContentAdd(++id, u"data"), m.ContentEncoding(id, std::u16string(e));
       },
       6, head + bodyOnly + end},
      {"empty data", [](Mime& m) { m.ContentAdd(1, u""), m.ContentAdd(2, u""), m.ContentEncoding(2, u"base64"); },
       2, head + TextPart(u"") + Part(Mime::kDefaultTextType, u"base64", u"") + end},
      {"8bit data unchanged", [&](Mime& m) { m.ContentAdd(1, eightBit); }, 1, head + TextPart(eightBit) + end},
      {"gaps are empty parts", [](Mime& m) { m.ContentAdd(3, u"x"); }, 3, head + gap + gap + TextPart(u"x") + end},
      {"a higher id grows the table",
       [](Mime& m) {
         FillWorkedExample(m), m.ContentType(7, u"text/x"), m.ContentEncoding(5, u"8bit"), m.ContentEncoding(8, u"");
       },
       8, worked + gap + gap + Part(u"", u"8bit", u"") + gap + Part(u"text/x", u"", u"") + gap + end},
      {"gets and negative ids change nothing",
       [](Mime& m) {
         m.ContentAdd(1, u"x"), (void)m.ContentType(2), (void)m.ContentEncoding(1000), (void)m.ContentType(INT32_MAX);
         m.ContentType(-1, u"text/x"), m.ContentEncoding(-1, u"base64"), m.ContentType(INT32_MIN, u"text/x");
       },
       1, head + TextPart(u"x") + end},
      {"id zero is never written",
       [](Mime& m) { m.ContentType(0, u"x/y\r\nBcc: z"), m.ContentAdd(0, u"zero"), m.ContentEncoding(0, u"b"); }, 0,
       std::u16string(kEmptyMessage)},
      {"subject", [](Mime& m) { FillWorkedExample(m), m.Subject(u"Hi\r\nBcc: evil@x"); }, 2, u"kept",
       "Subject holds a line break and was not written: 'Hi%0D%0ABcc: evil@x'"},
      {"from", [](Mime& m) { FillWorkedExample(m), m.From(u"Dev\n <d@x>"); }, 2, u"kept",
       "From holds a line break and was not written: 'Dev%0A <d@x>'"},
      {"to", [](Mime& m) { FillWorkedExample(m), m.Too(u"a@b\r"); }, 2, u"kept",
       "To holds a line break and was not written: 'a@b%0D'"},
      {"notification", [](Mime& m) { FillWorkedExample(m), m.Notification(u"n\0@x"s); }, 2, u"kept",
       "Disposition-Notification-To holds a NUL character and was not written: 'n%00@x'"},
      {"type", [](Mime& m) { FillWorkedExample(m), m.ContentType(2, u"x/y\r\nBcc: z"); }, 2, u"kept",
       "Content-Type of part 2 holds a line break and was not written: 'x/y%0D%0ABcc: z'"},
      {"encoding", [](Mime& m) { FillWorkedExample(m), m.ContentEncoding(4, u"8bit\n"); }, 4, u"kept",
       "Content-Transfer-Encoding of part 4 holds a line break and was not written: '8bit%0A'"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Mime mime;
    r.fill(mime);
    EXPECT_EQ(mime.ContentCount(), r.count);
    std::u16string text = u"kept", again;
    try {
      EXPECT_EQ(mime.GenerateMime(text), -1);
      mime.GenerateMime(again);
      EXPECT_EQ(again, text);
      EXPECT_EQ(r.refused, "");
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), ErrorNumber::InvalidArgument);
      EXPECT_EQ(e.what(), r.refused);
    }
    EXPECT_EQ(text, r.message);
    EXPECT_EQ(mime.ContentCount(), r.count);
  }
}

TEST(MimeParts, GetsGiveWhatWasPutAndOnlyPutsGrowTheTable) {
  Mime mime;
  mime.cc(u"copy@x");
  mime.ContentAdd(1, u"one");
  mime.ContentType(0, u"text/zero");
  mime.ContentEncoding(0, u"base64");
  mime.ContentType(-1, u"text/x");
  EXPECT_THROW(mime.ContentAdd(-1, u"x"), AutomationError);
  try {
    mime.ContentAdd(INT32_MIN, u"x");
    ADD_FAILURE() << "a negative id was taken";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::SubscriptOutOfRange);
  }
  EXPECT_EQ(mime.cc(), u"copy@x");
  EXPECT_EQ(mime.ContentType(1), Mime::kDefaultTextType);
  EXPECT_EQ(mime.ContentEncoding(1), u"8bit");
  EXPECT_EQ(mime.ContentType(0), u"text/zero");
  EXPECT_EQ(mime.ContentEncoding(0), u"base64");
  EXPECT_EQ(mime.ContentType(-1), u"");
  EXPECT_EQ(mime.ContentType(2), u"");
  EXPECT_EQ(mime.ContentCount(), 1);

  // The largest id is counted without filling the gaps; the message it would
  // make (some 150 GB of empty parts) is out of memory and the argument kept.
  mime.ContentType(INT32_MAX, u"text/last");
  EXPECT_EQ(mime.ContentCount(), INT32_MAX);
  EXPECT_EQ(mime.ContentType(INT32_MAX), u"text/last");
  EXPECT_EQ(mime.ContentType(INT32_MAX - 1), u"");
  std::u16string result = u"earlier message";
  try {
    mime.GenerateMime(result);
    ADD_FAILURE() << "generated";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::OutOfMemory);
  }
  EXPECT_EQ(result, u"earlier message");
  mime.Clear();
  EXPECT_EQ(mime.ContentCount(), 0);
  EXPECT_EQ(mime.ContentType(0), u"");
}

}  // namespace
}  // namespace corvane
