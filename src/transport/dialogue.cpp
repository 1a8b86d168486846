// The command and response engine and the raw socket on top of one connection.
#include "transport/dialogue.h"

#include <algorithm>
#include <new>
#include <utility>

#include "text/fields.h"
#include "text/percent.h"

namespace corvane {

namespace {
constexpr size_t kQuotedLength = 200;  // of a command line or a reply in error texts
}

class Dialogue::WaitScope {
 public:
  explicit WaitScope(Dialogue& d) : d_(d), timerWasOn_(d.timer_.Enabled()) { d.outerTicks_.push_back(d.ticksLeft_); }
  ~WaitScope() {
    const int16_t outer = d_.outerTicks_.back();
    d_.outerTicks_.pop_back();
    if (d_.outerTicks_.empty()) return;  // the outermost wait leaves the countdown as it ends
    d_.ticksLeft_ = outer;
    if (timerWasOn_) d_.timer_.Enabled(true);
  }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

  // Lets the host run once; false when the waits are nested too deep to pump.
  bool Pump() {
    if (d_.outerTicks_.size() > kDeepestWait) return false;
    d_.owner_.PumpHost();
    return true;
  }

 private:
  Dialogue& d_;
  bool timerWasOn_;
};

Dialogue::Dialogue(Socket& socket, Timer& timer, Owner& owner, std::u16string lineEnd)
    : socket_(socket), timer_(timer), owner_(owner), lineEnd_(std::move(lineEnd)) {}

void Dialogue::TimerTick() {
  if (ticksLeft_ > 0) --ticksLeft_;
  // Waits that a nested one interrupted count on.
  for (int16_t& outer : outerTicks_)
    if (outer > 0) --outer;
}

void Dialogue::StartCountdown() {
  ticksLeft_ = owner_.WaitSeconds();
  timer_.Enabled(true);
}

// --- Steps

void Dialogue::Say(const std::u16string& line, bool waitSent, std::u16string_view shown) {
  if (socket_.State() != Socket::kConnected) return;
  sendDone_ = false;
  socket_.SendData(line);
  if (waitSent) {
    // Bounded like the other waits: Timeout seconds (0: no limit), reloaded by
    // every piece that goes out, and never past the connection's end. A send that
    // does not finish is not reported here; the reply wait that follows does that.
    WaitScope scope(*this);
    StartCountdown();
    while (!sendDone_ && socket_.State() == Socket::kConnected && (owner_.WaitSeconds() == 0 || !TimeIsUp()) &&
           scope.Pump()) {
    }
  }
  if (!shown.empty()) {
    lastSaid_ = shown;
  } else if (line.ends_with(lineEnd_)) {
    lastSaid_.assign(line, 0, line.size() - lineEnd_.size());
  }
  if (lastSaid_.size() > kQuotedLength) lastSaid_.erase(0, lastSaid_.size() - kQuotedLength);
  if (owner_.Tracing()) owner_.TraceLine(u"Say:      " + (shown.empty() ? line : lastSaid_ + lineEnd_));
}

bool Dialogue::WaitFor(const std::u16string& expected, int16_t& timeout, bool report) {
  WaitScope scope(*this);
  if (timeout == -1) timeout = owner_.WaitSeconds();
  ticksLeft_ = timeout;
  timer_.Enabled(true);
  if (owner_.Tracing())
    owner_.TraceLine(u"Wait for:  " + TraceEscape(expected) + u" [" + DecimalText(timeout) + u"]");

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
      if (socket_.State() == Socket::kClosed) code = 5;
    } else {
      code = 3;
    }
    if (code != 0 && !report) break;
    if (code != 0) {
      owner_.Report(code, owner_.ErrorText(code) + u": said '" + lastSaid_ + u"', waited '" + expected +
                              u"', got '" + recvBuffer_.substr(0, kQuotedLength) + u"'");
      break;
    }
  }
  lastReply_.swap(recvBuffer_);  // the old reply's storage serves the next wait
  if (socket_.State() == Socket::kConnected) {
    Fetch();
    incoming_.clear();  // discarded: what arrives after the match is not the reply's
  }
  recvBuffer_.clear();
  return ok;
}

