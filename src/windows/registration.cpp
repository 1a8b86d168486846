#include "registration.h"

#include <oleauto.h>
#include <olectl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "com_error.h"
#include "module.h"
#include "resources.h"
#include "server_classes.h"

namespace corvane::win {

namespace {

std::wstring guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Sets value `name` (nullptr: the default value) of HKEY_CLASSES_ROOT\key.
void writeString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(handle);
  }
  if (status != ERROR_SUCCESS) throw HresultError(HRESULT_FROM_WIN32(status));
}

// Deletes HKEY_CLASSES_ROOT\key with everything below it.
bool deleteTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The identity of the embedded type library.
TLIBATTR libraryAttributes(ITypeLib* library) {
  TLIBATTR* attributes = nullptr;
  check(library->GetLibAttr(&attributes));
  const TLIBATTR copy = *attributes;
  library->ReleaseTLibAttr(attributes);
  return copy;
}

// One registry value: HKEY_CLASSES_ROOT\key, value `name` (nullptr: the default).
struct Entry {
  std::wstring key;
  const wchar_t* name;
  std::wstring value;
};

// Not registered as safe for scripting or for initialising: the control connects
// to whatever host a page names and attaches any local file a script asks for,
// so a browser must not let untrusted pages drive it.
constexpr wchar_t kControlsCategory[] = L"{40FC6ED4-2438-11CF-A3DB-080036F12502}";

std::vector<Entry> classEntries(const ServerClass& entry, const std::wstring& serverPath, const TLIBATTR& library) {
  const std::wstring clsid = guidText(*entry.clsid);
  const std::wstring key = L"CLSID\\" + clsid;
  std::vector<Entry> entries{
      {key, nullptr, entry.description},
      {key + L"\\InprocServer32", nullptr, serverPath},
      {key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {key + L"\\ProgID", nullptr, entry.progId},
      {key + L"\\TypeLib", nullptr, guidText(library.guid)},
      {key + L"\\Version", nullptr, std::to_wstring(library.wMajorVerNum) + L"." + std::to_wstring(library.wMinorVerNum)},
      {entry.progId, nullptr, entry.description},
      {std::wstring(entry.progId) + L"\\CLSID", nullptr, clsid},
  };
  if (entry.control) {
    entries.insert(entries.end(), {
        {key + L"\\Control", nullptr, L""},
        {key + L"\\Implemented Categories\\" + kControlsCategory, nullptr, L""},
        {key + L"\\MiscStatus", nullptr, L"0"},
        {key + L"\\MiscStatus\\1", nullptr, std::to_wstring(kControlMiscStatus)},
        {key + L"\\ToolboxBitmap32", nullptr, serverPath + L", " + std::to_wstring(CORVANE_TOOLBOX_BITMAP)},
    });
  }
  return entries;
}

}  // namespace

HRESULT registerServer() noexcept {
  HRESULT failure = SELFREG_E_TYPELIB;
  try {
    Microsoft::WRL::ComPtr<ITypeLib> library;
    check(loadModuleTypeLib(&library));
    std::wstring serverPath = modulePath();
    check(RegisterTypeLib(library.Get(), serverPath.data(), nullptr));
    failure = SELFREG_E_CLASS;
    const TLIBATTR attributes = libraryAttributes(library.Get());
    for (const ServerClass& entry : serverClasses()) {
      for (const Entry& value : classEntries(entry, serverPath, attributes))
        writeString(value.key, value.name, value.value);
    }
    return S_OK;
  } catch (...) {
    unregisterServer();  // leave nothing half written
    return failure;
  }
}

HRESULT unregisterServer() noexcept {
  try {
    bool removed = true;
    for (const ServerClass& entry : serverClasses()) {
      removed = deleteTree(L"CLSID\\" + guidText(*entry.clsid)) && removed;
      removed = deleteTree(entry.progId) && removed;
    }
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (FAILED(loadModuleTypeLib(&library))) return SELFREG_E_TYPELIB;
    const TLIBATTR attributes = libraryAttributes(library.Get());
    // Its failure when the library is not registered is no error: the keys are gone.
    UnRegisterTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum, attributes.lcid,
                      attributes.syskind);
    return removed ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace corvane::win
