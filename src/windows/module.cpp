#include "module.h"

#include <oleauto.h>

namespace corvane::win {

namespace {
HMODULE thisModule = nullptr;
LONG liveObjects = 0;
LONG serverLocks = 0;
}  // namespace

void setModuleHandle(HMODULE module) { thisModule = module; }
HMODULE moduleHandle() { return thisModule; }

std::wstring modulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(thisModule, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

HRESULT loadModuleTypeLib(ITypeLib** lib) {
  const std::wstring path = modulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib);
}

ModuleReference::ModuleReference() { InterlockedIncrement(&liveObjects); }
ModuleReference::~ModuleReference() { InterlockedDecrement(&liveObjects); }

void lockModule(bool lock) {
  if (lock) {
    InterlockedIncrement(&serverLocks);
  } else {
    InterlockedDecrement(&serverLocks);
  }
}

bool moduleInUse() { return liveObjects > 0 || serverLocks > 0; }

}  // namespace corvane::win
