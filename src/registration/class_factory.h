#pragma once
#include <windows.h>

#include "server_classes.h"

namespace corvane::win {

// A class factory that makes its objects with `create`, asked for `riid`.
HRESULT createClassFactory(CreateFunction create, REFIID riid, void** object) noexcept;

}  // namespace corvane::win
