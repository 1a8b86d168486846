// Plays the protocol cases of tests/cases/*.txt (their format is described at the
// top of each file) against the control on the scripted host, each one with the
// server's text whole and again one character per pump. Below the runner, the few
// checks that need a host the transcripts can't script.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "control/errors.h"
#include "pop3/reply.h"
#include "scripted.h"
#include "test_charset.h"
#include "text/charset.h"

namespace corvane::testing {
namespace {

using Strings = std::vector<std::u16string>;

// What a misbehaving server does in place of an "S!" answer, and the ErrCode
// that the call waiting for the answer must end with.
struct Fault {
  const char* name;
  int16_t code;
  int16_t wholeReplyCode = 0;  // where replies are read whole by their grammar, if it differs
};
constexpr Fault kFaults[] = {{"close", 5},        {"reset", 5},    {"stall", 3},
                             {"garbage", 3, 5},   {"longline", 3}, {"flood", 7}};
constexpr size_t kFloodLimit = 1 << 16;  // the received-text limit while a fault floods

// A server that follows a transcript, saying its text in pieces of `chunk`
// characters, one piece per pump and taking no time. It accepts the connection,
// reports every send complete and checks what the client says against the "C"
// entries. A pump in which it does nothing lets a second pass. Given a fault, it
// misbehaves in place of its `point`th "S!" answer, and then says nothing more.
class TranscriptPeer {
 public:
  TranscriptPeer(ScriptedControl& c, Strings script, size_t chunk, const Fault* fault = nullptr, int point = -1)
      : c_(c), script_(std::move(script)), chunk_(chunk), fault_(fault), point_(point) {
    c_.host.peer = [this] { return Pump(); };
  }
  bool Faulted() const { return faulted_; }

  // Every entry was played and the client said nothing more.
  void ExpectFinished() {
    while (said_ > 0 && Pump()) {
    }  // the rest of a reply the client stopped reading early
    Hear();
    EXPECT_EQ(next_, script_.size()) << "stopped before: " << (next_ < script_.size() ? Utf8(script_[next_]) : "");
    for (size_t k = heard_; k < c_.socket.sent.size(); ++k) ADD_FAILURE() << "unexpected: " << Utf8(c_.socket.sent[k]);
  }

 private:
  bool Is(const char16_t* prefix) const { return next_ < script_.size() && script_[next_].starts_with(prefix); }
  // "S: " and "C: " lines end in CR LF, "S~ " and "C~ " ones don't.
  static std::u16string Text(const std::u16string& entry) { return entry.substr(3) + (entry[1] == u'~' ? u"" : u"\r\n"); }

  void Hear() {
    const Strings& sent = c_.socket.sent;
    for (; (Is(u"C: ") || Is(u"C~ ")) && heard_ < sent.size(); ++next_) {
      EXPECT_EQ(Utf8(sent[heard_++]), Utf8(Text(script_[next_])));
    }
  }

  bool Pump() {
    ScriptedSocket& socket = c_.socket;
    if (faulted_) return std::string_view(fault_->name) == "flood" && (socket.Arrive(std::u16string(8192, u'x')), true);
    if (completed_ < socket.sent.size()) {
      completed_ = socket.sent.size();
      socket.SendComplete();
      return true;
    }
    if (socket.state == 4) {
      socket.Connected();
      return true;
    }
    Hear();
    if (socket.state != Socket::kConnected) return false;
    if (Is(u"pause ")) {
      if (++paused_ <= std::stoul(Utf8(script_[next_].substr(6)))) return false;
      paused_ = 0;
      ++next_;
    }
    if (Is(u"close")) {
      ++next_;
      socket.PeerCloses();
      return true;
    }
    if (Is(u"S! ") && fault_ && points_++ == point_) return Misbehave();
    if (!Is(u"S: ") && !Is(u"S~ ") && !Is(u"S! ")) return Is(u"pause ") && Pump();  // else it waits for the client (or has done)
    const std::u16string text = Text(script_[next_]);
    socket.Arrive(text.substr(said_, chunk_));
    said_ += chunk_;
    if (said_ >= text.size()) {
      said_ = 0;
      ++next_;
    }
    return true;
  }

