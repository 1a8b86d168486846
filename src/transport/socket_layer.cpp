// The control's side of its socket: the five event handlers that feed the receive
// buffer and the transport flags, and the raw-socket members a host may call.
#include <new>
#include <utility>

#include "control/corvane.h"
#include "transport/wait_scope.h"

namespace corvane {

void Corvane::StartCountdown() {
  ticksLeft_ = Timeout();
  fsmTimer_->Enabled(true);
}

void Corvane::TakeData() {
  if (ws_->State() != Socket::kConnected) return;
  std::u16string text;
  ws_->GetData(text);
  Collect(text);
}

void Corvane::Collect(const std::u16string& text) {
  if (text.size() > longestReceived_ - recvBuffer_.size()) {
    overflow_ = Overflow::kTooLong;
  } else {
    try {
      recvBuffer_ += text;
      return;
    } catch (const std::bad_alloc&) {
      overflow_ = Overflow::kOutOfMemory;
    }
  }
  std::u16string().swap(recvBuffer_);
}

void Corvane::RefuseReceived(bool report) {
  const Overflow why = std::exchange(overflow_, Overflow::kNone);
  if (report) {
    int16_t code = kTooMuchReceived;
    std::u16string text = why == Overflow::kOutOfMemory
                              ? u"Out of memory for the received text: it was dropped and the connection closed"
                              : u"More text arrived than the control holds (" + DecimalText(longestReceived_) +
                                    u" characters): it was dropped and the connection closed";
    RaiseError(code, text);
  }
  ws_->Close();
}

int16_t Corvane::SocketOpen(std::u16string& iP, int16_t& Port) {
  if (ws_->State() != Socket::kClosed || RefuseLineBreak(u"iP", iP)) return 0;
  recvBuffer_.clear();
  gotData_ = false;
  WaitScope scope(*this);
  StartCountdown();
  // Ports above 32767 arrive in their negative 16-bit form.
  ws_->Connect(iP, static_cast<uint16_t>(Port));
  for (;;) {
    if (ws_->State() == Socket::kConnected || !scope.Pump()) break;
    // A failed attempt brings the socket back to 0: no point waiting on.
    if (TimeIsUp() || ws_->State() == Socket::kClosed) break;
  }
  // The timer stays on; an attempt still under way is not cancelled.
  return ws_->State() == Socket::kConnected ? -1 : 0;
}

int16_t Corvane::SocketClose() {
  if (ws_->State() == Socket::kClosed) return -1;
  ticksLeft_ = timeout_;
  // The countdown needs the timer; without it a close that never finishes would
  // wait for ever. The timer is put back as it was afterwards.
  const bool timerWasOn = fsmTimer_->Enabled();
  WaitScope scope(*this);
  fsmTimer_->Enabled(true);
  ws_->Close();
  for (;;) {
    if (ws_->State() == Socket::kClosed || !scope.Pump()) break;
    if (TimeIsUp()) break;
  }
  fsmTimer_->Enabled(timerWasOn);
  return ws_->State() == Socket::kClosed ? -1 : 0;
}

std::u16string Corvane::SocketRead() {
  WaitScope scope(*this);
  StartCountdown();
  // Waits only for the first data of a connection; nothing more can come once
  // the socket is closed. The second pump of a pass gives text that is still on
  // its way one more chance, unless the wait is already settled.
  while (ticksLeft_ > 0 && !gotData_ && ws_->State() != Socket::kClosed) {
    if (!scope.Pump() || gotData_ || TimeIsUp()) break;
    if (ws_->State() == Socket::kConnected) {
      scope.Pump();
      TakeData();
    }
  }
  fsmTimer_->Enabled(false);
  if (overflow_ != Overflow::kNone) {
    RefuseReceived();
    return {};
  }
  std::u16string text = std::move(recvBuffer_);
  recvBuffer_.clear();
  return text;
}

int16_t Corvane::SocketSend(std::u16string& Mess) {
  if (ws_->State() != Socket::kConnected) return 0;
  WaitScope scope(*this);
  sendDone_ = false;
  StartCountdown();
  ws_->SendData(Mess);
  for (;;) {
    if (sendDone_ || !scope.Pump()) break;
    // A connection that went away will never report the send complete.
    if (TimeIsUp() || (!sendDone_ && ws_->State() != Socket::kConnected)) break;
  }
  fsmTimer_->Enabled(false);
  return sendDone_ ? -1 : 0;
}

// --- Socket events

void Corvane::DataArrival(int32_t) {
  if (ws_->State() == Socket::kConnected) {
    std::u16string text;
    ws_->GetData(text);
    if (debug_) Trace(u"Got " + text);
    Collect(text);
  }
  if (ws_->State() == Socket::kConnected) gotData_ = true;
}

void Corvane::Closed() {
  ws_->Close();
  pop3SessionActive_ = false;
}

void Corvane::SendComplete() { sendDone_ = true; }

void Corvane::SendProgress(int32_t, int32_t) { ticksLeft_ = timeout_; }

void Corvane::SocketError(int16_t number, std::u16string& description) {
  RaiseError(number, description);
}

}  // namespace corvane
