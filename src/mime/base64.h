#pragma once
// The Base64 content-transfer-encoding (RFC 2045) as message bodies carry it:
// 76-character lines joined by CR LF, no CR LF after the last line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// The digit of a 6-bit value: A-Z, a-z, 0-9, "+", "/".
uint8_t Base64Char(uint8_t value);

// Encodes one byte per character of `input` (its code in the host's 8-bit
// character set) and assigns the text to `output`.
void EncodeBase64(std::u16string_view input, std::u16string& output);

// The exact length of the encoding of `bytes` input bytes, line breaks included.
size_t Base64Length(size_t bytes);

// Writes the Base64Length(size) characters of the encoding at `out`. These are the
// encoder itself; EncodeBase64 and the message generator call them.
void EncodeBase64Bytes(const uint8_t* in, size_t size, char* out);
void EncodeBase64Bytes(const uint8_t* in, size_t size, char16_t* out);

// Appends the encoding of `bytes` to `out`.
void AppendBase64(std::string_view bytes, std::u16string& out);
// Encodes text straight into `out` (Base64Length(text.size()) characters),
// converting it to bytes a block at a time so that no copy of the whole input is made.
void EncodeBase64Text(std::u16string_view text, char16_t* out);

}  // namespace corvane