  bool Misbehave() {
    faulted_ = true;
    const std::string_view name = fault_->name;
    if (name == "close") c_.socket.PeerCloses();
    if (name == "reset") c_.socket.Error(10054, u"Connection reset by peer");
    if (name == "garbage") c_.socket.Arrive(std::u16string(u"\0\xFF\x1B[2J\x80garbage\x7F\r\n", 17));
    if (name == "longline") c_.socket.Arrive(std::u16string(65536, u'x'));
    if (name == "flood") c_.control.DialogueObj().LongestReceived(kFloodLimit);
    return name != "stall";
  }

  ScriptedControl& c_;
  Strings script_;
  size_t chunk_;
  const Fault* fault_;
  int point_, points_ = 0;  // the "S!" answer to replace, and those met
  bool faulted_ = false;
  size_t next_ = 0, said_ = 0, paused_ = 0;  // the entry played, of its text, of its pause
  size_t heard_ = 0, completed_ = 0;        // client sends checked, reported complete
};

// --- The case files

struct Case {
  std::string name;
  std::vector<std::string> lines;  // the "@whole" or "@split" ones of this playing only
  bool split;                      // the server's text one character per pump
  const Fault* fault = nullptr;    // in place of the `point`th "S!" answer
  int point = -1;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// "\r", "\n", "\t", "\0" and "\xHH" stand for those characters; "\c" for c.
std::u16string Unescape(std::string_view text) {
  static const std::map<char, char16_t> kNamed = {{'r', u'\r'}, {'n', u'\n'}, {'t', u'\t'}, {'0', u'\0'}};
  std::u16string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\\' || k + 1 == text.size()) {
      out += static_cast<unsigned char>(text[k]);
    } else if (text[++k] == 'x') {
      out += static_cast<char16_t>(std::stoi(std::string(text.substr(k + 1, 2)), nullptr, 16));
      k += 2;
    } else {
      out += kNamed.contains(text[k]) ? kNamed.at(text[k]) : static_cast<char16_t>(text[k]);
    }
  }
  return out;
}

// Words apart by spaces; a word in double quotes may hold spaces.
Strings Words(std::string_view line) {
  Strings words;
  for (size_t k = line.find_first_not_of(' '), end; k != std::string_view::npos; k = line.find_first_not_of(' ', end)) {
    if (line[k] != '"') end = std::min(line.find(' ', k), line.size());
    else for (end = ++k; end < line.size() && line[end] != '"'; ++end) end += line[end] == '\\';
    words.push_back(Unescape(line.substr(k, end - k)));
    end += end < line.size() && line[end] == '"';
  }
  return words;
}

std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::vector<std::filesystem::path> files;  // in name order, so the test list is the same everywhere
  for (const auto& entry : std::filesystem::directory_iterator(CORVANE_CASES_DIR)) files.push_back(entry.path());
  std::ranges::sort(files);
  for (const auto& file : files) {
    std::map<std::string, std::vector<std::string>> blocks;  // "-- name" blocks, by name
    std::vector<std::string>* into = nullptr;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("== ")) {
        std::string name = file.stem().string() + "_";
        for (const char ch : line.substr(3)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        into = &cases.emplace_back(Case{name, {}, false}).lines;
      } else if (line.starts_with("-- ")) {
        into = &blocks[line.substr(3)];
      } else if (line.starts_with("use ")) {
        into->insert(into->end(), blocks.at(line.substr(4)).begin(), blocks.at(line.substr(4)).end());
      } else if (!line.empty() && line[0] != '#') {
        into->push_back(line);
      }
    }
  }
  std::vector<Case> played;
  for (const Case& c : cases) {
    for (const bool split : {false, true}) {
      if (split && std::ranges::count(c.lines, "only whole")) continue;
      Case& p = played.emplace_back(Case{c.name + (split ? "_ByteByByte" : "_Whole"), {}, split});
      for (std::string_view line : c.lines) {
        if (line.starts_with("@whole ") || line.starts_with("@split ")) {
          if (line.starts_with("@split ") != split) continue;
          line.remove_prefix(7);
        }
        if (line != "only whole") p.lines.emplace_back(line);
      }
    }
    // Once more for every fault at every "S!" answer, played whole.
    const auto whole = played[played.size() - 1 - !std::ranges::count(c.lines, "only whole")].lines;
    const auto points = std::ranges::count_if(whole, [](const std::string& l) { return l.starts_with("S! "); });
    for (int point = 0; point < points; ++point)
      for (const Fault& fault : kFaults)
        played.push_back(Case{c.name + "_" + fault.name + "_at_" + std::to_string(point + 1), whole, false, &fault, point});
  }
  return played;
}

