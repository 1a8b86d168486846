#include "wscript.h"

#include "console.h"

namespace {

enum WScriptMember : DISPID {
    kEcho = 1,
    kQuit,
    kCreateObject,
    kConnectObject,
    kDisconnectObject,
    kSleep,
    kArguments,
    kScriptName,
    kScriptFullName,
};

constexpr DispatchMember kWScriptMembers[] = {
    {L"Echo", kEcho},
    {L"Quit", kQuit},
    {L"CreateObject", kCreateObject},
    {L"ConnectObject", kConnectObject},
    {L"DisconnectObject", kDisconnectObject},
    {L"Sleep", kSleep},
    {L"Arguments", kArguments},
    {L"ScriptName", kScriptName},
    {L"ScriptFullName", kScriptFullName},
};

enum ArgumentsMember : DISPID { kItem = DISPID_VALUE, kCount = 1, kLength };

constexpr DispatchMember kArgumentsMembers[] = {
    {L"Item", kItem},
    {L"Count", kCount},
    {L"Length", kLength},
};

HRESULT return_text(VARIANT* result, std::wstring_view text)
{
    if (result) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = Bstr(text).release();
    }
    return S_OK;
}

// Runs the thread's message loop for `milliseconds`, so that window and timer
// messages of the script's objects keep arriving while the script waits.
void pump_messages(DWORD milliseconds)
{
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;  // only the script decides when to stop
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

std::wstring file_name_of(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/:");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring full_path_of(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    full.resize(written < length ? written : 0);
    return full.empty() ? path : full;
}

} // namespace

std::span<const DispatchMember> WScriptObject::members() const
{
    return kWScriptMembers;
}

HRESULT WScriptObject::invoke(DISPID id, const CallArguments& args, VARIANT* result, EXCEPINFO* info)
{
    switch (id) {
    case kEcho:
        return echo(args);
    case kQuit: {
        LONG code = 0;
        if (args.count() > 0) {
            if (const HRESULT hr = args.integer(0, code); FAILED(hr)) return hr;
        }
        host_->quit(code);
    }
    case kCreateObject:
        return create_object(args, result, info);
    case kConnectObject:
        return connect_object(args, info);
    case kDisconnectObject: {
        ComPtr<IUnknown> object;
        if (const HRESULT hr = args.object(0, object); FAILED(hr)) return hr;
        host_->disconnect(object);
        return S_OK;
    }
    case kSleep:
        return sleep(args, info);
    case kArguments:
        return arguments(args, result, info);
    case kScriptName:
        return return_text(result, file_name_of(host_->script_path()));
    case kScriptFullName:
        return return_text(result, full_path_of(host_->script_path()));
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT WScriptObject::echo(const CallArguments& args)
{
    std::wstring line;
    for (UINT i = 0; i < args.count(); ++i) {
        std::wstring text;
        if (const HRESULT hr = args.text(i, text); FAILED(hr)) return hr;
        if (i > 0) line += L' ';
        line += text;
    }
    write_line(stdout, line);
    return S_OK;
}

HRESULT WScriptObject::create_object(const CallArguments& args, VARIANT* result, EXCEPINFO* info)
{
    std::wstring program_id, prefix;
    HRESULT hr = args.text(0, program_id);
    if (SUCCEEDED(hr) && args.count() > 1) hr = args.text(1, prefix);
    if (FAILED(hr)) return hr;

    CLSID object_class{};
    ComPtr<IDispatch> object;
    hr = CLSIDFromProgID(program_id.c_str(), &object_class);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(object_class, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_PPV_ARGS(&object));
    if (FAILED(hr)) return raise_exception(info, hr, L"Could not create object named \"" + program_id + L"\"");
    if (!prefix.empty()) {
        ComPtr<IUnknown> identity;
        hr = object.As(&identity);
        if (SUCCEEDED(hr)) hr = host_->connect(identity, prefix, info);
        if (FAILED(hr)) return hr;
    }
    if (result) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = object.Detach();
    }
    return S_OK;
}

HRESULT WScriptObject::connect_object(const CallArguments& args, EXCEPINFO* info)
{
    ComPtr<IUnknown> object;
    std::wstring prefix;
    HRESULT hr = args.object(0, object);
    if (SUCCEEDED(hr)) hr = args.text(1, prefix);
    if (FAILED(hr)) return hr;
    return host_->connect(object, prefix, info);
}

HRESULT WScriptObject::sleep(const CallArguments& args, EXCEPINFO* info)
{
    LONG milliseconds = 0;
    if (const HRESULT hr = args.integer(0, milliseconds); FAILED(hr)) return hr;
    if (milliseconds < 0) return raise_exception(info, E_INVALIDARG, L"Sleep needs a time of 0 ms or more");
    pump_messages(static_cast<DWORD>(milliseconds));
    return S_OK;
}

HRESULT WScriptObject::arguments(const CallArguments& args, VARIANT* result, EXCEPINFO* info)
{
    const ComPtr<ArgumentsObject> collection = make_com<ArgumentsObject>(host_->arguments());
    // WScript.Arguments(i) arrives here with the index.
    if (args.count() > 0) return collection->item(args, result, info);
    if (result) {
        V_VT(result) = VT_DISPATCH;
        collection.CopyTo(&V_DISPATCH(result));
    }
    return S_OK;
}

std::span<const DispatchMember> ArgumentsObject::members() const
{
    return kArgumentsMembers;
}

HRESULT ArgumentsObject::invoke(DISPID id, const CallArguments& args, VARIANT* result, EXCEPINFO* info)
{
    if (id == kItem) return item(args, result, info);
    if (result) {
        V_VT(result) = VT_I4;
        V_I4(result) = static_cast<LONG>(values_.size());
    }
    return S_OK;
}

HRESULT ArgumentsObject::item(const CallArguments& args, VARIANT* result, EXCEPINFO* info) const
{
    LONG index = 0;
    if (const HRESULT hr = args.integer(0, index); FAILED(hr)) return hr;
    if (index < 0 || static_cast<size_t>(index) >= values_.size())
        return raise_exception(info, DISP_E_BADINDEX, L"Argument index out of range");
    return return_text(result, values_[static_cast<size_t>(index)]);
}
