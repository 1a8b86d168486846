#pragma once
// A host character set like a Windows ANSI code page, for the tests of what
// depends on the host's 8-bit character set.
#include <array>
#include <memory>
#include <optional>

#include "text/charset.h"

namespace corvane::testing_support {

// Latin-1 except that byte 0x80 is the euro sign and byte 0x9F is Y with
// diaeresis, so U+0080 and U+009F have no byte and become "?".
inline constexpr char16_t kEuro = u'\u20AC';
inline constexpr char16_t kYDiaeresis = u'\u0178';

// Installs that character set for its lifetime and restores ISO-8859-1 after.
// `lossy`, byte 0x81 is the euro sign too, so it goes out as 0x80.
class WindowsLikeHostCharset {
 public:
  explicit WindowsLikeHostCharset(bool lossy = false) {
    std::array<char16_t, 256> chars{};
    for (int b = 0; b < 256; ++b) chars[b] = static_cast<char16_t>(b);
    chars[0x80] = kEuro;
    chars[0x9F] = kYDiaeresis;
    if (lossy) chars[0x81] = kEuro;
    setHostCharset(std::make_unique<ByteCharset>(chars, '?'));
  }
  ~WindowsLikeHostCharset() { setHostCharset(nullptr); }
  WindowsLikeHostCharset(const WindowsLikeHostCharset&) = delete;
  WindowsLikeHostCharset& operator=(const WindowsLikeHostCharset&) = delete;
};

// That set for its lifetime when `windowsLike`, else ISO-8859-1: rows of a table
// each set up their own, so a row after a Windows-like one checks it is gone.
struct HostCharsetFor {
  explicit HostCharsetFor(bool windowsLike) {
    if (windowsLike) charset.emplace();
  }
  std::optional<WindowsLikeHostCharset> charset;
};

}  // namespace corvane::testing_support