// --- The members a case may name

struct Player {
  ScriptedControl c;
  corvane::Dialogue& d = c.control.DialogueObj();
  int16_t number = 0, lines = 0;  // an argument passed by reference
  int16_t timeout = 0;  // as the last WaitFor left it
  int pumps = 0;        // of the last call
  double seconds = 0;
  std::optional<testing_support::WindowsLikeHostCharset> host;
  Player() { c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; }; }
};

// A result as the case files write it.
template <class T>
Strings Out(const T& value) {
  if constexpr (std::is_same_v<T, bool>) return {value ? u"true" : u"false"};
  else if constexpr (std::is_arithmetic_v<T>) return {DecimalText(static_cast<int32_t>(value))};
  else if constexpr (std::is_same_v<T, Strings>) return value;
  else return {std::u16string(value)};
}
bool Flag(const std::u16string& word) { return word == u"true"; }
int16_t Int(const std::u16string& word) { return static_cast<int16_t>(std::stoi(Utf8(word))); }
const std::u16string& Text(const std::u16string& word) { return word; }

using Args = Strings&;  // the case's own copy: members take their arguments by reference
using Member = std::function<Strings(Player&, Args)>;
#define GIVES(Name, ...) {Name, [](Player& r, [[maybe_unused]] Args a) { return Out(__VA_ARGS__); }}
#define DOES(Name, ...) {Name, [](Player& r, [[maybe_unused]] Args a) { return __VA_ARGS__, Strings{}; }}
// A property of the control: read without arguments, put with one.
#define PROPERTY(Name, Convert) \
  {#Name, [](Player& r, Args a) { return a.empty() ? Out(r.c.control.Name()) : (r.c.control.Name(Convert(a[0])), Strings{}); }}

const std::map<std::string, Member> kMembers = {
    PROPERTY(Debug_, Flag), PROPERTY(Timeout, Int), PROPERTY(IsSecured, Flag), PROPERTY(POP3host, Text),
    PROPERTY(POP3user, Text), PROPERTY(POP3password, Text), PROPERTY(SMTPhost, Text), PROPERTY(SMTPsender, Text),
    PROPERTY(SMTPuser, Text), PROPERTY(SMTPpassword, Text), PROPERTY(AuthMechanism, Text), PROPERTY(StartTLS, Flag),
    PROPERTY(MimeFrom, Text), PROPERTY(MimeTo, Text), PROPERTY(MimeSubject, Text), PROPERTY(MimeNotification, Text),
    PROPERTY(Charset, Text), DOES("LossyHost", r.host.emplace(true)),
    DOES("MimeContentType", r.c.control.MimeContentType(Int(a[0]), a[1])),
    DOES("MimeContentEncoding", r.c.control.MimeContentEncoding(Int(a[0]), a[1])),
    DOES("MimeContentAdd", r.c.control.MimeContentAdd(Int(a[0]), a[1])),
    GIVES("MimeContentCount", r.c.control.MimeContentCount()),
    DOES("Mime.From", r.c.control.MimeObj().From(a[0])), DOES("Mime.Too", r.c.control.MimeObj().Too(a[0])),
    DOES("Mime.Clear", r.c.control.MimeObj().Clear()),
    // A Debugger handler that, once a trace line starts with a[0], puts a[1] into MimeTo.
    DOES("MimeToOnTrace", r.c.events.onDebugger = [&r, a](const std::u16string& line) {
      if (line.starts_with(a[0]) && r.c.control.MimeTo() != a[1]) r.c.control.MimeTo(a[1]);
    }),
    GIVES("ErrCode", r.c.control.ErrCode()), GIVES("Busy", r.c.control.Busy()),
    GIVES("POP3SessionActive", r.c.control.POP3SessionActive()),
    GIVES("MailBoxCount", r.c.control.MailBoxCount()), GIVES("MailBoxSize", r.c.control.MailBoxSize()),
    GIVES("POP3Login", r.c.control.POP3Login()), GIVES("POP3Logout", r.c.control.POP3Logout()),
    GIVES("Reset", r.c.control.Reset()),
    GIVES("Size", r.c.control.Size(r.number = Int(a[0]))), GIVES("Delete", r.c.control.Delete(r.number = Int(a[0]))),
    GIVES("Retrieve", r.c.control.Retrieve(r.number = Int(a[0]))),
    GIVES("UniqueId", r.c.control.UniqueId(r.number = Int(a[0]))),
    GIVES("Top", r.c.control.Top(r.number = Int(a[0]), r.lines = Int(a[1]))),
    GIVES("SMTPLogin", r.c.control.SMTPLogin()), GIVES("SMTPLogout", r.c.control.SMTPLogout()),
    GIVES("Send", r.c.control.Send(a[0], a[1], a[2], a[3])), GIVES("SendMime", r.c.control.SendMime()),
    GIVES("SocketOpen", r.c.control.SocketOpen(a[0], r.number = Int(a[1]))),
    GIVES("SocketClose", r.c.control.SocketClose()), GIVES("SocketRead", r.c.control.SocketRead()),
    GIVES("SocketSend", r.c.control.SocketSend(a[0])),
    // The engine itself
    DOES("Say", r.d.Say(a[0], Flag(a[1]))), GIVES("WaitFor", r.d.WaitFor(a[0], r.timeout = Int(a[1]))),
    DOES("WaitClose", r.d.WaitClose()), DOES("LongestReceived", r.d.LongestReceived(Int(a[0]))),
    GIVES("LastReply", r.d.LastReply()), GIVES("LastSaid", r.d.LastSaid()), GIVES("Received", r.d.Received()),
    GIVES("TicksLeft", r.d.TicksLeft()), GIVES("timeout", r.timeout),
    // The host, and what happened
    DOES("Pump", [&] { for (int n = a.empty() ? 1 : Int(a[0]); n > 0; --n) r.c.host.Pump(); }()),
    GIVES("pumps", r.pumps), GIVES("seconds", r.seconds), GIVES("closes", r.c.socket.closes),
    GIVES("state", r.c.socket.state == Socket::kClosed ? u"closed" : r.c.socket.state == 4 ? u"connecting" : u"connected"),
    GIVES("connects", r.c.socket.connects), GIVES("timer", r.c.host.timer->enabled),
    GIVES("trace", r.c.events.trace), GIVES("errors", r.c.events.errors.size()),
    GIVES("error", r.c.events.errors.empty() ? u"" : r.c.events.errors.back().text),
};

struct Cases : ::testing::TestWithParam<Case> {};

TEST_P(Cases, Play) {
  Player r;
  Strings transcript;
  std::vector<std::string> steps;
  for (const std::string& line : GetParam().lines) {
    if (line.starts_with("set ") || line.starts_with("call ") || line.starts_with("expect ")) steps.push_back(line);
    else transcript.push_back(Unescape(line) + (line.size() == 2 ? u" " : u""));  // "S:" for "S: "
  }
  const Case& played = GetParam();
  TranscriptPeer peer(r.c, transcript, played.split ? 1 : std::u16string::npos, played.fault, played.point);
  for (const std::string& line : steps) {
    SCOPED_TRACE(line);
    const Strings step = Words(line);
    const std::string kind = Utf8(step[0]), name = Utf8(step.at(1));
    ASSERT_TRUE(kMembers.contains(name)) << "no member " << name;
    ASSERT_TRUE(kind == "call" || (step.size() > 2 && (step[2] == u"=" || step[2] == u"has"))) << "no = after the name";
    const auto arrow = kind == "call" ? std::ranges::find(step, u"->") : step.begin() + 2;  // "->", "=" or "has"
    Strings args(step.begin() + 2, arrow), expected(arrow + (arrow != step.end()), step.end()), got;
    if (kind == "set") args = expected;
    const auto [pumps, now] = std::pair(r.c.host.pumps, r.c.host.now);
    try {
      got = kMembers.at(name)(r, args);
    } catch (const AutomationError& e) {
      got = {u"raises", DecimalText(static_cast<int16_t>(e.number()))};
    }
    if (kind == "call") std::tie(r.pumps, r.seconds) = std::pair(r.c.host.pumps - pumps, r.c.host.now - now);
    if (peer.Faulted()) {  // the call the fault met fails with its code, in bounded time, and frees the control
      EXPECT_TRUE(got == Strings{u"false"} || got == Strings{u""} || got == Strings{u"0"}) << Utf8(got.at(0));
      const bool grammar = std::ranges::any_of(played.lines, [](const std::string& l) {
        return l.starts_with("set StartTLS") || l.starts_with("set SMTPuser") || l.starts_with("set AuthMechanism");
      });
      EXPECT_EQ(r.c.control.ErrCode(), grammar && played.fault->wholeReplyCode ? played.fault->wholeReplyCode
                                                                               : played.fault->code);
      EXPECT_LE(r.seconds, 2 * r.c.control.Timeout() + 1);
      if (r.c.control.Busy()) r.c.control.POP3SessionActive() ? r.c.control.POP3Logout() : r.c.control.SMTPLogout();
      EXPECT_FALSE(r.c.control.Busy());
      EXPECT_EQ(r.c.socket.state, Socket::kClosed);
      return;
    }
    if (kind == "set" || arrow == step.end()) continue;
    if (*arrow == u"has") {  // these lines, in this order, among others
      Strings found;
      for (auto at = got.begin(); const auto& want : expected)
        if ((at = std::find(at, got.end(), want)) != got.end()) found.push_back(*at++);
      got = found;
    }
    EXPECT_EQ(got, expected);
  }
  EXPECT_FALSE(played.fault) << "the fault was never met";
  peer.ExpectFinished();
}

INSTANTIATE_TEST_SUITE_P(, Cases, ::testing::ValuesIn(LoadCases()), [](const auto& info) { return info.param.name; });

// --- What the transcripts can't script: a transcript built in a loop, pure
// functions, files, and a host that withholds or garbles the socket's events.

TEST(Pop3, ARetrieveThatTricklesEndsInBoundedTime) {
  for (const size_t chunk : {std::u16string::npos, size_t{1}}) {
    Player r;
    const std::u16string line(10000, u'x');
    // A healthy slow server, 10,000 characters every 9 seconds; then one that
    // sends a line every Timeout - 1 seconds: each wait is fed, but not the call.
    Strings script = {u"S: +OK", u"C: USER ", u"S: +OK", u"C: PASS ", u"S: +OK", u"C: STAT", u"S: +OK 2 320",
                      u"C: RETR 1", u"S: +OK", u"pause 9", u"S: " + line, u"pause 9", u"S: " + line, u"pause 9",
                      u"S: .", u"C: RETR 1", u"S: +OK"};
    for (int n = 0; n < 100; ++n) script.insert(script.end(), {u"pause 9", u"S: line"});
    TranscriptPeer peer(r.c, script, chunk);
    ASSERT_TRUE(r.c.control.POP3Login());
    int16_t index = 1;
    EXPECT_EQ(r.c.control.Retrieve(index).size(), 5 + 2 * (line.size() + 2));
    EXPECT_EQ(r.c.control.ErrCode(), 0);
    const double start = r.c.host.now;
    EXPECT_EQ(r.c.control.Retrieve(index), u"");
    EXPECT_LE(r.c.host.now - start, 3 * r.c.control.Timeout());
    EXPECT_EQ(r.c.control.ErrCode(), 3);
    EXPECT_EQ(r.c.socket.state, Socket::kClosed);
  }
}

TEST(Pop3Reply, UnstuffedInPlaceAndTheAnnouncedSize) {
  for (std::u16string text : {u"", u"\r\n..", u"a\r\n...\r\n..\r\n..x", u"..a\r\n.b", u"\r\n..\r\n..\r\n....",
                              u"x\r\n.", u"no dots here"}) {
    const std::u16string expected = ReplaceAll(text, u"\r\n..", u"\r\n.");
    std::u16string message = text + u"\r\n..";  // with text past the end
    message.resize(Unstuff(message.data(), text.size()));
    EXPECT_EQ(Utf8(message), Utf8(expected));
  }
  EXPECT_EQ(AnnouncedSize(u"+OK 52428800 octets\r\n"), 52428800u);
  // Only a size, and one that fits, is a hint.
  for (const char16_t* status : {u"+OK message follows", u"+OK 4294967296 octets", u"+OK 12 lines"})
    EXPECT_EQ(AnnouncedSize(status), 0u) << Utf8(status);
}

// The host's own steps, one per pump: each pump is one second.
struct Host : ::testing::Test {
  ScriptedControl c;
  corvane::Dialogue& d = c.control.DialogueObj();
  int16_t timeout = -1;
  void Cancel() { c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; }; }
};

