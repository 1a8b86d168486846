#pragma once
// The creatable class MIME: the message composer of the core behind the dual
// interface _MIME.
#include <windows.h>

namespace corvane::win {

HRESULT createMimeObject(REFIID riid, void** object) noexcept;

}  // namespace corvane::win
