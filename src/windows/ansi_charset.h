#pragma once
// The host's 8-bit character set under Windows: the ANSI code page.
#include <memory>

#include "text/charset.h"

namespace corvane::win {

// Byte b is the character MultiByteToWideChar(CP_ACP) gives for it alone; a byte
// that does not convert alone (a lead byte of a double-byte code page) stands for
// the character of the same code. Characters outside the page become '?'.
std::unique_ptr<ByteCharset> ansiCharset();

}  // namespace corvane::win
