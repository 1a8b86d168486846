#include "dispatch.h"

#include <oleauto.h>

#include <algorithm>
#include <new>
#include <vector>

#include "com_error.h"
#include "module.h"

namespace corvane::win {

namespace {

// A function's description, released with it.
class FunctionDescription {
 public:
  FunctionDescription(ITypeInfo* info, std::optional<UINT> index) : info_(info) {
    if (index && FAILED(info->GetFuncDesc(*index, &description_))) description_ = nullptr;
  }
  ~FunctionDescription() {
    if (description_) info_->ReleaseFuncDesc(description_);
  }
  FunctionDescription(const FunctionDescription&) = delete;
  FunctionDescription& operator=(const FunctionDescription&) = delete;

  explicit operator bool() const { return description_ != nullptr; }
  const FUNCDESC* operator->() const { return description_; }
  const FUNCDESC& operator*() const { return *description_; }

 private:
  ITypeInfo* info_;
  FUNCDESC* description_ = nullptr;
};

// The by-reference parameter types of the library's members.
bool isBridged(VARTYPE type) { return type == VT_BSTR || type == VT_I2 || type == VT_I4 || type == VT_BOOL; }

bool sameValue(const VARIANT& a, const VARIANT& b) {
  switch (V_VT(&a)) {
    case VT_BSTR: {
      const UINT length = SysStringLen(V_BSTR(&a));
      return length == SysStringLen(V_BSTR(&b)) && std::equal(V_BSTR(&a), V_BSTR(&a) + length, V_BSTR(&b));
    }
    case VT_I2: return V_I2(&a) == V_I2(&b);
    case VT_I4: return V_I4(&a) == V_I4(&b);
    case VT_BOOL: return V_BOOL(&a) == V_BOOL(&b);
    default: return false;
  }
}

// One argument as the member receives it, when it differs from what the caller passed.
class Argument {
 public:
  Argument() {
    VariantInit(&value_);
    VariantInit(&before_);
  }
  ~Argument() {
    VariantClear(&value_);
    VariantClear(&before_);
  }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;

  // Fits `given` to the declared parameter and sets `passed` to what the member gets.
  HRESULT bridge(const ELEMDESC& parameter, VARIANT& given, VARIANT& passed) {
    if (parameter.tdesc.vt != VT_PTR) {
      // By value: hand over the value rather than the caller's variable.
      if (!V_ISBYREF(&given)) return S_OK;
      const HRESULT hr = VariantCopyInd(&value_, &given);
      if (SUCCEEDED(hr)) passed = value_;
      return hr;
    }
    const VARTYPE declared = parameter.tdesc.lptdesc->vt;
    if (!isBridged(declared) || V_VT(&given) == (VT_BYREF | declared)) return S_OK;
    if (V_VT(&given) == (VT_BYREF | VT_VARIANT)) {
      callerVariable_ = V_VARIANTREF(&given);
    } else if (V_ISBYREF(&given)) {
      return DISP_E_TYPEMISMATCH;  // a typed reference of another type cannot be written back
    }
    HRESULT hr = VariantChangeType(&value_, callerVariable_ ? callerVariable_ : &given, 0, declared);
    if (SUCCEEDED(hr)) hr = VariantCopy(&before_, &value_);
    if (FAILED(hr)) return hr;
    V_VT(&passed) = VT_BYREF | declared;
    V_BYREF(&passed) = &V_I4(&value_);  // every member of the value union starts here
    return S_OK;
  }

  // Gives the caller's variable what the member left, if the member changed it.
  void writeBack() {
    if (!callerVariable_ || sameValue(value_, before_)) return;
    VariantClear(callerVariable_);
    *callerVariable_ = value_;
    VariantInit(&value_);  // now owned by the caller's variable
  }

