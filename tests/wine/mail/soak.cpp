// The control's sessions in a row under Wine, against the real servers, and many
// controls at once: every operation must succeed, and the handles, USER and GDI
// objects at the end must be those after the first hundred sessions, memory
// within a small slack.
//   corvane_wine_soak POP3HOST:PORT SMTPHOST:PORT USER PASS TO [SESSIONS] [CONTROLS]
// Each session: POP3 login, counters, retrieve, logout; SMTP login, SendMime to
// TO, logout. The mailbox of USER must hold a message.
#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"

using namespace corvane::checks;

namespace {

struct Resources {
  SIZE_T privateBytes = 0, workingSet = 0;
  DWORD handles = 0, user = 0, gdi = 0, windows = 0;
  // Wine reports no private bytes and no handle or GUI object counts: there the
  // working set stands for memory, and the windows counted here for the objects.
  SIZE_T memory() const { return privateBytes ? privateBytes : workingSet; }
  bool sameObjects(const Resources& o) const {
    return handles == o.handles && user == o.user && gdi == o.gdi && windows == o.windows;
  }
};

BOOL CALLBACK countWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  return TRUE;
}

// The thread's windows, message-only ones (each control's socket window) included.
DWORD countWindows() {
  DWORD n = 0;
  for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;) ++n;
  EnumThreadWindows(GetCurrentThreadId(), countWindow, reinterpret_cast<LPARAM>(&n));
  return n;
}

Resources measure() {
  Resources r;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  r.privateBytes = memory.PrivateUsage;
  r.workingSet = memory.WorkingSetSize;
  GetProcessHandleCount(GetCurrentProcess(), &r.handles);
  r.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  r.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  r.windows = countWindows();
  return r;
}

std::string show(const Resources& r) {
  return std::to_string(r.privateBytes / 1024) + " KiB private, " + std::to_string(r.workingSet / 1024) +
         " KiB working set, " + std::to_string(r.handles) + " handles, " + std::to_string(r.user) + " USER, " +
         std::to_string(r.gdi) + " GDI objects, " + std::to_string(r.windows) + " windows";
}

std::wstring wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

VARIANT text(const std::wstring& value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(value.c_str());
  return v;
}

VARIANT number(long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

struct Control {
  IDispatch* object = nullptr;
  explicit Control(const CLSID& id) { CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                                       reinterpret_cast<void**>(&object)); }
  ~Control() {
    if (object) object->Release();
  }
  void put(const wchar_t* name, VARIANT value) {
    invoke(object, name, DISPATCH_PROPERTYPUT, {value}, nullptr);
    VariantClear(&value);
  }
  // The result as a number (booleans: -1 true), or as text's length for strings.
  long call(const wchar_t* name, std::vector<VARIANT> arguments = {}) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, &result);
    for (auto& each : arguments) VariantClear(&each);
    long value = 0;
    if (FAILED(hr)) value = -12345;
    else if (result.vt == VT_BSTR) value = static_cast<long>(SysStringLen(result.bstrVal));
    else if (SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4))) value = result.lVal;
    VariantClear(&result);
    return value;
  }
  long retrieveFirst() {
    short index = 1;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_I2;
    byRef.piVal = &index;
    return call(L"Retrieve", {byRef});
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::printf("usage: corvane_wine_soak POP3HOST:PORT SMTPHOST:PORT USER PASS TO [SESSIONS] [CONTROLS]\n");
    return 2;
  }
  const int sessions = argc > 6 ? std::atoi(argv[6]) : 200;
  const int controls = argc > 7 ? std::atoi(argv[7]) : 200;
  CoInitialize(nullptr);
  CLSID id;
  check("prjCorvane.Corvane is registered", SUCCEEDED(CLSIDFromProgID(L"prjCorvane.Corvane", &id)));
  const std::wstring to = wide(argv[5]);
  auto configure = [&](Control& c) {
    c.put(L"POP3host", text(wide(argv[1])));
    c.put(L"POP3user", text(wide(argv[3])));
    c.put(L"POP3password", text(wide(argv[4])));
    c.put(L"SMTPhost", text(wide(argv[2])));
  };
  {
    Control control(id);
    check("the control is created", control.object != nullptr);
    if (!control.object) return finish();
    configure(control);
    Resources early;
    int failed = 0;
    const double cpuStart = cpuSeconds();
    const DWORD start = GetTickCount();
    for (int n = 1; n <= sessions && failed < 3; ++n) {
      const bool pop3 = control.call(L"POP3Login") == -1 && control.call(L"MailBoxCount") > 0 &&
                        control.retrieveFirst() > 0 && control.call(L"POP3Logout") == -1;
      control.put(L"MimeFrom", text(to));
      control.put(L"MimeTo", text(to));
      control.put(L"MimeSubject", text(L"wine soak"));
      control.call(L"MimeContentAdd", {number(1), text(L"session " + std::to_wstring(n))});
      const bool smtp = control.call(L"SMTPLogin") == -1 && control.call(L"SendMime") == -1 &&
                        control.call(L"SMTPLogout") == -1;
      if (!pop3 || !smtp) {
        ++failed;
        check("session " + std::to_string(n), false, std::string(pop3 ? "" : "POP3 ") + (smtp ? "" : "SMTP") +
                                                         ", ErrCode " + std::to_string(control.call(L"ErrCode")));
      }
      if (n == 100) {
        early = measure();
        std::printf("  after 100: %s\n", show(early).c_str());
      }
    }
    const double seconds = (GetTickCount() - start) / 1000.0;
    const Resources late = measure();
    std::printf("  %d sessions in %.1f s (%.1f ms each, %.1f s CPU)\n  at the end: %s\n", sessions, seconds,
                1000 * seconds / sessions, cpuSeconds() - cpuStart, show(late).c_str());
    check("every session succeeded", failed == 0);
    if (sessions > 100) {
      check("handles, USER and GDI objects and windows after " + std::to_string(sessions) +
                " sessions are those after 100",
            late.sameObjects(early));
      check("memory after " + std::to_string(sessions) + " sessions within 2 MiB of that after 100",
            late.memory() <= early.memory() + 2 * 1024 * 1024);
    }
  }
  // Many controls at once, each with its own session.
  const Resources before = measure();
  {
    std::vector<Control*> many;
    int open = 0, retrieved = 0, closed = 0;
    for (int k = 0; k < controls; ++k) {
      many.push_back(new Control(id));
      configure(*many.back());
      open += many.back()->call(L"POP3Login") == -1;
    }
    for (auto* each : many) retrieved += each->retrieveFirst() > 0;
    for (auto* each : many) closed += each->call(L"POP3Logout") == -1;
    std::printf("  %d controls at once: %d logged in, %d retrieved, %d logged out; %s\n", controls, open, retrieved,
                closed, show(measure()).c_str());
    for (auto* each : many) delete each;
    check(std::to_string(controls) + " controls at once, each with its own session",
          open == controls && retrieved == controls && closed == controls);
  }
  const Resources after = measure();
  std::printf("  before them: %s\n  after them: %s\n", show(before).c_str(), show(after).c_str());
  check("their handles, USER and GDI objects and windows are gone afterwards", after.sameObjects(before),
        show(before) + " / " + show(after));
  CoUninitialize();
  return finish();
}
