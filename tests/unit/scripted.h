#pragma once
// A host and a socket that do exactly what a test scripts: "the next pump delivers
// these bytes", "the timer ticks now", "the peer closes". Every engine rule can be
// checked deterministically, without a network.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/corvane.h"

namespace corvane::testing {

class ScriptedSocket : public Socket {
 public:
  explicit ScriptedSocket(SocketEvents& events) : events_(events) {}

  // --- What the control sees
  int16_t State() const override { return state; }
  bool Secured() const override { return secured; }
  void Secured(bool on) override { secured = acceptsSecured && on; }
  std::u16string LocalHostName() const override { return u"testhost"; }
  void Connect(const std::u16string& host, int32_t port) override {
    connects.push_back(host + u":" + DecimalText(port));
    state = 4;  // connecting
  }
  void Close() override {
    ++closes;
    if (closesAtOnce) state = kClosed;
  }
  // The handshake succeeds at once unless `upgradeFails`; clear text waiting is dropped.
  void StartTls() override {
    sent.push_back(u"<handshake>");
    waiting.clear();
    state = upgradeFails ? kClosed : kConnected;
  }
  void SendData(const std::u16string& data) override { sent.push_back(data); }
  void GetData(std::u16string& data) override {
    data = std::move(waiting);
    waiting.clear();
  }

  // --- What the peer does (call these from a scripted pump)
  void Connected() { state = kConnected; }
  void Arrive(const std::u16string& text) {
    waiting += text;
    events_.DataArrival(static_cast<int32_t>(waiting.size()));
  }
  void PeerCloses() { events_.Closed(); }
  void Error(int16_t number, std::u16string description) {
    state = kClosed;
    events_.SocketError(number, description);
  }
  void SendComplete() { events_.SendComplete(); }
  void SendProgress() { events_.SendProgress(1, 1); }

  int16_t state = kClosed;
  bool secured = false;
  bool acceptsSecured = true;
  bool closesAtOnce = true;
  bool upgradeFails = false;
  std::u16string waiting;  // received, not yet taken
  std::vector<std::u16string> sent;
  std::vector<std::u16string> connects;
  int closes = 0;

 private:
  SocketEvents& events_;
};

class ScriptedTimer : public Timer {
 public:
  explicit ScriptedTimer(std::function<void()> tick) : tick(std::move(tick)) {}
  void Enabled(bool on) override { enabled = on; }
  bool Enabled() const override { return enabled; }
  bool enabled = false;
  std::function<void()> tick;
};

// Each pump runs the next scripted step (if any), then lets one second pass:
// the clock advances and a running timer ticks once. Without steps, a pump asks
// the peer instead; a pump in which the peer acted takes no time.
class ScriptedHost : public Host {
 public:
  void Pump() override {
    ++pumps;
    if (!steps.empty()) {
      auto step = std::move(steps.front());
      steps.pop_front();
      step();
    } else if (peer && peer()) {
      return;
    }
    now += 1.0;
    if (timer && timer->enabled) timer->tick();
  }
  double Now() override { return now; }
  std::unique_ptr<Socket> CreateSocket(SocketEvents& events) override {
    auto made = std::make_unique<ScriptedSocket>(events);
    socket = made.get();
    return made;
  }
  std::unique_ptr<Timer> CreateTimer(std::function<void()> tick) override {
    auto made = std::make_unique<ScriptedTimer>(std::move(tick));
    timer = made.get();
    return made;
  }
  void MessageBox(const std::u16string& prompt, const std::u16string& caption) override {
    boxes.push_back(caption + u"|" + prompt);
  }
  void PropertyChanged(const std::u16string& name) override { changes.push_back(name); }
  std::u16string InstanceName() override { return u"Corvane1"; }

  // Queues the steps of the next pumps, one step per pump.
  template <class... Steps>
  void Then(Steps... s) {
    (steps.emplace_back(std::move(s)), ...);
  }

  std::deque<std::function<void()>> steps;
  std::function<bool()> peer;  // runs in pumps that have no step left
  int pumps = 0;
  double now = 0;
  std::vector<std::u16string> boxes;
  std::vector<std::u16string> changes;
  ScriptedSocket* socket = nullptr;
  ScriptedTimer* timer = nullptr;
};

struct RecordedError {
  int16_t code;
  std::u16string text;
};

class RecordingEvents : public ControlEvents {
 public:
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    errors.push_back({code, text});
    if (onError) onError(code, text, cancel);
  }
  void Debugger(std::u16string& info) override {
    trace.push_back(info);
    if (onDebugger) onDebugger(info);
  }

  std::vector<RecordedError> errors;
  std::vector<std::u16string> trace;
  std::function<void(int16_t&, std::u16string&, bool&)> onError;
  std::function<void(const std::u16string&)> onDebugger;
};

// The control with its error reporting and session guard in reach of the tests.
class TestableCorvane : public Corvane {
 public:
  using Corvane::Corvane;
  using Corvane::BeginInSession;
  using Corvane::BeginLogin;
  using Corvane::BeginOperation;
  using Corvane::RaiseError;
};

// A control on a scripted host, created as a host places a new instance.
struct ScriptedControl {
  ScriptedHost host;
  RecordingEvents events;
  TestableCorvane control{host, events};
  ScriptedSocket& socket = *host.socket;

  ScriptedControl() {
    control.InitProperties();
    host.changes.clear();
  }
  // Opens the socket (the first pump connects it) and forgets that pump.
  void Connect() {
    std::u16string ip = u"127.0.0.1";
    int16_t port = 110;
    host.Then([this] { socket.Connected(); });
    control.SocketOpen(ip, port);
  }
};

}  // namespace corvane::testing
