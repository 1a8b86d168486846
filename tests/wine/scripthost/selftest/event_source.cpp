// ScriptHostTest.EventSource: a test-only in-process class whose events carry
// typed by-reference arguments (short*, BSTR*, VARIANT_BOOL*), so that the
// script host's forwarding and write-back can be checked from a script.
#include "com_util.h"

#include <initguid.h>

#include "event_source_idl.h"

#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <utility>
#include <vector>

namespace {

HMODULE g_module = nullptr;
constexpr const wchar_t* kProgId = L"ScriptHostTest.EventSource";

// Type information from the library embedded in this module.
HRESULT load_type_info(REFGUID guid, ComPtr<ITypeInfo>& info)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return E_FAIL;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(guid, info.ReleaseAndGetAddressOf());
    return hr;
}

class EventSourceObject final
    : public ComObject<IEventSource, IProvideClassInfo, IConnectionPointContainer, IConnectionPoint> {
public:
    HRESULT init()
    {
        ComPtr<ITypeInfo> dispatch_view;
        HREFTYPE vtable_view = 0;
        HRESULT hr = load_type_info(CLSID_EventSource, class_info_);
        if (SUCCEEDED(hr)) hr = load_type_info(IID_IEventSource, dispatch_view);
        // DispInvoke needs the dual interface's vtable view.
        if (SUCCEEDED(hr)) hr = dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_view);
        if (SUCCEEDED(hr)) hr = dispatch_view->GetRefTypeInfo(vtable_view, &interface_info_);
        return hr;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        return interface_info_.CopyTo(info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return DispGetIDsOfNames(interface_info_.Get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* bad_argument) override
    {
        return DispInvoke(static_cast<IEventSource*>(this), interface_info_.Get(), id, flags, params, result,
                          info, bad_argument);
    }

    // IEventSource
    HRESULT STDMETHODCALLTYPE Fire(short code, BSTR text, VARIANT_BOOL* cancelled) override
    {
        if (!cancelled) return E_POINTER;
        last_code_ = code;
        SysFreeString(last_text_);
        last_text_ = SysAllocStringLen(text, SysStringLen(text));
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT args[3];  // last argument first
        V_VT(&args[0]) = VT_BYREF | VT_BOOL;
        V_BOOLREF(&args[0]) = &cancel;
        V_VT(&args[1]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&args[1]) = &last_text_;
        V_VT(&args[2]) = VT_BYREF | VT_I2;
        V_I2REF(&args[2]) = &last_code_;
        raise(1, args);
        *cancelled = cancel;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LastCode(short* value) override
    {
        if (!value) return E_POINTER;
        *value = last_code_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LastText(BSTR* value) override
    {
        if (!value) return E_POINTER;
        *value = SysAllocStringLen(last_text_, SysStringLen(last_text_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Trace(BSTR info) override
    {
        BSTR text = SysAllocStringLen(info, SysStringLen(info));
        VARIANT args[1];
        V_VT(&args[0]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&args[0]) = &text;
        raise(2, args);
        SysFreeString(text);
        return S_OK;
    }

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        return class_info_.CopyTo(info);
    }

    // IConnectionPointContainer: one point, on this object itself.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override
    {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (iid != DIID__EventSourceEvents) return CONNECT_E_NOCONNECTION;
        *point = this;
        AddRef();
        return S_OK;
    }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
    {
        if (!iid) return E_POINTER;
        *iid = DIID__EventSourceEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override
    {
        if (!container) return E_POINTER;
        *container = this;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie) return E_POINTER;
        ComPtr<IDispatch> events;
        // Asked for by the event interface's own identifier, as controls do.
        if (FAILED(sink->QueryInterface(DIID__EventSourceEvents, reinterpret_cast<void**>(events.GetAddressOf()))))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++last_cookie_;
        sinks_.emplace_back(*cookie, std::move(events));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->first == cookie) {
                sinks_.erase(it);
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    ~EventSourceObject() override { SysFreeString(last_text_); }

    void* find_interface(REFIID iid) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IEventSource)
            return static_cast<IEventSource*>(this);
        if (iid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
        if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
        return nullptr;
    }

    template <size_t N>
    void raise(DISPID event, VARIANT (&args)[N])
    {
        // A handler may disconnect while the event is being raised.
        std::vector<ComPtr<IDispatch>> targets;
        for (const auto& [cookie, sink] : sinks_) targets.push_back(sink);
        DISPPARAMS params{args, nullptr, N, 0};
        for (const ComPtr<IDispatch>& sink : targets)
            sink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }

    ComPtr<ITypeInfo> class_info_;
    ComPtr<ITypeInfo> interface_info_;
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
    DWORD last_cookie_ = 0;
    short last_code_ = 0;
    BSTR last_text_ = nullptr;
};

class Factory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        const ComPtr<EventSourceObject> source = make_com<EventSourceObject>();
        const HRESULT hr = source->init();
        return FAILED(hr) ? hr : source->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    void* find_interface(REFIID iid) override
    {
        return iid == IID_IUnknown || iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }
};

std::wstring class_key()
{
    wchar_t clsid[40];
    StringFromGUID2(CLSID_EventSource, clsid, 40);
    return std::wstring(L"CLSID\\") + clsid;
}

bool set_value(const std::wstring& key, const wchar_t* name, const std::wstring& data)
{
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, data.c_str(), bytes) == ERROR_SUCCESS;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_EventSource) return CLASS_E_CLASSNOTAVAILABLE;
    return make_com<Factory>()->QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    return S_FALSE;  // test-only: stays loaded for the life of the process
}

STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    wchar_t clsid[40];
    StringFromGUID2(CLSID_EventSource, clsid, 40);
    const std::wstring key = class_key();
    const bool ok = length > 0 && length < MAX_PATH && set_value(key + L"\\InprocServer32", nullptr, path) &&
                    set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                    set_value(key + L"\\ProgID", nullptr, kProgId) &&
                    set_value(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid);
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, class_key().c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
