// Two figures of the control prjCorvane.Corvane under Wine, called the way a
// late-bound script calls it: every call looks its member up by name
// (GetIDsOfNames) and goes through IDispatch::Invoke, variables by reference.
//  (a) the CPU time (user + kernel, GetProcessTimes) of one SocketRead that waits
//      Timeout 5 s for data that never comes, on a connection to a peer that
//      stays silent; it must stay a small fraction of a second;
//  (b) SocketSend of 100,000 lines of 76 characters and CR LF to a peer that reads
//      and discards: lines per second.
// Argument: the port of a loopback peer that never answers and drops what it gets.
// Prints the figures (indented) and "ok - ..." / "not ok - ..." per check, and
// ends with "RESULT PASS" or "RESULT FAIL".
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "checks.h"

using namespace corvane::checks;

namespace {

double now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The smallest step the process's CPU clock makes (Wine counts in ticks of the
// system's clock), found by spinning until it moves twice; 0 if it never moves.
double cpuClockStep() {
  const double deadline = now() + 2;
  double first = cpuSeconds(), second = first;
  while (second == first && now() < deadline) second = cpuSeconds();
  double third = second;
  while (third == second && now() < deadline) third = cpuSeconds();
  return third - second;
}

// A script's variable: a VARIANT the callee may reach through VT_BYREF|VT_VARIANT.
struct Variable {
  Variable() { VariantInit(&value); }
  explicit Variable(const wchar_t* text) : Variable() {
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(text);
  }
  explicit Variable(short number) : Variable() {
    V_VT(&value) = VT_I2;
    V_I2(&value) = number;
  }
  ~Variable() { VariantClear(&value); }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

  VARIANT reference() {
    VARIANT r;
    V_VT(&r) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&r) = &value;
    return r;
  }
  VARIANT value;
};

// Late-bound calls on one object.
class LateBound {
 public:
  explicit LateBound(IDispatch* object) : object_(object) {}

  // Calls `name` with `arguments` (in the order written) and returns the result.
  HRESULT call(const wchar_t* name, WORD kind, std::vector<VARIANT> arguments, Variable& result) {
    VariantClear(&result.value);
    return invoke(object_, name, kind, std::move(arguments), &result.value);
  }

  // A call whose result is a 16-bit integer; 0 when it failed.
  short number(const wchar_t* name, std::vector<VARIANT> arguments = {}) {
    Variable result;
    if (FAILED(call(name, DISPATCH_METHOD, std::move(arguments), result)) || V_VT(&result.value) != VT_I2) return 0;
    return V_I2(&result.value);
  }

 private:
  IDispatch* object_;
};

// (a) The CPU a wait of 5 s costs.
void idleRead(LateBound& control, short port) {
  Variable timeout(short{5}), host(L"localhost"), portNumber(port), text;
  control.call(L"Timeout", DISPATCH_PROPERTYPUT, {timeout.value}, text);
  if (control.number(L"SocketOpen", {host.reference(), portNumber.reference()}) != -1) {
    check("(a) SocketOpen to the silent peer", false);
    return;
  }
  const double cpu = cpuSeconds(), started = now();
  const HRESULT hr = control.call(L"SocketRead", DISPATCH_METHOD, {}, text);
  const double waited = now() - started, used = cpuSeconds() - cpu;
  const double step = cpuClockStep();
  std::printf("  (a) idle SocketRead, Timeout 5: waited %.3f s, CPU (user+kernel) %.4f s, %.3f%% of the wait"
              " (the CPU clock counts in steps of %.4f s)\n",
              waited, used, 100 * used / waited, step);
  check("(a) the CPU clock moves while the process works", step > 0 && step < 0.1, std::to_string(step) + " s");
  check("(a) SocketRead waits out its Timeout and returns nothing",
        SUCCEEDED(hr) && V_VT(&text.value) == VT_BSTR && SysStringLen(V_BSTR(&text.value)) == 0 && waited > 4 &&
            waited < 7,
        std::to_string(waited) + " s");
  check("(a) the idle wait costs less than 0.5 s of CPU", used < 0.5, std::to_string(used) + " s");
  control.number(L"SocketClose");
}

// (b) Lines per second.
void sendLines(LateBound& control, short port) {
  constexpr int kLines = 100000;
  Variable timeout(short{10}), host(L"localhost"), portNumber(port), ignored;
  control.call(L"Timeout", DISPATCH_PROPERTYPUT, {timeout.value}, ignored);
  if (control.number(L"SocketOpen", {host.reference(), portNumber.reference()}) != -1) {
    check("(b) SocketOpen to the discarding peer", false);
    return;
  }
  std::wstring text;
  for (int i = 0; i < 76; ++i) text += static_cast<wchar_t>(L'!' + i % 90);
  text += L"\r\n";
  Variable line(text.c_str());
  int sent = 0;
  const double cpu = cpuSeconds(), started = now();
  while (sent < kLines && control.number(L"SocketSend", {line.reference()}) == -1) ++sent;
  const double elapsed = now() - started, used = cpuSeconds() - cpu;
  std::printf("  (b) SocketSend of %d lines of 78 bytes: %.3f s, %.0f lines per second (%.2f MB/s), CPU %.3f s\n",
              sent, elapsed, sent / elapsed, sent * 78.0 / elapsed / 1e6, used);
  check("(b) every SocketSend returns -1", sent == kLines, std::to_string(sent) + " of " + std::to_string(kLines));
  check("(b) SocketClose after the lines", control.number(L"SocketClose") == -1);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvane_socket_measure <port of a silent, discarding peer>\n");
    return 2;
  }
  const short port = static_cast<short>(std::atoi(argv[1]));  // above 32767: negative
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("RESULT FAIL CoInitialize\n");
    return 1;
  }
  CLSID clsid;
  IDispatch* object = nullptr;
  HRESULT hr = CLSIDFromProgID(L"prjCorvane.Corvane", &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
  check("prjCorvane.Corvane is created", SUCCEEDED(hr));
  if (object) {
    LateBound control(object);
    idleRead(control, port);
    sendLines(control, port);
    object->Release();
  }
  CoUninitialize();
  return finish();
}
