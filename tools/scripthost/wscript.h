// The `WScript` object the scripts see: Echo, Quit, CreateObject, ConnectObject,
// DisconnectObject, Sleep, Arguments, ScriptName and ScriptFullName.
#pragma once

#include "dispatch.h"
#include "script_host.h"

class WScriptObject final : public NamedDispatch {
public:
    explicit WScriptObject(ComPtr<ScriptHost> host) : host_(std::move(host)) {}

protected:
    std::span<const DispatchMember> members() const override;
    HRESULT invoke(DISPID id, const CallArguments& args, VARIANT* result, EXCEPINFO* info) override;

private:
    HRESULT echo(const CallArguments& args);
    HRESULT create_object(const CallArguments& args, VARIANT* result, EXCEPINFO* info);
    HRESULT connect_object(const CallArguments& args, EXCEPINFO* info);
    HRESULT sleep(const CallArguments& args, EXCEPINFO* info);
    HRESULT arguments(const CallArguments& args, VARIANT* result, EXCEPINFO* info);

    ComPtr<ScriptHost> host_;
};

// WScript.Arguments: Count, Length and Item(index), the default member.
class ArgumentsObject final : public NamedDispatch {
public:
    explicit ArgumentsObject(std::vector<std::wstring> values) : values_(std::move(values)) {}

    HRESULT item(const CallArguments& args, VARIANT* result, EXCEPINFO* info) const;

protected:
    std::span<const DispatchMember> members() const override;
    HRESULT invoke(DISPID id, const CallArguments& args, VARIANT* result, EXCEPINFO* info) override;

private:
    std::vector<std::wstring> values_;
};
