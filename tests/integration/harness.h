#pragma once
// Shared by the integration tests: the trusted test PKI, a recorder of socket
// events and bounded waits on the POSIX host.
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

// Every event of one socket, in order, as short readable lines
// ("data 7", "closed", "complete", "progress 7 0", "error 10061 ...").
class SocketLog : public SocketEvents {
 public:
  void SocketError(int16_t number, std::u16string& description) override;
  void DataArrival(int32_t count) override;
  void Closed() override;
  void SendComplete() override;
  void SendProgress(int32_t sent, int32_t remaining) override;

  std::vector<std::string> events;
  int16_t errorNumber = 0;
  std::string errorText;
  int completes = 0;
  int64_t progressBytes = 0;
  int32_t lastRemaining = -1;
};

// Pumps until `done` or until `seconds` passed; returns `done()`.
bool PumpUntil(Host& host, const std::function<bool()>& done, double seconds = 10);
// Waits without pumping (for what a server thread does); returns `done()`.
bool Eventually(const std::function<bool()>& done, double seconds = 10);

std::u16string Widen(std::string_view bytes);
std::string Narrow(std::u16string_view text);
// Characters 0 to 255, `rounds` times over.
std::u16string EveryByteValue(int rounds = 1);

}  // namespace corvane::integration
