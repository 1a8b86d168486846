// Base64 throughput: the control's encoder against OpenSSL's EVP_EncodeBlock
// called per 57-byte line straight into the output, on the same random data, in
// the same run. Both outputs must be identical.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mime/base64.h"

namespace {

using Clock = std::chrono::steady_clock;

void opensslEncode(const uint8_t* in, size_t size, char* out) {
  for (size_t at = 0; at < size; at += 57) {
    if (at != 0) {
      *out++ = '\r';
      *out++ = '\n';
    }
    const int n = static_cast<int>(std::min<size_t>(57, size - at));
    out += EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), in + at, n);
  }
}

// Best of `rounds` runs, in GB/s of input.
template <class Encode>
double throughput(Encode encode, size_t size, int rounds) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    encode();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return static_cast<double>(size) / best / 1e9;
}

}  // namespace

int main() {
  std::mt19937_64 random(2026);
  std::printf("%-8s %12s %12s %12s %8s  %s\n", "input", "corvane", "openssl", "utf-16", "ratio", "output");
  for (const size_t size : {size_t{1} << 20, size_t{64} << 20}) {
    std::vector<uint8_t> input(size);
    for (auto& b : input) b = static_cast<uint8_t>(random());
    const size_t length = corvane::Base64Length(size);
    std::string ours(length, '\0'), theirs(length + 1, '\0');  // EVP_EncodeBlock adds a NUL
    const int rounds = size < (8u << 20) ? 200 : 8;

    const double corvaneRate =
        throughput([&] { corvane::EncodeBase64Bytes(input.data(), size, ours.data()); }, size, rounds);
    const double opensslRate =
        throughput([&] { opensslEncode(input.data(), size, theirs.data()); }, size, rounds);

    // The member the message generator uses: UTF-16 in, UTF-16 out.
    std::u16string text(input.begin(), input.end()), encoded;
    const double wideRate = throughput([&] { corvane::EncodeBase64(text, encoded); }, size, rounds);

    theirs.resize(length);
    const bool same = ours == theirs && std::equal(encoded.begin(), encoded.end(), ours.begin(), ours.end());
    std::printf("%-8s %9.2f GB/s %7.2f GB/s %7.2f GB/s %7.2fx  %s\n",
                (std::to_string(size >> 20) + " MB").c_str(), corvaneRate, opensslRate, wideRate,
                corvaneRate / opensslRate, same ? "identical" : "DIFFERENT");
    if (!same) return 1;
  }
  return 0;
}