TEST_F(Host, AMatchDiscardsTheTextLeftInTheSocketButNotWhatANestedCallTookBeforeIt) {
  c.Connect();
  c.host.Then([&] {
    c.socket.Arrive(u"+OK one\r\n");
    c.socket.waiting = u"+OK stray\r\n";  // arrived, but not yet announced
  });
  EXPECT_TRUE(d.WaitFor(u"+OK", timeout));
  EXPECT_TRUE(c.socket.waiting.empty());
  EXPECT_TRUE(d.Received().empty());
  c.host.Then([&] { c.socket.Arrive(u"abcdef"); }, [&] { c.control.SocketRead(); }, [&] { c.socket.Arrive(u"+OK"); });
  EXPECT_TRUE(d.WaitFor(u"+OK", timeout));
  timeout = 1;
  EXPECT_FALSE(d.WaitFor(u"stray", timeout));
}

TEST_F(Host, TextThatArrivesAfterARefusalInTheSamePumpIsDroppedToo) {
  Cancel();
  c.Connect();
  d.LongestReceived(8);
  c.host.Then([&] {
    for (const char16_t* text : {u"12345", u"6789", u"+OK"}) c.socket.Arrive(text);
  });
  EXPECT_FALSE(d.WaitFor(u"+OK", timeout));
  EXPECT_EQ(c.control.ErrCode(), 7);
  EXPECT_EQ(d.LastReply(), u"");
}

