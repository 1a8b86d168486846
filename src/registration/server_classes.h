#pragma once
// The classes this server creates and registers.
#include <windows.h>

#include <span>

namespace corvane::win {

using CreateFunction = HRESULT (*)(REFIID riid, void** object) noexcept;

struct ServerClass {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  CreateFunction create;
  bool control;  // an ActiveX control: registered with the Control and MiscStatus keys
};

std::span<const ServerClass> serverClasses();
const ServerClass* findServerClass(REFCLSID clsid);

}  // namespace corvane::win
