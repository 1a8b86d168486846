// The POP3 session: login, logout, RSET and the mailbox counters.
#include "control/corvane.h"
#include "pop3/reply.h"

namespace corvane {

bool Corvane::POP3Login() {
  if (!BeginLogin(u"[POP3 logging in]", [this] {
        return RefuseLineBreak(u"POP3host", pop3Host_) || RefuseLineBreak(u"POP3user", pop3User_) ||
               RefuseLineBreak(u"POP3password", pop3Password_, true);
      }))
    return false;
  ws_->Connect(pop3Host_, pop3Port_ != 0 ? pop3Port_ : IsSecured() ? 995 : 110);
  std::optional<std::u16string> stat;
  const bool extended = Upgrades() || !authMechanism_.empty();
  dialogue_.ReadRepliesBy(extended ? std::optional(Dialogue::Grammar::kPop3) : std::nullopt);
  if (extended) {
    // Upgraded or SASL sessions read replies whole and stop at a refusal.
    using enum Dialogue::Grammar;
    if (!dialogue_.ReadReply(kPop3, 5) ||
        (Upgrades() && (!dialogue_.Exchange(u"STLS", kPop3, 5) || !dialogue_.StartTls())) ||
        !(authMechanism_.empty()
              ? dialogue_.Exchange(u"USER " + pop3User_, kPop3, 4) &&
                    dialogue_.Exchange(u"PASS " + pop3Password_, kPop3, 4, u"PASS ****")
              : Authenticate(kPop3, authMechanism_, pop3User_, pop3Password_)) ||
        !(stat = dialogue_.Exchange(u"STAT", kPop3, 5)))
      return LoginFailed();
  } else if (!dialogue_.Await(u"+OK") || !dialogue_.Ask(u"USER " + pop3User_, u"+OK") ||
             !dialogue_.Ask(u"PASS " + pop3Password_, u"+OK") || !(stat = dialogue_.AskForLine(u"STAT", u"+OK"))) {
    return LoginFailed();
  }
  MailboxCounters counters;
  try {
    counters = ReadCounters(*stat, tokens_);
  } catch (...) {
    // A STAT reply that can't be read ends the login like a failed wait, so the
    // control is offline and usable again; the caller still gets the error.
    LoginFailed();
    throw;
  }
  mailBoxCount_ = counters.count;
  mailBoxSize_ = counters.size;
  pop3SessionActive_ = true;
  return true;
}

bool Corvane::LoginFailed() {
  ws_->Close();
  busy_ = false;
  return false;
}

bool Corvane::POP3Logout() {
  BeginOperation(u"[POP3 logging out]");
  const bool acknowledged = dialogue_.Quit(u"+OK").value_or(false);
  pop3SessionActive_ = false;
  busy_ = false;
  return acknowledged;
}

bool Corvane::Reset() {
  if (!BeginInSession(u"[POP3 RSet]")) return false;
  return dialogue_.Ask(u"RSET", u"+OK").has_value();
}

}  // namespace corvane
