#include "mime/base64.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "text/charset.h"

namespace corvane {

uint8_t Base64Char(uint8_t value) {
  if (value < 26) return static_cast<uint8_t>('A' + value);
  if (value < 52) return static_cast<uint8_t>(value + 71);  // 'a' - 26
  if (value < 62) return static_cast<uint8_t>(value - 4);   // '0' - 52
  return value == 62 ? '+' : '/';
}

size_t Base64Length(size_t bytes) {
  if (bytes == 0) return 0;
  const size_t digits = (bytes + 2) / 3 * 4;
  const size_t lines = (digits + 75) / 76;
  return digits + 2 * (lines - 1);
}

namespace {

constexpr size_t kGroupsPerLine = 19;  // 57 bytes make one line of 76 digits

// The digits of every 12-bit value, two at a time: one lookup per two digits.
template <class Char>
struct DigitPairs {
  Char pair[4096][2];
  DigitPairs() {
    for (unsigned v = 0; v < 4096; ++v) {
      pair[v][0] = static_cast<Char>(Base64Char(static_cast<uint8_t>(v >> 6)));
      pair[v][1] = static_cast<Char>(Base64Char(static_cast<uint8_t>(v & 63)));
    }
  }
};

template <class Char>
const DigitPairs<Char>& digitPairs() {
  static const DigitPairs<Char> table;
  return table;
}

template <class Char>
inline void putGroup(uint32_t bits, Char* out, const DigitPairs<Char>& digits) {
  std::memcpy(out, digits.pair[bits >> 12], 2 * sizeof(Char));
  std::memcpy(out + 2, digits.pair[bits & 0xFFF], 2 * sizeof(Char));
}

inline uint64_t loadBigEndian64(const uint8_t* in) {
  uint64_t bits;
  std::memcpy(&bits, in, 8);
  if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
  return bits;
}

template <class Char>
void encode(const uint8_t* in, size_t size, Char* out) {
  const DigitPairs<Char>& digits = digitPairs<Char>();
  const size_t groups = size / 3;
  const size_t rest = size % 3;
  for (size_t done = 0; done < groups;) {
    if (done != 0 && done % kGroupsPerLine == 0) {
      *out++ = '\r';
      *out++ = '\n';
    }
    const size_t run = std::min(kGroupsPerLine - done % kGroupsPerLine, groups - done);
    size_t g = 0;
    // Two groups per step from one 8-byte load, while 8 bytes remain to be read.
    for (; g + 1 < run && (groups - done - g) * 3 + rest >= 8; g += 2, in += 6, out += 8) {
      const uint64_t bits = loadBigEndian64(in);
      putGroup(static_cast<uint32_t>(bits >> 40), out, digits);
      putGroup(static_cast<uint32_t>(bits >> 16) & 0xFFFFFF, out + 4, digits);
    }
    for (; g < run; ++g, in += 3, out += 4)
      putGroup((uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2], out, digits);
    done += run;
  }
  if (rest == 0) return;
  if (groups != 0 && groups % kGroupsPerLine == 0) {
    *out++ = '\r';
    *out++ = '\n';
  }
  const uint32_t bits = (uint32_t{in[0]} << 16) | (rest == 2 ? uint32_t{in[1]} << 8 : 0);
  putGroup(bits, out, digits);
  out[3] = '=';
  if (rest == 1) out[2] = '=';
}

}  // namespace

void EncodeBase64Bytes(const uint8_t* in, size_t size, char* out) { encode(in, size, out); }
void EncodeBase64Bytes(const uint8_t* in, size_t size, char16_t* out) { encode(in, size, out); }

void EncodeBase64Text(std::u16string_view text, char16_t* out) {
  // Whole lines per block, so consecutive blocks join with one CR LF.
  constexpr size_t kBlock = 57 * 256;
  uint8_t bytes[kBlock];
  const ByteCharset& charset = hostCharset();
  for (size_t at = 0; at < text.size(); at += kBlock) {
    if (at != 0) {
      *out++ = u'\r';
      *out++ = u'\n';
    }
    const size_t n = std::min(kBlock, text.size() - at);
    charset.toBytes(text.substr(at, n), bytes);
    encode(bytes, n, out);
    out += Base64Length(n);
  }
}

void EncodeBase64(std::u16string_view input, std::u16string& output) {
  output.clear();
  output.resize(Base64Length(input.size()));
  EncodeBase64Text(input, output.data());
}

void AppendBase64(std::string_view bytes, std::u16string& out) {
  const size_t start = out.size();
  out.resize(start + Base64Length(bytes.size()));
  EncodeBase64Bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out.data() + start);
}

}  // namespace corvane
