// Small COM helpers shared by the script host and its test event source.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "windows/com_object.h"

#include <string>
#include <string_view>
#include <utility>

using Microsoft::WRL::ComPtr;

// Reference counting and QueryInterface: the control's own base (the objects
// here count as the module's, which only a DLL would ask about).
using corvane::win::ComObject;

template <typename T, typename... Args>
ComPtr<T> make_com(Args&&... args)
{
    ComPtr<T> object;
    object.Attach(new T(std::forward<Args>(args)...));
    return object;
}

// A VARIANT that clears itself.
struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// A BSTR that frees itself.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text)
        : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return text_; }
    BSTR* out() { SysFreeString(text_); text_ = nullptr; return &text_; }
    BSTR release() { return std::exchange(text_, nullptr); }
    std::wstring str() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring(); }

private:
    BSTR text_ = nullptr;
};

// Fills an EXCEPINFO so that the calling script sees `code` with `description`.
inline HRESULT raise_exception(EXCEPINFO* info, HRESULT code, std::wstring_view description,
                               std::wstring_view source = L"WScript")
{
    if (!info) return code;
    *info = EXCEPINFO{};
    info->bstrSource = Bstr(source).release();
    info->bstrDescription = Bstr(description).release();
    info->scode = code;
    return DISP_E_EXCEPTION;
}
