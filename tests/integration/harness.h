#pragma once
// Shared by the integration tests: the trusted test PKI and bounded waits on the
// POSIX host.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/host.h"
#include "test_ca.h"
#include "transport/socket.h"

namespace corvane::integration {

// Made once for the whole run, before any test connects.
test_servers::TestPki& Pki();

// Pumps until `done` or until `seconds` passed; returns `done()`.
bool PumpUntil(Host& host, const std::function<bool()>& done, double seconds = 10);

std::u16string Widen(std::string_view bytes);
std::string Narrow(std::u16string_view text);
// Characters 0 to 255, `rounds` times over.
std::u16string EveryByteValue(int rounds = 1);

}  // namespace corvane::integration
