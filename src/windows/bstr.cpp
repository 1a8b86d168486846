#include "bstr.h"

#include <algorithm>
#include <new>
#include <utility>

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

void BstrAnswer::Reserve(size_t characters) {
  if (characters <= capacity_) return;
  // Uninitialised storage; what is held so far is copied into it.
  if (characters > 0x7FFFFFFF / sizeof(OLECHAR)) throw std::bad_alloc();
  BSTR grown = SysAllocStringLen(nullptr, static_cast<UINT>(characters));
  if (!grown) throw std::bad_alloc();
  std::char_traits<char16_t>::copy(reinterpret_cast<char16_t*>(grown), Data(), size_);
  SysFreeString(bstr_);
  bstr_ = grown;
  capacity_ = characters;
}

void BstrAnswer::Append(std::u16string_view text) {
  if (text.size() > capacity_ - size_) Reserve(std::max(size_ + text.size(), 2 * capacity_));
  std::char_traits<char16_t>::copy(Data() + size_, text.data(), text.size());
  size_ += text.size();
}

void BstrAnswer::Cut(size_t characters) {
  size_ = std::min(size_, characters);
  if (size_ == 0) {
    SysFreeString(bstr_);
    bstr_ = nullptr;
    capacity_ = 0;
  }
}

BSTR BstrAnswer::Release() {
  if (!bstr_) return toBstr({});
  // Cut to its length, the string its own source: copied before the old one is
  // freed, as documented, or kept where it is by a reallocation in place.
  if (size_ != capacity_ && !SysReAllocStringLen(&bstr_, bstr_, static_cast<UINT>(size_))) throw std::bad_alloc();
  capacity_ = size_ = 0;
  return std::exchange(bstr_, nullptr);
}

std::wstring fromUtf8(std::string_view s) {
  if (s.empty()) return {};
  const int size = static_cast<int>(s.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, s.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

}  // namespace corvane::win