std::optional<std::u16string> Dialogue::Await(const std::u16string& expected) {
  if (grammar_) return ReadReply(*grammar_, 5);
  int16_t timeout = -1;
  if (!WaitFor(expected, timeout)) return std::nullopt;
  return lastReply_;
}

std::optional<std::u16string> Dialogue::Ask(const std::u16string& command, const std::u16string& expected) {
  Say(command + lineEnd_, false);
  return Await(expected);
}

std::optional<std::u16string> Dialogue::AskForLine(const std::u16string& command, const std::u16string& expected) {
  std::optional<std::u16string> reply = Ask(command, expected);
  if (!reply || grammar_) return reply;
  // The reply is the line that holds `expected`, preferably at its start: text
  // before it is the late tail of an earlier reply. Its numbers are read, so it
  // must be whole, however the network cut it.
  const size_t lineStart = reply->find(u"\n" + expected);
  const size_t answer =
      reply->starts_with(expected) || lineStart == std::u16string::npos ? reply->find(expected) : lineStart + 1;
  reply->erase(0, answer);
  while (reply->find(u'\n') == std::u16string::npos) {
    const std::optional<std::u16string> more = Await(u"\n");
    if (!more) return std::nullopt;
    *reply += *more;
  }
  lastReply_ = *reply;
  return reply;
}

std::optional<bool> Dialogue::Quit(const std::u16string& expected) {
  if (socket_.State() == Socket::kConnected) {
    const bool acknowledged = Ask(u"QUIT", expected).has_value();
    WaitClose();
    return acknowledged;
  }
  if (socket_.State() != Socket::kClosed) socket_.Close();
  return std::nullopt;
}

void Dialogue::WaitClose() {
  WaitScope scope(*this);
  const double start = owner_.Now();
  while (socket_.State() != Socket::kClosed && owner_.Now() - start < owner_.WaitSeconds() && scope.Pump()) {
  }
  if (socket_.State() != Socket::kClosed) socket_.Close();
}

size_t Dialogue::CollectAnswer(AnswerStorage& answer, std::u16string_view terminator, bool report) {
  const double start = owner_.Now();
  for (;;) {
    // Only what arrived is searched, with the characters before it that a
    // terminator may begin in: the whole answer is read in time linear in its size.
    const size_t from = answer.Size() - std::min(answer.Size(), terminator.size() - 1);
    if (lastReply_.size() > longestReceived_ - answer.Size()) {
      overflow_ = Overflow::kTooLong;
    } else {
      try {
        answer.Append(lastReply_);
      } catch (const std::bad_alloc&) {
        overflow_ = Overflow::kOutOfMemory;
      }
    }
    lastReply_.clear();
    if (overflow_ != Overflow::kNone) {
      answer.Cut(0);  // what came so far is dropped with it
      RefuseReceived(report);
      return std::u16string::npos;
    }
    if (const size_t end = FindText(answer.Text(), terminator, from); end != std::u16string::npos) return end;
    const double seconds = owner_.Now() - start;
    const int16_t timeout = owner_.WaitSeconds();
    if (timeout > 0 && seconds > timeout && static_cast<double>(answer.Size()) < kSlowestAnswer * (seconds - timeout)) {
      if (report) {
        owner_.Report(3, owner_.ErrorText(3) + u": said '" + lastSaid_ + u"', the answer came slower than " +
                             DecimalText(static_cast<int32_t>(kSlowestAnswer)) + u" characters a second (" +
                             DecimalText(static_cast<int32_t>(answer.Size())) + u" in " +
                             DecimalText(static_cast<int32_t>(seconds)) + u" seconds)");
      }
      Abandon();
      return std::u16string::npos;
    }
    int16_t wait = -1;
    if (!WaitFor(u"\n", wait, report)) {
      Abandon();
      return std::u16string::npos;
    }
  }
}

