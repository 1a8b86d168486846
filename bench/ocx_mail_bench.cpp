// The control prjCorvane.Corvane, registered under Wine, against the real mail
// servers, called the way a script calls it: by name through IDispatch, variables
// by reference. One measurement per process, the same as bench/mail_bench.cpp:
//
//   ocx_mail_bench send SERVERS                      SMTPLogin, Send of the 10 MiB body, SMTPLogout
//   ocx_mail_bench retrieve SERVERS USER PASS BYTES  POP3Login, Retrieve 1, POP3Logout, checked
//   ocx_mail_bench many SERVERS retrieve USER PASS   POP3Login, Retrieve 1 to 2,000, checked, POP3Logout
//   ocx_mail_bench many SERVERS send                 SMTPLogin, 2,000 Sends of a 2 KiB body, SMTPLogout
//   ocx_mail_bench sendmime SERVERS FILE             compose with FILE attached, then SMTPLogin,
//                                                    SendMime, SMTPLogout
//
// SERVERS is the servers.env of scripts/mail-servers.sh; Send and SendMime go to
// its SINK_PORT. Prints "wall=S cpu=S peak=BYTES compose=S": the session's wall and
// CPU time, the peak working set's growth over it (and over composing, which
// `compose` times for sendmime; `many` adds "first=S last=S", the mean time per
// message over the first and the last quarter) and exits 1 when the control failed.
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "mail_messages.h"

namespace {

using namespace corvane::bench;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

size_t PeakBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
}

std::wstring Wide(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

std::map<std::string, std::string> Servers(const char* path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// A script's variable.
struct Variable {
  Variable() { VariantInit(&value); }
  explicit Variable(const std::wstring& text) : Variable() {
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  explicit Variable(long number) : Variable() {
    V_VT(&value) = VT_I4;
    V_I4(&value) = number;
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

// Late-bound calls on the control; a failed call throws.
class Control {
 public:
  Control() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"prjCorvane.Corvane", &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object_));
    if (FAILED(hr)) throw std::runtime_error("prjCorvane.Corvane cannot be created");
  }
  ~Control() { object_->Release(); }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Calls `name` with `arguments` in the order written; the result goes to `result`.
  void call(const wchar_t* name, std::vector<VARIANT> arguments, Variable& result, WORD kind = DISPATCH_METHOD) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
    VariantClear(&result.value);
    if (SUCCEEDED(hr))
      hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, isPut ? nullptr : &result.value, nullptr,
                           nullptr);
    if (FAILED(hr)) throw std::runtime_error("calling " + std::string(name, name + wcslen(name)) + " failed");
  }
  // A method whose result is a boolean or a 16-bit success flag: true for -1.
  bool succeeds(const wchar_t* name, std::vector<VARIANT> arguments = {}) {
    Variable result;
    call(name, std::move(arguments), result);
    return (V_VT(&result.value) == VT_BOOL && V_BOOL(&result.value) == VARIANT_TRUE) ||
           (V_VT(&result.value) == VT_I2 && V_I2(&result.value) == -1);
  }
  void put(const wchar_t* name, const std::wstring& text) {
    Variable value(text), ignored;
    call(name, {value.value}, ignored, DISPATCH_PROPERTYPUT);
  }

 private:
  IDispatch* object_ = nullptr;
};

struct Figures {
  double wall, cpu;
  size_t peak;
};

template <class Work>
Figures Measure(Work work) {
  const size_t peak = PeakBytes();
  const double cpu = CpuSeconds(), start = Now();
  work();
  return {Now() - start, CpuSeconds() - cpu, PeakBytes() - peak};
}

void Print(const Figures& figures, double compose = 0, const Quarters* quarters = nullptr) {
  std::printf("wall=%.4f cpu=%.4f peak=%zu compose=%.4f", figures.wall, figures.cpu, figures.peak, compose);
  if (quarters) std::printf(" first=%.6f last=%.6f", quarters->first, quarters->last);
  std::printf("\n");
}

int Send(const std::map<std::string, std::string>& servers) {
  Control control;
  control.put(L"SMTPhost", Wide("127.0.0.1:" + servers.at("SINK_PORT")));
  control.put(L"SMTPsender", L"<u1@corvane.test>");
  Variable recipient(L"<u2@corvane.test>"), subject(Wide(kSubject)), cc(L""), mail(Wide(SendBody()));
  bool sent = false;
  Print(Measure([&] {
    sent = control.succeeds(L"SMTPLogin") &&
           control.succeeds(L"Send", {recipient.reference(), subject.reference(), cc.reference(), mail.reference()});
    sent = control.succeeds(L"SMTPLogout") && sent;
  }));
  return sent ? 0 : 1;
}

