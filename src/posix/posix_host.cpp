#include "posix/posix_host.h"

#include <csignal>
#include <cstdio>

#include "posix/event_loop.h"
#include "posix/posix_socket.h"

namespace corvane {

namespace {

// UTF-8 for the terminal; a lone surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

PosixHost::PosixHost() : loop_(std::make_shared<posix::EventLoop>()) {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
}

PosixHost::~PosixHost() = default;

void PosixHost::Pump() { loop_->Pump(kLongestPumpMilliseconds); }

double PosixHost::Now() {
  return std::chrono::duration<double>(posix::Clock::now().time_since_epoch()).count();
}

std::unique_ptr<Socket> PosixHost::CreateSocket(SocketEvents& events) {
  return std::make_unique<posix::PosixSocket>(loop_, events);
}

std::unique_ptr<Timer> PosixHost::CreateTimer(std::function<void()> tick) {
  return std::make_unique<posix::LoopTimer>(loop_, std::move(tick));
}

void PosixHost::MessageBox(const std::u16string& prompt, const std::u16string& caption) {
  if (messageBox_) {
    messageBox_(prompt, caption);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", Utf8(caption).c_str(), Utf8(prompt).c_str());
}

void PosixHost::PropertyChanged(const std::u16string& name) {
  if (propertyChanged_) propertyChanged_(name);
}

}  // namespace corvane
