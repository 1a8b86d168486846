// corvane_loopback: the loopback servers as a program, for the Wine suites.
//   corvane_loopback PORTS_FILE [NAME=CERT.pem:KEY.pem[:tls1.0|:starttls]]...
// Listens on 127.0.0.1: a plain echo port, one TLS echo port per certificate, and
// a sink port (":tls1.0": that TLS server speaks TLS 1.0 only; ":starttls": its
// connections begin in clear text, see UpgradeOnRequest). An echo connection gets back what it sends; a piece holding the line
// "LATER" comes back after 0.3 s; after a line "QUIT" the server closes the
// connection (TLS: with a close_notify); a piece that is the line "SNI" gets back
// "SNI name", the host name the client sent (none: empty), and one holding the line
// "RESET" a TCP reset instead of its echo; the line "POLITE" gets "POLITE yes" when
// the last client to close a TLS connection sent a close_notify; a piece holding the line "NOISE" gets,
// 0.3 s later, a TLS record that does not decrypt instead of its echo. A sink
// reads and drops what it gets and, when the connection ends, prints
// "sink: N bytes". Once everything listens,
// writes "NAME PORT" per server to PORTS_FILE: "plain", each certificate's name,
// "sink", "refused", a port where nothing listens, and "transcript" and "select",
// which play the protocol cases (see Transcript below). Runs until killed.
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "loopback_server.h"

using namespace corvane::test_servers;

namespace {

// Whether the last TLS client to go away said goodbye with a close_notify.
std::atomic<bool> lastClosePolite{false};

void EchoUntilQuit(ServerConnection& connection) {
  std::string tail;
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) {
    if (data == "POLITE\r\n") data = lastClosePolite ? "POLITE yes\r\n" : "POLITE no\r\n";
    const bool noise = data.find("NOISE\r\n") != std::string::npos;
    if (noise || data.find("LATER\r\n") != std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Application data too short for any cipher's tag.
    if (noise) data.assign("\x17\x03\x03\x00\x05noise", 10);
    if (data == "SNI\r\n") data = "SNI " + connection.ServerName() + "\r\n";
    if (data.find("RESET\r\n") != std::string::npos) return connection.Reset();
    if (!connection.Write(data, noise)) return;
    tail += data;
    if (tail.size() > 6) tail.erase(0, tail.size() - 6);
    if (tail == "QUIT\r\n") return;
  }
  lastClosePolite = connection.ClientSentCloseNotify();
}

// The line "STARTTLS" gets "go ahead", then the handshake and the echo;
// "STARTTLS INJECT" gets, 0.1 s after the go-ahead, more clear text before the
// handshake; "STARTTLS PLAIN" gets clear text in answer to the client's hello.
void UpgradeOnRequest(ServerConnection& connection) {
  std::string line;
  while (!line.ends_with("\r\n")) {
    const std::string data = connection.Read();
    if (data.empty()) return;
    line += data;
  }
  if (!line.starts_with("STARTTLS") || !connection.Write("go ahead\r\n")) return;
  if (line == "STARTTLS PLAIN\r\n") {
    connection.Read();
    connection.Write("+OK hello\r\n");
    return Silent(connection);
  }
  if (line == "STARTTLS INJECT\r\n") {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection.Write("INJECTED\r\n");
  }
  if (connection.StartTls()) EchoUntilQuit(connection);
}

void Sink(ServerConnection& connection) {
  size_t received = 0;
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) received += data.size();
  std::printf("sink: %zu bytes\n", received);
  std::fflush(stdout);
}

