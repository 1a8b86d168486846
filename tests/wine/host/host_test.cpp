// The Win32 host and its Winsock socket, run under Wine against loopback echo
// servers that scripts/wine-host-test.sh starts. The servers echo what they get
// and close the connection after a line "QUIT".
//
// Arguments: the plain port; TLS ports whose certificate is trusted, issued by an
// untrusted authority, and trusted but made out to another name; a port where
// nothing listens; a trusted TLS port that speaks TLS 1.0 and 1.1 only.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "transport/socket_errors.h"
#include "windows/ansi_charset.h"
#include "windows/host/win32_host.h"
#include "windows/host/winsock_socket.h"

#include "checks.h"  // after the host's headers, which include Winsock before windows.h

using corvane::Socket;
using corvane::SocketEvents;
using namespace corvane::checks;
using corvane::win::Win32Host;
using corvane::win::WinsockSocket;

namespace {

bool pumpUntil(Win32Host& host, const std::function<bool()>& done, double seconds) {
  const double end = host.Now() + seconds;
  while (!done() && host.Now() < end) host.Pump();
  return done();
}

void pumpFor(Win32Host& host, double seconds) {
  pumpUntil(host, [] { return false; }, seconds);
}

bool contains(const std::u16string& text, const std::u16string& part) { return text.find(part) != text.npos; }

// Records what a socket raises, in order.
struct Recorder : SocketEvents {
  std::unique_ptr<Socket> socket;
  std::string order;  // one letter per event: E rror, D ata, C losed, S ent, P rogress
  std::u16string text;
  int16_t errorNumber = 0;
  std::u16string errorText;
  int16_t stateAtData = -1;
  int16_t stateAtClosed = -1;
  bool countMatched = true;
  int32_t lastSent = 0;
  std::function<void()> onData;

  explicit Recorder(Win32Host& host) : socket(host.CreateSocket(*this)) {}

  void SocketError(int16_t number, std::u16string& description) override {
    order += 'E';
    errorNumber = number;
    errorText = description;
  }
  void DataArrival(int32_t count) override {
    order += 'D';
    stateAtData = socket->State();
    std::u16string got;
    socket->GetData(got);
    countMatched = countMatched && got.size() == static_cast<size_t>(count);
    text += got;
    if (onData) onData();
  }
  void Closed() override {
    order += 'C';
    stateAtClosed = socket->State();
  }
  void SendComplete() override { order += 'S'; }
  void SendProgress(int32_t sent, int32_t) override {
    order += 'P';
    lastSent = sent;
  }