TEST_F(Host, SayWaitsForTheSendReportOnlyWhenAskedAndNotForEver) {
  c.Connect();
  const int start = c.host.pumps;
  d.Say(u"command\r\n", false);
  EXPECT_EQ(c.host.pumps, start);
  c.host.Then([] {}, [] {}, [&] { c.socket.SendComplete(); }, [] {});
  d.Say(u"body line\r\n", true);
  EXPECT_EQ(c.host.pumps, start + 3);
  c.control.Timeout(4);  // the report never comes: bounded by Timeout
  d.Say(u"lost line\r\n", true);
  EXPECT_EQ(c.host.pumps, start + 3 + 4);
  c.control.Timeout(0);  // no time limit: only the connection can end the wait
  c.host.Then([] {}, [&] { c.socket.PeerCloses(); });
  d.Say(u"body\r\n", true);
  EXPECT_EQ(c.socket.state, Socket::kClosed);
}

// The Debugger handler reads the socket whenever text arrives: a nested wait.
struct Reentry : Host {
  int depth = 0, deepest = 0;
  void SetUp() override {
    Cancel();
    c.Connect();
    c.control.Debug_(true);
    c.events.onDebugger = [this](const std::u16string& line) {
      if (!line.starts_with(u"Got ")) return;
      deepest = std::max(deepest, ++depth);
      c.control.SocketRead();
      --depth;
    };
  }
};

