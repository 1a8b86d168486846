#pragma once
// A server that follows a transcript, for the protocol tests:
//   "S: text"  the server says text + CR LF     "S~ text"  the same without CR LF
//   "C: line"  the client must say line + CR LF  "close"     the server hangs up
//   "pause N"  the server does nothing for N pumps (N seconds)
// The peer connects the socket, reports every send complete, checks each line the
// client says against the next "C:" entry and says its own text in pieces of
// `chunk` characters, one piece per pump. A pump in which it does nothing (it
// waits for the client, or the transcript is over) lets a second pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted.h"
#include "text/charset.h"

namespace corvane::testing {

using Transcript = std::vector<std::u16string>;

inline Transcript operator+(Transcript a, const Transcript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class TranscriptPeer {
 public:
  TranscriptPeer(ScriptedControl& c, Transcript script, size_t chunk)
      : c_(c), script_(std::move(script)), chunk_(chunk), heard_(c.socket.sent.size()), completed_(heard_) {
    c_.host.peer = [this] { return Pump(); };
  }

  // Every entry was played and the client said nothing more.
  void ExpectFinished() {
    while (said_ > 0 && Pump()) {
    }  // the rest of a reply the client stopped reading early
    Hear();
    EXPECT_EQ(next_, script_.size()) << "stopped before: " << Show(next_ < script_.size() ? script_[next_] : u"");
    for (size_t k = heard_; k < c_.socket.sent.size(); ++k) ADD_FAILURE() << "unexpected: " << Show(c_.socket.sent[k]);
  }

  static std::string Show(const std::u16string& text) { return Utf8(text); }

 private:
  // Checks what the client said against the "C:" entries that are due.
  void Hear() {
    const auto& sent = c_.socket.sent;
    while (next_ < script_.size() && script_[next_].starts_with(u"C: ") && heard_ < sent.size()) {
      EXPECT_EQ(Show(sent[heard_++]), Show(script_[next_].substr(3) + u"\r\n"));
      ++next_;
    }
  }

  bool Pump() {
    ScriptedSocket& socket = c_.socket;
    if (socket.state == 4) {
      socket.Connected();
      return true;
    }
    if (completed_ < socket.sent.size()) {
      completed_ = socket.sent.size();
      socket.SendComplete();
      return true;
    }
    Hear();
    if (next_ == script_.size() || socket.state != Socket::kConnected) return false;
    const std::u16string& entry = script_[next_];
    if (entry == u"close") {
      ++next_;
      socket.PeerCloses();
      return true;
    }
    if (entry.starts_with(u"pause ")) {
      if (++paused_ > std::stoul(Show(entry.substr(6)))) {
        paused_ = 0;
        ++next_;
        return Pump();
      }
      return false;
    }
    if (entry.starts_with(u"S: ") || entry.starts_with(u"S~ ")) {
      const std::u16string text = entry.substr(3) + (entry[1] == u':' ? u"\r\n" : u"");
      socket.Arrive(text.substr(said_, chunk_));
      said_ += chunk_;
      if (said_ >= text.size()) {
        said_ = 0;
        ++next_;
      }
      return true;
    }
    return false;  // waits for the client
  }

  ScriptedControl& c_;
  Transcript script_;
  size_t chunk_;
  size_t next_ = 0;       // the entry being played
  size_t said_ = 0;       // of that entry's text
  size_t paused_ = 0;     // pumps of that entry's pause
  size_t heard_;          // client lines checked
  size_t completed_;      // sends reported complete
};

// Runs each protocol test twice: the server's text whole, then one character per pump.
struct Dialogue : ::testing::TestWithParam<size_t> {
  ScriptedControl c;
  std::unique_ptr<TranscriptPeer> peer;

  Dialogue() {
    c.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; };
  }
  void Play(Transcript script) { peer = std::make_unique<TranscriptPeer>(c, std::move(script), GetParam()); }
  bool Split() const { return GetParam() == 1; }
  int16_t Code() const { return c.control.ErrCode(); }
  std::u16string LastError() const { return c.events.errors.empty() ? u"" : c.events.errors.back().text; }
};

#define CORVANE_BOTH_WAYS(Suite) \
  INSTANTIATE_TEST_SUITE_P(, Suite, ::testing::Values(std::u16string::npos, size_t{1}), \
                           [](const auto& info) { return info.param == 1 ? "ByteByByte" : "Whole"; })

}  // namespace corvane::testing
