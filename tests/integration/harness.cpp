#include "harness.h"

#include <memory>
#include <thread>

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

void SocketLog::SocketError(int16_t number, std::u16string& description) {
  errorNumber = number;
  errorText = Narrow(description);
  events.push_back("error " + std::to_string(number) + " " + errorText);
}

void SocketLog::DataArrival(int32_t count) { events.push_back("data " + std::to_string(count)); }

void SocketLog::Closed() { events.push_back("closed"); }

void SocketLog::SendComplete() {
  ++completes;
  events.push_back("complete");
}

void SocketLog::SendProgress(int32_t sent, int32_t remaining) {
  progressBytes += sent;
  lastRemaining = remaining;
  events.push_back("progress " + std::to_string(sent) + " " + std::to_string(remaining));
}

bool PumpUntil(Host& host, const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline) host.Pump();
  return done();
}

bool Eventually(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
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
