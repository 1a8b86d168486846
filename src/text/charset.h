#pragma once
// The host's 8-bit character set. Text is UTF-16 inside the control; whatever goes
// on the wire, into a Base64 body or into a percent encoding is one byte per
// character in this set. Natively it is ISO-8859-1 (byte n is character n, so
// binary data round-trips exactly); the Windows shell installs the ANSI code page.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

class ByteCharset {
 public:
  // charOfByte[b] is the character of byte b. A character that no byte stands for
  // becomes `substitute`, the way the platform's own conversion would write it.
  ByteCharset(const std::array<char16_t, 256>& charOfByte, uint8_t substitute);

  static const ByteCharset& latin1();

  uint8_t byteOf(char16_t c) const { return byteOf_[c]; }
  char16_t charOf(uint8_t b) const { return charOf_[b]; }

  std::string toBytes(std::u16string_view text) const;
  void toBytes(std::u16string_view text, uint8_t* out) const;  // text.size() bytes
  std::u16string fromBytes(std::string_view bytes) const;
  void fromBytes(std::string_view bytes, char16_t* out) const;  // bytes.size() characters

  // Every byte has a character of its own that converts back to it, so bytes that
  // are not text in this set (UTF-8) still pass through it unchanged.
  bool carriesEveryByte() const { return carriesEveryByte_; }

 private:
  std::array<char16_t, 256> charOf_;
  std::unique_ptr<uint8_t[]> byteOf_;  // 65536 entries
  // Characters below this are the bytes of the same value: 256 for Latin-1, 128
  // where only ASCII is (the ANSI code pages), else 0.
  unsigned same_;
  bool carriesEveryByte_;
};

// UTF-8, for text read outside the control (the descriptions of its errors).
// An unpaired surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);
// Utf8(text).size(), without making it.
size_t Utf8Length(std::u16string_view text);

// The character set of the host the control runs in. Set once when the host
// starts (before any control exists); ISO-8859-1 until then.
const ByteCharset& hostCharset();
void setHostCharset(std::unique_ptr<ByteCharset> charset);

}  // namespace corvane
