#include "posix/posix_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "posix/socket_errors.h"
#include "text/charset.h"

namespace corvane::posix {

using namespace socket_error;

namespace {

// Beyond it the next pump goes on at once. Small beside a message: a 1 MiB
// retrieval peaks below 4 times its size.
constexpr size_t kMostReadPerPump = 1 << 18;
constexpr size_t kWriteChunk = 65536;         // one SendProgress per piece at most this big

bool IsIpLiteral(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
  inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

// Lookups abandoned by Close keep their thread until the resolver answers; a slow
// one must not let them pile up.
constexpr int kMostLookups = 8;
std::atomic<int> lookupsRunning{0};

int32_t Clamp32(size_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

}  // namespace

// A name lookup on a thread of its own, since getaddrinfo may take seconds; its end
// is signalled through a pipe that the pump polls. The thread holds a share of the
// lookup, so the socket may close or go away while the lookup still runs.
struct PosixSocket::Lookup {
  int readFd = -1;
  int writeFd = -1;
  std::mutex mutex;
  bool done = false;
  int error = 0;
  int savedErrno = 0;
  std::vector<Address> addresses;

  ~Lookup() {
    if (readFd >= 0) close(readFd);
    if (writeFd >= 0) close(writeFd);
  }

  void Run(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    const int rcErrno = errno;
    std::vector<Address> list;
    for (const addrinfo* a = rc == 0 ? found : nullptr; a; a = a->ai_next) {
      if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
      Address address{};
      std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
      address.length = a->ai_addrlen;
      list.push_back(address);
    }
    if (found) freeaddrinfo(found);
    {
      std::lock_guard lock(mutex);
      error = rc;
      savedErrno = rcErrno;
      addresses = std::move(list);
      done = true;
    }
    const char signal = 1;
    [[maybe_unused]] const ssize_t written = write(writeFd, &signal, 1);
    --lookupsRunning;
  }
};

PosixSocket::PosixSocket(std::shared_ptr<EventLoop> loop, SocketEvents& events)
    : loop_(std::move(loop)), id_(loop_->Add(*this)), events_(events) {}

PosixSocket::~PosixSocket() {
  Disconnect(true);
  loop_->Remove(id_);
}

std::u16string PosixSocket::LocalHostName() const {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return u"localhost";
  return hostCharset().fromBytes(name);
}

std::string PosixSocket::Endpoint() const {
  const bool ipv6 = host_.find(':') != std::string::npos;
  return (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

// --- The calls: they only change what the next pump waits for.

void PosixSocket::Connect(const std::u16string& host, int32_t port) {
  Disconnect(true);
  received_.clear();
  host_ = hostCharset().toBytes(host);
  tls_ = secured_;
  if (port < 1 || port > 65535) {
    port_ = 0;
    FailLater(kInvalidArgument, "Port out of range: " + std::to_string(port) + " (" + host_ + ")");
    return;
  }
  port_ = static_cast<uint16_t>(port);
  if (host_.empty() || host_.find('\0') != std::string::npos) {
    FailLater(kHostNotFound, "Host name lookup failed: no valid host name given (" + Endpoint() + ")");
    return;
  }
  StartLookup();
}

void PosixSocket::Close() { Disconnect(true); }

void PosixSocket::StartTls() {
  if (state_ != kConnected || tls_) {
    const bool secured = state_ == kConnected;
    Disconnect(false);
    FailLater(secured ? kInvalidArgument : kNotConnected,
              secured ? "TLS upgrade failed: the connection is already secured (" + Endpoint() + ")"
                      : std::string("TLS upgrade failed: not connected"));
    return;
  }
  // Whatever came before our hello is clear text: what waits unread is dropped
  // here (a lot of it is left to fail the handshake), anything later fails it.
  received_.clear();
  char drop[4096];
  for (size_t dropped = 0; dropped < kMostReadPerPump;) {
    const ssize_t n = recv(fd_, drop, sizeof drop, MSG_DONTWAIT);
    if (n <= 0) break;
    dropped += static_cast<size_t>(n);
  }
  // The next pump goes the way of a new connection's: the handshake, then kConnected.
  tls_ = true;
  state_ = kConnecting;
  readMore_ = readWaitsForWrite_ = writeWaitsForRead_ = ending_ = false;
  ++*connection_;  // the pump that called in here delivers nothing more of the clear text
}

void PosixSocket::SendData(const std::u16string& data) {
  if (state_ == kConnected || state_ == kResolving || state_ == kConnecting) {
    sendQueue_.Add(data, loop_->Pumps(), state_ == kConnected);
  } else if (!pendingError_) {
    FailLater(kNotConnected, "Not connected: nothing was sent");
  }
}

void PosixSocket::GetData(std::u16string& data) {
  data.swap(received_);
  received_.clear();
}

// --- The pump's side

PosixSocket::Wait PosixSocket::Waiting() {
  if (pendingError_) return {.ready = true};
  if (ending_) return {};
  switch (state_) {
    case kResolving:
      return {.fd = lookup_->readFd, .events = POLLIN};
    case kConnecting:
      return {.fd = fd_, .events = ssl_ ? handshakeWants_ : static_cast<short>(POLLOUT)};
    case kConnected: {
      const bool complete = sendQueue_.CompleteReady();
      const bool write = sendQueue_.WriteDue() && !writeWaitsForRead_;
      short events = POLLIN;
      if (write || readWaitsForWrite_) events |= POLLOUT;
      return {.fd = fd_, .events = events, .ready = readMore_ || complete};
    }
    default:
      return {};
  }
}

void PosixSocket::Handle(short revents) {
  if (pendingError_) {
    const auto [number, description] = std::move(*pendingError_);
    pendingError_.reset();
    Fail(number, description);
    return;
  }
  if (ending_) return;
  switch (state_) {
    case kResolving: TakeLookup(); break;
    case kConnecting: ssl_ ? ContinueHandshake() : FinishTcpConnect(); break;
    case kConnected: Transfer(revents); break;
    default: break;
  }
}

void PosixSocket::StartLookup() {
  if (++lookupsRunning > kMostLookups) {
    --lookupsRunning;
    FailLater(kLookupTryAgain, "Host name lookup failed: too many lookups are still waiting for the name server (" +
                                   Endpoint() + ")");
    return;
  }
  auto lookup = std::make_shared<Lookup>();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    --lookupsRunning;
    const int error = errno;
    FailLater(FromErrno(error), "Host name lookup failed: " + std::string(std::strerror(error)) + " (" +
                                    Endpoint() + ")");
    return;
  }
  lookup->readFd = fds[0];
  lookup->writeFd = fds[1];
  try {
    std::thread([lookup, host = host_, port = port_] { lookup->Run(host, port); }).detach();
  } catch (const std::system_error& e) {
    --lookupsRunning;
    FailLater(kLookupFailed, "Host name lookup failed: " + std::string(e.what()) + " (" + Endpoint() + ")");
    return;
  }
  lookup_ = std::move(lookup);
  state_ = kResolving;
}

void PosixSocket::TakeLookup() {
  char drain[16];
  while (read(lookup_->readFd, drain, sizeof drain) > 0) {
  }
  int error = 0;
  int savedErrno = 0;
  {
    std::lock_guard lock(lookup_->mutex);
    if (!lookup_->done) return;
    error = lookup_->error;
    savedErrno = lookup_->savedErrno;
    addresses_ = std::move(lookup_->addresses);
  }
  lookup_.reset();
  if (error != 0 || addresses_.empty()) {
    const std::string reason = error == 0            ? "no address"
                               : error == EAI_SYSTEM ? std::strerror(savedErrno)
                                                     : gai_strerror(error);
    Fail(error == 0 ? kHostNotFound : FromLookupError(error, savedErrno),
         "Host name lookup failed: " + reason + " (" + Endpoint() + ")");
    return;
  }
  nextAddress_ = 0;
  state_ = kConnecting;
  TryNextAddress();
}

// Tries the addresses in the order the lookup gave them, until one accepts.
void PosixSocket::TryNextAddress() {
  while (nextAddress_ < addresses_.size()) {
    const Address& address = addresses_[nextAddress_++];
    lastAddress_ = AddressText(address.storage);
    fd_ = socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      lastConnectErrno_ = errno;
      continue;
    }
    // Commands are single lines; none should wait for the acknowledgement of another.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
      FinishTcpConnect();
      return;
    }
    if (errno == EINPROGRESS || errno == EINTR) return;  // the pump waits for POLLOUT
    lastConnectErrno_ = errno;
    close(fd_);
    fd_ = -1;
  }
  Fail(FromErrno(lastConnectErrno_), std::string(std::strerror(lastConnectErrno_)) + " (" + lastAddress_ + ")");
}

void PosixSocket::FinishTcpConnect() {
  // The pump's report may be stale, so ask the socket itself.
  pollfd check{fd_, POLLOUT, 0};
  if (poll(&check, 1, 0) <= 0) return;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    lastConnectErrno_ = error;
    close(fd_);
    fd_ = -1;
    TryNextAddress();
    return;
  }
  addresses_.clear();
  if (tls_) {
    BeginHandshake();
  } else {
    state_ = kConnected;
  }
}

void PosixSocket::BeginHandshake() {
  std::string error;
  SSL_CTX* context = loop_->TlsContext(error);
  if (!context) {
    Fail(kTlsFailure, "TLS unavailable: " + error + " (" + Endpoint() + ")");
    return;
  }
  ssl_ = SSL_new(context);
  bool ready = ssl_ && SSL_set_fd(ssl_, fd_) == 1;
  // The certificate must name the host as it was given: an address for an
  // address, a name for a name (which also goes out as SNI).
  if (ready && IsIpLiteral(host_)) {
    ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str()) == 1;
  } else if (ready) {
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    ready = SSL_set_tlsext_host_name(ssl_, host_.c_str()) == 1 && SSL_set1_host(ssl_, host_.c_str()) == 1;
  }
  if (!ready) {
    Fail(kTlsFailure, "TLS unavailable: cannot prepare the session (" + Endpoint() + ")");
    return;
  }
  ContinueHandshake();
}

