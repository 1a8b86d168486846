#include "text/charset.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {
// Conversions go in blocks of this many characters: a block that holds only
// characters standing for themselves needs no table, and the compiler turns its
// loops into vector instructions.
constexpr size_t kBlock = 32;

// The code point at text[i], with i moved onto the second half of a surrogate
// pair; an unpaired surrogate stands for U+FFFD.
char32_t CodePointAt(std::u16string_view text, size_t& i) {
  const char32_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
    return 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
  return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}
}  // namespace

ByteCharset::ByteCharset(const std::array<char16_t, 256>& charOfByte, uint8_t substitute)
    : charOf_(charOfByte), byteOf_(new uint8_t[65536]) {
  std::fill_n(byteOf_.get(), 65536, substitute);
  // Walk downwards so that where two bytes share a character the lower byte wins.
  for (int b = 255; b >= 0; --b) byteOf_[charOf_[b]] = static_cast<uint8_t>(b);
  auto sameBelow = [&](int end) {
    for (int b = 0; b < end; ++b)
      if (charOf_[b] != b) return false;
    return true;
  };
  same_ = sameBelow(256) ? 256 : sameBelow(128) ? 128 : 0;
  carriesEveryByte_ = true;
  for (int b = 0; b < 256; ++b) carriesEveryByte_ = carriesEveryByte_ && byteOf_[charOf_[b]] == b;
}

const ByteCharset& ByteCharset::latin1() {
  static const ByteCharset charset = [] {
    std::array<char16_t, 256> chars{};
    for (int b = 0; b < 256; ++b) chars[b] = static_cast<char16_t>(b);
    return ByteCharset(chars, '?');
  }();
  return charset;
}

void ByteCharset::toBytes(std::u16string_view text, uint8_t* out) const {
  size_t i = 0;
  for (const unsigned same = same_; i + kBlock <= text.size(); i += kBlock) {
    char16_t top = 0;
    for (size_t k = 0; k < kBlock; ++k) top = std::max(top, text[i + k]);
    uint8_t block[kBlock];
    if (top < same) {
      for (size_t k = 0; k < kBlock; ++k) block[k] = static_cast<uint8_t>(text[i + k]);
    } else {
      for (size_t k = 0; k < kBlock; ++k) block[k] = byteOf_[text[i + k]];
    }
    std::memcpy(out + i, block, kBlock);
  }
  for (; i < text.size(); ++i) out[i] = byteOf_[text[i]];
}

std::string ByteCharset::toBytes(std::u16string_view text) const {
  std::string bytes(text.size(), '\0');
  toBytes(text, reinterpret_cast<uint8_t*>(bytes.data()));
  return bytes;
}

std::u16string ByteCharset::fromBytes(std::string_view bytes) const {
  std::u16string text(bytes.size(), u'\0');
  fromBytes(bytes, text.data());
  return text;
}

void ByteCharset::fromBytes(std::string_view bytes, char16_t* out) const {
  size_t i = 0;
  for (const unsigned same = same_; i + kBlock <= bytes.size(); i += kBlock) {
    uint8_t block[kBlock];
    std::memcpy(block, bytes.data() + i, kBlock);
    uint8_t top = 0;
    for (size_t k = 0; k < kBlock; ++k) top = std::max(top, block[k]);
    if (top < same) {
      for (size_t k = 0; k < kBlock; ++k) out[i + k] = block[k];
    } else {
      for (size_t k = 0; k < kBlock; ++k) out[i + k] = charOf_[block[k]];
    }
  }
  for (; i < bytes.size(); ++i) out[i] = charOf_[static_cast<uint8_t>(bytes[i])];
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = CodePointAt(text, i);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

size_t Utf8Length(std::u16string_view text) {
  size_t length = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = CodePointAt(text, i);
    length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  return length;
}

namespace {
std::unique_ptr<ByteCharset>& installedCharset() {
  static std::unique_ptr<ByteCharset> charset;
  return charset;
}
}  // namespace

const ByteCharset& hostCharset() {
  const auto& installed = installedCharset();
  return installed ? *installed : ByteCharset::latin1();
}

void setHostCharset(std::unique_ptr<ByteCharset> charset) { installedCharset() = std::move(charset); }

}  // namespace corvane