// --- The protocol cases of tests/cases, played by a server for the OCX under Wine
// (tests/wine/cases/cases.js). On a `select` connection the player hands over
// the server's side of one case, a line each as the case file writes it ("S:
// text", "S~ text", "C: line", "C~ text", "close", "pause N", or "fault NAME" in
// place of an answer), then "END". Each connection to `transcript` plays on from
// where the last one stopped. "RESULT" ends the play and answers "OK" or "FAIL
// what differed", and after a flood " flooded N", the bytes it sent.
struct Round {
  std::vector<std::string> script;
  size_t next = 0, flooded = 0;
  bool faulted = false;
  std::string failure;
};
struct Transcript {
  std::mutex mutex, playing;  // the state; one connection plays at a time
  std::condition_variable changed;
  Round round;
  int connections = 0;  // in play or waiting to play
  bool armed = false;
  std::atomic<bool> stop{false};
} transcript;

// "\r", "\n", "\t", "\0" and "\xHH" stand for those characters; "\c" for c.
std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\\' || k + 1 == text.size()) out += text[k];
    else if (text[++k] == 'x') out += static_cast<char>(std::stoi(std::string(text.substr(k + 1, 2)), nullptr, 16)), k += 2;
    else out += text[k] == 'r' ? '\r' : text[k] == 'n' ? '\n' : text[k] == 't' ? '\t' : text[k] == '0' ? '\0' : text[k];
  }
  return out;
}

// Line ends escaped, so that a verdict stays one line.
std::string Shown(std::string_view text) {
  std::string out = "'";
  for (const char c : text.substr(0, 200)) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out + "'";
}

// Adds what arrives to `heard`; false once the client went, or the play stopped
// and nothing more was there.
bool Hear(ServerConnection& connection, std::string& heard) {
  for (;;) {
    const bool stopping = transcript.stop;
    if (connection.Readable(stopping ? 0 : 100)) {
      const std::string data = connection.Read();
      heard += data;
      return !data.empty();
    }
    if (stopping) return false;
  }
}

// In place of an answer; the play ends with it.
void Misbehave(ServerConnection& connection, std::string_view fault) {
  if (fault == "close") return;
  if (fault == "reset") return connection.Reset();
  if (fault == "garbage") connection.Write(std::string("\0\xff\x1b[2J\x80garbage\x7f\r\n", 17));
  if (fault == "longline") connection.Write(std::string(65536, 'x'));
  if (fault == "flood") {
    std::string chunk;
    while (chunk.size() < 16384) chunk += "flood flood flood flood flood\r\n";
    while (!transcript.stop && connection.Write(chunk)) transcript.round.flooded += chunk.size();
  }
  for (std::string heard; Hear(connection, heard);) heard.clear();  // till the client goes
}

// A "C" line as said; the word "testhost" stands for the client's host name.
bool Said(std::string_view heard, std::string_view want) {
  const size_t at = want.find("testhost");
  if (at == std::string_view::npos) return heard == want;
  const std::string_view after = want.substr(at + 8);
  return heard.size() > at + after.size() && heard.starts_with(want.substr(0, at)) && heard.ends_with(after);
}

// Plays on until the connection ends; says what differed.
std::string PlayOn(ServerConnection& connection) {
  Round& t = transcript.round;
  std::string heard;  // from the client, not yet checked
  for (; t.next < t.script.size() && !transcript.stop; ++t.next) {
    const std::string& entry = t.script[t.next];
    const std::string text = Unescape(entry.substr(std::min<size_t>(entry.size(), 3))) + (entry[1] == '~' ? "" : "\r\n");
    if (entry == "close") return ++t.next, "";
    if (entry.starts_with("fault ")) {
      t.faulted = true;
      Misbehave(connection, entry.substr(6));
      return ++t.next, "";
    }
    if (entry.starts_with("pause ")) {
      for (int n = 10 * std::stoi(entry.substr(6)); n > 0 && !transcript.stop; --n)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } else if (entry.starts_with("S")) {
      if (!connection.Write(text)) return "";
    } else {  // "C: " up to its line end, "C~ " as long as it is
      const auto said = [&] {
        const size_t lineEnd = heard.find("\r\n");
        if (entry[1] == '~') return heard.size() >= text.size() ? text.size() : 0;
        return lineEnd == std::string::npos ? 0 : lineEnd + 2;
      };
      size_t end;
      while ((end = said()) == 0)
        if (!Hear(connection, heard)) return "";
      if (!Said(heard.substr(0, end), text)) return "said " + Shown(heard.substr(0, end)) + ", not " + Shown(text);
      heard.erase(0, end);
    }
  }
  while (heard.empty() && Hear(connection, heard)) {
  }
  return heard.empty() ? "" : "unexpected: " + Shown(heard);
}

