#pragma once
// Non-ASCII text in the header of a message sent as UTF-8: encoded words (RFC
// 2047) for header values, extended parameters (RFC 2231) for file names. The
// results are ASCII; lines are folded with CR LF and a blank.
#include <string>
#include <string_view>

namespace corvane {

bool IsAscii(std::u16string_view text);

// Where the next `delimiter` outside a quoted string stands in `text`, from
// `start` on (a backslash in quotes escapes the next character); text.size()
// when none does.
size_t FindOutsideQuotes(std::u16string_view text, size_t start, char16_t delimiter);
// `text` as the inside of a quoted string: quotes and backslashes escaped.
std::u16string QuotedText(std::u16string_view text);
// The inside of the quoted string `quoted` ("..."), its escapes undone.
std::u16string Unquoted(std::u16string_view quoted);

// `value` unchanged when it is ASCII, else its UTF-8 as base64 encoded words, none
// longer than 75 characters nor splitting a character, folded so that no line
// exceeds 76 characters; `lead` is the length of the line before the value.
std::u16string HeaderWords(std::u16string_view value, size_t lead);

// A list of addresses apart by ","; in each "name <address>" only the name
// changes: encoded words when it is not ASCII, a quoted string when it holds
// specials. Anything else stays as it was.
std::u16string AddressWords(std::u16string_view value, size_t lead);

// `attribute`*=UTF-8''value escaped, or when that is too long for a line, numbered
// pieces (attribute*0*=UTF-8''..., attribute*1*=...) apart by ";" and a fold.
std::u16string ExtendedParameter(std::u16string_view attribute, std::u16string_view value);

}  // namespace corvane
