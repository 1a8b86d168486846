// The "host:port" rule of POP3host and SMTPhost: the host before the first ":",
// the port the number the rest starts with, an overflow stores nothing, and what
// the get returns puts back to itself.
#include <cstdint>

#include "control/errors.h"
#include "oracle.h"
#include "scripted.h"

using namespace corvane;
using namespace corvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string value = Widen(std::string_view(reinterpret_cast<const char*>(data), size));
  testing::ScriptedControl c;
  const bool pop3 = size % 2 == 0;
  auto put = [&](const std::u16string& v) { pop3 ? c.control.POP3host(v) : c.control.SMTPhost(v); };
  auto get = [&] { return pop3 ? c.control.POP3host() : c.control.SMTPhost(); };
  put(u"before:7");

  const size_t colon = value.find(u':');
  const std::u16string host = value.substr(0, colon);
  const auto port = colon == std::u16string::npos
                        ? std::optional<int64_t>(0)
                        : RoundNaive(NumberNaive(std::u16string_view(value).substr(colon + 1)), INT32_MIN, INT32_MAX);
  try {
    put(value);
    FUZZ_CHECK(port.has_value());
  } catch (const AutomationError& e) {
    FUZZ_CHECK(!port && e.number() == ErrorNumber::Overflow && get() == u"before:7");
    FUZZ_CHECK(c.host.changes.size() == 1);  // the first put's notice only
    return 0;
  }
  const std::u16string got = get();
  FUZZ_CHECK(got == (*port == 0 ? host : host + u":" + DecimalText(*port)));
  FUZZ_CHECK(c.host.changes.back() == (pop3 ? u"POP3host" : u"SMTPhost") && c.host.changes.size() == 2);
  put(got);
  FUZZ_CHECK(get() == got);
  return 0;
}
