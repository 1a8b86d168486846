#pragma once
// Automation strings (BSTR) to and from the core's UTF-16 strings: the one place
// where the two meet. wchar_t is 16 bits on Windows, so the code units carry over.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "transport/dialogue.h"

namespace corvane::win {

// A null BSTR is the empty string.
std::u16string fromBstr(BSTR s);

// A new BSTR holding `s`, owned by the caller; throws std::bad_alloc.
BSTR toBstr(std::u16string_view s);

// A long answer gathered straight into the BSTR that is handed over, so the
// caller's string is the only full copy of it.
class BstrAnswer final : public AnswerStorage {
 public:
  BstrAnswer() = default;
  BstrAnswer(const BstrAnswer&) = delete;
  BstrAnswer& operator=(const BstrAnswer&) = delete;
  ~BstrAnswer() override { SysFreeString(bstr_); }

  char16_t* Data() override { return reinterpret_cast<char16_t*>(bstr_); }
  size_t Size() const override { return size_; }
  void Reserve(size_t characters) override;
  void Append(std::u16string_view text) override;
  void Cut(size_t characters) override;
  // The answer as a BSTR of its length, owned by the caller; throws std::bad_alloc.
  BSTR Release();

 private:
  BSTR bstr_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Narrow UTF-8 text (descriptions of the core's errors) as a wide string.
std::wstring fromUtf8(std::string_view s);

}  // namespace corvane::win
