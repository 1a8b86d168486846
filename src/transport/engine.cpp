// The command and response engine: send one command line, then wait until what
// was received contains the expected text, measured by the one-second timer.
#include "control/corvane.h"
#include "transport/wait_scope.h"
#include "text/percent.h"

namespace corvane {

namespace {
constexpr size_t kQuotedLength = 200;  // of a command line or a reply in error texts
}

void Corvane::TimerTick() {
  if (ticksLeft_ > 0) --ticksLeft_;
  // Waits that a nested one interrupted count on.
  for (int16_t& outer : outerTicks_)
    if (outer > 0) --outer;
}

void Corvane::Say(const std::u16string& line, bool waitSent) {
  if (ws_->State() != Socket::kConnected) return;
  sendDone_ = false;
  ws_->SendData(line);
  if (waitSent) {
    // Bounded like the other waits: Timeout seconds (0: no limit), reloaded by
    // every piece that goes out, and never past the connection's end. A send that
    // does not finish is not reported here; the reply wait that follows does that.
    WaitScope scope(*this);
    StartCountdown();
    while (!sendDone_ && ws_->State() == Socket::kConnected && (timeout_ == 0 || !TimeIsUp()) && scope.Pump()) {
    }
  }
  if (line.ends_with(lineEnd_)) lastSaid_.assign(line, 0, line.size() - lineEnd_.size());
  if (lastSaid_.size() > kQuotedLength) lastSaid_.erase(0, lastSaid_.size() - kQuotedLength);
  if (debug_) Trace(u"Say:      " + line);
}

bool Corvane::WaitFor(const std::u16string& expected, int16_t& timeout, bool report) {
  WaitScope scope(*this);
  if (timeout == -1) timeout = Timeout();
  ticksLeft_ = timeout;
  fsmTimer_->Enabled(true);
  if (debug_) Trace(u"Wait for:  " + TraceEscape(expected) + u" [" + DecimalText(timeout) + u"]");

  bool ok = false;
  size_t searched = 0;  // text before this position cannot start a match
  for (;;) {
    const bool pumped = scope.Pump();
    TakeData();
    if (overflow_ != Overflow::kNone) {
      RefuseReceived(report);
      break;
    }
    if (recvBuffer_.size() < searched) searched = 0;  // a nested call took the text
    if (recvBuffer_.find(expected, searched) != std::u16string::npos) {
      ok = true;
      break;
    }
    if (recvBuffer_.size() >= expected.size()) searched = recvBuffer_.size() - expected.size() + 1;
    int16_t code = 0;
    if (!pumped) {
      code = 3;  // nested too deep to wait
    } else if (timeout == 0 || ticksLeft_ > 0) {
      if (ws_->State() == Socket::kClosed) code = 5;
    } else {
      code = 3;
    }
    if (code != 0 && !report) break;
    if (code != 0) {
      std::u16string text = ErrString(code) + u": said '" + lastSaid_ + u"', waited '" + expected +
                            u"', got '" + recvBuffer_.substr(0, kQuotedLength) + u"'";
      RaiseError(code, text);
      break;
    }
  }
  lastReply_.swap(recvBuffer_);  // the old reply's storage serves the next wait
  if (ws_->State() == Socket::kConnected) {
    std::u16string rest;
    ws_->GetData(rest);  // discarded: what arrives after the match is not the reply's
  }
  recvBuffer_.clear();
  return ok;
}

bool Corvane::Await(const std::u16string& expected) {
  int16_t timeout = -1;
  return WaitFor(expected, timeout);
}

bool Corvane::Ask(const std::u16string& command, const std::u16string& expected) {
  Say(command + lineEnd_, false);
  return Await(expected);
}

bool Corvane::AskForLine(const std::u16string& command, const std::u16string& expected) {
  if (!Ask(command, expected)) return false;
  // The reply is the line that holds `expected`, preferably at its start: text
  // before it is the late tail of an earlier reply. Its numbers are read, so it
  // must be whole, however the network cut it.
  std::u16string reply = std::move(lastReply_);
  const size_t lineStart = reply.find(u"\n" + expected);
  const size_t answer =
      reply.starts_with(expected) || lineStart == std::u16string::npos ? reply.find(expected) : lineStart + 1;
  reply.erase(0, answer);
  while (reply.find(u'\n') == std::u16string::npos) {
    if (!Await(u"\n")) return false;
    reply += lastReply_;
  }
  lastReply_ = std::move(reply);
  return true;
}

std::optional<bool> Corvane::Quit(const std::u16string& expected) {
  if (ws_->State() == Socket::kConnected) {
    const bool acknowledged = Ask(u"QUIT", expected);
    WaitClose();
    return acknowledged;
  }
  if (ws_->State() != Socket::kClosed) ws_->Close();
  return std::nullopt;
}

void Corvane::WaitClose() {
  WaitScope scope(*this);
  const double start = host_.Now();
  while (ws_->State() != Socket::kClosed && host_.Now() - start < timeout_ && scope.Pump()) {
  }
  if (ws_->State() != Socket::kClosed) ws_->Close();
}

}  // namespace corvane
