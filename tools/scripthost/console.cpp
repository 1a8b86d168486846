#include "console.h"

#include <windows.h>

namespace {

std::wstring decode(UINT code_page, DWORD flags, std::string_view bytes)
{
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, flags, bytes.data(), size, text.data(), length);
    return text;
}

} // namespace

void write_line(std::FILE* stream, std::wstring_view text)
{
    std::string bytes;
    if (!text.empty()) {
        const int size = static_cast<int>(text.size());
        const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
        bytes.resize(static_cast<size_t>(length > 0 ? length : 0));
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    }
    bytes += '\n';
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

std::wstring decode_script(std::string_view bytes)
{
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (bytes.starts_with(bom)) return decode(CP_UTF8, 0, bytes.substr(bom.size()));
    std::wstring text = decode(CP_UTF8, MB_ERR_INVALID_CHARS, bytes);
    return text.empty() ? decode(CP_ACP, 0, bytes) : text;
}