 private:
  VARIANT value_;
  VARIANT before_;
  VARIANT* callerVariable_ = nullptr;
};

// The parameter that argument k of the call stands for, or -1.
int parameterIndex(const DISPPARAMS& params, UINT k, const FUNCDESC& function) {
  int index;
  if (k < params.cNamedArgs) {
    const DISPID named = params.rgdispidNamedArgs[k];
    index = named == DISPID_PROPERTYPUT ? function.cParams - 1 : named;
  } else {
    index = static_cast<int>(params.cArgs - 1 - k);
  }
  if (index < 0 || index >= function.cParams) return -1;
  const bool returned = function.lprgelemdescParam[index].paramdesc.wParamFlags & PARAMFLAG_FRETVAL;
  return returned ? -1 : index;
}

// A member whose last parameter hands a string back, called as it is passed:
// every other argument a typed reference, none named.
bool returnsString(const FUNCDESC& function, const DISPPARAMS& params, const std::vector<VARIANT>& passed) {
  if (params.cNamedArgs != 0 || function.cParams != static_cast<SHORT>(params.cArgs + 1)) return false;
  const ELEMDESC& last = function.lprgelemdescParam[params.cArgs];
  if (!(last.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) || last.tdesc.vt != VT_PTR || last.tdesc.lptdesc->vt != VT_BSTR)
    return false;
  for (UINT index = 0; index < params.cArgs; ++index) {
    const TYPEDESC& declared = function.lprgelemdescParam[index].tdesc;
    if (declared.vt != VT_PTR || V_VT(&passed[params.cArgs - 1 - index]) != (VT_BYREF | declared.lptdesc->vt))
      return false;
  }
  return true;
}

// Calls such a member through the vtable, its string going straight into
// `result`: the system's Invoke would hand over a copy of it, which for a long
// message is as much again. A failure is reported as the system's Invoke reports
// it: DISP_E_EXCEPTION, with the member's error information in `exception`.
HRESULT callReturningString(void* object, const FUNCDESC& function, std::vector<VARIANT>& passed, VARIANT* result,
                            EXCEPINFO* exception) {
  const UINT count = static_cast<UINT>(function.cParams);
  BSTR text = nullptr;
  VARIANT returned;
  V_VT(&returned) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&returned) = &text;
  std::vector<VARTYPE> types(count);
  std::vector<VARIANTARG*> arguments(count);
  for (UINT index = 0; index + 1 < count; ++index) arguments[index] = &passed[count - 2 - index];
  arguments[count - 1] = &returned;
  for (UINT index = 0; index < count; ++index) types[index] = V_VT(arguments[index]);
  VARIANT status;
  VariantInit(&status);
  const HRESULT hr =
      DispCallFunc(object, function.oVft, function.callconv, VT_ERROR, count, types.data(), arguments.data(), &status);
  if (FAILED(hr)) return hr;
  if (FAILED(V_ERROR(&status))) {
    SysFreeString(text);
    if (exception) {
      *exception = {};
      exception->scode = V_ERROR(&status);
      IErrorInfo* error = nullptr;
      if (GetErrorInfo(0, &error) == S_OK && error) {
        error->GetSource(&exception->bstrSource);
        error->GetDescription(&exception->bstrDescription);
        error->GetHelpFile(&exception->bstrHelpFile);
        error->GetHelpContext(&exception->dwHelpContext);
        error->Release();
      }
    }
    return DISP_E_EXCEPTION;
  }
  if (result) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = text;
  } else {
    SysFreeString(text);
  }
  return S_OK;
}

}  // namespace

TypeInfoDispatch::TypeInfoDispatch(REFIID dualInterface) {
  Microsoft::WRL::ComPtr<ITypeLib> library;
  check(loadModuleTypeLib(&library));
  check(library->GetTypeInfoOfGuid(dualInterface, &dispatchView_));
  HREFTYPE vtableView = 0;
  check(dispatchView_->GetRefTypeOfImplType(-1, &vtableView));
  check(dispatchView_->GetRefTypeInfo(vtableView, &interfaceView_));
  TYPEATTR* attributes = nullptr;
  check(interfaceView_->GetTypeAttr(&attributes));
  const UINT functions = attributes->cFuncs;
  interfaceView_->ReleaseTypeAttr(attributes);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(interfaceView_->GetFuncDesc(i, &function))) continue;
    functions_.push_back({function->memid, function->invkind, i});
    interfaceView_->ReleaseFuncDesc(function);
  }
}

std::optional<UINT> TypeInfoDispatch::functionOf(DISPID member, WORD flags) const {
  for (const Function& function : functions_)
    if (function.member == member && (function.kinds & flags)) return function.index;
  return std::nullopt;
}

HRESULT TypeInfoDispatch::getTypeInfoCount(UINT* count) const {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TypeInfoDispatch::getTypeInfo(UINT index, ITypeInfo** info) const {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return dispatchView_.CopyTo(info);
}

HRESULT TypeInfoDispatch::getIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return DispGetIDsOfNames(interfaceView_.Get(), names, count, ids);
}

HRESULT TypeInfoDispatch::invoke(void* object, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argError) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!params || (params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
      params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;
  ITypeInfo* info = interfaceView_.Get();
  const FunctionDescription function(info, functionOf(member, flags));
  if (!function) return DispInvoke(object, info, member, flags, params, result, exception, argError);
  try {
    std::vector<VARIANT> passed(params->rgvarg, params->rgvarg + params->cArgs);
    std::vector<Argument> arguments(params->cArgs);
    for (UINT k = 0; k < params->cArgs; ++k) {
      const int index = parameterIndex(*params, k, *function);
      if (index < 0) continue;
      const HRESULT hr = arguments[k].bridge(function->lprgelemdescParam[index], params->rgvarg[k], passed[k]);
      if (FAILED(hr)) {
        if (argError) *argError = k;
        return hr;
      }
    }
    DISPPARAMS call{passed.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};
    const HRESULT hr = returnsString(*function, *params, passed)
                           ? callReturningString(object, *function, passed, result, exception)
                           : DispInvoke(object, info, member, flags, &call, result, exception, argError);
    if (SUCCEEDED(hr)) {
      for (Argument& argument : arguments) argument.writeBack();
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace corvane::win
