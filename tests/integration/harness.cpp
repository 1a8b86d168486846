#include "harness.h"

#include <memory>

#include "text/charset.h"

namespace corvane::integration {

namespace {

std::unique_ptr<test_servers::TestPki> pki;

class PkiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { pki = std::make_unique<test_servers::TestPki>(); }
  void TearDown() override { pki.reset(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new PkiEnvironment);

}  // namespace

test_servers::TestPki& Pki() { return *pki; }

bool PumpUntil(Host& host, const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline) host.Pump();
  return done();
}

std::u16string Widen(std::string_view bytes) { return ByteCharset::latin1().fromBytes(bytes); }

std::string Narrow(std::u16string_view text) { return ByteCharset::latin1().toBytes(text); }

std::u16string EveryByteValue(int rounds) {
  std::u16string text;
  for (int r = 0; r < rounds; ++r) {
    for (int c = 0; c < 256; ++c) text += static_cast<char16_t>(c);
  }
  return text;
}

}  // namespace corvane::integration
