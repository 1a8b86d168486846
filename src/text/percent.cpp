#include "text/percent.h"

#include <memory>

#include "control/errors.h"
#include "text/charset.h"
#include "text/fields.h"

namespace corvane {

namespace {

bool selects(int16_t mask, uint8_t code) {
  if ((mask & EscapeControl) && (code < 32 || code >= 127)) return true;
  if (mask & EscapeUnsafe) {
    for (char u : std::string_view(" <>\"#%{}|\\~^[]`"))
      if (code == static_cast<uint8_t>(u)) return true;
  }
  if (mask & EscapeReserved) {
    for (char r : std::string_view(";/?:@=&"))
      if (code == static_cast<uint8_t>(r)) return true;
  }
  return false;
}

std::string_view prefixFor(uint8_t code) { return code < 16 ? "%0" : "%"; }

}  // namespace

std::u16string HexDigits(int16_t value) {
  static constexpr char16_t digits[] = u"0123456789ABCDEF";
  unsigned v = static_cast<uint16_t>(value);
  std::u16string text;
  do {
    text.insert(text.begin(), digits[v % 16]);
    v /= 16;
  } while (v != 0);
  return text;
}

void PutEscape(size_t& position, uint8_t* buffer, int16_t code, std::string_view prefix) {
  for (char c : prefix) buffer[position++] = static_cast<uint8_t>(c);
  for (char16_t c : HexDigits(code)) buffer[position++] = static_cast<uint8_t>(c);
  --position;
}

std::u16string z_URLEnc_EncodeEx(std::u16string& si, int16_t mask) {
  if (si.size() > kLongestText / 3) throw AutomationError(ErrorNumber::OutOfMemory);
  const ByteCharset& charset = hostCharset();
  const std::string input = charset.toBytes(si);
  si = charset.fromBytes(input);
  auto output = std::make_unique<uint8_t[]>(3 * input.size() + 1);
  size_t j = 0;
  for (char c : input) {
    const auto b = static_cast<uint8_t>(c);
    if (selects(mask, b)) {
      PutEscape(j, output.get(), b, prefixFor(b));
    } else {
      output[j] = b;
    }
    ++j;
  }
  return charset.fromBytes(std::string_view(reinterpret_cast<const char*>(output.get()), j));
}

std::u16string EscapeText(std::u16string_view text, int16_t mask) {
  const ByteCharset& charset = hostCharset();
  std::u16string result;
  result.reserve(text.size());
  for (char16_t c : text) {
    const uint8_t code = charset.byteOf(c);
    if (selects(mask, code)) {
      for (char p : prefixFor(code)) result += static_cast<char16_t>(p);
      result += HexDigits(code);
    } else {
      result += c;
    }
  }
  return result;
}

std::u16string ParameterEscape(std::string_view bytes) {
  std::u16string result;
  for (const char c : bytes) {
    const auto code = static_cast<uint8_t>(c);
    const bool plain = (code >= '0' && code <= '9') || ((code | 0x20) >= 'a' && (code | 0x20) <= 'z') ||
                       (code < 128 && std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos);
    if (plain) {
      result += code;
    } else {
      for (char p : prefixFor(code)) result += static_cast<char16_t>(p);
      result += HexDigits(code);
    }
  }
  return result;
}

std::u16string TraceEscape(std::u16string_view text) {
  return EscapeText(text, EscapeControl | EscapeUnsafe);
}

}  // namespace corvane
