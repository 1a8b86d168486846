#include "dispatch.h"

#include <cwchar>

namespace {

VARIANT& look_through(VARIANT& value)
{
    if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value))
        return *V_VARIANTREF(&value);
    return value;
}

} // namespace

bool text_of(VARIANT& value, std::wstring& text)
{
    VARIANT& plain = look_through(value);
    if (V_VT(&plain) == VT_EMPTY || V_VT(&plain) == VT_NULL) {
        text.clear();
        return true;
    }
    Variant converted;
    if (FAILED(VariantChangeType(&converted, &plain, VARIANT_ALPHABOOL, VT_BSTR))) return false;
    text.assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
    return true;
}

VARIANT& CallArguments::operator[](UINT index) const
{
    // DISPPARAMS holds the last argument first.
    return look_through(params_.rgvarg[params_.cArgs - 1 - index]);
}

HRESULT CallArguments::text(UINT index, std::wstring& value) const
{
    if (index >= count()) return DISP_E_BADPARAMCOUNT;
    return text_of((*this)[index], value) ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT CallArguments::integer(UINT index, LONG& value) const
{
    if (index >= count()) return DISP_E_BADPARAMCOUNT;
    Variant converted;
    const HRESULT hr = VariantChangeType(&converted, &(*this)[index], 0, VT_I4);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    value = V_I4(&converted);
    return S_OK;
}

HRESULT CallArguments::object(UINT index, ComPtr<IUnknown>& value) const
{
    if (index >= count()) return DISP_E_BADPARAMCOUNT;
    VARIANT& arg = (*this)[index];
    IUnknown* unknown = nullptr;
    if (V_VT(&arg) == VT_DISPATCH) unknown = V_DISPATCH(&arg);
    if (V_VT(&arg) == VT_UNKNOWN) unknown = V_UNKNOWN(&arg);
    if (!unknown) return DISP_E_TYPEMISMATCH;
    // The identity pointer, so that the same object always compares equal.
    return unknown->QueryInterface(IID_PPV_ARGS(value.ReleaseAndGetAddressOf()));
}

HRESULT NamedDispatch::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT NamedDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT NamedDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return DISP_E_UNKNOWNNAME;
    for (const DispatchMember& member : members()) {
        if (_wcsicmp(member.name, names[0]) == 0) {
            ids[0] = member.id;
            // Named parameters are not supported.
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT NamedDispatch::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* info, UINT*)
{
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    bool known = false;
    for (const DispatchMember& member : members()) known = known || member.id == id;
    // Every member is a method or a read-only property.
    if (!known || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
    if (result) VariantInit(result);
    return invoke(id, CallArguments(*params), result, info);
}