  bool saw(char event) const { return order.find(event) != std::string::npos; }
  size_t count(char event) const { return static_cast<size_t>(std::count(order.begin(), order.end(), event)); }
  std::string error() const { return std::to_string(errorNumber) + " \"" + narrow(errorText) + "\""; }
};

// Every character of the host's character set, many times over: a transfer of
// many pieces that must come back byte for byte.
std::u16string everyCharacter(size_t size) {
  std::u16string text;
  while (text.size() < size) text += corvane::hostCharset().charOf(static_cast<uint8_t>(text.size() % 256));
  return text;
}

bool connectTo(Win32Host& host, Recorder& peer, int port, bool secured) {
  peer.socket->Secured(secured);
  peer.socket->Connect(u"localhost", port);
  return pumpUntil(host, [&] { return peer.socket->State() == Socket::kConnected || peer.saw('E'); }, 15) &&
         peer.socket->State() == Socket::kConnected;
}

// Connect, send, receive the echo, a long transfer, the peer's close.
void echoSession(Win32Host& host, int port, bool secured) {
  const std::string kind = secured ? "TLS: " : "plain: ";
  Recorder peer(host);
  check(kind + "a new socket is closed", peer.socket->State() == Socket::kClosed);
  peer.socket->Secured(secured);
  peer.socket->Connect(u"localhost", port);
  check(kind + "Connect returns at once, connecting", peer.socket->State() != Socket::kClosed && peer.order.empty(),
        "state " + std::to_string(peer.socket->State()));
  pumpUntil(host, [&] { return peer.socket->State() == Socket::kConnected || peer.saw('E'); }, 15);
  check(kind + "connects to localhost", peer.socket->State() == Socket::kConnected, peer.error());

  peer.socket->SendData(u"hello\r\n");
  check(kind + "SendData raises nothing itself", peer.order.empty(), peer.order);
  pumpUntil(host, [&] { return peer.text.size() >= 7 || peer.saw('E'); }, 10);
  check(kind + "progress, complete, then the echo", peer.order == "PSD", peer.order);
  check(kind + "the echo comes with DataArrival while connected",
        peer.text == u"hello\r\n" && peer.stateAtData == Socket::kConnected && peer.countMatched, narrow(peer.text));

  // The server holds this echo back a little: it is in the socket's buffers after
  // the sleep, but only a pump reads it.
  peer.text.clear();
  peer.socket->SendData(u"LATER\r\n");
  pumpUntil(host, [&] { return peer.text.size() >= 7 || peer.order.find("PSDPS") == 0; }, 10);
  Sleep(600);
  std::u16string early;
  peer.socket->GetData(early);
  check(kind + "GetData does not read from the network", early.empty() && peer.text.empty(), narrow(early));
  pumpUntil(host, [&] { return peer.text.size() >= 7; }, 10);
  check(kind + "a pump delivers it", peer.text == u"LATER\r\n", narrow(peer.text));

  const std::u16string big = everyCharacter(300000);
  peer.text.clear();
  peer.order.clear();
  peer.socket->SendData(big);
  pumpUntil(host, [&] { return peer.text.size() >= big.size() || peer.saw('E'); }, 30);
  check(kind + "300000 characters of every byte value come back exactly", peer.text == big,
        std::to_string(peer.text.size()) + " received");
  check(kind + "a long transfer reports progress per piece and completes once",
        peer.count('P') > 1 && peer.count('S') == 1 && peer.lastSent == static_cast<int32_t>(big.size()),
        std::to_string(peer.count('P')) + " progress, last at " + std::to_string(peer.lastSent));

  peer.text.clear();
  peer.order.clear();
  peer.socket->SendData(u"QUIT\r\n");
  pumpUntil(host, [&] { return peer.saw('C') || peer.saw('E'); }, 10);
  check(kind + "what the peer sent before closing comes before Closed",
        peer.text == u"QUIT\r\n" && peer.order.find('D') < peer.order.find('C'), peer.order);
  check(kind + "after the peer closed, the state stays non-zero until Close",
        peer.stateAtClosed != Socket::kClosed && peer.socket->State() == peer.stateAtClosed,
        std::to_string(peer.stateAtClosed));
  peer.socket->Close();
  check(kind + "Close brings the state to 0", peer.socket->State() == Socket::kClosed);

  peer.order.clear();
  peer.socket->SendData(u"late\r\n");
  const bool quiet = peer.order.empty();
  pumpUntil(host, [&] { return peer.saw('E'); }, 3);
  check(kind + "sending when closed fails from the pump",
        quiet && peer.errorNumber == WSAENOTCONN && contains(peer.errorText, u"not connected"), peer.error());
}

// What a call leaves for the pump is ready at once: the next pump delivers it
// without waiting, and it still dispatches the application's own messages.
void deferredWork(Win32Host& host, int port) {
  Recorder peer(host);
  if (!connectTo(host, peer, port, false)) return check("deferred work: connect", false, peer.error());
  peer.socket->SendData(u"now\r\n");
  double start = host.Now();
  host.Pump();
  const double busy = host.Now() - start;
  // The echo may come in the same pump already.
  check("the next pump sends what SendData left and completes it, without a wait",
        peer.order.starts_with("PS") && busy < 0.5, peer.order + " after " + std::to_string(busy) + " s");
  pumpUntil(host, [&] { return peer.saw('D'); }, 10);
  // A late notification may still end one pump early, but not every one.
  double idle = 0;
  for (int pass = 0; pass < 3 && idle < 0.9; ++pass) {
    start = host.Now();
    host.Pump();
    idle = host.Now() - start;
  }
  check("once that is done, a pump waits again", peer.saw('D') && idle > 0.9, std::to_string(idle) + " s");

  // Pumps with deferred work look into the queue only every few milliseconds, but
  // they do look.
  peer.order.clear();
  PostMessageW(nullptr, WM_APP + 9, 0, 0);
  const double posted = host.Now();
  bool dispatched = false;
  while (!dispatched && host.Now() - posted < 2) {
    peer.socket->SendData(u"again\r\n");
    host.Pump();
    MSG left;
    dispatched = !PeekMessageW(&left, nullptr, WM_APP + 9, WM_APP + 9, PM_NOREMOVE);
  }
  const double waited = host.Now() - posted;
  check("pumps with deferred work also dispatch the application's messages, within moments",
        dispatched && waited < 0.5 && peer.order.starts_with("PS"),
        peer.order.substr(0, 8) + " after " + std::to_string(waited) + " s");
}

// A run of sends, the way a message body goes out line by line: a send made right
// after the pump that completed the one before completes at the next pump, and the
// lines go out together.
void sendRun(Win32Host& host, int port) {
  Recorder peer(host);
  if (!connectTo(host, peer, port, false)) return check("send run: connect", false, peer.error());
  std::u16string sent = u"line 0\r\n";
  peer.socket->SendData(sent);
  pumpUntil(host, [&] { return peer.saw('S') || peer.saw('E'); }, 10);
  bool eachAtTheNextPump = peer.count('S') == 1;
  for (int i = 1; i < 200 && eachAtTheNextPump; ++i) {
    const std::string number = std::to_string(i);
    const std::u16string line = u"line " + std::u16string(number.begin(), number.end()) + u"\r\n";
    peer.socket->SendData(line);
    sent += line;
    host.Pump();
    eachAtTheNextPump = peer.count('S') == static_cast<size_t>(i) + 1;
  }
  check("send run: each send completes at the next pump", eachAtTheNextPump, peer.order);
  check("send run: the lines go out together, not one by one", peer.count('P') <= 20,
        std::to_string(peer.count('P')) + " progress reports for 200 lines");

  // The control has returned: the application's own loop, not the host's pump,
  // sends what the run left queued (and delivers the echo).
  const double end = host.Now() + 10;
  while (peer.text.size() < sent.size() && !peer.saw('E') && host.Now() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  check("send run: the application's own message loop sends the rest; every line comes back in order",
        peer.text == sent, std::to_string(peer.text.size()) + " of " + std::to_string(sent.size()) + " back");
}

void failures(Win32Host& host, int untrustedPort, int wrongNamePort, int refusedPort, int tls11Port) {
  {
    Recorder peer(host);
    const bool connected = connectTo(host, peer, tls11Port, true);
    check("TLS: a server of TLS 1.0 and 1.1 only is refused with SocketError",
          !connected && peer.errorNumber == corvane::socket_error::kTlsFailure &&
              contains(peer.errorText, u"protocol version was refused") && peer.socket->State() == Socket::kClosed,
          peer.error());
  }
  {
    Recorder peer(host);
    peer.socket->Connect(u"localhost", refusedPort);
    pumpUntil(host, [&] { return peer.saw('E'); }, 15);
    check("a refused connection fails with SocketError",
          peer.errorNumber == WSAECONNREFUSED && contains(peer.errorText, u"refused") &&
              peer.socket->State() == Socket::kClosed,
          peer.error());
  }
  {
    Recorder peer(host);
    const bool connected = connectTo(host, peer, untrustedPort, true);
    check("TLS: a certificate from an untrusted authority fails with SocketError",
          !connected && peer.errorNumber == corvane::socket_error::kTlsCertificateUntrusted &&
              contains(peer.errorText, u"not issued by a trusted authority") && peer.socket->State() == Socket::kClosed,
          peer.error());
  }
  {
    Recorder peer(host);
    const bool connected = connectTo(host, peer, wrongNamePort, true);
    check("TLS: a trusted certificate for another name fails with SocketError",
          !connected && peer.errorNumber == corvane::socket_error::kTlsHostnameMismatch &&
              contains(peer.errorText, u"not made out to localhost"),
          peer.error());
  }
  {
    Recorder peer(host);
    peer.socket->Connect(u"localhost", 0);
    const bool quiet = peer.order.empty();
    pumpUntil(host, [&] { return peer.saw('E'); }, 3);
    check("port 0 fails from the pump, not inside Connect",
          quiet && peer.errorNumber == WSAEINVAL && peer.socket->State() == Socket::kClosed, peer.error());
  }
  {
    Recorder peer(host);
    peer.socket->Connect(u"no-such-host.invalid", 110);
    pumpUntil(host, [&] { return peer.saw('E'); }, 20);
    const int n = peer.errorNumber;
    check("an unknown host fails with SocketError",
          (n == WSAHOST_NOT_FOUND || n == WSATRY_AGAIN || n == WSANO_DATA) &&
              contains(peer.errorText, u"Looking up no-such-host.invalid failed"),
          peer.error());
  }
}

void lifetimes(Win32Host& host, int port) {
  {
    Recorder peer(host);
    peer.socket->Connect(u"localhost", port);
    peer.socket->Close();
    check("Close while looking up closes at once", peer.socket->State() == Socket::kClosed);
    pumpFor(host, 1.5);
    check("the abandoned lookup raises nothing", peer.order.empty(), peer.order);
    const bool connected = connectTo(host, peer, port, false);
    check("the socket connects again afterwards", connected, peer.error());
  }
  {
    Recorder peer(host);
    bool destroyed = false;
    peer.onData = [&] {
      peer.socket.reset();
      destroyed = true;
    };
    connectTo(host, peer, port, false);
    peer.socket->SendData(u"one\r\n");
    pumpUntil(host, [&] { return destroyed; }, 10);
    pumpFor(host, 1.2);
    check("a socket destroyed inside its own DataArrival raises nothing more", destroyed && peer.order == "PSD",
          peer.order);
  }
  {
    Recorder peer(host);
    if (!connectTo(host, peer, port, false)) return check("bad_alloc: connect", false, peer.error());
    peer.onData = [] { throw std::bad_alloc(); };
    peer.socket->SendData(u"hello\r\n");
    bool escaped = false;
    try {
      pumpUntil(host, [&] { return peer.saw('E'); }, 5);
    } catch (...) {
      escaped = true;
    }
    check("bad_alloc in a handler ends the connection with SocketError, not through the pump",
          !escaped && peer.errorNumber == WSAENOBUFS && contains(peer.errorText, u"out of memory") &&
              peer.socket->State() == Socket::kClosed,
          peer.error());
  }
}

LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 7) ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void pumpAndTimers(Win32Host& host) {
  host.Pump();
  double start = host.Now();
  host.Pump();
  const double idle = host.Now() - start;
  check("a pump with nothing to do waits about one second", idle > 0.9 && idle < 1.6, std::to_string(idle));

  std::vector<double> tickTimes;
  auto timer = host.CreateTimer([&] { tickTimes.push_back(host.Now()); });
  timer->Enabled(true);
  Sleep(1500);
  check("timer ticks come only inside Pump", tickTimes.empty());
  pumpUntil(host, [&] { return tickTimes.size() >= 3; }, 6);
  const double gap = tickTimes.size() >= 3 ? tickTimes[2] - tickTimes[1] : 0;
  check("the timer ticks once a second", gap > 0.8 && gap < 1.3, std::to_string(gap) + " s between ticks");
  timer->Enabled(false);
  pumpFor(host, 1.5);
  check("a disabled timer is silent", tickTimes.size() == 3 && !timer->Enabled(), std::to_string(tickTimes.size()));

  // Switched on and off around every short pump, the way the control's socket
  // calls do it, the timer keeps its second instead of starting it over each time.
  tickTimes.clear();
  start = host.Now();
  while (host.Now() - start < 2.5) {
    timer->Enabled(true);
    PostMessageW(nullptr, WM_APP + 9, 0, 0);  // something to deliver: the pump returns at once
    host.Pump();
    timer->Enabled(false);
    Sleep(20);
  }
  const double firstGap = tickTimes.size() >= 2 ? tickTimes[1] - tickTimes[0] : 0;
  check("a timer switched on and off around short pumps still ticks once a second",
        tickTimes.size() >= 2 && tickTimes.size() <= 3 && firstGap > 0.8 && firstGap < 1.3,
        std::to_string(tickTimes.size()) + " ticks in 2.5 s");

  // The application's own windows keep working while the control pumps.
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = countingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"HostTestWindow";
  RegisterClassW(&windowClass);
  int received = 0;
  const HWND own = CreateWindowW(L"HostTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
  PostMessageW(own, WM_APP + 7, 0, 0);
  host.Pump();
  check("Pump dispatches the application's own messages", received == 1);
  DestroyWindow(own);

  timer->Enabled(true);
  tickTimes.clear();
  // A quit request that a pump takes reaches the application's loop once the
  // call returns; inside the call the timers go on ticking.
  const auto takeQuit = [] {
    MSG msg;
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT ? static_cast<int>(msg.wParam)
                                                                                  : -1;
  };
  bool heldInside = false;
  {
    const Win32Host::Call call(host);
    PostQuitMessage(5);
    pumpUntil(host, [&] { return tickTimes.size() >= 2; }, 4);
    MSG msg;
    heldInside = !PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
  }
  check("a quit request taken during a call is held while timers go on ticking, then put back",
        heldInside && tickTimes.size() >= 2 && takeQuit() == 5, std::to_string(tickTimes.size()) + " ticks");
  PostQuitMessage(6);
  host.Pump();
  check("outside a call, a quit request goes back right after the pump", takeQuit() == 6);
}

void cpuWhileWaiting(Win32Host& host, int port) {
  // The measure itself: spinning must make it grow (within 5 s on a shared machine).
  double before = cpuSeconds();
  const double spinStart = host.Now();
  while (cpuSeconds() - before < 0.2 && host.Now() - spinStart < 5) {
  }
  check("GetProcessTimes measures CPU time", cpuSeconds() - before >= 0.2,
        std::to_string(host.Now() - spinStart) + " s of spinning for 0.2 s of CPU");

  Recorder peer(host);
  if (!connectTo(host, peer, port, false)) return check("CPU: connect", false, peer.error());
  auto timer = host.CreateTimer([] {});
  timer->Enabled(true);
  before = cpuSeconds();
  pumpFor(host, 5);
  const double cpu = cpuSeconds() - before;
  std::printf("CPU time for 5 s of pumping with a silent connection and the timer on: %.3f s\n", cpu);
  check("pumping a silent connection takes almost no CPU", cpu < 0.25 && peer.order.empty(),
        std::to_string(cpu) + " s");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: corvane_host_test <plain> <tls> <untrusted tls> <wrong-name tls> <refused> <tls 1.1 only>\n");
    return 2;
  }
  const int plain = std::atoi(argv[1]), tls = std::atoi(argv[2]), untrusted = std::atoi(argv[3]),
            wrongName = std::atoi(argv[4]), refused = std::atoi(argv[5]), tls11 = std::atoi(argv[6]);
  corvane::setHostCharset(corvane::win::ansiCharset());
  try {
    Win32Host host;
    {
      Recorder peer(host);
      check("the local host has a name", !peer.socket->LocalHostName().empty(), narrow(peer.socket->LocalHostName()));
    }
    pumpAndTimers(host);
    echoSession(host, plain, false);
    deferredWork(host, plain);
    sendRun(host, plain);
    echoSession(host, tls, true);
    failures(host, untrusted, wrongName, refused, tls11);
    lifetimes(host, plain);
    cpuWhileWaiting(host, plain);
  } catch (const std::exception& e) {
    check("no exception", false, e.what());
  }
  return finish();
}
