// What a shipped corvane.ocx promises outside its members; "ok - ..." lines, then "RESULT ...".
//   release_check version FILE X.Y.Z.W   the version block as Windows reads it back
//   release_check create                 the control found by CLSID and by ProgID, then one call
#include <windows.h>
#include <ole2.h>
#include <initguid.h>

#include <string>

#include "checks.h"
#include "corvane_idl.h"

using namespace corvane::checks;

namespace {

std::wstring versionValue(const wchar_t* file, const wchar_t* name) {
  const DWORD size = GetFileVersionInfoSizeW(file, nullptr);
  std::string block(size, '\0');
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!size || !GetFileVersionInfoW(file, 0, size, block.data()) ||
      !VerQueryValueW(block.data(), path.c_str(), &value, &length))
    return L"(none)";
  return static_cast<const wchar_t*>(value);
}

void checkCreated(const char* how, HRESULT created, IDispatch* control) {
  VARIANT timeout;
  VariantInit(&timeout);
  const HRESULT called = created == S_OK ? invoke(control, L"Timeout", DISPATCH_PROPERTYGET, {}, &timeout) : E_FAIL;
  check(std::string("the control is created ") + how + " and answers Timeout", called == S_OK && timeout.vt == VT_I2,
        hex(created) + " " + hex(called));
  if (control) control->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"version") {
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"})
      check(narrow(name) + " is " + narrow(argv[3]), versionValue(argv[2], name) == argv[3],
            narrow(versionValue(argv[2], name)));
    check("ProductName is Corvane", versionValue(argv[2], L"ProductName") == L"Corvane");
    return finish();
  }
  CoInitialize(nullptr);
  IDispatch* control = nullptr;
  HRESULT created =
      CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control));
  checkCreated("by CLSID", created, control);
  CLSID found{};
  control = nullptr;
  created = CLSIDFromProgID(L"prjCorvane.Corvane", &found);
  if (created == S_OK)
    created = CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control));
  checkCreated("by ProgID", created, control);
  CoUninitialize();
  return finish();
}
