#include "byref_arguments.h"

#include <cstring>

namespace {

// Size of a plain value stored behind a reference; 0 for types stored otherwise.
size_t scalar_size(VARTYPE type)
{
    switch (type) {
    case VT_I1: case VT_UI1:
        return 1;
    case VT_I2: case VT_UI2: case VT_BOOL:
        return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
        return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE:
        return 8;
    default:
        return 0;
    }
}

// The type behind a typed reference that this bridge can write back, or VT_EMPTY.
VARTYPE bridged_type(const VARIANT& arg)
{
    const VARTYPE vt = V_VT(&arg);
    if (!(vt & VT_BYREF) || !V_BYREF(&arg)) return VT_EMPTY;
    const VARTYPE type = vt & ~VT_BYREF;
    if (type == VT_VARIANT) return VT_EMPTY;  // already what the engines want
    if (scalar_size(type) || type == VT_BSTR || type == VT_DISPATCH || type == VT_UNKNOWN ||
        type == VT_DECIMAL || (type & VT_ARRAY))
        return type;
    return VT_EMPTY;
}

// Moves `value` (already of the reference's type) into the storage `reference` points to.
void store(const VARIANT& reference, VARIANT& value)
{
    const VARTYPE type = V_VT(&reference) & ~VT_BYREF;
    void* target = V_BYREF(&reference);
    if (type & VT_ARRAY) {
        SafeArrayDestroy(*static_cast<SAFEARRAY**>(target));
        *static_cast<SAFEARRAY**>(target) = V_ARRAY(&value);
    } else if (type == VT_BSTR) {
        SysFreeString(*static_cast<BSTR*>(target));
        *static_cast<BSTR*>(target) = V_BSTR(&value);
    } else if (type == VT_DISPATCH || type == VT_UNKNOWN) {
        IUnknown*& slot = *static_cast<IUnknown**>(target);
        if (slot) slot->Release();
        slot = V_UNKNOWN(&value);
    } else if (type == VT_DECIMAL) {
        DECIMAL number = V_DECIMAL(&value);
        number.wReserved = 0;  // overlaps the variant's type field
        *static_cast<DECIMAL*>(target) = number;
        return;
    } else {
        std::memcpy(target, &V_UI1(&value), scalar_size(type));
        return;
    }
    V_VT(&value) = VT_EMPTY;  // ownership moved to the reference
}

} // namespace

ByRefArguments::ByRefArguments(const DISPPARAMS& original)
    : original_(original),
      passed_(original.rgvarg, original.rgvarg + original.cArgs),
      copies_(std::make_unique<Variant[]>(original.cArgs)),
      wrapped_(original.cArgs, false)
{
    for (UINT i = 0; i < original.cArgs; ++i) {
        VARIANT& arg = original.rgvarg[i];
        if (bridged_type(arg) == VT_EMPTY || FAILED(VariantCopyInd(&copies_[i], &arg))) continue;
        V_VT(&passed_[i]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&passed_[i]) = &copies_[i];
        wrapped_[i] = true;
    }
    params_.rgvarg = passed_.data();
    params_.rgdispidNamedArgs = original.rgdispidNamedArgs;
    params_.cArgs = original.cArgs;
    params_.cNamedArgs = original.cNamedArgs;
}

bool ByRefArguments::write_back(std::wstring& problem)
{
    bool all_written = true;
    for (UINT i = 0; i < original_.cArgs; ++i) {
        if (!wrapped_[i]) continue;
        const VARIANT& reference = original_.rgvarg[i];
        const VARTYPE type = V_VT(&reference) & ~VT_BYREF;
        Variant converted;
        const HRESULT hr = (type & VT_ARRAY)
            ? (V_VT(&copies_[i]) == type ? VariantCopy(&converted, &copies_[i]) : DISP_E_TYPEMISMATCH)
            : VariantChangeType(&converted, &copies_[i], 0, type);
        if (FAILED(hr)) {
            if (all_written) problem = L"argument " + std::to_wstring(original_.cArgs - i);
            all_written = false;
            continue;
        }
        store(reference, converted);
    }
    return all_written;
}
