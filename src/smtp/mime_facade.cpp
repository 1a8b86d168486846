// The control's facade over its own MIME object: addresses normalised on the way
// in, and files attached as base64 parts.
#include "smtp/mime_facade.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "control/corvane.h"
#include "control/errors.h"
#include "text/charset.h"
#include "text/header_words.h"

namespace corvane {

std::optional<std::u16string> NormaliseAddress(const std::u16string& value) {
  const size_t lastBlank = value.rfind(u' ');
  const size_t word = lastBlank == std::u16string::npos ? 0 : lastBlank + 1;
  std::u16string address = value.substr(word);
  if (address.empty() || address.find(u'@') == std::u16string::npos) return std::nullopt;
  if (!(address.front() == u'<' && address.back() == u'>')) address = u"<" + address + u">";
  return value.substr(0, word) + address;
}

void Corvane::MimeFrom(const std::u16string& value) {
  if (auto address = NormaliseAddress(value)) mimeObj_->From(*address);
}

void Corvane::MimeTo(const std::u16string& value) {
  if (auto address = NormaliseAddress(value)) mimeObj_->Too(*address);
}

void Corvane::MimeNotification(const std::u16string& value) {
  if (auto address = NormaliseAddress(value)) mimeObj_->Notification(*address);
}

namespace {

constexpr std::u16string_view kNul(u"\0", 1);

[[noreturn]] void FileError(ErrorNumber number, const std::u16string& file) {
  throw AutomationError(number,
                        AutomationError::standardDescription(number) + ": '" + Utf8(ReplaceAll(file, kNul, u"%00")) + "'");
}

// What separates folders in a path on this system.
#ifdef _WIN32
constexpr std::u16string_view kPathSeparators = u"\\/";
#else
constexpr std::u16string_view kPathSeparators = u"/";
#endif

// The name a part is given: the path's last element, so that the sender's
// folders stay out of the message.
std::u16string LastPathElement(const std::u16string& file) {
  const size_t separator = file.find_last_of(kPathSeparators);
  return separator == std::u16string::npos ? file : file.substr(separator + 1);
}

// The whole file, one character per byte in the host's character set. A path
// that names no existing file fails; nothing is ever created.
std::u16string ReadFileChars(const std::u16string& file) {
  namespace fs = std::filesystem;
  const fs::path path(file);
  // The system would read the path only up to a NUL: another file.
  if (file.find(kNul) != std::u16string::npos) FileError(ErrorNumber::BadFileName, file);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (file.empty() || status.type() == fs::file_type::not_found) {
    const fs::path folder = path.parent_path();
    const bool folderMissing = !folder.empty() && !fs::is_directory(folder, error);
    FileError(folderMissing ? ErrorNumber::PathNotFound : ErrorNumber::FileNotFound, file);
  }
  if (fs::is_directory(status)) FileError(ErrorNumber::PathFileAccess, file);

  std::ifstream in(path, std::ios::binary);
  if (!in) FileError(ErrorNumber::PathFileAccess, file);
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0) FileError(ErrorNumber::PathFileAccess, file);
  if (static_cast<unsigned long long>(length) > Mime::kMaxMessageLength)
    FileError(ErrorNumber::OutOfMemory, file);
  std::u16string chars(static_cast<size_t>(length), u'\0');
  in.seekg(0);
  // A block at a time, so that the file's bytes are never held beside its text.
  std::string block(size_t{1} << 16, '\0');
  for (size_t at = 0, n; at < chars.size(); at += n) {
    n = std::min(block.size(), chars.size() - at);
    if (!in.read(block.data(), static_cast<std::streamsize>(n))) FileError(ErrorNumber::PathFileAccess, file);
    hostCharset().fromBytes(std::string_view(block.data(), n), chars.data() + at);
  }
  return chars;
}

}  // namespace

void Corvane::MimeContentAddFromFile(int32_t id, const std::u16string& file, const std::u16string& alias) {
  const std::u16string type =
      u"application/octet-stream; name=\"" + QuotedText(alias.empty() ? LastPathElement(file) : alias) + u"\"";
  mimeObj_->ContentAdd(id, ReadFileChars(file));
  mimeObj_->ContentEncoding(id, u"base64");
  mimeObj_->ContentType(id, type);
}

}  // namespace corvane
