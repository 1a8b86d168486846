// The POP3 message operations: LIST, RETR and DELE of one message number.
#include <algorithm>
#include <new>

#include "control/corvane.h"
#include "pop3/reply.h"

namespace corvane {

namespace {
// A head start only: the text grows with what arrives, so a server's word can't
// make the control set aside memory it never sends.
constexpr size_t kLargestReservation = size_t{1} << 22;  // characters
}  // namespace

int32_t Corvane::Size(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 size " + number + u"]")) return 0;
  if (!AskForLine(u"LIST " + number, u"+OK")) return 0;
  SplitFields(lastReply_, tokens_, u" ");
  return ReadInt32(FieldAt(tokens_, 3));
}

bool Corvane::Delete(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 delete " + number + u"]")) return false;
  if (!Ask(u"DELE " + number, u"+OK")) return false;
  // Deleted, whatever the STAT that refreshes the counters brings.
  if (AskForLine(u"STAT", u"+OK")) {
    const MailboxCounters counters = ReadCounters(lastReply_, tokens_);
    mailBoxCount_ = counters.count;
    mailBoxSize_ = counters.size;
  }
  return true;
}

std::u16string Corvane::Retrieve(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 retrieve " + number + u"]")) return {};
  Say(u"RETR " + number + lineEnd_, false);
  Trace(u"RUNNING WS_Wait");
  if (!Await(lineEnd_)) {
    AbandonSession();
    return {};
  }
  Trace(u"RUNNING WS_Wait OK");
  if (const size_t refusal = lastReply_.find(u"-ERR"); refusal != std::u16string::npos) {
    // "-ERR" inside a message that a "+OK" announced: the message still comes,
    // and is read to its end and dropped, so the next command gets its own reply.
    if (lastReply_.rfind(u"+OK", refusal) != std::u16string::npos) {
      std::u16string dropped;
      CollectAnswer(dropped, false);
    }
    return {};
  }
  Trace(u"RUNNING RETRIEVE LOOP");
  std::u16string message;
  const size_t end = CollectAnswer(message, true);
  Trace(u"RETRIEVE LOOP COMPLETED");
  if (end == std::u16string::npos) return {};  // no partial message passed off as whole
  message.resize(end + 2);                      // up to the CR LF before the "."
  UndoDotStuffing(message);
  return message;
}

size_t Corvane::CollectAnswer(std::u16string& answer, bool report) {
  try {
    answer.reserve(std::min(AnnouncedSize(lastReply_), kLargestReservation) + lastReply_.size());
  } catch (const std::bad_alloc&) {
  }
  const double start = host_.Now();
  for (;;) {
    // Each piece is searched only where it could complete the terminator, so the
    // whole answer is read in time linear in its size.
    const size_t from = answer.size() < kPop3Terminator.size() ? 0 : answer.size() - (kPop3Terminator.size() - 1);
    if (lastReply_.size() > longestReceived_ - answer.size()) {
      overflow_ = Overflow::kTooLong;
    } else {
      try {
        answer += lastReply_;
      } catch (const std::bad_alloc&) {
        overflow_ = Overflow::kOutOfMemory;
      }
    }
    if (overflow_ != Overflow::kNone) {
      std::u16string().swap(answer);  // what came so far is dropped with the connection
      RefuseReceived(report);
      return std::u16string::npos;
    }
    if (const size_t end = answer.find(kPop3Terminator, from); end != std::u16string::npos) return end;
    const double seconds = host_.Now() - start;
    if (timeout_ > 0 && seconds > timeout_ && static_cast<double>(answer.size()) < kSlowestAnswer * (seconds - timeout_)) {
      if (report) {
        int16_t code = 3;
        std::u16string text = ErrString(code) + u": said '" + lastSaid_ + u"', the answer came slower than " +
                              DecimalText(static_cast<int32_t>(kSlowestAnswer)) + u" characters a second (" +
                              DecimalText(static_cast<int32_t>(answer.size())) + u" in " +
                              DecimalText(static_cast<int32_t>(seconds)) + u" seconds)";
        RaiseError(code, text);
      }
      AbandonSession();
      return std::u16string::npos;
    }
    int16_t timeout = -1;
    if (!WaitFor(u"\n", timeout, report)) {
      AbandonSession();
      return std::u16string::npos;
    }
  }
}

void Corvane::AbandonSession() {
  if (ws_->State() != Socket::kClosed) ws_->Close();
}

}  // namespace corvane
