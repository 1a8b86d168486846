#pragma once
// What the C++ test programs run under Wine share: check() prints "ok - what" or
// "not ok - what: detail", the lines scripts/lib/wine.sh counts, and finish() the
// last line, "RESULT PASS" or "RESULT FAIL"; besides, text for details, a BSTR
// owner, late-bound calls and the process's CPU time.
// Includes <windows.h>: a program that uses Winsock includes this header after
// its Winsock headers.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::checks {

inline int failedChecks = 0;

inline void check(const std::string& what, bool passed, const std::string& detail = {}) {
  if (passed) {
    std::printf("ok - %s\n", what.c_str());
  } else {
    ++failedChecks;
    std::printf("not ok - %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);  // every line reaches the log, even if a later check crashes
}

// Prints the last line and answers the exit status that goes with it.
inline int finish() {
  std::printf(failedChecks ? "RESULT FAIL\n" : "RESULT PASS\n");
  return failedChecks ? 1 : 0;
}

inline std::string hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
  return text;
}

// ASCII as it is, but CR and LF shown as \r and \n; other characters as '?'.
template <class Char>
std::string printable(std::basic_string_view<Char> text) {
  std::string result;
  for (const Char c : text) {
    result += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c < 128 ? char(c) : '?');
  }
  return result;
}
inline std::string narrow(std::wstring_view text) { return printable(text); }
inline std::string narrow(std::u16string_view text) { return printable(text); }
inline std::string bstrText(BSTR text) { return narrow(std::wstring_view(text, SysStringLen(text))); }

// Owns a BSTR.
struct Bstr {
  BSTR value = nullptr;
  explicit Bstr(const wchar_t* text = nullptr) : value(text ? SysAllocString(text) : nullptr) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  std::string text() const { return bstrText(value); }
};

// Calls `name` late-bound, as a script does, with `arguments` in the order written.
inline HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> arguments,
                      VARIANT* result, UINT* argError = nullptr) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPID put = DISPID_PROPERTYPUT;
  const bool isPut = kind == DISPATCH_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
  UINT unused = 0;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, isPut ? nullptr : result, nullptr,
                        argError ? argError : &unused);
}

// The CPU time of this process so far, user and kernel, in seconds.
inline double cpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace corvane::checks
