// Checks of the control prjCorvane.Corvane that a script cannot make: the event
// arguments exactly as a C++ sink receives them, what the control takes back from
// its sinks (and so the message box it shows), several sinks and a sink that
// leaves during an event, property-change notices, the class information, and
// that the control lets go of its sinks. Runs where the OCX is registered, on an
// X display (Xvfb): message boxes are real windows here, read and closed by a
// watcher thread.
// Arguments: the plain echo port, a port where nothing listens.
// Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
// "RESULT FAIL".
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <initguid.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "checks.h"
#include "com_checks.h"
#include "corvane_idl.h"

using namespace corvane::checks;

namespace {

short port16(const char* text) { return static_cast<short>(std::atoi(text)); }  // above 32767: negative

// One event as a sink received it.
struct Received {
  DISPID event = 0;
  WORD flags = 0;
  UINT arguments = 0, named = 0;
  std::vector<VARTYPE> types;  // as passed: the last parameter first
  short code = 0;
  std::string text;
  VARIANT_BOOL cancel = 0;
};

// A sink of __Corvane that records what it gets and, for Error, may leave other
// values in the arguments or disconnect itself.
class EventSink final : public Unknown<IDispatch> {
 public:
  void* more(REFIID riid) override { return riid == DIID___Corvane ? static_cast<IDispatch*>(this) : nullptr; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID event, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    Received r;
    r.event = event;
    r.flags = flags;
    r.arguments = params->cArgs;
    r.named = params->cNamedArgs;
    for (UINT i = 0; i < params->cArgs; ++i) r.types.push_back(V_VT(&params->rgvarg[i]));
    const bool typedError = event == 1 && r.types == std::vector<VARTYPE>{VT_BYREF | VT_BOOL, VT_BYREF | VT_BSTR,
                                                                            VT_BYREF | VT_I2};
    if (typedError) {
      r.cancel = *V_BOOLREF(&params->rgvarg[0]);
      r.text = bstrText(*V_BSTRREF(&params->rgvarg[1]));
      r.code = *V_I2REF(&params->rgvarg[2]);
      if (setCode) *V_I2REF(&params->rgvarg[2]) = *setCode;
      if (setText) {
        SysFreeString(*V_BSTRREF(&params->rgvarg[1]));
        *V_BSTRREF(&params->rgvarg[1]) = SysAllocString(setText);
      }
      if (setCancel) *V_BOOLREF(&params->rgvarg[0]) = *setCancel;
    } else if (event == 2 && r.types == std::vector<VARTYPE>{VT_BYREF | VT_BSTR}) {
      r.text = bstrText(*V_BSTRREF(&params->rgvarg[0]));
      SysFreeString(*V_BSTRREF(&params->rgvarg[0]));  // what a handler leaves here is not used
      *V_BSTRREF(&params->rgvarg[0]) = SysAllocString(L"left by the handler");
    }
    received.push_back(r);
    if (onEvent) onEvent();
    return S_OK;
  }

  std::vector<Received> received;
  const short* setCode = nullptr;
  const wchar_t* setText = nullptr;
  const VARIANT_BOOL* setCancel = nullptr;
  std::function<void()> onEvent;
};

// An object that implements no outgoing interface.
class NotASink final : public Unknown<IUnknown> {};

std::string describe(const std::vector<Received>& events) {
  std::string text = std::to_string(events.size()) + " event(s)";
  for (const Received& r : events) {
    text.append(" [").append(std::to_string(r.event)).append(" flags ").append(std::to_string(r.flags));
    text.append(" args ").append(std::to_string(r.arguments)).append("/").append(std::to_string(r.named));
    text.append(" types");
    for (VARTYPE t : r.types) text.append(" ").append(hex(t));
    text.append(" ").append(std::to_string(r.code)).append(" ").append(r.text);
    text.append(" ").append(std::to_string(r.cancel)).append("]");
  }
  return text;
}

// SocketOpen through the vtable.
short socketOpen(_Corvane* control, const wchar_t* host, short port) {
  Bstr name(host);
  short result = 0;
  control->SocketOpen(&name.value, &port, &result);
  return result;
}

short errCode(_Corvane* control) {
  short code = 0;
  control->get_ErrCode(&code);
  return code;
}

bool sameObject(IUnknown* a, IUnknown* b) {
  IUnknown* x = query<IUnknown>(a, IID_IUnknown);
  IUnknown* y = query<IUnknown>(b, IID_IUnknown);
  const bool same = x && x == y;
  if (x) x->Release();
  if (y) y->Release();
  return same;
}

void checkClassInformation(_Corvane* control) {
  IProvideClassInfo2* provider = query<IProvideClassInfo2>(control, IID_IProvideClassInfo2);
  check("the control answers IProvideClassInfo2", provider != nullptr);
  if (!provider) return;
  GUID source = GUID_NULL;
  HRESULT hr = provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
  check("GetGUID gives __Corvane as the default source", hr == S_OK && source == DIID___Corvane, hex(hr));
  check("GetGUID refuses other kinds", provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &source) == E_INVALIDARG);
  ITypeInfo* info = nullptr;
  hr = provider->GetClassInfo(&info);
  TYPEATTR* attributes = nullptr;
  if (info) info->GetTypeAttr(&attributes);
  check("GetClassInfo gives the coclass Corvane",
        attributes && attributes->typekind == TKIND_COCLASS && attributes->guid == CLSID_Corvane, hex(hr));
  if (attributes) info->ReleaseTypeAttr(attributes);
  if (info) info->Release();
  provider->Release();

