#include "mime/mime.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mime/base64.h"
#include "raises.h"
#include "test_charset.h"

namespace corvane {
namespace {

using namespace std::string_literals;
using testing_support::NumberRaisedBy;
using testing_support::Raised;
using testing_support::RaisedBy;

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

std::u16string Part(std::u16string_view type, std::u16string_view encoding, std::u16string_view body) {
  return u"--ABCDEFGHIJKLMNOP\r\nContent-Type: " + std::u16string(type) + u"\r\nContent-Transfer-Encoding: " +
         std::u16string(encoding) + u"\r\n\r\n" + std::u16string(body) + u"\r\n\r\n";
}
std::u16string TextPart(std::u16string_view body) { return Part(Mime::kDefaultTextType, u"8bit", body); }

// The message as SendMime sends it: its pieces, taken before `m` changed, joined.
std::u16string Sent(Mime m, bool utf8) {
  const Mime::Outgoing message(m, utf8);
  std::u16string text;
  m.ContentAdd(1, u"changed"), m.Clear();
  EXPECT_TRUE(message.Write([&](auto piece) { return text.append(text.empty() ? u"" : u"\r\n").append(piece), true; }));
  return text;
}

void FillWorkedExample(Mime& m) {
  m.Too(u"Ops"), m.From(u"Dev"), m.Subject(u"Hi"), m.Notification(u"Dev");
  m.ContentAdd(1, u"Hello"), m.ContentAdd(2, u"abc");
  m.ContentEncoding(2, u"base64"), m.ContentType(2, u"application/octet-stream");
}

// Each row composes a message, generated and sent alike; a row with `refused` expects
// GenerateMime to refuse it with that text, leaving its argument as it was.
TEST(GenerateMime, MessageOfEachComposition) {
  std::u16string data;  // a file's bytes, one character per byte, NUL and bytes above 127 included
  // It, the clefs and the 8-bit text are long enough to be sent in pieces.
  std::u16string base64, bodyOnly, clefs, clefsUtf8, eightBit, empty(kEmptyMessage);
  for (int i = 0; i < 100000; ++i) data += static_cast<char16_t>((i * 37) % 256);
  for (int i = 0; i < 20000; ++i) clefs += u"\U0001D11E", clefsUtf8 += u"\u00F0\u009D\u0084\u009E";
  for (int i = 0; i < 4000; ++i) eightBit += u"l\r\n.\r\n..d\n\0\u20AC\u00E9\r\n--ABCDEFGHIJKLMNOP--\r\n"s;
  EncodeBase64(data, base64);
  const std::u16string_view encodings[] = {u"Base64", u"7bit", u"quoted-printable", u"8BIT", u"", u"base64 "};
  for (std::u16string_view e : encodings) bodyOnly += Part(Mime::kDefaultTextType, e, u"");
  // The header of a message with empty To, From and Subject and no notification.
  const std::u16string head(kEmptyMessage.substr(0, kEmptyMessage.size() - kClosing.size())), gap(Part(u"", u"", u"")),
      end(kClosing), worked(kWorkedExample.substr(0, kWorkedExample.size() - kClosing.size()));
  const auto then = [](std::function<void(Mime&)> more) {
    return [more](Mime& m) { FillWorkedExample(m), more(m); };
  };
  const struct {
    const char* name;
    std::function<void(Mime&)> fill;
    int32_t count;
    std::u16string message;
    std::string refused = "";
    bool utf8 = false;
  } rows[] = {
      {"worked example", FillWorkedExample, 2, std::u16string(kWorkedExample)},
      {"new object", [](Mime&) {}, 0, empty},
      {"cleared", then([](Mime& m) { m.ContentType(9, u"x/y"), m.Clear(); }), 0, empty},
      {"filled after a clear", then([](Mime& m) { m.Clear(), m.ContentType(2, u"x/y"); }), 2,
       head + gap + Part(u"x/y", u"", u"") + end},
      {"headers unchanged", [](Mime& m) { m.Too(u"a@b, d@e"), m.From(u"  D <d@x>  "), m.Subject(u"\u00E9\u20AC\tx"); },
       0, u"To: a@b, d@e\r\nFrom:   D <d@x>  \r\nSubject: \u00E9\u20AC\tx\r\n" + head.substr(25) + end},
      {"empty notification", [](Mime& m) { m.Notification(u""); }, 0, empty},
      {"blank notification", [](Mime& m) { m.Notification(u" "); }, 0,
       head.substr(0, 25) + u"Disposition-Notification-To:  \r\n" + head.substr(25) + end},
      {"cc is never written", [](Mime& m) { m.cc(u"c@x\r\nBcc: z"); }, 0, empty},
      {"default type only without a type",
       [](Mime& m) { m.ContentAdd(1, u"one"), m.ContentType(2, u"text/html"), m.ContentAdd(2, u"<p>"); }, 2,
       head + TextPart(u"one") + Part(u"text/html", u"8bit", u"<p>") + end},
      {"add resets the encoding",
       [](Mime& m) { m.ContentType(1, u"a/pdf"), m.ContentEncoding(1, u"base64"), m.ContentAdd(1, u"second"); }, 1,
       head + Part(u"a/pdf", u"8bit", u"second") + end},
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
       then([](Mime& m) { m.ContentType(7, u"text/x"), m.ContentEncoding(5, u"8bit"), m.ContentEncoding(8, u""); }),
       8, worked + gap + gap + Part(u"", u"8bit", u"") + gap + Part(u"text/x", u"", u"") + gap + end},
      {"gets and negative ids change nothing",
       [](Mime& m) {
         m.ContentAdd(1, u"x"), (void)m.ContentType(2), (void)m.ContentEncoding(1000), (void)m.ContentType(INT32_MAX);
         m.ContentType(-1, u"text/x"), m.ContentEncoding(-1, u"base64"), m.ContentType(INT32_MIN, u"text/x");
       },
       1, head + TextPart(u"x") + end},
      {"id zero is never written",
       [](Mime& m) { m.ContentType(0, u"x/y\r\nBcc: z"), m.ContentAdd(0, u"zero"), m.ContentEncoding(0, u"b"); }, 0,
       empty},
      {"subject", then([](Mime& m) { m.Subject(u"Hi\r\nBcc: evil@x"); }), 2, u"kept",
       "Subject holds a line break and was not written: 'Hi%0D%0ABcc: evil@x'"},
      {"from", then([](Mime& m) { m.From(u"Dev\n <d@x>"); }), 2, u"kept",
       "From holds a line break and was not written: 'Dev%0A <d@x>'"},
      {"to", then([](Mime& m) { m.Too(u"a@b\r"); }), 2, u"kept", "To holds a line break and was not written: 'a@b%0D'"},
      {"notification", then([](Mime& m) { m.Notification(u"n\0@x"s); }), 2, u"kept",
       "Disposition-Notification-To holds a NUL character and was not written: 'n%00@x'"},
      {"type", then([](Mime& m) { m.ContentType(2, u"x/y\r\nBcc: z"); }), 2, u"kept",
       "Content-Type of part 2 holds a line break and was not written: 'x/y%0D%0ABcc: z'"},
      {"encoding", then([](Mime& m) { m.ContentEncoding(4, u"8bit\n"); }), 4, u"kept",
       "Content-Transfer-Encoding of part 4 holds a line break and was not written: '8bit%0A'"},
      // As UTF-8: only what is not ASCII changes, and every text type says UTF-8.
      {"utf8 ascii", FillWorkedExample, 2, ReplaceAll(kWorkedExample, u"ISO-8859-1", u"UTF-8"), "", true},
      {"utf8",
       [&](Mime& m) {
         m.Too(u"J\u00F6rg <j@x>, Dev <d@x>"), m.From(u"Dev <d@x>"), m.Subject(u"Gr\u00FC\u00DFe \u20AC");
         m.ContentAdd(1, u"\u00E9" + clefs + u"\u20AC\U0001D11E\r\n.x"), m.ContentAdd(2, data);
         m.ContentEncoding(2, u"base64");
         m.ContentType(2, u"application/octet-stream; name=\"\u20AC.bin\"; Filename=\u00E9");
         m.ContentType(3, u"TEXT/html; Charset=\"ISO-8859-1\""), m.ContentAdd(3, u"\u00FC");
         m.ContentType(5, u"text/x"), m.ContentAdd(5, u"\u00E9"), m.ContentEncoding(5, u"base64");
       },
       5,
       u"To: =?UTF-8?B?SsO2cmc=?= <j@x>, Dev <d@x>\r\nFrom: Dev <d@x>\r\nSubject: =?UTF-8?B?R3LDvMOfZSDigqw=?=\r\n" +
           head.substr(25) +
           Part(u"text/plain; charset=UTF-8; format=flowed", u"8bit",
                u"\u00C3\u00A9" + clefsUtf8 + u"\u00E2\u0082\u00AC\u00F0\u009D\u0084\u009E\r\n.x") +
           Part(u"application/octet-stream;\r\n name*=UTF-8''%E2%82%AC.bin;\r\n Filename*=UTF-8''%C3%A9", u"base64", base64) +
           Part(u"TEXT/html; Charset=UTF-8", u"8bit", u"\u00C3\u00BC") + gap +
           Part(u"text/x; charset=UTF-8", u"base64", u"w6k=") + end,
       "", true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Mime mime;
    r.fill(mime);
    std::u16string text = u"kept", sent;
    const Raised raised = RaisedBy([&] {
      EXPECT_EQ(mime.GenerateMime(text, r.utf8), -1);
      sent = Sent(mime, r.utf8);
    });
    const Raised refused = std::pair{ErrorNumber::InvalidArgument, r.refused};
    EXPECT_EQ(raised, r.refused.empty() ? Raised() : refused);
    EXPECT_EQ(text, r.message);
    EXPECT_EQ(sent, raised ? u"" : text);
    EXPECT_EQ(mime.ContentCount(), r.count);
  }
}

// Where the host's set would change a byte on the way out, UTF-8 text goes as
// base64; ASCII text and other parts as before.
TEST(GenerateMime, Utf8TextAsBase64WhereTheHostCantCarryItsBytes) {
  testing_support::WindowsLikeHostCharset lossy(true);
  Mime m;
  const std::u16string longText = u"a" + std::u16string(40000, u'\u00E9');  // in pieces of odd byte counts
  m.ContentAdd(1, longText), m.ContentAdd(2, u"a"), m.ContentAdd(3, u"\u00E9"), m.ContentType(3, u"a/b");
  std::u16string text, base64;
  AppendBase64(Utf8(longText), base64);
  m.GenerateMime(text, true);
  const std::u16string type = u"text/plain; charset=UTF-8; format=flowed";
  EXPECT_EQ(text.substr(text.find(u"--")), Part(type, u"base64", base64) + Part(type, u"8bit", u"a") +
                                               Part(u"a/b", u"8bit", u"\u00E9") + std::u16string(kClosing));
  EXPECT_EQ(Sent(m, true), text);
}

TEST(MimeParts, GetsGiveWhatWasPutAndOnlyPutsGrowTheTable) {
  Mime mime;
  mime.cc(u"copy@x"), mime.ContentAdd(1, u"one"), mime.ContentType(-1, u"text/x");
  mime.ContentType(0, u"text/zero"), mime.ContentEncoding(0, u"base64");
  for (const int32_t id : {-1, INT32_MIN})
    EXPECT_EQ(NumberRaisedBy([&] { mime.ContentAdd(id, u"x"); }), ErrorNumber::SubscriptOutOfRange) << id;
  EXPECT_EQ(mime.cc(), u"copy@x");
  const struct { int32_t id; std::u16string_view type, encoding; } parts[] = {
      {1, Mime::kDefaultTextType, u"8bit"}, {0, u"text/zero", u"base64"}, {-1, u"", u""}, {2, u"", u""}};
  for (const auto& p : parts) {
    EXPECT_EQ(mime.ContentType(p.id), p.type) << p.id;
    EXPECT_EQ(mime.ContentEncoding(p.id), p.encoding) << p.id;
  }
  EXPECT_EQ(mime.ContentCount(), 1);

  // The largest id is counted without filling the gaps; the message it would
  // make (some 150 GB of empty parts) is out of memory and the argument kept.
  mime.ContentType(INT32_MAX, u"text/last");
  EXPECT_EQ(mime.ContentCount(), INT32_MAX);
  EXPECT_EQ(mime.ContentType(INT32_MAX), u"text/last");
  EXPECT_EQ(mime.ContentType(INT32_MAX - 1), u"");
  std::u16string result = u"earlier message";
  EXPECT_EQ(NumberRaisedBy([&] { mime.GenerateMime(result); }), ErrorNumber::OutOfMemory);
  EXPECT_EQ(result, u"earlier message");
  mime.Clear();
  EXPECT_EQ(mime.ContentCount(), 0);
  EXPECT_EQ(mime.ContentType(0), u"");
}

}  // namespace
}  // namespace corvane
