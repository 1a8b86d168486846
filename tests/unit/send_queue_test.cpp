// When queued sends are written and reported complete, through a socket's pump played
// by the test: it writes unless a completion is ready, then reports one if it is.
#include "transport/send_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace corvane {
namespace {

struct Case {
  const char* steps;     // space-separated, see Play
  const char* expected;  // wN: N bytes written (wN:T when that finished T bytes of text); K: SendComplete
  const char* wire;      // every byte written, nullptr to leave unchecked
};

// sTEXT send, cTEXT send while connecting, SN send N bytes, p pump, r pump that
// brought text, tN the system takes N bytes a pump, kN cut pieces of N bytes
// and stage them as "[piece]", hBYTES stage bytes of no text, x close.
void Play(const Case& c) {
  SendQueue q;
  std::string log, wire;
  uint64_t pump = 0;
  size_t room = SIZE_MAX, piece = 0;
  auto write = [&](size_t most) {
    while (q.Unsent() > 0 && most > 0) {
      if (piece && !q.Staged())
        q.StageNext(piece, [](std::string_view p) { return "[" + std::string(p) + "]"; });
      const std::string_view next = q.Next(SIZE_MAX);
      const size_t took = std::min(next.size(), most);
      wire.append(next.substr(0, took));
      most -= took;
      const size_t done = q.Wrote(took);
      log += " w" + std::to_string(took) + (done == took ? "" : ":" + std::to_string(done));
    }
  };
  std::istringstream steps(c.steps);
  for (std::string s; steps >> s;) {
    const std::string arg = s.substr(1);
    switch (s[0]) {
      case 's': q.Add(std::u16string(arg.begin(), arg.end()), pump, true); break;
      case 'c': q.Add(std::u16string(arg.begin(), arg.end()), pump, false); break;
      case 'S': q.Add(std::u16string(std::stoul(arg), u'x'), pump, true); break;
      case 't': room = std::stoul(arg); break;
      case 'k': piece = std::stoul(arg); break;
      case 'h': q.Stage(arg); break;
      case 'x': write(SIZE_MAX); q.Clear(); break;
      case 'p':
      case 'r':
        ++pump;
        if (s[0] == 'r') q.Arrived(pump);
        if (q.WriteDue()) write(room);
        if (q.CompleteReady()) {
          q.Completed(pump);
          log += " K";
        }
        break;
      default: FAIL() << "unknown step " << s;
    }
  }
  EXPECT_EQ(log.empty() ? log : log.substr(1), c.expected);
  if (c.wire) {
    EXPECT_EQ(wire, c.wire);
  }
}

TEST(SendQueue, DecidesWritesAndCompletions) {
  const Case cases[] = {
      // A run: each send joins the queue and the next pump reports it; a pump
      // that owes nothing writes the lot.
      {"sab p scd p sef p p", "w2 K K K w4", "abcdef"},
      // The run's queue waits below kFlushAt bytes and is written at it.
      {"sa p S65535 p p", "w1 K K w65535", nullptr},
      {"sa p S65536 p", "w1 K w65536 K", nullptr},
      // Text arriving in the completing pump ends the run.
      {"sa p sb r sc p", "w1 K K w2 K", "abc"},
      // So do a send while connecting and a pump without a completion.
      {"sa p cb p", "w1 K w1 K", "ab"},
      {"sa p p sb p", "w1 K w1 K", "ab"},
      // What the system took is kept track of; completion waits for the last byte.
      {"t3 sabcdefgh p p p", "w3 w3 w2 K", "abcdefgh"},
      // Close writes what was reported complete, then forgets the owed
      // completion and the run.
      {"sa p sbc x p", "w1 K w2", "abc"},
      {"sa p sbc x sd p", "w1 K w2 w1 K", "abcd"},
      // Staged records go out whole, after the handshake bytes staged before
      // them; a record's text counts as written only with its last byte.
      {"k4 hHS sabcdef t3 p p p p", "w2:0 w1:0 w3:0 w2:4 w1:0 w3:2 K", "HS[abcd][ef]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps);
    Play(c);
  }
}

}  // namespace
}  // namespace corvane
