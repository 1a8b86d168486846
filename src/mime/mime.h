#pragma once
// The message composer: header fields and numbered content parts of one outgoing
// message, generated as one multipart/mixed text. It does no network work.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "text/fields.h"

namespace corvane {

class Mime {
 public:
  // The multipart boundary: fixed, so the same message always gives the same text.
  static constexpr std::u16string_view kBoundary = u"ABCDEFGHIJKLMNOP";
  static constexpr std::u16string_view kDefaultTextType = u"text/plain; charset=ISO-8859-1; format=flowed";

  void Clear();

  const std::u16string& Subject() const { return subject_; }
  void Subject(const std::u16string& s) { subject_ = s; }
  const std::u16string& From() const { return from_; }
  void From(const std::u16string& s) { from_ = s; }
  const std::u16string& Too() const { return too_; }
  void Too(const std::u16string& s) { too_ = s; }
  const std::u16string& Notification() const { return notification_; }
  void Notification(const std::u16string& s) { notification_ = s; }
  // Kept and returned, but never written into the message: copies go in Too.
  const std::u16string& cc() const { return cc_; }
  void cc(const std::u16string& s) { cc_ = s; }

  // The highest id named since creation or the last Clear (0 if none). The part
  // table is dense: every id from 0 to ContentCount exists.
  int32_t ContentCount() const { return count_; }

  // Stores `data` as the part's body with encoding "8bit", giving the part the
  // default text type if it has none. A negative id raises subscript out of range.
  void ContentAdd(int32_t id, std::u16string data);

  // Empty for ids outside 0..ContentCount; a put with a negative id is ignored.
  std::u16string ContentType(int32_t id) const;
  void ContentType(int32_t id, const std::u16string& s);
  std::u16string ContentEncoding(int32_t id) const;
  void ContentEncoding(int32_t id, const std::u16string& s);

  // Assigns the whole message to `result` and returns -1. Raises out of memory
  // when the message would exceed what one string can carry, and invalid argument
  // for a header value that holds CR, LF or NUL (UnwritableValue): `result` is
  // left as it was.
  int16_t GenerateMime(std::u16string& result) const { return GenerateMime(result, false); }
  // With `utf8`, text goes as UTF-8 (one character per byte in the host's set):
  // Subject and display names as encoded words, text parts' bodies, their types
  // labelled charset=UTF-8, and non-ASCII file names (name=, filename=) as
  // extended parameters. Other parts keep their bytes.
  int16_t GenerateMime(std::u16string& result, bool utf8) const;

  // The first value that GenerateMime would write into a header line and that
  // holds CR, LF or NUL (HoldsLineBreak), named as its header ("Subject",
  // "Content-Type of part 2"); none when every one can be written.
  struct NamedValue {
    std::u16string what;
    std::u16string value;
  };
  std::optional<NamedValue> UnwritableValue() const;

  // The longest message GenerateMime makes, in characters (what one automation
  // string holds).
  static constexpr size_t kMaxMessageLength = kLongestText;

  // GenerateMime's message handed out in pieces (below).
  class Outgoing;

 private:
  struct ContentPart {
    std::u16string type;
    std::u16string encoding;
    // Replaced, never changed, so that copies of the object can share it.
    std::shared_ptr<const std::u16string> data;
    std::u16string_view body() const { return data ? std::u16string_view(*data) : std::u16string_view(); }
  };

  // Grows the table to `id` and gives its record; never called with id < 0.
  ContentPart& part(int32_t id);
  const ContentPart* find(int32_t id) const;
  // The header values as written, and whether text goes as UTF-8.
  struct Wording {
    std::u16string_view too, from, subject, notification;
    bool utf8;
  };
  // Refuses a message with an unwritable value, as GenerateMime does, and gives
  // its wording; the encoded words it needs are kept in `encoded`.
  Wording wording(bool utf8, std::u16string (&encoded)[4]) const;
  // The message's length in characters; raises out of memory past kMaxMessageLength.
  size_t length(const Wording& wording) const;
  // Lays out the message; the same walk first measures it, then writes it.
  template <class Sink>
  void write(Sink& sink, const Wording& wording) const;

  std::u16string subject_, from_, too_, notification_, cc_;
  int32_t count_ = 0;
  // Only records that ever held a value are stored; the others read as empty.
  std::map<int32_t, ContentPart> parts_;
};

// GenerateMime's message, handed out in pieces rather than made whole. It is
// taken from the object as it is when constructed (the parts' data shared, not
// copied), so later changes to the object leave it alone, and it is checked and
// measured then, raising what GenerateMime raises.
class Mime::Outgoing {
 public:
  Outgoing(const Mime& mime, bool utf8);
  Outgoing(const Outgoing&) = delete;
  Outgoing& operator=(const Outgoing&) = delete;
  // Hands the message to `deliver` in order, in pieces of whole lines: the CR LF
  // that ends each piece is left out, so the pieces joined by CR LF are the
  // message. A piece is some 64 Ki characters, longer only for a longer line.
  // Stops once `deliver` returns false; whether every piece was taken.
  bool Write(const std::function<bool(std::u16string_view)>& deliver) const;

 private:
  const Mime mime_;
  std::u16string encoded_[4];
  const Wording wording_;
};

}  // namespace corvane