namespace {

// Where the reply in `text` ends (past its last line's line feed), or npos while
// it is incomplete.
size_t ReplyEnd(std::u16string_view text, Dialogue::Grammar grammar) {
  for (size_t start = 0, feed; (feed = text.find(u'\n', start)) != text.npos; start = feed + 1) {
    // An SMTP line continues the reply when a "-" follows its code.
    if (grammar == Dialogue::Grammar::kPop3 || feed - start < 4 || text[start + 3] != u'-') return feed + 1;
  }
  return text.npos;
}

}  // namespace

std::optional<std::u16string> Dialogue::ReadReply(Grammar grammar, int16_t refusal) {
  std::u16string reply;
  size_t end;
  do {
    int16_t timeout = -1;
    if (!WaitFor(u"\n", timeout) || !Hold(reply, lastReply_)) {
      if (overflow_ != Overflow::kNone) RefuseReceived();
      return std::nullopt;
    }
  } while ((end = ReplyEnd(reply, grammar)) == reply.npos);
  reply.resize(end);
  lastReply_ = reply;
  // The last line's code decides for SMTP; a POP3 reply has one line.
  const char16_t status = reply[grammar == Grammar::kSmtp ? reply.rfind(u'\n', end - 2) + 1 : 0];
  const bool positive = grammar == Grammar::kSmtp ? status == u'2' || status == u'3' : status == u'+';
  if (positive) return reply;
  const bool negative = grammar == Grammar::kSmtp ? status == u'4' || status == u'5' : reply.starts_with(u"-ERR");
  const int16_t code = negative ? refusal : int16_t{5};
  while (!reply.empty() && (reply.back() == u'\n' || reply.back() == u'\r')) reply.pop_back();
  owner_.Report(code, owner_.ErrorText(code) + u": said '" + lastSaid_ + u"', got '" +
                          reply.substr(0, kQuotedLength) + u"'");
  return std::nullopt;
}

std::optional<std::u16string> Dialogue::Exchange(const std::u16string& command, Grammar grammar,
                                                 int16_t refusal, std::u16string_view shown) {
  Say(command + lineEnd_, false, shown);
  return ReadReply(grammar, refusal);
}

bool Dialogue::StartTls() {
  recvBuffer_.clear();
  WaitScope scope(*this);
  StartCountdown();
  socket_.StartTls();
  while (socket_.State() == Socket::kConnecting && (owner_.WaitSeconds() == 0 || !TimeIsUp()) && scope.Pump()) {
  }
  if (socket_.State() == Socket::kConnected) return true;
  if (socket_.State() != Socket::kClosed) {
    owner_.Report(3, owner_.ErrorText(3) + u": the TLS handshake did not finish");
    socket_.Close();
  }
  return false;
}

void Dialogue::Abandon() {
  if (socket_.State() != Socket::kClosed) socket_.Close();
}

// --- Received text

void Dialogue::Fetch() {
  // Storage of text already taken serves the socket's next receipt, so a long
  // answer doesn't cost fresh memory at every pump; storage grown large by a
  // long wait is let go instead of being kept for the connection's life.
  if (incoming_.capacity() > kLongestRecycled) std::u16string().swap(incoming_);
  socket_.GetData(incoming_);
}

void Dialogue::TakeData() {
  if (socket_.State() != Socket::kConnected) return;
  Fetch();
  Collect();
}

void Dialogue::Collect() {
  // Once refused, what else arrives before the wait sees it is dropped too, not
  // gathered again from empty.
  if (overflow_ == Overflow::kNone) {
    // Text that finds nothing waiting is kept as it came, not copied.
    if (recvBuffer_.empty() && incoming_.size() <= longestReceived_) {
      recvBuffer_.swap(incoming_);
    } else {
      Hold(recvBuffer_, incoming_);
    }
  }
  incoming_.clear();
}

