// GenerateMime of a message with one 50 MB binary attachment: time, and peak
// memory of the whole process as a multiple of the attachment size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "mime/mime.h"

namespace {

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

}  // namespace

int main() {
  constexpr size_t kAttachment = 50u << 20;
  constexpr double kAttachmentMegabytes = kAttachment / 1048576.0;
  const double baseline = peakMegabytes();

  // A file attachment arrives as one character per byte of the file.
  std::u16string data(kAttachment, u'\0');
  std::mt19937 random(7);
  for (auto& c : data) c = static_cast<char16_t>(random() & 0xFF);

  corvane::Mime mime;
  mime.From(u"<dev@example.test>");
  mime.Too(u"<ops@example.test>");
  mime.Subject(u"Build artefacts");
  mime.ContentAdd(1, u"The artefacts are attached.");
  mime.ContentAdd(2, std::move(data));
  mime.ContentEncoding(2, u"base64");
  mime.ContentType(2, u"application/octet-stream; name=\"artefacts.bin\"");
  const double beforeGeneration = peakMegabytes();

  std::u16string message;
  const auto start = std::chrono::steady_clock::now();
  mime.GenerateMime(message);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double peak = peakMegabytes();

  std::printf("attachment          %8.1f MB\n", kAttachmentMegabytes);
  std::printf("message             %8.1f M characters (%.1f MB as UTF-16)\n", message.size() / 1e6,
              message.size() * 2 / 1048576.0);
  std::printf("GenerateMime        %8.1f ms  (%.0f MB/s of attachment)\n", seconds * 1e3,
              kAttachmentMegabytes / seconds);
  std::printf("peak memory         %8.1f MB  = %.2fx the attachment (process start: %.1f MB)\n", peak,
              (peak - baseline) / kAttachmentMegabytes, baseline);
  std::printf("added by generation %8.1f MB  = %.2fx the attachment\n", peak - beforeGeneration,
              (peak - beforeGeneration) / kAttachmentMegabytes);
  return message.empty() ? 1 : 0;
}
