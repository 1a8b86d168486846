#pragma once
// The command and response engine over one socket: say a line, then wait until
// what was received holds the expected text, measured by the one-second timer.
// It owns the dialogue's state (the received text, the last reply, the last line
// said, the countdown, the nesting of waits) and hands replies back as values.
// What it needs from above (the host's pump and clock, the Timeout, error
// reporting and tracing) comes through Owner.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/socket.h"
#include "transport/timer.h"

namespace corvane {

// Where a long answer is gathered. TextAnswer keeps it in a std::u16string; a
// shell may gather it straight into the string type it hands over, so the
// answer is never copied whole.
class AnswerStorage {
 public:
  virtual ~AnswerStorage() = default;
  virtual char16_t* Data() = 0;
  virtual size_t Size() const = 0;
  // Takes room for `characters` in all now. Each of these three may throw std::bad_alloc.
  virtual void Reserve(size_t characters) = 0;
  virtual void Append(std::u16string_view text) = 0;
  // Keeps the first `characters`; 0 lets the storage go.
  virtual void Cut(size_t characters) = 0;
  std::u16string_view Text() { return {Data(), Size()}; }
};

class TextAnswer final : public AnswerStorage {
 public:
  char16_t* Data() override { return text.data(); }
  size_t Size() const override { return text.size(); }
  void Reserve(size_t characters) override { text.reserve(characters); }
  void Append(std::u16string_view more) override { text += more; }
  void Cut(size_t characters) override {
    if (characters == 0) std::u16string().swap(text);
    text.resize(characters);
  }
  std::u16string text;
};

class Dialogue {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    // Lets the host run once.
    virtual void PumpHost() = 0;
    // Seconds on a monotonic clock.
    virtual double Now() = 0;
    // The default time-out of a wait in seconds; 0 means none.
    virtual int16_t WaitSeconds() const = 0;
    virtual bool Tracing() const = 0;
    virtual void TraceLine(std::u16string line) = 0;
    virtual void Report(int16_t code, std::u16string text) = 0;
    // The standard text of an error code, which a reported text starts with.
    virtual std::u16string ErrorText(int16_t code) const = 0;
  };

  // Received text is held up to kLongestReceived characters (a reply, a
  // multi-line answer, what Read gathers): beyond it the text is dropped, the
  // connection closed and kTooMuchReceived reported, so a server that sends
  // without end can't exhaust the host's memory.
  static constexpr size_t kLongestReceived = size_t{1} << 27;
  static constexpr int16_t kTooMuchReceived = 7;

  Dialogue(Socket& socket, Timer& timer, Owner& owner, std::u16string lineEnd);
  Dialogue(const Dialogue&) = delete;
  Dialogue& operator=(const Dialogue&) = delete;

  const std::u16string& LineEnd() const { return lineEnd_; }
  // What the last wait received (also when it failed), and the last line said
  // without its line end, as error texts quote it.
  const std::u16string& LastReply() const { return lastReply_; }
  const std::u16string& LastSaid() const { return lastSaid_; }
  // Received and not yet taken by a wait or a Read.
  const std::u16string& Received() const { return recvBuffer_; }
  int16_t TicksLeft() const { return ticksLeft_; }
  void LongestReceived(size_t characters) { longestReceived_ = characters; }

