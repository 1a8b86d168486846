#pragma once
// The COM side every automation object of the library shares: IDispatch through
// the type information of its dual interface, and error reporting
// (ISupportErrorInfo) for the members. `More` are the object's other interfaces.
#include <windows.h>
#include <oaidl.h>

#include "com_error.h"
#include "com_object.h"
#include "dispatch.h"

namespace corvane::win {

template <class Dual, class... More>
class DispatchObject : public ComObject<Dual, ISupportErrorInfo, More...> {
  using Base = ComObject<Dual, ISupportErrorInfo, More...>;

 public:
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

  void* findInterface(REFIID riid) override {
    return riid == IID_IDispatch ? static_cast<Dual*>(this) : Base::findInterface(riid);
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
  return FAILED(hr) ? hr : handOver(created, riid, object);
}

}  // namespace corvane::win