void PosixSocket::ContinueHandshake() {
  ERR_clear_error();
  const int rc = SSL_connect(ssl_);
  const int savedErrno = errno;
  if (rc == 1) {
    handshakeWants_ = 0;
    state_ = kConnected;
    readMore_ = true;  // a record that came with the handshake may already be buffered
    return;
  }
  switch (const int error = SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ: handshakeWants_ = POLLIN; break;
    case SSL_ERROR_WANT_WRITE: handshakeWants_ = POLLOUT; break;
    default: Fail(TlsFailure("TLS handshake failed", error, savedErrno));
  }
}

void PosixSocket::Transfer(short revents) {
  const bool readable = revents & (POLLIN | POLLHUP | POLLERR);
  const bool writable = revents & POLLOUT;
  if (readable || readMore_ || (readWaitsForWrite_ && writable)) {
    bool eof = false;
    if (!Receive(eof)) return;
    if (eof) {
      state_ = kPeerClosed;
      events_.Closed();
      return;
    }
  }
  if ((writable || (writeWaitsForRead_ && readable)) && !SendQueued()) return;
  if (sendQueue_.CompleteReady()) {
    sendQueue_.Completed(loop_->Pumps());
    events_.SendComplete();
  }
}

bool PosixSocket::Receive(bool& eof) {
  readMore_ = false;
  // Up to kMostReadPerPump bytes, then into characters in one piece.
  if (!inbox_) inbox_ = std::make_unique_for_overwrite<char[]>(kMostReadPerPump);
  size_t total = 0;
  IoResult result{Io::WouldBlock};
  while (true) {
    if (total == kMostReadPerPump) {
      readMore_ = true;
      break;
    }
    result = ReadSome(inbox_.get() + total, kMostReadPerPump - total);
    if (result.status != Io::Done) break;
    total += result.count;
  }
  const size_t held = received_.size();
  received_.resize(held + total);
  hostCharset().fromBytes(std::string_view(inbox_.get(), total), received_.data() + held);
  // What arrived before a close or a failure is handed over first.
  if (total > 0) {
    sendQueue_.Arrived(loop_->Pumps());
    const auto generation = connection_;
    const uint64_t connection = *generation;
    ending_ = result.status == Io::Eof || result.status == Io::Failed;
    events_.DataArrival(Clamp32(received_.size()));
    if (connection != *generation) return false;
    ending_ = false;
  }
  if (result.status == Io::Failed) {
    Fail(result);
    return false;
  }
  eof = result.status == Io::Eof;
  return true;
}