int Retrieve(const std::map<std::string, std::string>& servers, const char* user, const char* password, size_t bytes) {
  Control control;
  control.put(L"POP3host", Wide("127.0.0.1:" + servers.at("POP3_PORT")));
  control.put(L"POP3user", Wide(user));
  control.put(L"POP3password", Wide(password));
  Variable index(1L), text;
  Print(Measure([&] {
    if (control.succeeds(L"POP3Login")) control.call(L"Retrieve", {index.reference()}, text);
    control.succeeds(L"POP3Logout");
  }));
  const bool whole = V_VT(&text.value) == VT_BSTR &&
                     IsRetrieved(std::wstring_view(V_BSTR(&text.value), SysStringLen(V_BSTR(&text.value))),
                                 MaildirMessage(bytes));
  if (!whole) std::fprintf(stderr, "Retrieve did not bring the message made for %zu bytes\n", bytes);
  return whole ? 0 : 1;
}

// One session of many small messages: Retrieve (the mailbox holds them) or Send.
int Many(const std::map<std::string, std::string>& servers, bool retrieve, const char* user = "",
         const char* password = "") {
  Control control;
  if (retrieve) {
    control.put(L"POP3host", Wide("127.0.0.1:" + servers.at("POP3_PORT")));
    control.put(L"POP3user", Wide(user));
    control.put(L"POP3password", Wide(password));
  } else {
    control.put(L"SMTPhost", Wide("127.0.0.1:" + servers.at("SINK_PORT")));
    control.put(L"SMTPsender", L"<u1@corvane.test>");
  }
  const std::string message = MaildirMessage(kSmallBytes);
  Variable recipient(L"<u2@corvane.test>"), subject(Wide(kSubject)), cc(L""), mail(Wide(SendBody(kSmallLines))), text;
  Quarters quarters;
  bool done = false;
  const Figures figures = Measure([&] {
    if (control.succeeds(retrieve ? L"POP3Login" : L"SMTPLogin"))
      quarters = TimeEach(kManyMessages, Now, [&](size_t i) {
        if (!retrieve)
          return control.succeeds(L"Send", {recipient.reference(), subject.reference(), cc.reference(), mail.reference()});
        Variable index(static_cast<long>(i + 1));
        control.call(L"Retrieve", {index.reference()}, text);
        return V_VT(&text.value) == VT_BSTR &&
               IsRetrieved(std::wstring_view(V_BSTR(&text.value), SysStringLen(V_BSTR(&text.value))), message);
      });
    done = control.succeeds(retrieve ? L"POP3Logout" : L"SMTPLogout") && quarters.first > 0;
  });
  Print(figures, 0, &quarters);
  if (!done) std::fprintf(stderr, "the session of %zu messages did not complete\n", kManyMessages);
  return done ? 0 : 1;
}

int SendMime(const std::map<std::string, std::string>& servers, const char* file) {
  Control control;
  control.put(L"SMTPhost", Wide("127.0.0.1:" + servers.at("SINK_PORT")));
  const size_t peak = PeakBytes();
  const double start = Now();
  Variable ignored, one(1L), two(2L), text(L"The attachment follows."), path(Wide(file));
  control.put(L"MimeFrom", L"Corvane Bench <u1@corvane.test>");
  control.put(L"MimeTo", L"u2@corvane.test");
  control.put(L"MimeSubject", Wide(kSubject));
  control.call(L"MimeContentAdd", {one.value, text.value}, ignored);
  control.call(L"MimeContentAddFromFile", {two.value, path.value}, ignored);
  const double composed = Now() - start;
  bool sent = false;
  Figures figures = Measure([&] {
    sent = control.succeeds(L"SMTPLogin") && control.succeeds(L"SendMime");
    sent = control.succeeds(L"SMTPLogout") && sent;
  });
  figures.peak = PeakBytes() - peak;  // composing included
  Print(figures, composed);
  return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string command = argc > 1 ? argv[1] : "";
  if (FAILED(CoInitialize(nullptr))) return 1;
  int status = 2;
  try {
    if (command == "send" && argc == 3) status = Send(Servers(argv[2]));
    else if (command == "retrieve" && argc == 6) status = Retrieve(Servers(argv[2]), argv[3], argv[4], std::stoul(argv[5]));
    else if (command == "many" && argc == 6 && argv[3] == std::string("retrieve"))
      status = Many(Servers(argv[2]), true, argv[4], argv[5]);
    else if (command == "many" && argc == 4 && argv[3] == std::string("send")) status = Many(Servers(argv[2]), false);
    else if (command == "sendmime" && argc == 4) status = SendMime(Servers(argv[2]), argv[3]);
    else std::fprintf(stderr, "usage: see the head of bench/ocx_mail_bench.cpp\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ocx_mail_bench %s: %s\n", command.c_str(), e.what());
    status = 1;
  }
  CoUninitialize();
  return status;
}
