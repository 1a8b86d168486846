#pragma once
// The lifetime of one wait of the control (see Corvane::WaitScope).
#include "control/corvane.h"

namespace corvane {

class Corvane::WaitScope {
 public:
  explicit WaitScope(Corvane& c) : c_(c), timerWasOn_(c.fsmTimer_->Enabled()) { c.outerTicks_.push_back(c.ticksLeft_); }
  ~WaitScope() {
    const int16_t outer = c_.outerTicks_.back();
    c_.outerTicks_.pop_back();
    if (c_.outerTicks_.empty()) return;  // the outermost wait leaves the countdown as it ends
    c_.ticksLeft_ = outer;
    if (timerWasOn_) c_.fsmTimer_->Enabled(true);
  }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

  // Lets the host run once; false when the waits are nested too deep to pump.
  bool Pump() {
    if (c_.outerTicks_.size() > kDeepestWait) return false;
    c_.host_.Pump();
    return true;
  }

 private:
  Corvane& c_;
  bool timerWasOn_;
};

}  // namespace corvane
