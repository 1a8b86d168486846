// The exports of corvane.ocx: the four entry points of an in-process COM server,
// and the class factory DllGetClassObject hands out.
#include <windows.h>
#include <olectl.h>

#include <new>

#include "ansi_charset.h"
#include "com_object.h"
#include "module.h"
#include "registration.h"
#include "server_classes.h"

using namespace corvane;

namespace corvane::win {
namespace {

// A factory in use keeps the DLL loaded too (see ComObject).
class ClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lockModule(lock);
    return S_OK;
  }

 private:
  CreateFunction create_;
};

}  // namespace
}  // namespace corvane::win

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
  return win::createInstance<win::ClassFactory>(riid, object, entry->create);
}

STDAPI DllCanUnloadNow() { return win::moduleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return win::registerServer(); }

STDAPI DllUnregisterServer() { return win::unregisterServer(); }
