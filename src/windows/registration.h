#pragma once
// The registry entries of the server: its type library, and for each class of the
// server table the class, its ProgID and the in-process server (apartment threaded),
// and for a control the control keys.
#include <windows.h>

namespace corvane::win {

HRESULT registerServer() noexcept;
// Removes every key registerServer writes; keys already gone are no error.
HRESULT unregisterServer() noexcept;

}  // namespace corvane::win
