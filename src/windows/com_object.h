#pragma once
// Reference counting and QueryInterface, written once for every object the server
// hands out. ComObject<First, Rest...> answers IUnknown (as First) and each listed
// interface; a class that answers more (a base interface, a part's) extends
// findInterface. The object holds the module while it lives (see DllCanUnloadNow)
// and deletes itself when its last reference goes.
#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "module.h"

namespace corvane::win {

template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = findInterface(riid);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;  // the creator holds the first reference
  virtual ~ComObject() = default;

  virtual void* findInterface(REFIID riid) {
    if (riid == IID_IUnknown || riid == __uuidof(First)) return static_cast<First*>(this);
    void* found = nullptr;
    (void)((riid == __uuidof(Rest) && (found = static_cast<Rest*>(this))) || ...);
    return found;
  }

 private:
  ModuleReference moduleReference_;  // first in, last out: the object's own members go before it
  LONG references_ = 1;
};

// Hands the caller `created` as its `riid`; the creator's reference goes either way.
template <class T>
HRESULT handOver(T* created, REFIID riid, void** object) noexcept {
  if (!created) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(riid, object);
  created->Release();
  return hr;
}

// Makes a T, whose constructor cannot throw, for a caller asking for `riid`.
template <class T, class... Arguments>
HRESULT createInstance(REFIID riid, void** object, Arguments&&... arguments) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  return handOver(new (std::nothrow) T(std::forward<Arguments>(arguments)...), riid, object);
}

}  // namespace corvane::win
