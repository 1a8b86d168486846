#pragma once
// Events for the examples: errors and the protocol trace go to standard error,
// errors without a message box.
#include <cstdio>
#include <string>

#include "control/corvane.h"
#include "text/charset.h"

struct ConsoleEvents : corvane::ControlEvents {
  bool trace = false;
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    std::fprintf(stderr, "error %d: %s\n", code, corvane::Utf8(text).c_str());
    cancel = true;
  }
  void Debugger(std::u16string& info) override {
    if (trace) std::fprintf(stderr, "  %s\n", corvane::Utf8(info).c_str());
  }
};

inline std::u16string Text(const char* s) { return corvane::hostCharset().fromBytes(s); }

// A new control's flags from the arguments after the positional ones: --tls for
// implicit TLS, --trace for the protocol trace on standard error.
inline void ApplyFlags(corvane::Corvane& control, ConsoleEvents& events, int argc, char** argv, int first) {
  control.InitProperties();
  for (int k = first; k < argc; ++k) {
    if (std::string(argv[k]) == "--tls") control.IsSecured(true);
    if (std::string(argv[k]) == "--trace") events.trace = true;
  }
  control.Debug_(events.trace);
}
