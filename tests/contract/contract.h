#pragma once
// What every host and its socket promise the core, written once against Host and
// Socket and run by each platform's driver against the loopback servers of
// corvane_loopback (tests/servers): events only inside pumps and in order, text
// byte for byte, the peer's close, failures, TLS and the upgrade to it, the timer
// and pumps that sleep.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "checks.h"
#include "control/host.h"
#include "text/charset.h"
#include "transport/socket_errors.h"

namespace corvane::contract {

using checks::check;
using checks::narrow;

// The servers' ports, in the order of the command line.
struct Servers {
  int plain, tls, untrusted, wrongName, refused, tls10, expired, upgrade, upgradeWrongName;
};

struct Platform {
  double (*cpuSeconds)();  // this process's CPU time so far
  bool tlsByAddress;       // certificates can be checked by their address entries
  bool resetSeen;          // a reset is told apart from an orderly close
  long (*resources)();     // what a socket could leak: descriptors, or handles and windows
};

inline bool pumpUntil(Host& host, const std::function<bool()>& done, double seconds) {
  const double end = host.Now() + seconds;
  while (!done() && host.Now() < end) host.Pump();
  return done();
}
inline void pumpFor(Host& host, double seconds) { pumpUntil(host, [] { return false; }, seconds); }
inline void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// What one socket raises, in order: one letter per event, E rror, D ata,
// C losed, S ent (complete), P rogress. Each DataArrival takes the text at once,
// unless `take` is off.
struct Recorder : SocketEvents {
  std::unique_ptr<Socket> socket;
  std::string order;
  std::u16string text;
  int16_t errorNumber = 0;
  std::u16string errorText;
  int16_t stateAtData = -1, stateAtClosed = -1;
  bool countsMatch = true, progressPositive = true;
  int32_t lastRemaining = -1;
  std::function<void()> onData;
  bool take = true;

  explicit Recorder(Host& host) : socket(host.CreateSocket(*this)) {}

  void SocketError(int16_t number, std::u16string& description) override {
    order += 'E';
    errorNumber = number;
    errorText = description;
  }
  void DataArrival(int32_t count) override {
    order += 'D';
    stateAtData = socket->State();
    if (!take) return;
    std::u16string got;
    socket->GetData(got);
    countsMatch = countsMatch && got.size() == static_cast<size_t>(count);
    text += got;
    if (onData) onData();
  }
  void Closed() override {
    order += 'C';
    stateAtClosed = socket->State();
  }
  void SendComplete() override { order += 'S'; }
  void SendProgress(int32_t sent, int32_t remaining) override {
    order += 'P';
    progressPositive = progressPositive && sent > 0;
    lastRemaining = remaining;
  }

  bool saw(char event) const { return order.find(event) != std::string::npos; }
  size_t count(char event) const { return static_cast<size_t>(std::count(order.begin(), order.end(), event)); }
  std::string error() const { return std::to_string(errorNumber) + " \"" + narrow(errorText) + "\""; }

