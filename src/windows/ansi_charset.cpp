#include "ansi_charset.h"

#include <windows.h>

#include <array>

namespace corvane::win {

std::unique_ptr<ByteCharset> ansiCharset() {
  std::array<char16_t, 256> charOfByte{};
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    wchar_t c = 0;
    const bool converted = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &c, 1) == 1;
    charOfByte[b] = converted ? static_cast<char16_t>(c) : static_cast<char16_t>(b);
  }
  return std::make_unique<ByteCharset>(charOfByte, '?');
}

}  // namespace corvane::win
