#pragma once
// The COM side every automation object of the library shares: reference counting,
// the module's object count, IDispatch through the type information of its dual
// interface, and error reporting (ISupportErrorInfo) for the members.
#include <windows.h>
#include <oaidl.h>

#include "com_error.h"
#include "dispatch.h"
#include "module.h"

namespace corvane::win {

template <class Dual>
class DispatchObject : public Dual, public ISupportErrorInfo {
 public:
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

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return dispatch_.getTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return dispatch_.getTypeInfo(index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return dispatch_.getIDsOfNames(riid, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    return dispatch_.invoke(static_cast<Dual*>(this), member, riid, flags, params, result, exception, argError);
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == __uuidof(Dual) ? S_OK : S_FALSE;
  }

 protected:
  // `source` names the object in its errors, e.g. "prjCorvane.MIME".
  explicit DispatchObject(const wchar_t* source) : dispatch_(__uuidof(Dual)), source_(source) {}
  virtual ~DispatchObject() = default;

  // The interfaces the object answers to; a class with more extends this.
  virtual void* findInterface(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Dual)) return static_cast<Dual*>(this);
    if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }

  // A member's body, with its errors reported to the caller. The object stays
  // alive until the body returns: a member that pumps messages runs the host's
  // code, which may let go of its last reference meanwhile.
  template <class Body, class... Pointers>
  HRESULT call(Body&& body, Pointers... required) const noexcept {
    auto* self = const_cast<DispatchObject*>(this);
    self->AddRef();
    const HRESULT hr = guarded(source_, body, required...);
    self->Release();
    return hr;
  }

 private:
  ModuleReference moduleReference_;
  LONG references_ = 1;
  TypeInfoDispatch dispatch_;
  const wchar_t* source_;
};

// Creates a T and asks it for `riid`: the way the class factory makes objects.
// T::kSource names the class in a creation error.
template <class T>
HRESULT createObject(REFIID riid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  T* created = nullptr;
  const HRESULT hr = guarded(T::kSource, [&] { created = new T(); });
  if (FAILED(hr)) return hr;
  const HRESULT answer = created->QueryInterface(riid, object);
  created->Release();
  return answer;
}

}  // namespace corvane::win
