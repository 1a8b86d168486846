#pragma once
// The messages of the mail benchmarks, made the same way by the native program and
// the one that drives the OCX under Wine. Bytes are characters 0 to 255 one for
// one, as the control's 8-bit character set maps them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::bench {

constexpr size_t kLineLength = 76;
// A 10 MiB body of 76-character lines.
constexpr size_t kSendLines = (size_t{10} << 20) / kLineLength;
constexpr size_t kAttachmentBytes = size_t{10} << 20;
constexpr char kSubject[] = "Corvane benchmark";
// The many-small-messages session: 2,000 messages of about 2 KiB.
constexpr size_t kManyMessages = 2000;
constexpr size_t kSmallBytes = 2048;
constexpr size_t kSmallLines = kSmallBytes / (kLineLength + 2);

// Line i of a body: printable characters, and now and then a leading dot, which
// the sender doubles and the receiver undoes.
inline std::string BodyLine(size_t i) {
  std::string line(kLineLength, ' ');
  for (size_t k = 0; k < kLineLength; ++k) line[k] = static_cast<char>('!' + (i + k) % 90);
  if (i % 1000 == 999) line[0] = '.';
  return line;
}

// What Send gets as its mail: the lines joined by CR LF, none after the last.
inline std::string SendBody(size_t lines = kSendLines) {
  std::string body;
  body.reserve(lines * (kLineLength + 2));
  for (size_t i = 0; i < lines; ++i) {
    if (i > 0) body += "\r\n";
    body += BodyLine(i);
  }
  return body;
}

// The message as Send puts it on the wire before the final dot: its Subject line
// and the body, each line ending in CR LF (dot-stuffing is the sender's part).
inline std::string SendMessage(const std::string& body) {
  return std::string("Subject: ") + kSubject + "\r\n" + body + "\r\n";
}

// A message for a Maildir (LF line ends) whose text on the POP3 wire, with CR LF,
// is about `bytes` long.
inline std::string MaildirMessage(size_t bytes) {
  std::string text = "From: <u1@corvane.test>\nTo: <u2@corvane.test>\nSubject: ";
  text += kSubject;
  text += "\n\n";
  for (size_t i = 0; text.size() + text.size() / kLineLength < bytes; ++i) text += BodyLine(i) + "\n";
  return text;
}

// Whether what Retrieve returned is a status line and then `message` (from
// MaildirMessage) with CR LF line ends.
template <class Char>
bool IsRetrieved(std::basic_string_view<Char> text, const std::string& message) {
  size_t at = text.find(Char('\n'));
  if (at == text.npos || at < 3 || text[0] != '+' || text[1] != 'O' || text[2] != 'K') return false;
  ++at;
  for (char c : message) {
    if (c == '\n' && (at + 1 >= text.size() || text[at++] != '\r')) return false;
    if (at >= text.size() || text[at++] != static_cast<unsigned char>(c)) return false;
  }
  return at == text.size();
}

// Bytes of every value, as a binary attachment holds them.
inline std::string Attachment(size_t bytes = kAttachmentBytes) {
  std::string data(bytes, '\0');
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (char& c : data) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = static_cast<char>(state >> 56);
  }
  return data;
}

// The mean seconds per message over the first and the last quarter of a session.
struct Quarters {
  double first = 0, last = 0;
};

// Runs each(0) to each(count - 1), stopping at the first that fails (then all zero).
// Level quarters show that nothing grows with the session.
template <class Now, class Each>
Quarters TimeEach(size_t count, Now now, Each each) {
  const size_t quarter = count / 4;
  const double start = now();
  double firstEnd = 0, lastStart = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i == count - quarter) lastStart = now();
    if (!each(i)) return {};
    if (i + 1 == quarter) firstEnd = now();
  }
  return {(firstEnd - start) / quarter, (now() - lastStart) / quarter};
}

}  // namespace corvane::bench
