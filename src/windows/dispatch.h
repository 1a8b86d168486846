#pragma once
// IDispatch for a dual interface, through its type information: calls by name and
// by identifier, property gets and puts, optional arguments and coercion come from
// the system (DispInvoke). What the system leaves out is done here, once for every
// member: script engines pass variables as VT_BYREF|VT_VARIANT, which DispInvoke
// does not turn into typed references (BSTR*, short*, long*, VARIANT_BOOL*). Such
// arguments are coerced into a temporary of the declared type, and whatever the
// member changes is written back into the caller's variable.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <optional>
#include <vector>

namespace corvane::win {

class TypeInfoDispatch {
 public:
  // Loads the type information of `dualInterface` from this module's type library;
  // throws HresultError.
  explicit TypeInfoDispatch(REFIID dualInterface);

  HRESULT getTypeInfoCount(UINT* count) const;
  HRESULT getTypeInfo(UINT index, ITypeInfo** info) const;
  HRESULT getIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const;
  // `object` is the object's pointer to the dual interface.
  HRESULT invoke(void* object, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) const;

 private:
  Microsoft::WRL::ComPtr<ITypeInfo> dispatchView_;   // what IDispatch::GetTypeInfo hands out
  Microsoft::WRL::ComPtr<ITypeInfo> interfaceView_;  // the vtable that DispInvoke calls through
  // The interface's functions, looked up once: reading the type information at
  // every call copies each function's description, and a call is looked up often.
  struct Function {
    MEMBERID member;
    INVOKEKIND kinds;
    UINT index;
  };
  std::vector<Function> functions_;
  // The function a call reaches: the same choice as the system's Invoke makes.
  std::optional<UINT> functionOf(DISPID member, WORD flags) const;
};

}  // namespace corvane::win
