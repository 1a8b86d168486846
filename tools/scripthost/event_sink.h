// Connecting a script to an object's events: the object's default source
// interface, and the sink that forwards each event to `prefix + EventName`.
#pragma once

#include "com_util.h"

#include <string>

class ScriptHost;

// The [default, source] interface of `object`'s class, found through IProvideClassInfo.
HRESULT find_default_source(IUnknown* object, ComPtr<ITypeInfo>& source, IID& source_iid,
                            std::wstring& problem);

class EventSink final : public ComObject<IDispatch> {
public:
    EventSink(ScriptHost& host, const IID& source_iid, ComPtr<ITypeInfo> source, std::wstring prefix)
        : host_(&host), source_iid_(source_iid), source_(std::move(source)), prefix_(std::move(prefix)) {}

    // Once disconnected, late events are ignored.
    void detach() { host_ = nullptr; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* info, UINT* bad_argument) override;

private:
    void* findInterface(REFIID iid) override;

    ScriptHost* host_;
    IID source_iid_;
    ComPtr<ITypeInfo> source_;
    std::wstring prefix_;
};
