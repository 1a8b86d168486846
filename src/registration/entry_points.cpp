// The exports of corvane.ocx: the four entry points of an in-process COM server.
#include <windows.h>
#include <olectl.h>

#include <new>

#include "ansi_charset.h"
#include "class_factory.h"
#include "module.h"
#include "registration.h"
#include "server_classes.h"

using namespace corvane;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    win::setModuleHandle(instance);
    try {
      setHostCharset(win::ansiCharset());  // text goes on the wire in the ANSI code page
    } catch (const std::bad_alloc&) {
      return FALSE;
    }
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const win::ServerClass* entry = win::findServerClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  return win::createClassFactory(entry->create, riid, object);
}

STDAPI DllCanUnloadNow() { return win::moduleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return win::registerServer(); }

STDAPI DllUnregisterServer() { return win::unregisterServer(); }
