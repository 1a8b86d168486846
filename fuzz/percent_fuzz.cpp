// Percent encoding: z_URLEnc_EncodeEx and EscapeText against the escape rule,
// HexDigits read back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "oracle.h"
#include "text/percent.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool Escaped(int16_t mask, uint8_t b) {
  return ((mask & 1) && (b < 32 || b >= 127)) || ((mask & 2) && b != 0 && std::strchr(" <>\"#%{}|\\~^[]`", b)) ||
         ((mask & 4) && b != 0 && std::strchr(";/?:@=&", b));
}

// `asBytes`: an unescaped character becomes its byte ("?" beyond ISO-8859-1)
// rather than staying as it stood.
std::u16string EncodeNaive(std::u16string_view text, int16_t mask, bool asBytes) {
  static constexpr char16_t hex[] = u"0123456789ABCDEF";
  std::u16string out;
  for (char16_t c : text) {
    const auto b = static_cast<uint8_t>(c < 256 ? c : '?');
    if (Escaped(mask, b))
      out += {u'%', hex[b >> 4], hex[b & 15]};
    else
      out += asBytes ? static_cast<char16_t>(b) : c;
  }
  return out;
}

// Every "%XY" back to its byte; the inverse of an encoding that escapes "%".
std::u16string Decode(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size()) {
      out += static_cast<char16_t>(std::stoi(std::string{char(text[i + 1]), char(text[i + 2])}, nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const auto mask = in.ConsumeIntegral<int16_t>();
  const auto code = in.ConsumeIntegral<int16_t>();
  // Characters beyond ISO-8859-1 now and then: the native host writes them as "?".
  std::u16string text;
  while (in.remaining_bytes() > 0) {
    const auto b = in.ConsumeIntegral<uint8_t>();
    text += b == 0xFF && in.remaining_bytes() > 0 ? static_cast<char16_t>(0x100 + in.ConsumeIntegral<uint8_t>()) : b;
  }

  std::u16string si = text;
  const std::u16string encoded = z_URLEnc_EncodeEx(si, mask);
  FUZZ_CHECK(encoded == EncodeNaive(text, mask, true));
  FUZZ_CHECK(si == EncodeNaive(text, 0, true));  // handed back through the character set
  FUZZ_CHECK(encoded == z_URLEnc_EncodeEx(si, static_cast<int16_t>(mask & 7)));
  if (mask & 2) FUZZ_CHECK(Decode(encoded) == si);
  FUZZ_CHECK(EscapeText(text, mask) == EncodeNaive(text, mask, false));
  FUZZ_CHECK(TraceEscape(text) == EncodeNaive(text, 3, false));

  const std::u16string hex = HexDigits(code);
  FUZZ_CHECK(!hex.empty() && hex.size() <= 4 && (hex.size() == 1 || hex[0] != u'0'));
  FUZZ_CHECK(std::stoul(Utf8(hex), nullptr, 16) == static_cast<uint16_t>(code) &&
             Utf8(hex).find_first_not_of("0123456789ABCDEF") == std::string::npos);
  return 0;
}