bool PosixSocket::SendQueued() {
  while (sendQueue_.Unsent() > 0) {
    const std::string_view next = sendQueue_.Next(kWriteChunk);
    const IoResult result = WriteSome(next.data(), next.size());
    if (result.status == Io::WouldBlock) return true;
    if (result.status != Io::Done) {
      Fail(result);
      return false;
    }
    sendQueue_.Wrote(result.count);
    const auto generation = connection_;
    const uint64_t connection = *generation;
    events_.SendProgress(Clamp32(result.count), Clamp32(sendQueue_.Unsent()));
    if (connection != *generation) return false;
  }
  return true;
}

PosixSocket::IoResult PosixSocket::ReadSome(char* buffer, size_t size) {
  if (!ssl_) {
    const ssize_t n = recv(fd_, buffer, size, 0);
    if (n > 0) return {Io::Done, static_cast<size_t>(n)};
    if (n == 0) return {Io::Eof};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {Io::WouldBlock};
    return SystemFailure(errno);
  }
  readWaitsForWrite_ = false;
  ERR_clear_error();
  const int n = SSL_read(ssl_, buffer, static_cast<int>(size));
  const int savedErrno = errno;
  if (n > 0) return {Io::Done, static_cast<size_t>(n)};
  switch (const int error = SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_READ: return {Io::WouldBlock};
    case SSL_ERROR_WANT_WRITE: readWaitsForWrite_ = true; return {Io::WouldBlock};
    case SSL_ERROR_ZERO_RETURN: return {Io::Eof};
    default: return TlsFailure("TLS connection failed", error, savedErrno);
  }
}

