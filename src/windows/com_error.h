#pragma once
// Errors at the COM boundary. Members run their body through `guarded`, which
// turns the core's exceptions into the HRESULT and error object a caller sees:
// an automation error n becomes 0x800A0000 + n, so a script reads Err.Number = n.
#include <windows.h>

#include <exception>

namespace corvane::win {

constexpr HRESULT automationHresult(int number) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number); }

// A failed system call, carried as an exception up to the COM boundary.
class HresultError : public std::exception {
 public:
  explicit HresultError(HRESULT hr) : hr_(hr) {}
  HRESULT hr() const { return hr_; }
  const char* what() const noexcept override { return "COM call failed"; }

 private:
  HRESULT hr_;
};

inline void check(HRESULT hr) {
  if (FAILED(hr)) throw HresultError(hr);
}

// Call from a catch block: sets the thread's error object (description, and
// `source` such as "prjCorvane.MIME") and gives the HRESULT to return.
HRESULT reportCurrentException(const wchar_t* source) noexcept;

// Runs `body`; E_POINTER if any of `required` is null, the reported error if the
// body throws, S_OK otherwise.
template <class Body, class... Pointers>
HRESULT guarded(const wchar_t* source, Body&& body, Pointers... required) noexcept {
  if (((required == nullptr) || ...)) return E_POINTER;
  try {
    body();
    return S_OK;
  } catch (...) {
    return reportCurrentException(source);
  }
}

}  // namespace corvane::win