TEST_F(Reentry, ANestedWaitNeitherStopsNorRestartsTheOuterWaitsClock) {
  c.host.Then([&] { c.socket.Arrive(u"noise"); });
  c.host.peer = [&] {
    if (c.host.pumps > 100) throw std::runtime_error("the outer wait never ended");
    return false;
  };
  timeout = 5;
  EXPECT_FALSE(d.WaitFor(u"+OK", timeout));
  EXPECT_EQ(c.control.ErrCode(), 3);
  // The nested read waits out its ten seconds inside the outer wait's first pass;
  // the outer wait's five seconds have passed meanwhile, so it ends right after.
  EXPECT_LE(c.host.pumps, 1 + 1 + 10 + 1);
}

TEST_F(Reentry, EndlessReentryFromEveryArrivalStopsAtABoundedDepth) {
  c.host.peer = [&] { return c.socket.Arrive(u"x"), true; };
  c.control.SocketRead();
  EXPECT_GT(deepest, 1);
  EXPECT_LE(deepest, 9);
}

TEST_F(Host, SocketOpenPumpsOnceWithTimeoutZeroAndGivesUpAfterTimeoutOrAtOnceWhenRefused) {
  Cancel();
  std::u16string ip = u"h";
  int16_t port = 1;
  c.control.Timeout(0);
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);  // not connected within the pump
  EXPECT_EQ(c.host.pumps, 1);
  EXPECT_EQ(c.control.SocketClose(), -1);
  c.host.Then([&] { c.socket.Connected(); });
  EXPECT_EQ(c.control.SocketOpen(ip, port), -1);
  EXPECT_EQ(c.host.pumps, 2);
  EXPECT_EQ(c.control.SocketClose(), -1);
  c.control.Timeout(3);
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);
  EXPECT_EQ(c.host.pumps, 2 + 3);
  EXPECT_EQ(c.control.SocketClose(), -1);  // closing ends the attempt still under way
  c.host.Then([&] { c.socket.Error(10061, u"Connection refused"); });
  EXPECT_EQ(c.control.SocketOpen(ip, port), 0);
  EXPECT_EQ(c.host.pumps, 2 + 3 + 1);
  EXPECT_EQ(c.control.ErrCode(), 10061);
}

