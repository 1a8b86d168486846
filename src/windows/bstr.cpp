#include "bstr.h"

#include <new>

namespace corvane::win {

static_assert(sizeof(OLECHAR) == sizeof(char16_t));

std::u16string fromBstr(BSTR s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : std::u16string();
}

BSTR toBstr(std::u16string_view s) {
  // A BSTR is prefixed by its length in bytes, a 32-bit count.
  if (s.size() > 0x7FFFFFFF / sizeof(OLECHAR)) throw std::bad_alloc();
  BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

std::wstring fromUtf8(std::string_view s) {
  if (s.empty()) return {};
  const int size = static_cast<int>(s.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, s.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

}  // namespace corvane::win
