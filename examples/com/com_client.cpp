// The control from C++ through COM: creates prjCorvane.Corvane with
// CoCreateInstance, connects an event sink through IConnectionPoint, reads a POP3
// mailbox through the control's dual interface, and shows how an automation error
// arrives (a file that cannot be attached).
//
//   com_client.exe HOST[:PORT] USER PASSWORD [tls]
//
// Builds with the header the IDL gives (midl or widl corvane.idl -h); with Visual
// C++, #import "corvane.ocx" gives the same declarations. The last line says how it
// went: "PASS: ..." or "FAIL: ...".
#include <windows.h>
#include <ocidl.h>
#include <initguid.h>

#include <cstdio>
#include <string>

#include "corvane_idl.h"

namespace {

std::wstring Wide(const char* text) {
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  wide.pop_back();  // the terminating zero
  return wide;
}

// The control's events, __Corvane: a dispinterface, so the sink is an IDispatch
// that answers to DIID___Corvane. Arguments come last first, each by reference.
class Events final : public IDispatch {
 public:
  int errors = 0, traceLines = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID___Corvane) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (event == 1 && params->cArgs == 3) {  // Error(ErrCode, ErrText, Cancel)
      ++errors;
      std::wprintf(L"  error %d: %ls\n", *V_I2REF(&params->rgvarg[2]), *V_BSTRREF(&params->rgvarg[1]));
      *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE;  // no message box
    } else if (event == 2 && params->cArgs == 1) {   // Debugger(info)
      ++traceLines;
    }
    return S_OK;
  }

 private:
  ULONG references_ = 1;
};

int Finish(bool passed, const std::wstring& what) {
  std::wprintf(L"%ls: %ls\n", passed ? L"PASS" : L"FAIL", what.c_str());
  return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Finish(false, L"usage: com_client.exe HOST[:PORT] USER PASSWORD [tls]");
  // The control is apartment threaded: call it from a single-threaded apartment.
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Finish(false, L"CoInitializeEx");
  int status;
  {
    _Corvane* control = nullptr;
    if (FAILED(CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID__Corvane,
                                reinterpret_cast<void**>(&control)))) {
      CoUninitialize();
      return Finish(false, L"prjCorvane.Corvane is not registered for this program's bitness");
    }

    // Connect the events.
    Events events;
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    container->FindConnectionPoint(DIID___Corvane, &point);
    point->Advise(&events, &cookie);

    // Settings: strings are BSTRs; IsSecured's put takes its value by reference.
    BSTR text = SysAllocString(Wide(argv[1]).c_str());
    control->put_POP3host(text);
    SysFreeString(text);
    text = SysAllocString(Wide(argv[2]).c_str());
    control->put_POP3user(text);
    SysFreeString(text);
    text = SysAllocString(Wide(argv[3]).c_str());
    control->put_POP3password(text);
    SysFreeString(text);
    VARIANT_BOOL secured = argc > 4 && std::string(argv[4]) == "tls" ? VARIANT_TRUE : VARIANT_FALSE;
    control->put_IsSecured(&secured);
    control->put_Debug_(VARIANT_TRUE);

    // A POP3 session. Results are [out, retval] parameters; Index is by reference.
    VARIANT_BOOL ok = VARIANT_FALSE;
    short count = 0;
    control->POP3Login(&ok);
    if (ok) {
      control->get_MailBoxCount(&count);
      for (short n = 1; n <= count; ++n) {
        short index = n;
        BSTR message = nullptr;
        control->Retrieve(&index, &message);
        std::wprintf(L"message %d: %u characters\n", n, SysStringLen(message));
        SysFreeString(message);
      }
      control->POP3Logout(&ok);
    }
    short code = 0;
    control->get_ErrCode(&code);

    // An automation error: the HRESULT is 0x800A0000 + 53, the text comes as IErrorInfo.
    BSTR file = SysAllocString(L"C:\\no such folder\\none.txt");
    VARIANT result;
    VariantInit(&result);
    const HRESULT attached = control->MimeContentAddFromFile(1, file, nullptr, &result);
    SysFreeString(file);
    IErrorInfo* info = nullptr;
    BSTR description = nullptr;
    if (GetErrorInfo(0, &info) == S_OK) {
      info->GetDescription(&description);
      info->Release();
    }
    std::wprintf(L"MimeContentAddFromFile: 0x%08lX %ls\n", static_cast<unsigned long>(attached),
                 description ? description : L"");
    SysFreeString(description);

    point->Unadvise(cookie);
    point->Release();
    container->Release();
    control->Release();

    if (!ok) {
      status = Finish(false, L"the session failed with error " + std::to_wstring(code));
    } else if (attached != MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 76)) {
      status = Finish(false, L"a missing folder did not give error 76");
    } else {
      status = Finish(events.traceLines > 0 && events.errors == 0,
                      L"read " + std::to_wstring(count) + L" messages; " + std::to_wstring(events.traceLines) +
                          L" trace lines, " + std::to_wstring(events.errors) + L" errors");
    }
  }
  CoUninitialize();
  return status;
}
