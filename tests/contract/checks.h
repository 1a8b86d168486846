#pragma once
// What the C++ test programs share, natively and under Wine: check() prints
// "ok - what" or "not ok - what: detail", the lines the test scripts count, and
// finish() the last line, "RESULT PASS" or "RESULT FAIL"; besides, text for details.
#include <cstdio>
#include <string>
#include <string_view>

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

}  // namespace corvane::checks
