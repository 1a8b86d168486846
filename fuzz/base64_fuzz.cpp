// Base64 against OpenSSL's encoder. Inputs are repeated up to eight times to
// cross the blocks of the text encoder.
#include <algorithm>
#include <memory>

#include "mime/base64.h"
#include "oracle.h"

using namespace corvane;
using namespace corvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t copies = 1 + data[0] % 8;
  std::string input;
  for (size_t k = 0; k < copies; ++k) input.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string expected = Base64Naive(input);
  FUZZ_CHECK(Base64Length(input.size()) == expected.size());

  // Exactly sized heap buffers, so the sanitizer sees a write or read past the end.
  const auto in = std::make_unique<uint8_t[]>(input.size());
  std::copy(input.begin(), input.end(), in.get());
  const auto narrow = std::make_unique<char[]>(expected.size());
  EncodeBase64Bytes(in.get(), input.size(), narrow.get());
  FUZZ_CHECK(std::string_view(narrow.get(), expected.size()) == expected);

  const std::u16string wide = Widen(expected);
  const auto out16 = std::make_unique<char16_t[]>(expected.size());
  EncodeBase64Bytes(in.get(), input.size(), out16.get());
  FUZZ_CHECK(std::u16string_view(out16.get(), expected.size()) == wide);

  // Text: one byte per character; beyond ISO-8859-1 the native host writes "?".
  std::u16string text(input.begin(), input.end());
  for (size_t i = 0; i < text.size(); i += 97) text[i] = u'\u20AC';
  std::u16string encoded = u"stale";
  EncodeBase64(text, encoded);
  FUZZ_CHECK(encoded == Widen(Base64Naive(Latin1(text))));
  return 0;
}
