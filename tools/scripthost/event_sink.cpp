#include "event_sink.h"

#include "script_host.h"

#include <ocidl.h>
#include <olectl.h>

HRESULT find_default_source(IUnknown* object, ComPtr<ITypeInfo>& source, IID& source_iid,
                            std::wstring& problem)
{
    ComPtr<IProvideClassInfo> provider;
    ComPtr<ITypeInfo> coclass;
    TYPEATTR* attributes = nullptr;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(&provider));
    if (SUCCEEDED(hr)) hr = provider->GetClassInfo(&coclass);
    if (SUCCEEDED(hr)) hr = coclass->GetTypeAttr(&attributes);
    if (FAILED(hr)) {
        problem = L"the object gives no class information";
        return hr;
    }
    const WORD implemented = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);

    constexpr INT wanted = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || (flags & wanted) != wanted) continue;
        hr = coclass->GetRefTypeOfImplType(i, &reference);
        if (SUCCEEDED(hr)) hr = coclass->GetRefTypeInfo(reference, source.ReleaseAndGetAddressOf());
        if (SUCCEEDED(hr)) hr = source->GetTypeAttr(&attributes);
        if (FAILED(hr)) {
            problem = L"the object's event interface cannot be read";
            return hr;
        }
        source_iid = attributes->guid;
        source->ReleaseTypeAttr(attributes);
        return S_OK;
    }
    problem = L"the object's class has no default event interface";
    return CONNECT_E_NOCONNECTION;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return source_.CopyTo(info);
}

HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return DispGetIDsOfNames(source_.Get(), names, count, ids);
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT*)
{
    const ComPtr<EventSink> keep_alive(this);  // a handler may disconnect this very sink
    if (!host_ || !params) return S_OK;
    Bstr name;
    UINT found = 0;
    if (FAILED(source_->GetNames(id, name.out(), 1, &found)) || found == 0) return DISP_E_MEMBERNOTFOUND;
    host_->raise_event(prefix_ + name.str(), *params, result);
    // Failures of the handler are the script's errors, reported by the host;
    // the object that raised the event goes on.
    return S_OK;
}

void* EventSink::findInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == source_iid_) return static_cast<IDispatch*>(this);
    return nullptr;
}
