// Small COM helpers shared by the script host and its test event source.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <string_view>
#include <utility>

using Microsoft::WRL::ComPtr;

// Reference counting and QueryInterface for a class implementing the given
// interfaces. The creator owns the first reference; single-threaded use only.
template <typename... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = find_interface(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

protected:
    virtual ~ComObject() = default;
    // The interface pointer for iid, or nullptr.
    virtual void* find_interface(REFIID iid) = 0;

private:
    ULONG refs_ = 1;
};

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