  // `early`: the state Connect returned with, before any event.
  bool connect(Host& host, const std::u16string& name, int port, bool secured, int16_t* early = nullptr) {
    socket->Secured(secured);
    socket->Connect(name, port);
    if (early) *early = order.empty() ? socket->State() : -1;
    return pumpUntil(host, [&] { return socket->State() == Socket::kConnected || saw('E'); }, 15) &&
           socket->State() == Socket::kConnected;
  }
  // Sends `line` and pumps until `replySize` characters came back.
  bool ask(Host& host, const std::u16string& line, size_t replySize) {
    text.clear();
    socket->SendData(line);
    return pumpUntil(host, [&] { return text.size() >= replySize || saw('E') || saw('C'); }, 15);
  }
};

// Connect, the echo, every byte value in a long transfer, the peer's close.
inline void echoSession(Host& host, int port, bool secured) {
  const std::string kind = secured ? "TLS: " : "plain: ";
  Recorder peer(host);
  check(kind + "a new socket is closed, and the local host has a name",
        peer.socket->State() == Socket::kClosed && !peer.socket->LocalHostName().empty());
  int16_t early = -1;
  if (!peer.connect(host, u"localhost", port, secured, &early)) return check(kind + "connect", false, peer.error());
  check(kind + "Connect returns at once, connecting", early != Socket::kClosed && early != Socket::kConnected);

  // A character the host's character set lacks goes out as '?'.
  peer.socket->SendData(u"h\u0100llo\r\n");
  check(kind + "SendData raises nothing itself", peer.order.empty(), peer.order);
  pumpUntil(host, [&] { return peer.text.size() >= 7 || peer.saw('E'); }, 10);
  std::u16string again = u"left";
  peer.socket->GetData(again);
  check(kind + "progress, complete, then the echo, while connected, and GetData hands it over once",
        peer.order == "PSD" && peer.text == u"h?llo\r\n" && peer.stateAtData == Socket::kConnected &&
            peer.countsMatch && again.empty(),
        peer.order + " " + narrow(peer.text));

  // The server holds this echo back a while: it waits in the system's buffers,
  // and only a pump takes it.
  peer.text.clear();
  peer.onData = [&] { peer.socket->GetData(again); };
  peer.socket->SendData(u"LATER\r\n");
  pumpUntil(host, [&] { return peer.count('S') == 2; }, 10);
  sleepFor(0.6);
  peer.socket->GetData(again);
  const bool untaken = again.empty() && peer.text.empty();
  pumpUntil(host, [&] { return peer.text.size() >= 7; }, 10);
  check(kind + "text is taken from the network only by a pump", untaken && peer.text == u"LATER\r\n",
        narrow(peer.text));
  peer.onData = nullptr;

  std::u16string big;
  while (big.size() < 300000) big += hostCharset().charOf(static_cast<uint8_t>(big.size() % 256));
  peer.order.clear();
  const bool whole = peer.ask(host, big, big.size()) && peer.text == big;
  check(kind + "300000 characters of every byte value come back exactly", whole,
        std::to_string(peer.text.size()) + " received " + peer.error());
  const size_t lastProgress = peer.order.rfind('P'), complete = peer.order.find('S');
  check(kind + "a long send reports progress piece by piece, then completes once",
        peer.count('P') > 1 && peer.count('S') == 1 && lastProgress < complete && peer.lastRemaining == 0 &&
            peer.progressPositive,
        std::to_string(peer.count('P')) + " progress, last remaining " + std::to_string(peer.lastRemaining));

  peer.order.clear();
  peer.text.clear();
  peer.socket->SendData(u"QUIT\r\n");
  pumpUntil(host, [&] { return peer.saw('C') || peer.saw('E'); }, 10);
  pumpFor(host, 0.3);
  check(kind + "what the peer sent before closing comes before Closed, which comes once",
        peer.text == u"QUIT\r\n" && peer.order.ends_with("DC") && peer.count('C') == 1, peer.order);
  const bool stays = peer.stateAtClosed != Socket::kClosed && peer.socket->State() == peer.stateAtClosed;
  peer.socket->Close();
  check(kind + "after the peer closed, the state stays non-zero until Close brings it to 0",
        stays && peer.socket->State() == Socket::kClosed, std::to_string(peer.stateAtClosed));

  peer.order.clear();
  peer.socket->SendData(u"late\r\n");
  const bool quiet = peer.order.empty();
  pumpUntil(host, [&] { return peer.saw('E'); }, 3);
  check(kind + "sending when closed fails from the next pump",
        quiet && peer.errorNumber == socket_error::kNotConnected, peer.error());

  // A handler may pump again (a wait of the host's, a message box): the close
  // that waits behind the data must still come once, after it.
  Recorder nested(host);
  nested.onData = [&] { host.Pump(); };
  nested.connect(host, u"localhost", port, secured);
  nested.socket->SendData(u"QUIT\r\n");
  pumpUntil(host, [&] { return nested.saw('S'); }, 10);
  sleepFor(0.3);  // the echo and the close both wait
  pumpUntil(host, [&] { return nested.saw('C') || nested.saw('E'); }, 10);
  pumpFor(host, 0.3);
  check(kind + "a pump inside DataArrival does not repeat or reorder the close", nested.order == "PSDC", nested.order);
}

// TLS sends the host name it connects to (SNI), and checks the certificate
// against an address when given one.
inline void tlsNames(Host& host, const Servers& servers, const Platform& platform) {
  for (const std::u16string name : {u"localhost", u"127.0.0.1"}) {
    if (name != u"localhost" && !platform.tlsByAddress) continue;
    Recorder peer(host);
    const std::u16string sni = u"SNI " + (name == u"localhost" ? name : u"") + u"\r\n";
    check("TLS to " + narrow(name) + " is checked and sends the name only when it is not an address",
          peer.connect(host, name, servers.tls, true) && peer.ask(host, u"SNI\r\n", sni.size()) && peer.text == sni,
          narrow(peer.text) + peer.error());
  }
  // Close says goodbye with a close_notify, as the next connection hears from the server.
  {
    Recorder first(host);
    first.connect(host, u"localhost", servers.tls, true);
    first.socket->Close();
  }
  pumpFor(host, 0.3);
  Recorder peer(host);
  check("Close ends a TLS connection with a close_notify",
        peer.connect(host, u"localhost", servers.tls, true) && peer.ask(host, u"POLITE\r\n", 12) &&
            peer.text == u"POLITE yes\r\n",
        narrow(peer.text) + peer.error());
}

// StartTls on a plain connection, once the server said "go ahead": the checks of
// implicit TLS, and nothing received in clear text is handed over after it.
inline void upgrades(Host& host, const Servers& servers) {
  namespace e = socket_error;
  struct Upgrade {
    const char* what;
    int port;
    const char16_t* request;
    int16_t error;  // 0: the upgrade succeeds
  };
  const Upgrade upgrades[] = {
      {"an upgraded connection carries text both ways, whole", servers.upgrade, u"STARTTLS", 0},
      {"clear text that came before the handshake, received or still unread, is never handed over", servers.upgrade,
       u"STARTTLS INJECT", 0},
      {"a server that answers the handshake in clear text fails it at once", servers.upgrade, u"STARTTLS PLAIN",
       e::kTlsFailure},
      {"the upgrade refuses a certificate for another name", servers.upgradeWrongName, u"STARTTLS",
       e::kTlsHostnameMismatch},
  };
  const std::u16string big = std::u16string(100000, u'x') + u"\r\n";  // several records
  for (const Upgrade& u : upgrades) {
    const std::string what = std::string("TLS upgrade: ") + u.what;
    Recorder peer(host);
    if (!peer.connect(host, u"localhost", u.port, false)) return check(what + ": connect", false, peer.error());
    peer.take = false;  // the go-ahead stays unread
    peer.socket->SendData(std::u16string(u.request) + u"\r\n");
    pumpUntil(host, [&] { return peer.saw('D') || peer.saw('E'); }, 10);
    sleepFor(0.3);  // what the server says next has arrived
    peer.socket->StartTls();
    std::u16string dropped;
    peer.socket->GetData(dropped);
    const bool upgrading = peer.socket->State() == Socket::kConnecting && dropped.empty();
    peer.take = true;
    peer.order.clear();
    const double start = host.Now();
    pumpUntil(host, [&] { return peer.socket->State() == Socket::kConnected || peer.saw('E'); }, 15);
    if (u.error) {
      check(what, upgrading && peer.order == "E" && peer.errorNumber == u.error && host.Now() - start < 5 &&
                      peer.socket->State() == Socket::kClosed,
            peer.order + " " + peer.error());
      continue;
    }
    const bool echoed = peer.ask(host, big, big.size()) && peer.text == big && peer.ask(host, u"QUIT\r\n", 6);
    pumpUntil(host, [&] { return peer.saw('C') || peer.saw('E'); }, 10);
    check(what, upgrading && echoed && peer.text == u"QUIT\r\n" && peer.order.ends_with("DC"),
          narrow(peer.text.substr(0, 40)) + " " + peer.order + " " + peer.error());
  }
  // Only a plain connection upgrades: StartTls on another closes it at once and
  // fails from the next pump.
  for (const bool secured : {false, true}) {
    Recorder peer(host);
    if (secured) peer.connect(host, u"localhost", servers.tls, true);
    peer.socket->StartTls();
    const bool quiet = peer.order.empty() && peer.socket->State() == Socket::kClosed;
    pumpUntil(host, [&] { return peer.saw('E'); }, 3);
    check(std::string("TLS upgrade: StartTls on a ") + (secured ? "secured" : "closed") + " socket fails",
          quiet && peer.order == "E" && peer.errorNumber == (secured ? e::kInvalidArgument : e::kNotConnected),
          peer.order + " " + peer.error());
  }
}

// Each way a connection fails: SocketError from a pump with the right number, a
// description that says where, and State back at 0.
inline void failures(Host& host, const Servers& servers, const Platform& platform) {
  struct Refusal {
    const char* what;
    const char16_t* name;
    int port;
    bool secured;
    std::vector<int16_t> numbers;
    std::u16string mentions;
  };
  namespace e = socket_error;
  const Refusal refusals[] = {
      {"a refused connection", u"localhost", servers.refused, false, {e::kConnectionRefused}, {}},
      {"an unknown host", u"no-such-host.invalid", 110, false,
       {e::kHostNotFound, e::kLookupTryAgain, e::kLookupFailed, 11004}, u"no-such-host.invalid"},
      {"TLS: a certificate from an untrusted authority", u"localhost", servers.untrusted, true,
       {e::kTlsCertificateUntrusted}, {}},
      {"TLS: a trusted certificate for another name", u"localhost", servers.wrongName, true,
       {e::kTlsHostnameMismatch}, {}},
      {"TLS: a trusted certificate without the address", u"127.0.0.1", servers.wrongName, true,
       {e::kTlsHostnameMismatch}, {}},
      {"TLS: an expired certificate", u"localhost", servers.expired, true, {e::kTlsCertificateExpired}, {}},
      {"TLS: a server of TLS 1.0 only", u"localhost", servers.tls10, true, {e::kTlsFailure},
       u"the protocol version was refused: TLS 1.2 or later is required"},
      {"TLS to a plain server", u"localhost", servers.plain, true, {e::kTlsFailure}, {}},
  };
  for (const Refusal& r : refusals) {
    Recorder peer(host);
    const bool connected = peer.connect(host, r.name, r.port, r.secured);
    const std::string port = std::to_string(r.port);
    const std::u16string where = r.mentions.empty() ? std::u16string(port.begin(), port.end()) : r.mentions;
    check(std::string(r.what) + " fails with SocketError",
          !connected && std::ranges::count(r.numbers, peer.errorNumber) == 1 && peer.order == "E" &&
              peer.errorText.find(where) != std::u16string::npos && peer.socket->State() == Socket::kClosed,
          peer.order + " " + peer.error());
  }
  for (const int port : {0, 70000}) {
    Recorder peer(host);
    peer.socket->Connect(u"localhost", port);
    const bool quiet = peer.order.empty() && peer.socket->State() == Socket::kClosed;
    pumpUntil(host, [&] { return peer.saw('E'); }, 3);
    check("port " + std::to_string(port) + " fails from the next pump, not inside Connect",
          quiet && peer.errorNumber == e::kInvalidArgument && peer.socket->State() == Socket::kClosed, peer.error());
  }
  if (!platform.resetSeen) return;
  Recorder reset(host);
  if (!reset.connect(host, u"localhost", servers.plain, false)) return check("reset: connect", false, reset.error());
  reset.socket->SendData(u"RESET\r\n");
  pumpUntil(host, [&] { return reset.saw('E') || reset.saw('C'); }, 10);
  check("a connection reset by the peer fails with SocketError",
        reset.errorNumber == e::kConnectionReset && reset.socket->State() == Socket::kClosed,
        reset.order + " " + reset.error());
}

inline void lifetimes(Host& host, int port) {
  Recorder peer(host);
  peer.socket->Connect(u"localhost", port);
  peer.socket->SendData(u"never sent\r\n");
  peer.socket->Close();
  const bool closed = peer.socket->State() == Socket::kClosed;
  pumpFor(host, 1.5);
  check("Close while connecting closes at once, and the attempt raises nothing", closed && peer.order.empty(),
        peer.order);
  // Sent while connecting: it goes out once connected, and only it.
  peer.socket->Connect(u"localhost", port);
  peer.socket->SendData(u"early\r\n");
  pumpUntil(host, [&] { return peer.text.size() >= 7 || peer.saw('E'); }, 15);
  check("text sent while connecting goes out once connected, completed once",
        peer.text == u"early\r\n" && peer.count('S') == 1, narrow(peer.text) + " " + peer.order);

  Recorder gone(host);
  gone.onData = [&] { gone.socket.reset(); };
  if (!gone.connect(host, u"localhost", port, false)) return check("destroyed: connect", false, gone.error());
  gone.socket->SendData(u"QUIT\r\n");
  pumpUntil(host, [&] { return !gone.socket; }, 10);
  pumpFor(host, 1.2);
  check("a socket destroyed inside its own DataArrival raises nothing more", gone.order == "PSD", gone.order);
}

// Sessions in a row, plain and TLS, each ended by the peer, by Close or by the
// socket's end: the process holds what it held before them.
inline void nothingLeaks(Host& host, const Servers& servers, const Platform& platform) {
  long before = 0;
  for (int n = 0; n < 31; ++n) {
    if (n == 1) before = platform.resources();  // after the first, which may set up what lasts
    Recorder peer(host);
    if (!peer.connect(host, u"localhost", n % 2 ? servers.tls : servers.plain, n % 2)) {
      return check("sessions in a row: connect", false, peer.error());
    }
    if (n % 3 == 0) {
      peer.socket->SendData(u"QUIT\r\n");
      pumpUntil(host, [&] { return peer.saw('C'); }, 10);
    }
    if (n % 3 == 1) peer.socket->Close();
  }
  const long after = platform.resources();
  check("thirty sessions, plain and TLS, leave the process holding what it held", after == before,
        std::to_string(before) + " before, " + std::to_string(after) + " after");
}

// A message body said line by line: each send right after the completion of the
// one before.
inline void sendRun(Host& host, int port) {
  Recorder peer(host);
  if (!peer.connect(host, u"localhost", port, false)) return check("send run: connect", false, peer.error());
  std::u16string sent;
  bool eachCompleted = true;
  for (int i = 0; i < 200 && eachCompleted; ++i) {
    const std::string line = "line " + std::to_string(i) + "\r\n";
    sent += std::u16string(line.begin(), line.end());
    peer.socket->SendData(sent.substr(sent.size() - line.size()));
    eachCompleted = pumpUntil(host, [&] { return peer.count('S') == static_cast<size_t>(i) + 1; }, 5);
  }
  pumpUntil(host, [&] { return peer.text.size() >= sent.size() || peer.saw('E'); }, 10);
  pumpFor(host, 0.3);
  check("a run of sends arrives whole and in order, each send completed once",
        eachCompleted && peer.text == sent && peer.count('S') == 200 && !peer.saw('E'),
        std::to_string(peer.text.size()) + " of " + std::to_string(sent.size()) + ", " +
            std::to_string(peer.count('S')) + " completions");
}

inline double pumpSeconds(Host& host) {
  const double start = host.Now();
  host.Pump();
  return host.Now() - start;
}

// Pumps are bounded and sleep; the timer ticks once a second, only inside them.
inline void pumpsAndTimers(Host& host, int port, const Platform& platform) {
  host.Pump();
  const double idle = pumpSeconds(host);
  check("a pump with nothing to do waits about one second", idle > 0.9 && idle < 1.6, std::to_string(idle));

  Recorder peer(host);
  if (!peer.connect(host, u"localhost", port, false)) return check("pumps: connect", false, peer.error());
  peer.socket->SendData(u"now\r\n");
  const double busy = pumpSeconds(host);
  check("the next pump sends what SendData left and completes it, without a wait",
        peer.order.starts_with("PS") && busy < 0.5, peer.order + " after " + std::to_string(busy) + " s");
  pumpUntil(host, [&] { return peer.saw('D'); }, 10);
  // A late notification may still end one pump early, but not every one.
  double rest = 0;
  for (int pass = 0; pass < 3 && rest < 0.9; ++pass) rest = pumpSeconds(host);
  check("once that is done, a pump waits again", peer.saw('D') && rest > 0.9, std::to_string(rest) + " s");

  std::vector<double> ticks;
  auto timer = host.CreateTimer([&] { ticks.push_back(host.Now()); });
  timer->Enabled(true);
  sleepFor(1.5);
  check("timer ticks come only inside Pump", ticks.empty());
  pumpUntil(host, [&] { return ticks.size() >= 3; }, 6);
  const double gap = ticks.size() >= 3 ? ticks[2] - ticks[1] : 0;
  check("the timer ticks once a second", gap > 0.8 && gap < 1.3, std::to_string(gap) + " s between ticks");
  timer->Enabled(false);
  pumpFor(host, 1.5);
  check("a disabled timer is silent", ticks.size() == 3 && !timer->Enabled(), std::to_string(ticks.size()));

  // The measure first: spinning must make it grow.
  double before = platform.cpuSeconds(), spin = host.Now();
  while (platform.cpuSeconds() - before < 0.2 && host.Now() - spin < 5) continue;
  check("the CPU time measure grows while spinning", platform.cpuSeconds() - before >= 0.2);
  peer.order.clear();
  timer->Enabled(true);
  before = platform.cpuSeconds();
  pumpFor(host, 3);
  const double cpu = platform.cpuSeconds() - before;
  check("pumping a silent connection with the timer on takes almost no CPU",
        cpu < 0.15 && peer.order.empty(), std::to_string(cpu) + " s CPU in 3 s, " + peer.order);
}

// A driver's main: the contract, then the platform's own checks.
inline int run(int argc, char** argv, Host& host, const Platform& platform,
               const std::function<void(const Servers&)>& platformChecks) {
  if (argc != 10) {
    std::fputs("usage: corvane_contract <plain> <tls> <untrusted> <wrong name> <refused> <tls 1.0 only> <expired> "
               "<upgrade> <upgrade, wrong name>\n",
               stderr);
    return 2;
  }
  const Servers servers{std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                        std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]),
                        std::atoi(argv[9])};
  pumpsAndTimers(host, servers.plain, platform);
  echoSession(host, servers.plain, false);
  echoSession(host, servers.tls, true);
  tlsNames(host, servers, platform);
  upgrades(host, servers);
  failures(host, servers, platform);
  lifetimes(host, servers.plain);
  nothingLeaks(host, servers, platform);
  sendRun(host, servers.plain);
  platformChecks(servers);
  return checks::finish();
}

}  // namespace corvane::contract
