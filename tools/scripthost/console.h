// Text in and out of the host: script files and the lines it writes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Writes `text` and a line feed as UTF-8 and flushes, so that output written
// before a crash or an ExitProcess is kept.
void write_line(std::FILE* stream, std::wstring_view text);

// A script file's text: UTF-8 (with or without a byte order mark) when it is
// valid UTF-8, otherwise the ANSI code page.
std::wstring decode_script(std::string_view bytes);
