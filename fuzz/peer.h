#pragma once
// A server for the control on the tests' scripted host (tests/unit/scripted.h):
// it says its text in the pieces it is given, one piece per pump and taking no
// time, reports every send complete, may answer each line the control sends,
// and hangs up once it has nothing more to say.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "scripted.h"

namespace corvane::fuzz {

class PiecesPeer {
 public:
  explicit PiecesPeer(testing::ScriptedControl& c) : c_(c) {
    c_.events.onError = [](int16_t&, std::u16string&, bool& cancel) { cancel = true; };
    c_.host.peer = [this] { return Pump(); };
  }

  void Say(std::vector<std::u16string> pieces) { pieces_.insert(pieces_.end(), pieces.begin(), pieces.end()); }
  // What the server says to each line the control sends ("" for nothing).
  std::function<std::u16string(const std::u16string&)> answer;

 private:
  bool Pump() {
    testing::ScriptedSocket& s = c_.socket;
    if (s.state == 4) {
      s.Connected();
      return true;
    }
    if (heard_ < s.sent.size()) {
      const std::u16string& line = s.sent[heard_++];
      if (answer) {
        if (std::u16string reply = answer(line); !reply.empty()) pieces_.push_back(std::move(reply));
      }
      s.SendComplete();
      return true;
    }
    if (s.state != Socket::kConnected) return false;
    if (!pieces_.empty()) {
      s.Arrive(pieces_.front());
      pieces_.pop_front();
    } else {
      s.PeerCloses();
    }
    return true;
  }

  testing::ScriptedControl& c_;
  std::deque<std::u16string> pieces_;
  size_t heard_ = 0;
};

// `text` cut where the input says, never before `firstCut`: at most 64 pieces.
inline std::vector<std::u16string> Cut(const std::u16string& text, size_t firstCut, FuzzedDataProvider& in) {
  std::vector<size_t> cuts;
  const size_t count = in.ConsumeIntegralInRange<size_t>(0, 63);
  for (size_t k = 0; k < count && firstCut < text.size(); ++k)
    cuts.push_back(in.ConsumeIntegralInRange<size_t>(firstCut, text.size()));
  cuts.push_back(text.size());
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::u16string> pieces;
  size_t from = 0;
  for (size_t at : cuts) {
    pieces.push_back(text.substr(from, at - from));  // empty pieces too: a pump that brings nothing new
    from = at;
  }
  return pieces;
}

}  // namespace corvane::fuzz
