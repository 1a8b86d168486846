#pragma once
// The property pages pagPOP3 ("Receiving") and pagSMTP ("Sending").
#include <windows.h>

namespace corvane::win {

HRESULT createPop3Page(REFIID riid, void** object) noexcept;
HRESULT createSmtpPage(REFIID riid, void** object) noexcept;

}  // namespace corvane::win