TEST_F(Host, SocketSendRestartsTheTimeoutOnProgressAndFailsSilentlyWithoutTheReport) {
  std::u16string mess = u"x";
  EXPECT_EQ(c.control.SocketSend(mess), 0);  // not connected
  EXPECT_TRUE(c.socket.sent.empty());
  c.Connect();
  c.control.Timeout(3);
  // Six seconds of sending, with progress every two seconds, then the end.
  c.host.Then([] {}, [&] { c.socket.SendProgress(); }, [] {}, [&] { c.socket.SendProgress(); }, [] {},
              [&] { c.socket.SendComplete(); });
  EXPECT_EQ(c.control.SocketSend(mess), -1);
  c.control.Timeout(2);
  EXPECT_EQ(c.control.SocketSend(mess), 0);
  EXPECT_EQ(c.control.ErrCode(), 0);  // time-outs of the raw members are silent
  EXPECT_TRUE(c.events.errors.empty());
  c.control.Timeout(10);  // a connection that goes ends the send at once, not by the time-out
  c.host.Then([&] { c.socket.PeerCloses(); });
  const int before = c.host.pumps;
  EXPECT_EQ(c.control.SocketSend(mess), 0);
  EXPECT_EQ(c.host.pumps, before + 1);
}

TEST_F(Host, SocketCloseIsBoundedEvenWhenTheTimerIsOff) {
  c.Connect();
  c.host.timer->enabled = false;
  c.socket.closesAtOnce = false;
  c.control.Timeout(3);
  EXPECT_EQ(c.control.SocketClose(), 0);
  EXPECT_FALSE(c.host.timer->enabled);  // left as it was found
  c.host.Then([&] { c.socket.state = Socket::kClosed; });
  EXPECT_EQ(c.control.SocketClose(), -1);
}

TEST_F(Host, ASocketErrorWithoutTextShowsUnknownError) {
  c.host.Then([&] { c.socket.Error(42, u""); });
  c.host.Pump();
  EXPECT_EQ(c.control.ErrCode(), 42);
  EXPECT_EQ(c.host.boxes, Strings{u"Corvane1|42 - Unknown error"});
}

}  // namespace
}  // namespace corvane::testing