PosixSocket::IoResult PosixSocket::WriteSome(const char* data, size_t size) {
  if (!ssl_) {
    const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
    if (n >= 0) return {Io::Done, static_cast<size_t>(n)};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {Io::WouldBlock};
    return SystemFailure(errno);
  }
  writeWaitsForRead_ = false;
  ERR_clear_error();
  const int n = SSL_write(ssl_, data, static_cast<int>(size));
  const int savedErrno = errno;
  if (n > 0) return {Io::Done, static_cast<size_t>(n)};
  switch (const int error = SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_WRITE: return {Io::WouldBlock};
    case SSL_ERROR_WANT_READ: writeWaitsForRead_ = true; return {Io::WouldBlock};
    default: return TlsFailure("TLS connection failed", error, savedErrno);
  }
}

PosixSocket::IoResult PosixSocket::SystemFailure(int error) const {
  return {FromErrno(error), std::string(std::strerror(error)) + " (" + lastAddress_ + ")"};
}

PosixSocket::IoResult PosixSocket::TlsFailure(const char* what, int sslError, int savedErrno) const {
  const long verify = SSL_get_verify_result(ssl_);
  if (verify != X509_V_OK) {
    return {FromVerifyResult(verify),
            std::string("TLS certificate verification failed: ") + X509_verify_cert_error_string(verify) + " (" +
                Endpoint() + ")"};
  }
  if (sslError == SSL_ERROR_SYSCALL && savedErrno != 0) return SystemFailure(savedErrno);
  std::string reason = "the connection was closed by the peer";
  if (sslError == SSL_ERROR_SSL) {
    const unsigned long last = ERR_peek_last_error();
    const char* text = ERR_reason_error_string(last);
    reason = text ? text : "protocol error";
    switch (ERR_GET_REASON(last)) {
      case SSL_R_UNSUPPORTED_PROTOCOL:
      case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      case SSL_R_WRONG_SSL_VERSION:
      case SSL_R_VERSION_TOO_LOW:
        reason = "the protocol version was refused: TLS 1.2 or later is required";
    }
  }
  return {kTlsFailure, std::string(what) + ": " + reason + " (" + Endpoint() + ")"};
}

void PosixSocket::Fail(int16_t number, const std::string& description) {
  Disconnect(false);
  std::u16string text = ByteCharset::latin1().fromBytes(description);
  events_.SocketError(number, text);
}

void PosixSocket::FailLater(int16_t number, std::string description) {
  pendingError_.emplace(number, std::move(description));
}

void PosixSocket::Disconnect(bool polite) {
  const bool open = state_ == kConnected || state_ == kPeerClosed;
  // Sends already reported complete may still wait in the queue.
  while (polite && open && sendQueue_.Unsent() > 0) {
    const std::string_view next = sendQueue_.Next(kWriteChunk);
    const IoResult result = WriteSome(next.data(), next.size());
    if (result.status != Io::Done) break;
    sendQueue_.Wrote(result.count);
  }
  if (ssl_) {
    // One close_notify if the socket takes it now; the answer is not awaited.
    if (polite && open) {
      ERR_clear_error();
      SSL_shutdown(ssl_);
      ERR_clear_error();
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  lookup_.reset();
  addresses_.clear();
  nextAddress_ = 0;
  sendQueue_.Clear();
  readMore_ = readWaitsForWrite_ = writeWaitsForRead_ = ending_ = false;
  handshakeWants_ = 0;
  pendingError_.reset();
  state_ = kClosed;
  ++*connection_;
}

}  // namespace corvane::posix
