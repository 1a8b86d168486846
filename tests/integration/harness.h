#pragma once
// Shared by the integration tests: the test certificates and bounded waits on the
// POSIX host.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/host.h"
#include "loopback_server.h"
#include "transport/socket.h"

namespace corvane::integration {

// A server certificate of the folder scripts/lib/test_certificates.sh made for
// the run ("trusted", "untrusted", "wrongname", "expired"), whose authority the
// process trusts through SSL_CERT_FILE.
test_servers::Identity Certificate(const std::string& name);

// Pumps until `done` or until `seconds` passed; returns `done()`.
bool PumpUntil(Host& host, const std::function<bool()>& done, double seconds = 10);

std::u16string Widen(std::string_view bytes);
std::string Narrow(std::u16string_view text);
// Characters 0 to 255, `rounds` times over.
std::u16string EveryByteValue(int rounds = 1);

}  // namespace corvane::integration
