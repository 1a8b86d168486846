#pragma once
// Windows headers in the order Winsock needs, without the macro that would rename
// Host::MessageBox, and the conversions between the core's UTF-16 strings and
// wchar_t (16 bits under Windows).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#undef MessageBox

#include <string>
#include <string_view>

namespace corvane::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring toWide(std::u16string_view text) { return {text.begin(), text.end()}; }
inline std::u16string fromWide(std::wstring_view text) { return {text.begin(), text.end()}; }

}  // namespace corvane::win
