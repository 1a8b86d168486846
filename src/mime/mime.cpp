#include "mime/mime.h"

#include <algorithm>

#include "control/errors.h"
#include "mime/base64.h"
#include "text/charset.h"
#include "text/header_words.h"

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
  record.data = std::make_shared<const std::u16string>(std::move(data));
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
  void utf8(std::u16string_view text) { add(Utf8Length(text)); }
  void utf8Base64(std::u16string_view text) { add(Base64Length(Utf8Length(text))); }
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
  void utf8(std::u16string_view text) {
    const std::string bytes = Utf8(text);
    hostCharset().fromBytes(bytes, out_);
    out_ += bytes.size();
  }
  void utf8Base64(std::u16string_view text) {
    const std::string bytes = Utf8(text);
    EncodeBase64Bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out_);
    out_ += Base64Length(bytes.size());
  }
  template <class Write>
  void repeat(size_t count, Write write) {
    while (count-- != 0) write(*this);
  }

 private:
  char16_t* out_;
};

// Third: hands the message out in pieces of whole lines as it is laid out,
// holding some kPiece characters (more only for one longer line), so that no
// part's text or encoding is ever held whole. Once `deliver` says stop, the rest
// of the walk writes nothing.
class StreamingSink {
 public:
  explicit StreamingSink(const std::function<bool(std::u16string_view)>& deliver) : deliver_(deliver) {}
  void text(std::u16string_view s) {
    slices(s, [&](std::u16string_view slice) { buffer_ += slice; });
  }
  void base64(std::u16string_view data) {
    encodeSlices(data, [](std::u16string_view slice, std::string& bytes) { bytes += hostCharset().toBytes(slice); });
  }
  void utf8(std::u16string_view text) {
    slices(text, [&](std::u16string_view slice) { buffer_ += hostCharset().fromBytes(Utf8(slice)); });
  }
  void utf8Base64(std::u16string_view text) {
    encodeSlices(text, [](std::u16string_view slice, std::string& bytes) { bytes += Utf8(slice); });
  }
  template <class Write>
  void repeat(size_t count, Write write) {
    while (count-- != 0 && !stopped_) write(*this);
  }
  // Hands over the last piece; whether every piece was taken.
  bool finish() { return !stopped_ && deliver_(buffer_); }

 private:
  static constexpr size_t kPiece = size_t{1} << 16;
  // Characters taken at a time: whole lines of base64 (57 bytes each).
  static constexpr size_t kSlice = 57 * 256;

  // Gives `text` to `take` a slice at a time, never parting a surrogate pair,
  // handing out the whole lines gathered after each.
  template <class Take>
  void slices(std::u16string_view text, Take take) {
    for (size_t at = 0, n; at < text.size() && !stopped_; at += n) {
      n = std::min(kSlice, text.size() - at);
      if (at + n < text.size() && text[at + n - 1] >= 0xD800 && text[at + n - 1] <= 0xDBFF) --n;
      take(text.substr(at, n));
      deliverLines();
    }
  }
  // The base64 of the bytes `toBytes` makes of `text`, encoded whole lines at a time.
  template <class ToBytes>
  void encodeSlices(std::u16string_view text, ToBytes toBytes) {
    std::string bytes;
    bool first = true;
    auto encode = [&](size_t size) {
      if (!first) buffer_ += kCrLf;
      first = false;
      AppendBase64(std::string_view(bytes).substr(0, size), buffer_);
      bytes.erase(0, size);
    };
    slices(text, [&](std::u16string_view slice) {
      toBytes(slice, bytes);
      if (bytes.size() >= 57) encode(bytes.size() / 57 * 57);
    });
    if (!bytes.empty() && !stopped_) {
      encode(bytes.size());
      deliverLines();
    }
  }
  // Once a piece's worth is gathered, hands over what ends in its last CR LF.
  void deliverLines() {
    if (buffer_.size() < kPiece || stopped_) return;
    const size_t from = scanned_, cut = std::u16string_view(buffer_).substr(from).rfind(kCrLf);
    scanned_ = buffer_.size() - 1;  // a CR at the end may yet be followed by LF
    if (cut == std::u16string_view::npos) return;
    stopped_ = !deliver_(std::u16string_view(buffer_).substr(0, from + cut));
    buffer_.erase(0, from + cut + kCrLf.size());
    scanned_ = buffer_.empty() ? 0 : buffer_.size() - 1;
  }

  const std::function<bool(std::u16string_view)>& deliver_;
  std::u16string buffer_;
  size_t scanned_ = 0;  // no CR LF starts before this in buffer_
  bool stopped_ = false;
};

bool IsTextType(std::u16string_view type) { return EqualsIgnoringCase(type.substr(0, 5), u"text/"); }