bool Dialogue::Hold(std::u16string& into, const std::u16string& text) {
  if (text.size() > longestReceived_ - into.size()) {
    overflow_ = Overflow::kTooLong;
  } else {
    try {
      into += text;
      return true;
    } catch (const std::bad_alloc&) {
      overflow_ = Overflow::kOutOfMemory;
    }
  }
  std::u16string().swap(into);  // what came so far is dropped with it
  return false;
}

void Dialogue::RefuseReceived(bool report) {
  const Overflow why = std::exchange(overflow_, Overflow::kNone);
  if (report) {
    owner_.Report(kTooMuchReceived,
                  why == Overflow::kOutOfMemory
                      ? u"Out of memory for the received text: it was dropped and the connection closed"
                      : u"More text arrived than the control holds (" + DecimalText(longestReceived_) +
                            u" characters): it was dropped and the connection closed");
  }
  socket_.Close();
}

// --- The raw socket

bool Dialogue::Open(const std::u16string& host, int32_t port) {
  recvBuffer_.clear();
  gotData_ = false;
  WaitScope scope(*this);
  StartCountdown();
  socket_.Connect(host, port);
  for (;;) {
    if (socket_.State() == Socket::kConnected || !scope.Pump()) break;
    // A failed attempt brings the socket back to 0: no point waiting on.
    if (TimeIsUp() || socket_.State() == Socket::kClosed) break;
  }
  return socket_.State() == Socket::kConnected;
}

bool Dialogue::Close() {
  if (socket_.State() == Socket::kClosed) return true;
  ticksLeft_ = owner_.WaitSeconds();
  // The countdown needs the timer; without it a close that never finishes would
  // wait for ever. The timer is put back as it was afterwards.
  const bool timerWasOn = timer_.Enabled();
  WaitScope scope(*this);
  timer_.Enabled(true);
  socket_.Close();
  for (;;) {
    if (socket_.State() == Socket::kClosed || !scope.Pump()) break;
    if (TimeIsUp()) break;
  }
  timer_.Enabled(timerWasOn);
  return socket_.State() == Socket::kClosed;
}

std::u16string Dialogue::Read() {
  WaitScope scope(*this);
  StartCountdown();
  // Waits only for the first data of a connection; nothing more can come once
  // the socket is closed. The second pump of a pass gives text that is still on
  // its way one more chance, unless the wait is already settled.
  while (ticksLeft_ > 0 && !gotData_ && socket_.State() != Socket::kClosed) {
    if (!scope.Pump() || gotData_ || TimeIsUp()) break;
    if (socket_.State() == Socket::kConnected) {
      scope.Pump();
      TakeData();
    }
  }
  timer_.Enabled(false);
  if (overflow_ != Overflow::kNone) {
    RefuseReceived();
    return {};
  }
  std::u16string text = std::move(recvBuffer_);
  recvBuffer_.clear();
  return text;
}

bool Dialogue::Send(const std::u16string& text) {
  if (socket_.State() != Socket::kConnected) return false;
  WaitScope scope(*this);
  sendDone_ = false;
  StartCountdown();
  socket_.SendData(text);
  for (;;) {
    if (sendDone_ || !scope.Pump()) break;
    // A connection that went away will never report the send complete.
    if (TimeIsUp() || (!sendDone_ && socket_.State() != Socket::kConnected)) break;
  }
  timer_.Enabled(false);
  return sendDone_;
}

// --- Events

void Dialogue::DataArrived() {
  if (socket_.State() == Socket::kConnected) {
    Fetch();
    if (owner_.Tracing()) owner_.TraceLine(u"Got " + incoming_);
    Collect();
  }
  if (socket_.State() == Socket::kConnected) gotData_ = true;
}

void Dialogue::SendProgressed() { ticksLeft_ = owner_.WaitSeconds(); }

}  // namespace corvane