  ISupportErrorInfo* errors = query<ISupportErrorInfo>(control, IID_ISupportErrorInfo);
  check("_Corvane supports error information",
        errors && errors->InterfaceSupportsErrorInfo(IID__Corvane) == S_OK &&
            errors->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE);
  if (errors) errors->Release();

  VARIANT variant;
  Bstr text(L"x");
  hr = control->MimeContentAdd(-1, text.value, &variant);
  IErrorInfo* error = nullptr;
  Bstr description;
  if (GetErrorInfo(0, &error) == S_OK) {
    error->GetDescription(&description.value);
    error->Release();
  }
  check("a core error reaches the caller as its automation error with its text",
        hr == static_cast<HRESULT>(0x800A0009) && description.text() == "Subscript out of range",
        hex(hr) + " " + description.text());
  short count = -1;
  LONG size = -1;
  check("a new control's mailbox counters read 0",
        control->get_MailBoxCount(&count) == S_OK && count == 0 && control->get_MailBoxSize(&size) == S_OK && size == 0);
}

// Advise and Unadvise on the point of `iid`; returns the point (or null).
IConnectionPoint* connectionPoint(_Corvane* control, REFIID iid) {
  IConnectionPointContainer* container = query<IConnectionPointContainer>(control, IID_IConnectionPointContainer);
  IConnectionPoint* point = nullptr;
  if (container) {
    container->FindConnectionPoint(iid, &point);
    container->Release();
  }
  return point;
}

void checkConnectionPoints(_Corvane* control) {
  IConnectionPointContainer* container = query<IConnectionPointContainer>(control, IID_IConnectionPointContainer);
  check("the control answers IConnectionPointContainer", container != nullptr);
  if (!container) return;
  IConnectionPoint* point = nullptr;
  check("no connection point for an interface it does not raise",
        container->FindConnectionPoint(IID_IDispatch, &point) == CONNECT_E_NOCONNECTION && point == nullptr);
  container->Release();

  point = connectionPoint(control, DIID___Corvane);
  check("a connection point for __Corvane", point != nullptr);
  if (!point) return;
  IID iid = GUID_NULL;
  point->GetConnectionInterface(&iid);
  IConnectionPointContainer* back = nullptr;
  point->GetConnectionPointContainer(&back);
  check("the point names its interface and leads back to the control",
        iid == DIID___Corvane && back && sameObject(back, control));
  if (back) back->Release();
  NotASink stranger;
  DWORD cookie = 99;
  check("Advise refuses an object that is no sink of __Corvane",
        point->Advise(&stranger, &cookie) == CONNECT_E_CANNOTCONNECT && cookie == 0 && stranger.references == 1);
  check("Unadvise of an unknown cookie fails", point->Unadvise(12345) == CONNECT_E_NOCONNECTION);
  point->Release();
}

