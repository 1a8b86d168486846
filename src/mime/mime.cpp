#include "mime/mime.h"

#include <algorithm>

#include "control/errors.h"
#include "mime/base64.h"
#include "text/charset.h"

namespace corvane {

void Mime::Clear() { *this = Mime(); }

Mime::ContentPart& Mime::part(int32_t id) {
  count_ = std::max(count_, id);
  return parts_[id];
}

const Mime::ContentPart* Mime::find(int32_t id) const {
  const auto it = parts_.find(id);
  return it == parts_.end() ? nullptr : &it->second;
}

void Mime::ContentAdd(int32_t id, std::u16string data) {
  if (id < 0) throw AutomationError(ErrorNumber::SubscriptOutOfRange);
  ContentPart& record = part(id);
  if (record.type.empty()) record.type = kDefaultTextType;
  record.encoding = u"8bit";
  record.data = std::move(data);
}

std::u16string Mime::ContentType(int32_t id) const {
  const ContentPart* record = find(id);
  return record ? record->type : std::u16string();
}

void Mime::ContentType(int32_t id, const std::u16string& s) {
  if (id >= 0) part(id).type = s;
}

std::u16string Mime::ContentEncoding(int32_t id) const {
  const ContentPart* record = find(id);
  return record ? record->encoding : std::u16string();
}

void Mime::ContentEncoding(int32_t id, const std::u16string& s) {
  if (id >= 0) part(id).encoding = s;
}

namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

// First pass of the generator: counts characters, and stops as soon as the
// message is too long to be one string.
class MeasuringSink {
 public:
  void text(std::u16string_view s) { add(s.size()); }
  void base64(std::u16string_view data) { add(Base64Length(data.size())); }
  // `count` times what `write` writes, measured once.
  template <class Write>
  void repeat(size_t count, Write write) {
    MeasuringSink once;
    write(once);
    if (count != 0 && once.length_ > (Mime::kMaxMessageLength - length_) / count)
      throw AutomationError(ErrorNumber::OutOfMemory);
    length_ += count * once.length_;
  }
  size_t length() const { return length_; }

 private:
  void add(size_t n) {
    if (n > Mime::kMaxMessageLength - length_) throw AutomationError(ErrorNumber::OutOfMemory);
    length_ += n;
  }
  size_t length_ = 0;
};

// Second pass: writes into the string that the first pass sized exactly.
class WritingSink {
 public:
  explicit WritingSink(char16_t* out) : out_(out) {}
  void text(std::u16string_view s) { out_ = std::copy(s.begin(), s.end(), out_); }
  void base64(std::u16string_view data) {
    EncodeBase64Text(data, out_);
    out_ += Base64Length(data.size());
  }
  template <class Write>
  void repeat(size_t count, Write write) {
    while (count-- != 0) write(*this);
  }

 private:
  char16_t* out_;
};

}  // namespace

template <class Sink>
void Mime::write(Sink& sink) const {
  auto line = [](auto& to, std::u16string_view label, std::u16string_view value) {
    to.text(label);
    to.text(value);
    to.text(kCrLf);
  };
  line(sink, u"To: ", too_);
  line(sink, u"From: ", from_);
  line(sink, u"Subject: ", subject_);
  if (!notification_.empty()) line(sink, u"Disposition-Notification-To: ", notification_);
  line(sink, u"MIME-Version: 1.0", u"");
  line(sink, u"Content-Type: multipart/mixed;", u"");
  sink.text(u" boundary=\"");
  sink.text(kBoundary);
  sink.text(u"\"\r\n\r\n");
  line(sink, u"This is a multi-part message in MIME format.", u"");
  // Ids 1 to N in order; ids that never held a value are written as empty parts.
  auto writePart = [&](auto& to, const ContentPart& record) {
    line(to, u"--", kBoundary);
    line(to, u"Content-Type: ", record.type);
    line(to, u"Content-Transfer-Encoding: ", record.encoding);
    to.text(kCrLf);
    if (record.encoding == u"base64") {
      to.base64(record.data);
    } else if (record.encoding == u"8bit") {
      to.text(record.data);
    }
    to.text(u"\r\n\r\n");
  };
  int64_t next = 1;
  for (auto it = parts_.lower_bound(1);; ++it) {
    const int64_t id = it == parts_.end() ? int64_t{count_} + 1 : it->first;
    sink.repeat(static_cast<size_t>(id - next), [&](auto& to) { writePart(to, ContentPart{}); });
    if (id > count_) break;
    writePart(sink, it->second);
    next = id + 1;
  }
  sink.text(u"--");
  sink.text(kBoundary);
  sink.text(u"--");
}

std::optional<Mime::NamedValue> Mime::UnwritableValue() const {
  const std::pair<std::u16string_view, const std::u16string*> headers[] = {
      {u"To", &too_}, {u"From", &from_}, {u"Subject", &subject_}, {u"Disposition-Notification-To", &notification_}};
  for (const auto& [what, value] : headers)
    if (HoldsLineBreak(*value)) return NamedValue{std::u16string(what), *value};
  // Parts that never held a value are written empty.
  for (auto it = parts_.lower_bound(1); it != parts_.end() && it->first <= count_; ++it) {
    const std::u16string part = u" of part " + DecimalText(it->first);
    if (HoldsLineBreak(it->second.type)) return NamedValue{u"Content-Type" + part, it->second.type};
    if (HoldsLineBreak(it->second.encoding)) return NamedValue{u"Content-Transfer-Encoding" + part, it->second.encoding};
  }
  return std::nullopt;
}

int16_t Mime::GenerateMime(std::u16string& result) const {
  if (const std::optional<NamedValue> bad = UnwritableValue())
    throw AutomationError(ErrorNumber::InvalidArgument, Utf8(*LineBreakRefusal(bad->what, bad->value, u"was not written")));
  MeasuringSink measure;
  write(measure);
  result.clear();
  result.shrink_to_fit();  // let go of an earlier message before making the new one
  result.resize(measure.length());
  WritingSink writer(result.data());
  write(writer);
  return -1;
}

}  // namespace corvane
