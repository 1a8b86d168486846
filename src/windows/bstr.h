#pragma once
// Automation strings (BSTR) to and from the core's UTF-16 strings: the one place
// where the two meet. wchar_t is 16 bits on Windows, so the code units carry over.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace corvane::win {

// A null BSTR is the empty string.
std::u16string fromBstr(BSTR s);

// A new BSTR holding `s`, owned by the caller; throws std::bad_alloc.
BSTR toBstr(std::u16string_view s);

// Narrow UTF-8 text (descriptions of the core's errors) as a wide string.
std::wstring fromUtf8(std::string_view s);

}  // namespace corvane::win
