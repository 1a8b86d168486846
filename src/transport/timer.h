#pragma once
// The one-second timer that measures a dialogue's waits; ticks arrive only while
// the host pumps.

namespace corvane {

class Timer {
 public:
  virtual ~Timer() = default;
  virtual void Enabled(bool on) = 0;
  virtual bool Enabled() const = 0;
};

}  // namespace corvane
