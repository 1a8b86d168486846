#pragma once
// This DLL as a COM server: its handle and path, its type library, and the count
// of live objects and server locks that decides whether it may be unloaded.
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace corvane::win {

void setModuleHandle(HMODULE module);
HMODULE moduleHandle();
std::wstring modulePath();

// The type library embedded in this DLL (resource TYPELIB 1), loaded without
// touching the registry.
HRESULT loadModuleTypeLib(ITypeLib** lib);

// Held by every object the server hands out.
class ModuleReference {
 public:
  ModuleReference();
  ~ModuleReference();
  ModuleReference(const ModuleReference&) = delete;
  ModuleReference& operator=(const ModuleReference&) = delete;
};

void lockModule(bool lock);
bool moduleInUse();

}  // namespace corvane::win
