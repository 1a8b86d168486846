#include "harness.h"

#include <cstdlib>
#include <filesystem>

#include "text/charset.h"

namespace corvane::integration {

namespace {

// Before the first secure connection of the process, which reads it once.
class TrustEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string authority = CORVANE_TEST_CERTIFICATES "/ca.pem";
    ASSERT_TRUE(std::filesystem::exists(authority))
        << authority << " is missing: ctest makes it, or scripts/lib/test_certificates.sh " CORVANE_TEST_CERTIFICATES;
    setenv("SSL_CERT_FILE", authority.c_str(), 1);
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new TrustEnvironment);

}  // namespace

test_servers::Identity Certificate(const std::string& name) {
  const std::string base = CORVANE_TEST_CERTIFICATES "/" + name;
  return {base + ".pem", base + ".key"};
}

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