// A part's type as sent in UTF-8: a text type's charset says UTF-8 (added when it
// names none), and a file name that is not ASCII becomes an extended parameter.
std::u16string Utf8Type(std::u16string_view type) {
  const bool text = IsTextType(type);
  std::u16string out;
  bool labelled = false;
  for (size_t start = 0, end; start <= type.size(); start = end + 1) {
    // The next ";" outside a quoted string ends the parameter.
    end = FindOutsideQuotes(type, start, u';');
    const std::u16string_view piece = type.substr(start, end - start);
    const size_t first = std::min(piece.find_first_not_of(u" \t"), piece.size()), eq = piece.find(u'=');
    const std::u16string_view attribute = eq == piece.npos || start == 0 ? u"" : piece.substr(first, eq - first);
    std::u16string value(eq == piece.npos ? u"" : piece.substr(eq + 1));
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
      value = Unquoted(value);
    if (start != 0) out += u';';
    if (text && EqualsIgnoringCase(attribute, u"charset")) {
      out += piece.substr(0, eq + 1);
      out += u"UTF-8";
      labelled = true;
    } else if ((EqualsIgnoringCase(attribute, u"name") || EqualsIgnoringCase(attribute, u"filename")) && !IsAscii(value)) {
      out += u"\r\n ";
      out += ExtendedParameter(attribute, value);
    } else {
      out += piece;
    }
  }
  if (text && !labelled) out += u"; charset=UTF-8";
  return out;
}

}  // namespace

template <class Sink>
void Mime::write(Sink& sink, const Wording& wording) const {
  auto line = [](auto& to, std::u16string_view label, std::u16string_view value) {
    to.text(label);
    to.text(value);
    to.text(kCrLf);
  };
  line(sink, u"To: ", wording.too);
  line(sink, u"From: ", wording.from);
  line(sink, u"Subject: ", wording.subject);
  if (!notification_.empty()) line(sink, u"Disposition-Notification-To: ", wording.notification);
  line(sink, u"MIME-Version: 1.0", u"");
  line(sink, u"Content-Type: multipart/mixed;", u"");
  sink.text(u" boundary=\"");
  sink.text(kBoundary);
  sink.text(u"\"\r\n\r\n");
  line(sink, u"This is a multi-part message in MIME format.", u"");
  // Ids 1 to N in order; ids that never held a value are written as empty parts.
  auto writePart = [&](auto& to, const ContentPart& record) {
    const std::u16string utf8Type = wording.utf8 ? Utf8Type(record.type) : std::u16string();
    // Text as UTF-8; as base64 where the host's set can't carry its bytes.
    const bool utf8 = wording.utf8 && IsTextType(record.type);
    const bool recoded =
        utf8 && record.encoding == u"8bit" && !hostCharset().carriesEveryByte() && !IsAscii(record.body());
    line(to, u"--", kBoundary);
    line(to, u"Content-Type: ", wording.utf8 ? utf8Type : record.type);
    line(to, u"Content-Transfer-Encoding: ", recoded ? u"base64" : record.encoding);
    to.text(kCrLf);
    if (record.encoding == u"base64" || recoded) {
      utf8 ? to.utf8Base64(record.body()) : to.base64(record.body());
    } else if (record.encoding == u"8bit") {
      utf8 ? to.utf8(record.body()) : to.text(record.body());
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

Mime::Wording Mime::wording(bool utf8, std::u16string (&encoded)[4]) const {
  if (const std::optional<NamedValue> bad = UnwritableValue())
    throw AutomationError(ErrorNumber::InvalidArgument, Utf8(*LineBreakRefusal(bad->what, bad->value, u"was not written")));
  if (!utf8) return Wording{too_, from_, subject_, notification_, false};
  encoded[0] = AddressWords(too_, 4), encoded[1] = AddressWords(from_, 6), encoded[2] = HeaderWords(subject_, 9);
  encoded[3] = AddressWords(notification_, 29);
  return Wording{encoded[0], encoded[1], encoded[2], encoded[3], true};
}

size_t Mime::length(const Wording& wording) const {
  MeasuringSink measure;
  write(measure, wording);
  return measure.length();
}

int16_t Mime::GenerateMime(std::u16string& result, bool utf8) const {
  std::u16string encoded[4];
  const Wording words = wording(utf8, encoded);
  const size_t size = length(words);
  result.clear();
  result.shrink_to_fit();  // let go of an earlier message before making the new one
  result.resize(size);
  WritingSink writer(result.data());
  write(writer, words);
  return -1;
}

Mime::Outgoing::Outgoing(const Mime& mime, bool utf8) : mime_(mime), wording_(mime_.wording(utf8, encoded_)) {
  mime_.length(wording_);
}

bool Mime::Outgoing::Write(const std::function<bool(std::u16string_view)>& deliver) const {
  StreamingSink sink(deliver);
  mime_.write(sink, wording_);
  return sink.finish();
}

}  // namespace corvane