  // --- Steps
  // `shown` stands for the line in the trace and in error texts when it carries
  // a secret.
  void Say(const std::u16string& line, bool waitSent, std::u16string_view shown = {});
  // `timeout` -1 stands for Timeout (and is replaced in the caller's variable);
  // 0 means no time limit. `report` false keeps a failure silent.
  bool WaitFor(const std::u16string& expected, int16_t& timeout, bool report = true);
  // Waits for `expected` with the default time-out: the reply, or none. Reading
  // by a grammar (ReadRepliesBy), it is ReadReply, `expected` a positive reply.
  std::optional<std::u16string> Await(const std::u16string& expected);
  // Says `command` + LineEnd (not waiting for the send), then Await.
  std::optional<std::u16string> Ask(const std::u16string& command, const std::u16string& expected);
  // As Ask, then waits on to the end of the line that holds `expected`: that line.
  // Reading by a grammar, it is Ask.
  std::optional<std::u16string> AskForLine(const std::u16string& command, const std::u16string& expected);
  // Ends a session: QUIT, its reply and the server's close when connected (whether
  // QUIT was acknowledged), else just closes (no value).
  std::optional<bool> Quit(const std::u16string& expected);
  // Waits up to Timeout seconds by the clock for the peer to close, then closes.
  void WaitClose();
  // Appends a multi-line answer to `answer`, as it arrived: from LastReply on
  // (which is left empty), waiting for line feeds until `terminator` arrives. Gives
  // the terminator's position in `answer`, or npos when a wait failed, the text
  // was refused (`answer` is emptied then) or it came too slowly. The connection is
  // abandoned then, as the rest of the answer would be taken for later replies.
  // `report` false keeps the failure silent. Storage the caller reserved is used.
  size_t CollectAnswer(AnswerStorage& answer, std::u16string_view terminator, bool report);
  // --- Replies read as their protocols define them (the extension members)
  enum class Grammar {
    kPop3,  // one line: "+OK", "-ERR", or "+ " asking for more
    kSmtp,  // lines of a three-digit code, "-" after it on all but the last
  };
  // Reads one whole reply. A positive one (POP3 "+", SMTP 2xx and 3xx) is given;
  // a negative one (POP3 "-ERR", SMTP 4xx and 5xx) ends the wait at once and is
  // reported as `refusal`, quoting it; one that is neither as error 5.
  std::optional<std::u16string> ReadReply(Grammar grammar, int16_t refusal);
  // Makes Await, Ask and AskForLine read replies whole by `grammar`, a negative
  // one raising error 5; none waits for their text, as sessions without the
  // extension members always do.
  void ReadRepliesBy(std::optional<Grammar> grammar) { grammar_ = grammar; }
  bool ReadsRepliesWhole() const { return grammar_.has_value(); }
  // Says `command` + LineEnd (shown as `shown` when given), then ReadReply.
  std::optional<std::u16string> Exchange(const std::u16string& command, Grammar grammar, int16_t refusal,
                                         std::u16string_view shown = {});
  // Upgrades the connection to TLS in place and waits, bounded by Timeout, for
  // the handshake; false when it failed (the socket reports why) or ran out of time.
  bool StartTls();

  // Ends a connection whose replies are out of step with its commands, without
  // QUIT: the server then commits nothing of the session, and the next
  // operation fails with the connection's error.
  void Abandon();

  // --- The raw socket: each bounded by Timeout and silent about time-outs
  // Connects (the received text forgotten); true when connected. The timer stays
  // on; an attempt still under way is not cancelled.
  bool Open(const std::u16string& host, int32_t port);
  bool Close();  // true when closed
  // The received text; waits only for the first data of a connection.
  std::u16string Read();
  bool Send(const std::u16string& text);  // true when the send completed

  // --- Fed by the socket's events and the timer
  void DataArrived();
  void SendCompleted() { sendDone_ = true; }
  void SendProgressed();  // restarts the countdown
  void TimerTick();

 private:
  // One wait's lifetime. A host may call the control again from an event while a
  // wait pumps, and that call may wait in turn: the outer wait's countdown keeps
  // counting meanwhile and gets back its value and its timer afterwards, and
  // beyond kDeepestWait nested waits no longer pump, so a host that re-enters
  // from every event can't grow the stack without end.
  class WaitScope;
  static constexpr size_t kDeepestWait = 8;
  // After the first Timeout seconds, a multi-line answer must average at least
  // this many characters a second: each line restarts a wait's countdown, so a
  // server that trickles a line every Timeout - 1 seconds would otherwise hold
  // the call for ever, while a healthy slow one is far faster.
  static constexpr double kSlowestAnswer = 1024;
  // Received text's storage is handed back to the socket for its next receipt
  // up to this capacity.
  static constexpr size_t kLongestRecycled = size_t{1} << 20;
  // Why received text was refused: it went past longestReceived_, or the process
  // had no memory left for it.
  enum class Overflow { kNone, kTooLong, kOutOfMemory };

  bool TimeIsUp() const { return ticksLeft_ < 1; }
  // Loads the countdown with Timeout and starts the timer.
  void StartCountdown();
  // What the socket holds into incoming_.
  void Fetch();
  // Fetches what the socket holds and collects it, if connected.
  void TakeData();
  // Moves incoming_ to the received text, or drops it all once it would pass
  // longestReceived_.
  void Collect();
  // Appends `text` to `into`; false, with `into` emptied and overflow_ saying why,
  // when it would pass longestReceived_ or memory ran out.
  bool Hold(std::u16string& into, const std::u16string& text);
  // Reports (when `report`) the refused received text and closes the connection.
  void RefuseReceived(bool report = true);

  Socket& socket_;
  Timer& timer_;
  Owner& owner_;
  const std::u16string lineEnd_;
  std::u16string recvBuffer_;
  std::u16string incoming_;  // just taken from the socket
  std::u16string lastReply_;
  std::u16string lastSaid_;
  int16_t ticksLeft_ = 0;
  std::vector<int16_t> outerTicks_;  // the countdowns of the running waits, outermost first
  bool sendDone_ = false;
  bool gotData_ = false;
  Overflow overflow_ = Overflow::kNone;
  size_t longestReceived_ = kLongestReceived;
  std::optional<Grammar> grammar_;
};

}  // namespace corvane
