#pragma once
// What the C++ test programs run under Wine share besides ../contract/checks.h: a
// BSTR owner, late-bound calls and the process's CPU time.
// Includes <windows.h>: a program that uses Winsock includes this header after
// its Winsock headers.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "../contract/checks.h"

namespace corvane::checks {

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
