// The control object: creation, error reporting and tracing, the small
// properties, the raw-socket members (over its Dialogue) and the session guard.
#include "control/corvane.h"

#include <algorithm>

#include "text/percent.h"

namespace corvane {

Corvane::Corvane(Host& host, ControlEvents& events)
    : host_(host),
      events_(events),
      ws_(host.CreateSocket(*this)),
      fsmTimer_(host.CreateTimer([this] { dialogue_.TimerTick(); })),
      dialogue_(*ws_, *fsmTimer_, *this, u"\r\n"),
      mimeObj_(std::make_unique<Mime>()) {}

Corvane::~Corvane() = default;

void Corvane::InitProperties() { Timeout(10); }

// --- Error reporting and tracing

std::u16string Corvane::ErrString(int16_t n) {
  switch (n) {
    case 0: return u"";
    case 1: return u"Corvane control is busy";
    case 2: return u"Internal error in control";
    case 3: return u"Operation timed out";
    case 4: return u"Invalid user name or password";
    case 5: return u"Invalid server response";
    default: return u"Unknown error";
  }
}

void Corvane::RaiseError(int16_t& code, std::u16string& text) {
  if (text.empty()) text = ErrString(code);
  errCode_ = code;
  bool cancel = false;
  events_.Error(code, text, cancel);
  if (cancel) return;
  host_.MessageBox(DecimalText(code) + u" - " + text, host_.InstanceName());
}

void Corvane::Trace(std::u16string info) {
  if (debug_) events_.Debugger(info);
}

void Corvane::Debug_(bool on) {
  debug_ = on;
  host_.PropertyChanged(u"Debug_");
}

// --- Small properties

void Corvane::Timeout(int16_t seconds) {
  const int16_t clamped = std::clamp<int16_t>(seconds, 0, 60);
  if (clamped == timeout_) return;
  timeout_ = clamped;
  host_.PropertyChanged(u"Timeout");
}

bool Corvane::IsSecured() const { return ws_->Secured(); }

void Corvane::IsSecured(bool on) {
  isSecured_ = on;
  ws_->Secured(on);
}

// --- The raw socket

int16_t Corvane::SocketOpen(std::u16string& iP, int16_t& Port) {
  if (ws_->State() != Socket::kClosed || RefuseLineBreak(u"iP", iP)) return 0;
  // Ports above 32767 arrive in their negative 16-bit form.
  return dialogue_.Open(iP, static_cast<uint16_t>(Port)) ? -1 : 0;
}

int16_t Corvane::SocketClose() { return dialogue_.Close() ? -1 : 0; }

std::u16string Corvane::SocketRead() { return dialogue_.Read(); }

int16_t Corvane::SocketSend(std::u16string& Mess) { return dialogue_.Send(Mess) ? -1 : 0; }

void Corvane::Closed() {
  ws_->Close();
  pop3SessionActive_ = false;
}

void Corvane::SocketError(int16_t number, std::u16string& description) { RaiseError(number, description); }

std::u16string Corvane::z_URLEnc_EncodeEx(std::u16string& si, int16_t& mask) {
  return corvane::z_URLEnc_EncodeEx(si, mask);
}

// --- The session guard

void Corvane::BeginOperation(std::u16string_view label) {
  if (!label.empty()) Trace(std::u16string(label));
  errCode_ = 0;
}

bool Corvane::BeginLogin(std::u16string_view label, const std::function<bool()>& refused) {
  BeginOperation(label);
  if (busy_) {
    RaiseError(1);
    return false;
  }
  if (refused && refused()) return false;
  busy_ = true;
  return true;
}

bool Corvane::BeginInSession(std::u16string_view label) {
  BeginOperation(label);
  return busy_;
}

}  // namespace corvane
