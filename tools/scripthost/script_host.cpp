#include "script_host.h"

#include "byref_arguments.h"
#include "console.h"
#include "wscript.h"

#include <cstdio>
#include <cwchar>

namespace {

std::wstring hex(HRESULT code)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

void free_strings(EXCEPINFO& info)
{
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
}

// "Source: description (0x...)" from an exception, whose strings it frees;
// `fallback` is the code shown when the exception carries none.
std::wstring describe(EXCEPINFO& info, HRESULT fallback)
{
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    std::wstring text;
    if (info.bstrSource && *info.bstrSource) text = std::wstring(info.bstrSource) + L": ";
    text += info.bstrDescription && *info.bstrDescription ? info.bstrDescription : L"no description";
    HRESULT code = info.scode ? info.scode : fallback;
    if (!info.scode && info.wCode) code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode);
    free_strings(info);
    return code == S_OK ? text : text + L" (" + hex(code) + L")";
}

} // namespace

int ScriptHost::run(const std::wstring& language, const std::wstring& source)
{
    CLSID engine_class{};
    ComPtr<IActiveScriptParse> parser;
    HRESULT hr = CLSIDFromProgID(language.c_str(), &engine_class);
    if (SUCCEEDED(hr)) hr = CoCreateInstance(engine_class, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine_));
    if (SUCCEEDED(hr)) hr = engine_.As(&parser);
    if (SUCCEEDED(hr)) hr = parser->InitNew();
    if (SUCCEEDED(hr)) hr = engine_->SetScriptSite(this);
    if (SUCCEEDED(hr)) {
        wscript_ = make_com<WScriptObject>(ComPtr<ScriptHost>(this));
        hr = engine_->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE);
    }
    if (FAILED(hr)) {
        report(L"scripthost: cannot start the " + language + L" engine (" + hex(hr) + L")");
        close();
        return kHostFailure;
    }

    const unsigned errors_before = errors_;
    EXCEPINFO info{};
    hr = parser->ParseScriptText(source.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE,
                                 nullptr, &info);
    if (SUCCEEDED(hr)) hr = engine_->SetScriptState(SCRIPTSTATE_CONNECTED);
    // The engine normally reports its errors through OnScriptError; this catches the rest.
    if (FAILED(hr) && errors_ == errors_before) report(script_path_ + L" " + describe(info, hr));
    else free_strings(info);
    close();
    return exit_code(0);
}

HRESULT ScriptHost::connect(const ComPtr<IUnknown>& object, const std::wstring& prefix, EXCEPINFO* info)
{
    ComPtr<ITypeInfo> source;
    IID source_iid{};
    std::wstring problem;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ComPtr<EventSink> sink;
    DWORD cookie = 0;

    HRESULT hr = find_default_source(object.Get(), source, source_iid, problem);
    if (SUCCEEDED(hr) && FAILED(hr = object.As(&container))) problem = L"the object has no connection points";
    if (SUCCEEDED(hr) && FAILED(hr = container->FindConnectionPoint(source_iid, &point)))
        problem = L"the object has no connection point for its event interface";
    if (SUCCEEDED(hr)) {
        sink = make_com<EventSink>(*this, source_iid, source, prefix);
        if (FAILED(hr = point->Advise(sink.Get(), &cookie))) problem = L"the object refused the connection";
    }
    if (FAILED(hr)) return raise_exception(info, hr, L"Cannot connect to the object's events: " + problem);
    connections_.push_back({object, point, cookie, sink});
    return S_OK;
}

void ScriptHost::disconnect(const ComPtr<IUnknown>& object)
{
    disconnect_where(false, object);
}

void ScriptHost::disconnect_where(bool all, const ComPtr<IUnknown>& object)
{
    // Taken out of the list first: Unadvise may call back into the script.
    std::vector<Connection> ending;
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (all || it->object == object) {
            ending.push_back(std::move(*it));
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
    for (Connection& connection : ending) {
        connection.sink->detach();
        connection.point->Unadvise(connection.cookie);
    }
}

void ScriptHost::quit(int code)
{
    // The engines offer no way to stop a running script from inside one of its
    // calls, so the process ends here, after letting the objects drop their sinks.
    disconnect_where(true, nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(static_cast<UINT>(exit_code(code)));
}

void ScriptHost::raise_event(const std::wstring& name, const DISPPARAMS& params, VARIANT* result)
{
    ComPtr<IDispatch> script;
    DISPID handler = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    if (!engine_ || FAILED(engine_->GetScriptDispatch(nullptr, &script)) ||
        FAILED(script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &handler)))
        return;  // the script does not handle this event

    ByRefArguments arguments(params);
    EXCEPINFO info{};
    const unsigned errors_before = errors_;
    const HRESULT hr = script->Invoke(handler, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      arguments.params(), result, &info, nullptr);
    // A handler's error is normally reported through OnScriptError too.
    if (FAILED(hr) && errors_ == errors_before) report(script_path_ + L" " + name + L": " + describe(info, hr));
    else free_strings(info);
    std::wstring problem;
    if (!arguments.write_back(problem))
        report(script_path_ + L" " + name + L": the value left in " + problem +
               L" does not convert to the type the event declares");
}

HRESULT ScriptHost::GetLCID(LCID*)
{
    return E_NOTIMPL;  // the engine uses the user's locale
}

HRESULT ScriptHost::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type)
{
    if ((mask & SCRIPTINFO_IUNKNOWN) && !item) return E_POINTER;
    if ((mask & SCRIPTINFO_ITYPEINFO) && !type) return E_POINTER;
    if (mask & SCRIPTINFO_IUNKNOWN) *item = nullptr;
    if (mask & SCRIPTINFO_ITYPEINFO) *type = nullptr;  // none: the engines fall back to IDispatch
    if (!name || _wcsicmp(name, L"WScript") != 0 || !wscript_) return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_IUNKNOWN) return wscript_->QueryInterface(IID_PPV_ARGS(item));
    return S_OK;
}

HRESULT ScriptHost::GetDocVersionString(BSTR* version)
{
    if (version) *version = nullptr;
    return E_NOTIMPL;
}

HRESULT ScriptHost::OnScriptError(IActiveScriptError* error)
{
    if (!error) return E_POINTER;
    EXCEPINFO info{};
    error->GetExceptionInfo(&info);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    std::wstring where = script_path_;
    if (SUCCEEDED(error->GetSourcePosition(&context, &line, &column)))
        where += L"(" + std::to_wstring(line + 1) + L", " + std::to_wstring(column + 1) + L")";
    report(where + L" " + describe(info, S_OK));
    return S_OK;
}

HRESULT ScriptHost::GetWindow(HWND* window)
{
    if (!window) return E_POINTER;
    *window = nullptr;
    return S_OK;
}

void ScriptHost::report(const std::wstring& message)
{
    ++errors_;
    write_line(stderr, message);
}

void ScriptHost::close()
{
    disconnect_where(true, nullptr);
    if (engine_) engine_->Close();  // releases the site and the named items
    engine_.Reset();
    wscript_.Reset();
}
