// The POP3 message operations: LIST, RETR and DELE of one message number.
#include <algorithm>
#include <new>

#include "control/corvane.h"
#include "pop3/reply.h"

namespace corvane {

int32_t Corvane::Size(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 size " + number + u"]")) return 0;
  const std::optional<std::u16string> reply = dialogue_.AskForLine(u"LIST " + number, u"+OK");
  if (!reply) return 0;
  SplitFields(*reply, tokens_, u" ");
  return ReadInt32(FieldAt(tokens_, 3));
}

bool Corvane::Delete(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 delete " + number + u"]")) return false;
  if (!dialogue_.Ask(u"DELE " + number, u"+OK")) return false;
  // Deleted, whatever the STAT that refreshes the counters brings.
  if (const std::optional<std::u16string> stat = dialogue_.AskForLine(u"STAT", u"+OK")) {
    const MailboxCounters counters = ReadCounters(*stat, tokens_);
    mailBoxCount_ = counters.count;
    mailBoxSize_ = counters.size;
  }
  return true;
}

std::u16string Corvane::Retrieve(int16_t& Index) {
  TextAnswer message;
  Retrieve(Index, message);
  return std::move(message.text);
}

void Corvane::Retrieve(int16_t& Index, AnswerStorage& message) {
  const std::u16string number = DecimalText(Index);
  if (BeginInSession(u"[POP3 retrieve " + number + u"]"))
    ReadMessage(u"RETR " + number, dialogue_.ReadsRepliesWhole(), message);
}

std::u16string Corvane::Top(int16_t& Index, int16_t& Lines) {
  TextAnswer message;
  Top(Index, Lines, message);
  return std::move(message.text);
}

void Corvane::Top(int16_t& Index, int16_t& Lines, AnswerStorage& message) {
  const std::u16string number = DecimalText(Index);
  if (BeginInSession(u"[POP3 top " + number + u"]")) ReadMessage(u"TOP " + number + u" " + DecimalText(Lines), true, message);
}

std::u16string Corvane::UniqueId(int16_t& Index) {
  const std::u16string number = DecimalText(Index);
  if (!BeginInSession(u"[POP3 unique id " + number + u"]")) return {};
  const std::optional<std::u16string> reply = dialogue_.Exchange(u"UIDL " + number, Dialogue::Grammar::kPop3, 5);
  if (!reply) return {};
  // "+OK number id": the id is what follows the second blank, up to the line end.
  const size_t id = reply->find(u' ', reply->find(u' ') + 1);
  if (id == std::u16string::npos) return {};
  return reply->substr(id + 1, reply->find_first_of(u"\r\n", id) - id - 1);
}

void Corvane::ReadMessage(const std::u16string& command, bool reportRefusal, AnswerStorage& message) {
  const std::u16string& lineEnd = dialogue_.LineEnd();
  dialogue_.Say(command + lineEnd, false);
  Trace(u"RUNNING WS_Wait");
  // The status line is waited for as text, whatever the session's grammar: the
  // message may follow it in the same piece.
  int16_t timeout = -1;
  if (!dialogue_.WaitFor(lineEnd, timeout)) {
    dialogue_.Abandon();
    return;
  }
  const std::u16string& first = dialogue_.LastReply();
  Trace(u"RUNNING WS_Wait OK");
  if (const size_t refusal = first.find(u"-ERR"); refusal != std::u16string::npos) {
    // "-ERR" inside a message that a "+OK" announced: the message still comes,
    // and is read to its end and dropped, so the next command gets its own reply.
    if (first.rfind(u"+OK", refusal) != std::u16string::npos) {
      TextAnswer dropped;
      dialogue_.CollectAnswer(dropped, kPop3Terminator, false);
    } else if (reportRefusal) {
      int16_t code = 5;
      std::u16string text = ErrString(5) + u": said '" + command + u"', got '" +
                            first.substr(refusal, first.find_first_of(u"\r\n", refusal) - refusal) + u"'";
      RaiseError(code, text);
    }
    return;
  }
  Trace(u"RUNNING RETRIEVE LOOP");
  // Storage for the announced size (with room for the status line, some stuffed
  // dots and the terminator) is taken once, not grown and copied as the message arrives.
  if (const size_t announced = AnnouncedSize(first)) {
    try {
      const size_t status = first.find(u'\n') + 1;
      const size_t room =
          std::min(std::max(first.size(), status + announced + announced / 1024 + 64), Dialogue::kLongestReceived);
      message.Reserve(room);
      host_.PreparingLargeStorage(message.Data(), room * sizeof(char16_t));
    } catch (const std::bad_alloc&) {
      // only a hint: the message grows as it comes
    }
  }
  const size_t end = dialogue_.CollectAnswer(message, kPop3Terminator, true);
  Trace(u"RETRIEVE LOOP COMPLETED");
  if (end == std::u16string::npos) {
    message.Cut(0);  // no partial message passed off as whole
    return;
  }
  message.Cut(Unstuff(message.Data(), end + 2));  // up to the CR LF before the "."
}

}  // namespace corvane
