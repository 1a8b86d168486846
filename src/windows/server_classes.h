#pragma once
// The classes this server creates and registers.
#include <windows.h>
#include <ole2.h>

#include <span>

namespace corvane::win {

// How the control behaves in a container: it wants its client site before it
// is loaded, is activated in place as soon as it is visible, redraws when its
// extent changes, can't be linked to, activates inside-out, and shows nothing at
// run time.
constexpr DWORD kControlMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                                     OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_INVISIBLEATRUNTIME;

using CreateFunction = HRESULT (*)(REFIID riid, void** object) noexcept;

struct ServerClass {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  CreateFunction create;
  bool control;  // an ActiveX control: registered with the control keys and its toolbox bitmap
};

std::span<const ServerClass> serverClasses();
const ServerClass* findServerClass(REFCLSID clsid);

}  // namespace corvane::win
