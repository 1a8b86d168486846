#include "text/header_words.h"

#include <algorithm>

#include "mime/base64.h"
#include "text/charset.h"
#include "text/fields.h"
#include "text/percent.h"

namespace corvane {

namespace {

constexpr size_t kLine = 76;  // the longest line that holds encoded words
constexpr std::u16string_view kFold = u"\r\n ";
constexpr std::u16string_view kWordStart = u"=?UTF-8?B?", kWordEnd = u"?=";

// Characters on the last line of `text`.
size_t LastLineLength(std::u16string_view text) {
  const size_t end = text.rfind(u'\n');
  return end == text.npos ? text.size() : text.size() - end - 1;
}

// Bytes in the UTF-8 sequence that `lead` starts.
size_t SequenceLength(char lead) {
  const auto b = static_cast<uint8_t>(lead);
  return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

}  // namespace

bool IsAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

size_t FindOutsideQuotes(std::u16string_view text, size_t start, char16_t delimiter) {
  size_t end = start;
  for (bool inQuotes = false; end < text.size() && (inQuotes || text[end] != delimiter); ++end) {
    if (text[end] == u'"') inQuotes = !inQuotes;
    else if (text[end] == u'\\' && inQuotes) ++end;
  }
  return std::min(end, text.size());
}

std::u16string QuotedText(std::u16string_view text) {
  return ReplaceAll(ReplaceAll(text, u"\\", u"\\\\"), u"\"", u"\\\"");
}

std::u16string Unquoted(std::u16string_view quoted) {
  return ReplaceAll(ReplaceAll(quoted.substr(1, quoted.size() - 2), u"\\\"", u"\""), u"\\\\", u"\\");
}

std::u16string HeaderWords(std::u16string_view value, size_t lead) {
  if (IsAscii(value)) return std::u16string(value);
  const std::string bytes = Utf8(value);
  const size_t frame = kWordStart.size() + kWordEnd.size();
  // The first word takes what its line has left, but never less than a word that
  // holds the longest character (8 digits); later words follow a fold's blank.
  size_t room = std::max(kLine - std::min(lead, kLine), frame + 8);
  std::u16string out;
  for (size_t start = 0; start < bytes.size();) {
    const size_t most = std::min<size_t>(75, room) - frame;
    const size_t capacity = most / 4 * 3;  // whole groups of three bytes
    size_t end = start;
    while (end < bytes.size() && end + SequenceLength(bytes[end]) - start <= capacity)
      end += SequenceLength(bytes[end]);
    if (start != 0) out += kFold;
    out += kWordStart;
    AppendBase64(std::string_view(bytes).substr(start, end - start), out);
    out += kWordEnd;
    start = end;
    room = kLine - 1;
  }
  return out;
}

std::u16string AddressWords(std::u16string_view value, size_t lead) {
  std::u16string out;
  const auto lineLength = [&] { return out.find(u'\n') == out.npos ? lead + out.size() : LastLineLength(out); };
  for (size_t start = 0;;) {
    // The next "," outside a quoted name ends the address.
    const size_t comma = FindOutsideQuotes(value, start, u',');
    const std::u16string_view piece = value.substr(start, comma - start);
    const size_t first = std::min(piece.find_first_not_of(u' '), piece.size());
    const size_t open = piece.rfind(u'<');
    const size_t nameEnd = open == piece.npos || open <= first ? first : piece.find_last_not_of(u' ', open - 1) + 1;
    const std::u16string_view name = piece.substr(first, nameEnd - first);
    const bool quoted = name.size() >= 2 && name.front() == u'"' && name.back() == u'"';
    if (name.empty() || (IsAscii(name) && (quoted || name.find_first_of(u"()<>[]:;@\\.\"") == name.npos))) {
      out += piece;
    } else {
      out += piece.substr(0, first);
      if (IsAscii(name)) {
        out.append(1, u'"').append(QuotedText(name)).append(1, u'"');
        out += piece.substr(nameEnd);
      } else {
        const std::u16string plain = quoted ? Unquoted(name) : std::u16string(name);
        out += HeaderWords(plain, lineLength());
        // The address goes on a line of its own when it would make this one too long.
        const std::u16string_view gap = piece.substr(nameEnd, open - nameEnd), address = piece.substr(open);
        out += lineLength() + gap.size() + address.size() > kLine ? kFold : gap;
        out += address;
      }
    }
    if (comma == value.size()) return out;
    out += u',';
    start = comma + 1;
  }
}

std::u16string ExtendedParameter(std::u16string_view attribute, std::u16string_view value) {
  const std::u16string escaped = ParameterEscape(Utf8(value)), name(attribute);
  const std::u16string_view label = u"UTF-8''";
  // A blank, the attribute, "*NN*=" and ";" around each piece.
  const size_t room = kLine - 1 - std::min<size_t>(attribute.size(), 40) - 6;
  if (1 + attribute.size() + 2 + label.size() + escaped.size() + 1 <= kLine)
    return name + u"*=" + std::u16string(label) + escaped;
  std::u16string out;
  size_t start = 0;
  for (int n = 0; start < escaped.size(); ++n) {
    const size_t width = room - (n == 0 ? label.size() : 0);
    size_t end = std::min(start + width, escaped.size());
    // Never cut an escape ("%XX") short.
    if (end < escaped.size()) end -= escaped[end - 1] == u'%' ? 1 : escaped[end - 2] == u'%' ? 2 : 0;
    if (n != 0) out.append(1, u';').append(kFold);
    out.append(name).append(1, u'*').append(DecimalText(n)).append(u"*=").append(n == 0 ? label : u"");
    out.append(escaped, start, end - start);
    start = end;
  }
  return out;
}

}  // namespace corvane
