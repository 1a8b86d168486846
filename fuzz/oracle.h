#pragma once
// Plain, obviously slow statements of the rules the core implements fast: each
// target checks the core against these. Stops the run on the first difference.
#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/charset.h"

namespace corvane::fuzz {

#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

// One character per byte, as the native host's ISO-8859-1 reads them.
inline std::u16string Widen(std::string_view bytes) { return std::u16string(bytes.begin(), bytes.end()); }

// A value that would break the command or header line it is written into.
inline bool BreaksItsLine(std::u16string_view value) {
  for (const char16_t c : value)
    if (c == u'\r' || c == u'\n' || c == u'\0') return true;
  return false;
}

inline void Show(const char* what, std::u16string_view text) {
  std::fprintf(stderr, "%s: '%s'\n", what, Utf8(text).c_str());
}

// Every non-overlapping occurrence of `find`, left to right, replaced.
inline std::u16string ReplaceNaive(std::u16string_view text, std::u16string_view find, std::u16string_view by) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text.substr(i, find.size()) == find) {
      out += by;
      i += find.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

// The pieces of text between the non-overlapping occurrences of `at`.
inline std::vector<std::u16string> SplitNaive(std::u16string_view text, std::u16string_view at) {
  std::vector<std::u16string> pieces(1);
  for (size_t i = 0; i < text.size();) {
    if (text.substr(i, at.size()) == at) {
      pieces.emplace_back();
      i += at.size();
    } else {
      pieces.back() += text[i++];
    }
  }
  return pieces;
}

// A field read as a number: blanks, tabs and line feeds dropped wherever they
// stand, then the longest prefix of the form [+-] digits [. digits] [e [+-] digits].
inline double NumberNaive(std::u16string_view field) {
  std::string s;
  for (char16_t c : field)
    if (c != u' ' && c != u'\t' && c != u'\n') s += c < 128 ? static_cast<char>(c) : '?';
  auto digit = [&](size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = 0;
  while (digit(i)) ++i, ++mantissa;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (digit(i)) ++i, ++mantissa;
  }
  if (mantissa == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (digit(j)) {
      while (digit(j)) ++j;
      i = j;
    }
  }
  return std::strtod(s.substr(0, i).c_str(), nullptr);  // the C locale: "." is the point
}

// Rounded half to even, if it fits [lowest, highest].
inline std::optional<int64_t> RoundNaive(double v, int64_t lowest, int64_t highest) {
  if (!(v > static_cast<double>(lowest) - 1 && v < static_cast<double>(highest) + 1)) return std::nullopt;
  const double f = std::floor(v);
  const double rest = v - f;
  double r = rest < 0.5 ? f : rest > 0.5 ? f + 1 : (std::fmod(f, 2) == 0 ? f : f + 1);
  if (r < static_cast<double>(lowest) || r > static_cast<double>(highest)) return std::nullopt;
  return static_cast<int64_t>(r);
}

// Base64 by OpenSSL, one 57-byte line at a time joined by CR LF.
inline std::string Base64Naive(std::string_view bytes) {
  std::string out;
  for (size_t at = 0; at < bytes.size(); at += 57) {
    if (at != 0) out += "\r\n";
    unsigned char line[77];
    const int n = EVP_EncodeBlock(line, reinterpret_cast<const unsigned char*>(bytes.data()) + at,
                                  static_cast<int>(std::min<size_t>(57, bytes.size() - at)));
    out.append(reinterpret_cast<char*>(line), static_cast<size_t>(n));
  }
  return out;
}

// The bytes of text in the native host's character set: "?" beyond ISO-8859-1.
inline std::string Latin1(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += static_cast<char>(c < 256 ? c : '?');
  return out;
}

}  // namespace corvane::fuzz
