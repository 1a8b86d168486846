// The MIME composer driven by arbitrary calls, checked against a plain model of
// its part table and of the message it generates.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>

#include "control/errors.h"
#include "mime/mime.h"
#include "oracle.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

struct Part {
  std::u16string type, encoding, data;
};

struct Model {
  std::u16string to, from, subject, notification;
  std::vector<Part> parts = std::vector<Part>(1);  // ids 0 to N, dense

  Part& At(int32_t id) {
    if (static_cast<size_t>(id) >= parts.size()) parts.resize(static_cast<size_t>(id) + 1);
    return parts[static_cast<size_t>(id)];
  }
  // Every value the message writes into a header line keeps that line whole.
  bool Writable() const {
    for (const std::u16string* value : {&to, &from, &subject, &notification})
      if (BreaksItsLine(*value)) return false;
    for (size_t id = 1; id < parts.size(); ++id)
      if (BreaksItsLine(parts[id].type) || BreaksItsLine(parts[id].encoding)) return false;
    return true;
  }
  std::u16string Message() const {
    const std::u16string b = u"ABCDEFGHIJKLMNOP";
    std::u16string m = u"To: " + to + u"\r\nFrom: " + from + u"\r\nSubject: " + subject + u"\r\n";
    if (!notification.empty()) m += u"Disposition-Notification-To: " + notification + u"\r\n";
    m += u"MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"" + b +
         u"\"\r\n\r\nThis is a multi-part message in MIME format.\r\n";
    for (size_t id = 1; id < parts.size(); ++id) {
      const Part& p = parts[id];
      m += u"--" + b + u"\r\nContent-Type: " + p.type + u"\r\nContent-Transfer-Encoding: " + p.encoding + u"\r\n\r\n";
      if (p.encoding == u"base64") m += Widen(Base64Naive(Latin1(p.data)));
      if (p.encoding == u"8bit") m += p.data;
      m += u"\r\n\r\n";
    }
    return m + u"--" + b + u"--";
  }
};

std::u16string Text(FuzzedDataProvider& in) {
  static const std::u16string kChosen[] = {u"base64", u"8bit", u"Base64", u"", u"\r\n--ABCDEFGHIJKLMNOP\r\n"};
  if (in.ConsumeBool()) return kChosen[in.ConsumeIntegralInRange<size_t>(0, 4)];
  std::u16string s = Widen(in.ConsumeRandomLengthString(200));
  if (!s.empty() && in.ConsumeBool()) s[0] = u'\u0153';  // beyond ISO-8859-1
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Mime mime;
  Model model;
  for (int calls = 0; calls < 40 && in.remaining_bytes() > 0; ++calls) {
    const int32_t id = in.ConsumeIntegralInRange<int32_t>(-2, 12);
    switch (in.ConsumeIntegralInRange(0, 8)) {
      case 0: {
        const std::u16string s = Text(in);
        try {
          mime.ContentAdd(id, s);
          FUZZ_CHECK(id >= 0);
          Part& p = model.At(id);
          if (p.type.empty()) p.type = u"text/plain; charset=ISO-8859-1; format=flowed";
          p.encoding = u"8bit";
          p.data = s;
        } catch (const AutomationError& e) {
          FUZZ_CHECK(id < 0 && e.number() == ErrorNumber::SubscriptOutOfRange);
        }
        break;
      }
      case 1: {
        const std::u16string s = Text(in);
        mime.ContentType(id, s);
        if (id >= 0) model.At(id).type = s;
        break;
      }
      case 2: {
        const std::u16string s = Text(in);
        mime.ContentEncoding(id, s);
        if (id >= 0) model.At(id).encoding = s;
        break;
      }
      case 3: mime.Subject(model.subject = Text(in)); break;
      case 4: mime.From(model.from = Text(in)); break;
      case 5: mime.Too(model.to = Text(in)); break;
      case 6: mime.Notification(model.notification = Text(in)); break;
      case 7: mime.cc(Text(in)); break;  // never in the message
      default:
        mime.Clear();
        model = Model();
    }
    FUZZ_CHECK(mime.ContentCount() == static_cast<int32_t>(model.parts.size()) - 1);
  }
  for (int32_t id = -1; id <= mime.ContentCount() + 1; ++id) {
    const bool inTable = id >= 0 && id <= mime.ContentCount();
    FUZZ_CHECK(mime.ContentType(id) == (inTable ? model.parts[static_cast<size_t>(id)].type : u""));
    FUZZ_CHECK(mime.ContentEncoding(id) == (inTable ? model.parts[static_cast<size_t>(id)].encoding : u""));
  }
  std::u16string message = u"stale";
  if (!model.Writable()) {
    try {
      mime.GenerateMime(message);
      FUZZ_CHECK(false);
    } catch (const AutomationError& e) {
      FUZZ_CHECK(e.number() == ErrorNumber::InvalidArgument && message == u"stale");
    }
    return 0;
  }
  FUZZ_CHECK(mime.GenerateMime(message) == -1);
  if (message != model.Message()) {
    Show("generated", message);
    Show("expected", model.Message());
    FUZZ_CHECK(message == model.Message());
  }
  std::u16string sent;  // as SendMime sends it, in pieces
  Mime::Outgoing(mime, false).Write([&](auto s) { return sent.append(sent.empty() ? u"" : u"\r\n").append(s), true; });
  FUZZ_CHECK(sent == message);
  FUZZ_CHECK(mime.ContentCount() == static_cast<int32_t>(model.parts.size()) - 1);
  return 0;
}
