#pragma once
// Percent encoding: chosen classes of characters become "%" and two upper-case
// hexadecimal digits of their byte in the host's 8-bit character set.
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// Mask bits selecting what is escaped; other bits are ignored.
enum EscapeClass : int16_t {
  EscapeControl = 1,   // codes below 32, and 127 to 255
  EscapeUnsafe = 2,    // space < > " # % { } | \ ~ ^ [ ] `
  EscapeReserved = 4,  // ; / ? : @ = &
};

// The public encoder. Works on bytes: `si` is handed back converted to the 8-bit
// character set and back, as a by-reference argument of the control. A text whose
// encoding could exceed kLongestText raises out of memory.
std::u16string z_URLEnc_EncodeEx(std::u16string& si, int16_t mask);

// The same tests character by character; characters not escaped stay as they stood.
std::u16string EscapeText(std::u16string_view text, int16_t mask);

// Bytes as the value of an extended header parameter: every byte but letters,
// digits and !#$&+-.^_`|~ escaped.
std::u16string ParameterEscape(std::string_view bytes);

// What a trace line shows of an awaited text: control, non-ASCII and unsafe
// characters escaped, so CR LF reads "%0D%0A".
std::u16string TraceEscape(std::u16string_view text);

// Upper-case hexadecimal digits of a 16-bit value, no leading zeros; negative
// values count from 65536.
std::u16string HexDigits(int16_t value);

// Writes prefix + HexDigits(code) at `position` and advances it by the escape's
// length less one (the caller's loop steps over the last character).
void PutEscape(size_t& position, uint8_t* buffer, int16_t code, std::string_view prefix);

}  // namespace corvane
