#pragma once
// The host the control lives in. The control has no thread of its own: every call,
// socket event and timer tick runs on the host's thread, and events are delivered
// only inside Pump.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/socket.h"
#include "transport/timer.h"

namespace corvane {

// The control's outgoing events.
class ControlEvents {
 public:
  virtual ~ControlEvents() = default;
  // Every error; a handler that sets `cancel` suppresses the message box.
  virtual void Error(int16_t& code, std::u16string& text, bool& cancel) = 0;
  // One trace line while tracing is on.
  virtual void Debugger(std::u16string& info) = 0;
};

class Host {
 public:
  // Pump waits at most this long when nothing is armed, so no wait of the
  // control can hang on a pump.
  static constexpr int kLongestPumpMilliseconds = 1000;

  virtual ~Host() = default;

  // Lets the message queue run once: waits until a socket event is ready, a timer
  // tick is due or kLongestPumpMilliseconds have passed, then delivers what is ready.
  virtual void Pump() = 0;
  // Seconds on a monotonic clock, for waits measured by the clock, not the timer.
  virtual double Now() = 0;

  virtual std::unique_ptr<Socket> CreateSocket(SocketEvents& events) = 0;
  virtual std::unique_ptr<Timer> CreateTimer(std::function<void()> tick) = 0;

  // A modal box with an OK button; returns when it closes.
  virtual void MessageBox(const std::u16string& prompt, const std::u16string& caption) = 0;
  // Tells the host that a property changed, so it can mark its document dirty.
  virtual void PropertyChanged(const std::u16string& name) = 0;
  // The name the host knows the control by (the message box's caption).
  virtual std::u16string InstanceName() = 0;
  // Storage the control is about to fill with a long answer. Where memory is
  // faulted in a small page at a time, faulting costs more than the copy, and a
  // host may back the storage by large pages. A hint: it may do nothing.
  virtual void PreparingLargeStorage(void* data, size_t bytes) {
    (void)data;
    (void)bytes;
  }
};

}  // namespace corvane
