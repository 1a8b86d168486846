// The script site: runs one script file in a VBScript or JScript engine with a
// `WScript` object, reports script errors, and keeps the event connections.
#pragma once

#include "com_util.h"
#include "event_sink.h"

#include <activscp.h>
#include <ocidl.h>

#include <string>
#include <vector>

// Exit code when the script could not be started at all (bad file, no engine).
constexpr int kHostFailure = 2;

class ScriptHost final : public ComObject<IActiveScriptSite, IActiveScriptSiteWindow> {
public:
    ScriptHost(std::wstring script_path, std::vector<std::wstring> arguments)
        : script_path_(std::move(script_path)), arguments_(std::move(arguments)) {}

    // Runs `source` in the engine registered as `language`; returns the exit code:
    // 0 when it ran to the end, 1 after a script error, kHostFailure when it could not start.
    int run(const std::wstring& language, const std::wstring& source);

    const std::wstring& script_path() const { return script_path_; }
    const std::vector<std::wstring>& arguments() const { return arguments_; }

    // Advises a sink that calls the script's `prefix + EventName` procedures.
    HRESULT connect(const ComPtr<IUnknown>& object, const std::wstring& prefix, EXCEPINFO* info);
    void disconnect(const ComPtr<IUnknown>& object);
    // Ends the process; a non-zero `code` is the exit code, otherwise 0 or 1 as after a run.
    [[noreturn]] void quit(int code);
    // Calls the script procedure `name`, if there is one, with an event's arguments.
    void raise_event(const std::wstring& name, const DISPPARAMS& params, VARIANT* result);

    // IActiveScriptSite
    HRESULT STDMETHODCALLTYPE GetLCID(LCID* lcid) override;
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                                          ITypeInfo** type) override;
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR* version) override;
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override;
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

    // IActiveScriptSiteWindow: the host has no window.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

private:
    struct Connection {
        ComPtr<IUnknown> object;
        ComPtr<IConnectionPoint> point;
        DWORD cookie;
        ComPtr<EventSink> sink;
    };

    void report(const std::wstring& message);
    void disconnect_where(bool all, const ComPtr<IUnknown>& object);
    void close();
    int exit_code(int requested) const { return requested ? requested : errors_ ? 1 : 0; }

    std::wstring script_path_;
    std::vector<std::wstring> arguments_;
    ComPtr<IActiveScript> engine_;
    ComPtr<IDispatch> wscript_;
    std::vector<Connection> connections_;
    unsigned errors_ = 0;
};
