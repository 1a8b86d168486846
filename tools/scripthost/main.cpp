// scripthost.exe: runs a VBScript (.vbs) or JScript (.js) file with a small
// `WScript` object that can connect to objects' events, and turns script errors
// into the exit code.
//
//   scripthost.exe <file.vbs|file.js> [arguments...]
//
// Exit code: 0 when the script ran to the end, 1 after a script error, the code
// given to WScript.Quit when it is not 0, 2 when the script could not be started.
#include "console.h"
#include "script_host.h"

#include <fcntl.h>
#include <io.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr LONGLONG kLargestScript = 64LL << 20;

bool read_file(const std::wstring& path, std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= kLargestScript;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
             read == bytes.size();
    }
    CloseHandle(file);
    return ok;
}

// The engine's ProgID for a script file name, or empty.
std::wstring language_of(const std::wstring& path)
{
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos) return {};
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
    if (extension == L"vbs") return L"VBScript";
    if (extension == L"js") return L"JScript";
    return {};
}

int fail(const std::wstring& message)
{
    write_line(stderr, L"scripthost: " + message);
    return kHostFailure;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Plain line feeds, whatever the C runtime's text mode would add.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) return fail(L"usage: scripthost.exe <file.vbs|file.js> [arguments...]");
    const std::wstring path = argv[1];
    const std::wstring language = language_of(path);
    if (language.empty()) return fail(L"cannot tell the script language of " + path + L": use .vbs or .js");
    std::string bytes;
    if (!read_file(path, bytes)) return fail(L"cannot read " + path);

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return fail(L"cannot initialise COM");
    int exit_code = 0;
    {
        const ComPtr<ScriptHost> host =
            make_com<ScriptHost>(path, std::vector<std::wstring>(argv + 2, argv + argc));
        exit_code = host->run(language, decode_script(bytes));
    }
    CoUninitialize();
    return exit_code;
}
