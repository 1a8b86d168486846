#pragma once
// The control class Corvane: the core's control behind the dual interface
// _Corvane, with its events __Corvane raised through a connection point.
#include <windows.h>

namespace corvane::win {

HRESULT createCorvaneControl(REFIID riid, void** object) noexcept;

}  // namespace corvane::win
