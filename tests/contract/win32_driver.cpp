// The host contract on the Win32 host and its Winsock socket, under Wine, and
// what only a host inside an application's message loop promises. Run by
// scripts/wine-host-test.sh against corvane_loopback.
#include <new>
#include <vector>

#include "windows/ansi_charset.h"
#include "windows/host/win32_host.h"

#include "contract.h"
#include "wine/checks.h"  // after the host's headers, which include Winsock before windows.h

using namespace corvane;
using checks::check;
using contract::Recorder;
using win::Win32Host;

namespace {

BOOL CALLBACK countWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<long*>(count);
  return TRUE;
}

// Wine counts no handles (0), but it does count the thread's windows.
long handlesAndWindows() {
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  long windows = 0;
  EnumThreadWindows(GetCurrentThreadId(), countWindow, reinterpret_cast<LPARAM>(&windows));
  return static_cast<long>(handles) + windows;
}

LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 7) ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The application's own windows and messages keep working while the control pumps.
void applicationMessages(Win32Host& host, int port) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = countingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ContractWindow";
  RegisterClassW(&windowClass);
  int received = 0;
  const HWND own = CreateWindowW(L"ContractWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
  PostMessageW(own, WM_APP + 7, 0, 0);
  host.Pump();
  check("Pump dispatches the application's own messages", received == 1);
  DestroyWindow(own);

  // Pumps with deferred work look into the queue only every few milliseconds,
  // but they do look.
  Recorder peer(host);
  if (!peer.connect(host, u"localhost", port, false)) return check("messages: connect", false, peer.error());
  PostMessageW(nullptr, WM_APP + 9, 0, 0);
  const double posted = host.Now();
  bool dispatched = false;
  while (!dispatched && host.Now() - posted < 2) {
    peer.socket->SendData(u"again\r\n");
    host.Pump();
    MSG left;
    dispatched = !PeekMessageW(&left, nullptr, WM_APP + 9, WM_APP + 9, PM_NOREMOVE);
  }
  check("pumps with deferred work also dispatch the application's messages, within moments",
        dispatched && host.Now() - posted < 0.5 && peer.order.starts_with("PS"), peer.order.substr(0, 8));

  // A quit request that a pump takes reaches the application's loop once the
  // call returns; inside the call the timers go on ticking.
  int ticks = 0;
  auto timer = host.CreateTimer([&] { ++ticks; });
  timer->Enabled(true);
  const auto takeQuit = [] {
    MSG msg;
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : -1;
  };
  bool heldInside = false;
  {
    const Win32Host::Call call(host);
    PostQuitMessage(5);
    contract::pumpUntil(host, [&] { return ticks >= 2; }, 4);
    MSG msg;
    heldInside = !PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
  }
  check("a quit request taken during a call is held while timers go on ticking, then put back",
        heldInside && ticks >= 2 && takeQuit() == 5, std::to_string(ticks) + " ticks");
  PostQuitMessage(6);
  host.Pump();
  check("outside a call, a quit request goes back right after the pump", takeQuit() == 6);
}

// Switched on and off around every short pump, as the control's socket calls do
// it, the timer keeps its second instead of starting it over each time.
void timerKeepsItsSecond(Win32Host& host) {
  std::vector<double> ticks;
  auto timer = host.CreateTimer([&] { ticks.push_back(host.Now()); });
  const double start = host.Now();
  while (host.Now() - start < 2.5) {
    timer->Enabled(true);
    PostMessageW(nullptr, WM_APP + 9, 0, 0);  // something to deliver: the pump returns at once
    host.Pump();
    timer->Enabled(false);
    Sleep(20);
  }
  const double firstGap = ticks.size() >= 2 ? ticks[1] - ticks[0] : 0;
  check("a timer switched on and off around short pumps still ticks once a second",
        ticks.size() >= 2 && ticks.size() <= 3 && firstGap > 0.8 && firstGap < 1.3,
        std::to_string(ticks.size()) + " ticks in 2.5 s");
}

void outOfMemory(Win32Host& host, int port) {
  Recorder peer(host);
  if (!peer.connect(host, u"localhost", port, false)) return check("bad_alloc: connect", false, peer.error());
  peer.onData = [] { throw std::bad_alloc(); };
  peer.socket->SendData(u"hello\r\n");
  bool escaped = false;
  try {
    contract::pumpUntil(host, [&] { return peer.saw('E'); }, 5);
  } catch (...) {
    escaped = true;
  }
  check("bad_alloc in a handler ends the connection with SocketError, not through the pump",
        !escaped && peer.errorNumber == socket_error::kNoBufferSpace && peer.socket->State() == Socket::kClosed,
        peer.error());
}

}  // namespace

int main(int argc, char** argv) {
  setHostCharset(win::ansiCharset());
  Win32Host host;
  // Wine's certificate check cannot match a certificate's address entries, and
  // Wine reports a peer's reset as an orderly close (no error, recv gives 0).
  return contract::run(argc, argv, host, {.cpuSeconds = checks::cpuSeconds, .tlsByAddress = false, .resetSeen = false, .resources = handlesAndWindows},
                       [&](const contract::Servers& servers) {
                         applicationMessages(host, servers.plain);
                         timerKeepsItsSecond(host);
                         outOfMemory(host, servers.plain);
                       });
}
