// The POP3 message operations: LIST, RETR and DELE of one message number.
#include <algorithm>
#include <new>

#include "control/corvane.h"
#include "pop3/reply.h"

namespace corvane {

namespace {
// An announced size is believed only this far: a server must not make the
// control set aside memory it never sends.
constexpr size_t kLargestReservation = size_t{1} << 26;  // characters
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
  if (!Await(lineEnd_)) return {};
  Trace(u"RUNNING WS_Wait OK");
  if (lastReply_.find(u"-ERR") != std::u16string::npos) return {};
  Trace(u"RUNNING RETRIEVE LOOP");

  std::u16string message;
  try {
    message.reserve(std::min(AnnouncedSize(lastReply_), kLargestReservation) + lastReply_.size());
  } catch (const std::bad_alloc&) {
    // Only a head start: the text grows as it comes.
  }
  // Each piece is searched only where it could complete the terminator, so the
  // whole retrieval stays linear in the message's size.
  size_t end = std::u16string::npos;
  for (;;) {
    if (lastReply_.size() > longestReceived_ - message.size()) {
      RefuseReceived();  // what came so far is dropped with it
      break;
    }
    const size_t from = message.size() < kPop3Terminator.size() ? 0 : message.size() - (kPop3Terminator.size() - 1);
    message += lastReply_;
    end = message.find(kPop3Terminator, from);
    if (end != std::u16string::npos || !Await(u"\n")) break;
  }
  Trace(u"RETRIEVE LOOP COMPLETED");
  if (end == std::u16string::npos) return {};  // no partial message passed off as whole
  message.resize(end + 2);                      // up to the CR LF before the "."
  UndoDotStuffing(message);
  return message;
}

}  // namespace corvane