void checkEvents(_Corvane* control, short plain, short refused, BoxWatcher& boxes) {
  IConnectionPoint* point = connectionPoint(control, DIID___Corvane);
  if (!point) return;
  EventSink first, second;
  DWORD firstCookie = 0, secondCookie = 0;
  point->Advise(&first, &firstCookie);
  point->Advise(&second, &secondCookie);
  check("two sinks are advised with different cookies", firstCookie && secondCookie && firstCookie != secondCookie);
  const short changedCode = 77;
  const VARIANT_BOOL yes = VARIANT_TRUE;
  first.setCode = &changedCode;
  first.setText = L"changed by the first sink";
  first.setCancel = &yes;

  // A refused connection, cancelled by the first sink.
  boxes.take();
  check("SocketOpen to a refused port returns 0", socketOpen(control, L"localhost", refused) == 0);
  const std::vector<VARTYPE> errorTypes{VT_BYREF | VT_BOOL, VT_BYREF | VT_BSTR, VT_BYREF | VT_I2};
  const bool oneError = first.received.size() == 1;
  const Received got = oneError ? first.received[0] : Received{};
  check("Error comes as dispatch identifier 1, a method call with three typed references, last parameter first",
        oneError && got.event == 1 && got.flags == DISPATCH_METHOD && got.arguments == 3 && got.named == 0 &&
            got.types == errorTypes,
        describe(first.received));
  check("Error carries the socket's number and text, and Cancel false",
        oneError && got.code == 10061 && got.text.find("refused") != std::string::npos && got.cancel == VARIANT_FALSE,
        describe(first.received));
  check("the second sink gets what the first left",
        second.received.size() == 1 && second.received[0].code == 77 &&
            second.received[0].text == "changed by the first sink" && second.received[0].cancel == VARIANT_TRUE,
        describe(second.received));
  std::vector<BoxWatcher::Box> shown = boxes.take();
  check("a cancelled error shows no message box", shown.empty(), describe(shown));
  check("ErrCode holds the socket's number", errCode(control) == 10061, std::to_string(errCode(control)));
  const std::string socketText = got.text;

  // Not cancelled: the box shows the values the sinks left.
  first.setCancel = nullptr;
  socketOpen(control, L"localhost", refused);
  shown = boxes.take();
  check("without Cancel a message box shows the number and text the sinks left, captioned with the instance name",
        shown.size() == 1 && shown[0].caption == "Corvane" && shown[0].text == "77 - changed by the first sink",
        describe(shown));
  check("ErrCode keeps the socket's number, not the one a sink left", errCode(control) == 10061,
        std::to_string(errCode(control)));

  first.setCode = nullptr;
  first.setText = nullptr;
  socketOpen(control, L"localhost", refused);
  shown = boxes.take();
  check("the message box of an unchanged error: the number, \" - \" and the socket's text",
        shown.size() == 1 && shown[0].text == "10061 - " + socketText, describe(shown));

  // One sink goes; a sink may leave in the middle of an event.
  check("Unadvise of the second sink", point->Unadvise(secondCookie) == S_OK);
  EventSink leaving, after;
  DWORD leavingCookie = 0, afterCookie = 0;
  point->Advise(&leaving, &leavingCookie);
  point->Advise(&after, &afterCookie);
  leaving.onEvent = [&] { point->Unadvise(leavingCookie); };
  leaving.setCancel = &yes;
  first.received.clear();
  second.received.clear();
  socketOpen(control, L"localhost", refused);
  socketOpen(control, L"localhost", refused);
  check("an unadvised sink gets nothing more", second.received.empty(), describe(second.received));
  check("a sink that leaves during an event: the others still get it, it gets no more",
        first.received.size() == 2 && leaving.received.size() == 1 && after.received.size() == 2,
        describe(leaving.received) + " / " + describe(after.received));
  boxes.take();

  // The Debugger event, while tracing.
  first.received.clear();
  control->put_Debug_(VARIANT_TRUE);
  socketOpen(control, L"localhost", plain);
  Bstr hello(L"hello\r\n"), echo;
  short sent = 0;
  control->SocketSend(&hello.value, &sent);
  control->SocketRead(&echo.value);
  control->SocketClose(&sent);
  const std::vector<VARTYPE> debuggerTypes{VT_BYREF | VT_BSTR};
  check("Debugger comes as dispatch identifier 2 with one string reference: \"Got \" and the text received",
        first.received.size() == 1 && first.received[0].event == 2 && first.received[0].types == debuggerTypes &&
            first.received[0].arguments == 1 && first.received[0].text == "Got hello\\r\\n",
        describe(first.received));
  check("what a Debugger handler leaves in its argument is not used", echo.text() == "hello\\r\\n", echo.text());
  control->put_Debug_(VARIANT_FALSE);

  point->Unadvise(firstCookie);
  point->Unadvise(afterCookie);
  point->Release();
  check("the control holds no reference to sinks it let go",
        first.references == 1 && second.references == 1 && leaving.references == 1 && after.references == 1);
}