void Play(ServerConnection& connection) {
  Transcript& t = transcript;
  {
    std::unique_lock lock(t.mutex);
    if (!t.changed.wait_for(lock, std::chrono::seconds(5), [&] { return t.armed && !t.stop; })) return;
    ++t.connections;
  }
  std::string failure;
  {
    std::lock_guard play(t.playing);
    failure = PlayOn(connection);
  }
  std::lock_guard lock(t.mutex);
  if (t.round.failure.empty()) t.round.failure = failure;
  --t.connections;
  t.changed.notify_all();
}

std::string Verdict() {
  Transcript& t = transcript;
  std::unique_lock lock(t.mutex);
  t.stop = true;
  t.changed.wait_for(lock, std::chrono::seconds(10), [&] { return t.connections == 0; });
  t.armed = false;
  const Round& r = t.round;
  const std::string verdict = !r.failure.empty()                      ? "FAIL " + r.failure
                              : !r.faulted && r.next < r.script.size() ? "FAIL stopped before: " + r.script[r.next]
                                                                       : "OK";
  return r.flooded ? verdict + " flooded " + std::to_string(r.flooded) : verdict;
}

void Select(ServerConnection& connection) {
  std::vector<std::string> script;
  std::string heard;
  for (size_t end;;) {
    while ((end = heard.find("\r\n")) == std::string::npos) {
      const std::string data = connection.Read();
      if (data.empty()) return;
      heard += data;
    }
    std::string line = heard.substr(0, end);
    heard.erase(0, end + 2);
    if (line == "RESULT") {
      if (!connection.Write(Verdict() + "\r\n")) return;
    } else if (line == "END") {
      std::lock_guard lock(transcript.mutex);
      transcript.round = Round();
      transcript.round.script = std::exchange(script, {});
      transcript.stop = false;
      transcript.armed = true;
      transcript.changed.notify_all();
    } else {
      script.push_back(std::move(line));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvane_loopback PORTS_FILE [NAME=CERT.pem:KEY.pem]...\n");
    return 2;
  }
  std::list<LoopbackServer> servers;
  std::ostringstream ports;
  servers.emplace_back(EchoUntilQuit);
  ports << "plain " << servers.back().Port() << "\n";
  for (int i = 2; i < argc; ++i) {
    const std::string entry = argv[i];
    const size_t equals = entry.find('='), colon = entry.find(':', equals);
    if (equals == std::string::npos || colon == std::string::npos) {
      std::fprintf(stderr, "not NAME=CERT:KEY: %s\n", argv[i]);
      return 2;
    }
    std::string key = entry.substr(colon + 1);
    const bool old = key.ends_with(":tls1.0"), upgrade = key.ends_with(":starttls");
    if (old || upgrade) key.resize(key.rfind(':'));
    const Identity identity{entry.substr(equals + 1, colon - equals - 1), key};
    servers.emplace_back(upgrade ? UpgradeOnRequest : EchoUntilQuit, &identity, old, upgrade);
    ports << entry.substr(0, equals) << " " << servers.back().Port() << "\n";
  }
  servers.emplace_back(Sink);
  ports << "sink " << servers.back().Port() << "\nrefused " << UnusedPort() << "\n";
  servers.emplace_back(Play);
  ports << "transcript " << servers.back().Port() << "\n";
  servers.emplace_back(Select);
  ports << "select " << servers.back().Port() << "\n";
  const std::string file = argv[1];
  std::ofstream(file + ".tmp") << ports.str();
  std::rename((file + ".tmp").c_str(), file.c_str());
  for (;;) pause();
}
