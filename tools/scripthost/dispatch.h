// Hand-written IDispatch for the host's own objects: a fixed table of names,
// looked up without regard to case, and argument access in script order.
#pragma once

#include "com_util.h"

#include <span>
#include <string>

struct DispatchMember {
    const wchar_t* name;
    DISPID id;
};

// The arguments of one IDispatch::Invoke call, first argument first.
// Variables passed by the engines as VT_BYREF|VT_VARIANT are looked through.
class CallArguments {
public:
    explicit CallArguments(const DISPPARAMS& params) : params_(params) {}

    UINT count() const { return params_.cArgs; }
    VARIANT& operator[](UINT index) const;

    // Argument `index` converted, or the error the engine reports to the script
    // (wrong number of arguments, type mismatch, overflow).
    HRESULT text(UINT index, std::wstring& value) const;
    HRESULT integer(UINT index, LONG& value) const;
    HRESULT object(UINT index, ComPtr<IUnknown>& value) const;

private:
    const DISPPARAMS& params_;
};

// The text form of a value as Echo shows it: booleans as True/False, Empty and
// Null as nothing. False when the value has no text form.
bool text_of(VARIANT& value, std::wstring& text);

class NamedDispatch : public ComObject<IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* info, UINT* bad_argument) override;

protected:
    virtual std::span<const DispatchMember> members() const = 0;
    // A call or property get of member `id`; `result` may be null.
    virtual HRESULT invoke(DISPID id, const CallArguments& args, VARIANT* result, EXCEPINFO* info) = 0;
};