void checkPropertyNotices(_Corvane* control) {
  IConnectionPoint* point = connectionPoint(control, IID_IPropertyNotifySink);
  check("a connection point for IPropertyNotifySink", point != nullptr);
  if (!point) return;
  PropertySink sink;
  DWORD cookie = 0;
  point->Advise(&sink, &cookie);
  const DISPID timeoutId = 0x68030008, debugId = 0x6803000c;
  control->put_Timeout(20);
  control->put_Timeout(20);
  check("Timeout put notifies a change, and only when the value changes",
        sink.changed == std::vector<DISPID>{timeoutId}, std::to_string(sink.changed.size()));
  sink.changed.clear();
  control->put_Timeout(100);
  short timeout = 0;
  control->get_Timeout(&timeout);
  check("Timeout 100 is stored as 60 and notified", timeout == 60 && sink.changed == std::vector<DISPID>{timeoutId},
        std::to_string(timeout));
  sink.changed.clear();
  control->put_Debug_(VARIANT_FALSE);
  control->put_Debug_(VARIANT_FALSE);
  check("Debug_ put notifies a change every time", sink.changed == std::vector<DISPID>{debugId, debugId},
        std::to_string(sink.changed.size()));
  point->Unadvise(cookie);
  point->Release();
}

// The control lets go of its sinks when it goes away, even if nobody unadvised.
void checkRelease(short refused) {
  _Corvane* control = nullptr;
  CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID__Corvane, reinterpret_cast<void**>(&control));
  if (!control) return;
  IConnectionPoint* point = connectionPoint(control, DIID___Corvane);
  EventSink sink;
  const VARIANT_BOOL yes = VARIANT_TRUE;
  sink.setCancel = &yes;
  DWORD cookie = 0;
  if (point) {
    point->Advise(&sink, &cookie);
    point->Release();
  }
  socketOpen(control, L"localhost", refused);
  const bool heard = sink.received.size() == 1;
  const ULONG left = control->Release();
  check("the last Release destroys the control and releases its sinks", heard && left == 0 && sink.references == 1,
        std::to_string(left) + " " + std::to_string(sink.references));

  // A host that lets go of its last reference inside an event, while the call
  // that raised it still waits: the call ends first, then the control goes.
  CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID__Corvane, reinterpret_cast<void**>(&control));
  if (!control) return;
  point = connectionPoint(control, DIID___Corvane);
  EventSink dropping;
  dropping.setCancel = &yes;
  dropping.onEvent = [&] {
    if (control) std::exchange(control, nullptr)->Release();
  };
  if (point) {
    point->Advise(&dropping, &cookie);
    point->Release();
  }
  _Corvane* running = control;
  const short result = socketOpen(running, L"localhost", refused);
  check("a control released inside its own event ends the call, then goes",
        control == nullptr && result == 0 && dropping.references == 1,
        std::to_string(result) + " " + std::to_string(dropping.references));
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line reaches the log, even if a check crashes
  if (argc != 3) {
    std::fprintf(stderr, "usage: corvane_control_check <plain port> <refused port>\n");
    return 2;
  }
  const short plain = port16(argv[1]), refused = port16(argv[2]);
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("RESULT FAIL CoInitialize\n");
    return 1;
  }
  {
    CLSID clsid = GUID_NULL;
    check("the ProgID prjCorvane.Corvane names the control's class",
          SUCCEEDED(CLSIDFromProgID(L"prjCorvane.Corvane", &clsid)) && clsid == CLSID_Corvane);
    _Corvane* control = nullptr;
    const HRESULT hr =
        CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID__Corvane, reinterpret_cast<void**>(&control));
    check("CoCreateInstance of the control", SUCCEEDED(hr) && control, hex(hr));
    if (control) {
      BoxWatcher boxes;
      checkClassInformation(control);
      checkConnectionPoints(control);
      checkEvents(control, plain, refused, boxes);
      checkPropertyNotices(control);
      checkRelease(refused);
      control->Release();
      const std::vector<BoxWatcher::Box> left = boxes.take();
      check("no message box left over", left.empty(), describe(left));
    }
  }
  CoUninitialize();
  return finish();
}
