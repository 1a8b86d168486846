#include "windows/host/winsock_socket.h"

#include <algorithm>
#include <new>
#include <atomic>
#include <cstdio>
#include <utility>

#include "transport/socket_errors.h"
#include "text/charset.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace corvane::win {

namespace {

constexpr long kNotifications = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;
constexpr size_t kPlainPiece = 65536;
constexpr int kReceiveChunk = 1 << 18;  // as much as one recv() takes
// TLS failures carry the numbers Windows gives secure-channel and certificate
// failures, the same as on the POSIX host.
int tlsNumberOf(long status) {
  switch (static_cast<unsigned long>(status)) {
    case static_cast<unsigned long>(CERT_E_EXPIRED):
    case static_cast<unsigned long>(SEC_E_CERT_EXPIRED):
      return socket_error::kTlsCertificateExpired;
    case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
    case static_cast<unsigned long>(SEC_E_WRONG_PRINCIPAL):
      return socket_error::kTlsHostnameMismatch;
    case static_cast<unsigned long>(SEC_E_UNTRUSTED_ROOT):
    case static_cast<unsigned long>(SEC_E_CERT_UNKNOWN):
      return socket_error::kTlsCertificateUntrusted;
  }
  return HRESULT_FACILITY(status) == FACILITY_CERT ? socket_error::kTlsCertificateUntrusted
                                                   : socket_error::kTlsFailure;
}

std::wstring reasonOf(int error) {
  switch (error) {
    case WSAECONNREFUSED: return L"the connection was refused";
    case WSAETIMEDOUT: return L"the connection timed out";
    case WSAECONNRESET: return L"the connection was reset by the peer";
    case WSAECONNABORTED: return L"the connection was aborted";
    case WSAENETUNREACH: return L"the network is unreachable";
    case WSAEHOSTUNREACH: return L"the host is unreachable";
    case WSAHOST_NOT_FOUND: return L"no such host is known";
    case WSATRY_AGAIN: return L"the name server did not answer";
    case WSANO_DATA: return L"the name has no address";
  }
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason = length ? std::wstring(text, length) : L"Winsock error " + std::to_wstring(error);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L'.'))
    reason.pop_back();
  return reason;
}

}  // namespace

// A host name lookup on a thread of its own, so that Connect returns at once. The
// thread holds the lookup and a reference to this module until it ends; the
// socket may have gone or moved on by then, and it ignores a stale result.
struct WinsockSocket::Lookup {
  std::wstring host;
  std::wstring port;
  HWND window;
  UINT message;
  std::atomic<bool> done{false};
  int error = 0;
  ADDRINFOW* addresses = nullptr;

  ~Lookup() {
    if (addresses) FreeAddrInfoW(addresses);
  }

  struct Job {
    std::shared_ptr<Lookup> lookup;
    HMODULE module;
  };

  static DWORD WINAPI run(void* parameter) {
    HMODULE module;
    {
      const std::unique_ptr<Job> job(static_cast<Job*>(parameter));
      module = job->module;
      Lookup& lookup = *job->lookup;
      WSADATA data;
      const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
      ADDRINFOW hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_protocol = IPPROTO_TCP;
      lookup.error = GetAddrInfoW(lookup.host.c_str(), lookup.port.c_str(), &hints, &lookup.addresses);
      if (started) WSACleanup();
      lookup.done.store(true, std::memory_order_release);
      PostMessageW(lookup.window, lookup.message, 0, kLookedUp);
    }
    FreeLibraryAndExitThread(module, 0);
  }
};

WinsockSocket::WinsockSocket(std::shared_ptr<MessageWindow> window, SocketEvents& events, IUnknown* owner)
    : MessageTarget(owner), window_(std::move(window)), events_(events), taskMessage_(window_->claim(*this)) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockSocket::~WinsockSocket() {
  if (state_ == kConnected) flush(true);  // what was reported sent must not be lost
  release();
  window_->release(taskMessage_);
  WSACleanup();
}

template <class Event>
bool WinsockSocket::raise(Event&& event) {
  const auto alive = aliveToken();
  event();
  return !alive.expired();
}

std::u16string WinsockSocket::LocalHostName() const {
  char name[256];
  if (gethostname(name, sizeof name) != 0) return {};
  return hostCharset().fromBytes(name);
}

char* WinsockSocket::inbox() {
  if (!inbox_) inbox_ = std::make_unique_for_overwrite<char[]>(kReceiveChunk);
  return inbox_.get();
}

std::wstring WinsockSocket::peer() const { return host_ + L" port " + std::to_wstring(port_); }

// The calls' own work waits for the pump without a message of its own: the
// lookup thread, which is not the window's, is the only one that posts.
void WinsockSocket::schedule(Task task) {
  if (task == kFlush) {
    if (flushScheduled_) return;
    flushScheduled_ = true;
  }
  window_->defer(taskMessage_, task);
}

void WinsockSocket::Connect(const std::u16string& host, int32_t port) {
  if (state_ != kClosed) {
    const bool connected = state_ == kConnected || state_ == kPeerClosed;
    deferError(connected ? WSAEISCONN : WSAEALREADY,
               L"Connecting to " + toWide(host) + L" failed: the socket is already " +
                   (connected ? L"connected" : L"connecting"));
    return;
  }
  host_ = toWide(host);
  port_ = port;
  if (host.empty()) return deferError(WSAHOST_NOT_FOUND, L"Connecting failed: no host name was given");
  if (port < 1 || port > 65535)
    return deferError(WSAEINVAL, L"Connecting to " + peer() + L" failed: the port is outside 1 to 65535");

  lookup_ = std::make_shared<Lookup>();
  lookup_->host = host_;
  lookup_->port = std::to_wstring(port);
  lookup_->window = window_->handle();
  lookup_->message = taskMessage_;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&__ImageBase), &module);
  auto job = std::make_unique<Lookup::Job>(Lookup::Job{lookup_, module});
  const HANDLE thread = CreateThread(nullptr, 0, Lookup::run, job.get(), 0, nullptr);
  if (!thread) {
    FreeLibrary(module);
    lookup_.reset();
    return deferError(WSAENOBUFS, L"Looking up " + host_ + L" failed: no thread could be started");
  }
  job.release();
  CloseHandle(thread);
  state_ = kResolving;
}

void WinsockSocket::lookedUp() {
  if (state_ != kResolving || !lookup_ || !lookup_->done.load(std::memory_order_acquire)) return;
  if (lookup_->error != 0) {
    const int error = lookup_->error;
    return fail(error, L"Looking up " + host_, reasonOf(error));
  }
  state_ = kConnecting;
  nextAddress_ = lookup_->addresses;
  connectNext(WSAHOST_NOT_FOUND);
}

// Tries the addresses in turn (a name such as localhost has an IPv6 and an IPv4
// one, and the server may listen on only one of them).
void WinsockSocket::connectNext(int lastError) {
  if (socket_ != INVALID_SOCKET) {
    closesocket(std::exchange(socket_, INVALID_SOCKET));
    window_->release(std::exchange(networkMessage_, 0));
  }
  while (nextAddress_) {
    const ADDRINFOW* address = std::exchange(nextAddress_, nextAddress_->ai_next);
    const SOCKET attempt = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (attempt == INVALID_SOCKET) {
      lastError = WSAGetLastError();
      continue;
    }
    // Commands are single lines; none should wait for the acknowledgement of
    // another (with Nagle's rule, each small send after the first waits ~50 ms).
    const BOOL on = TRUE;
    setsockopt(attempt, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    const UINT message = window_->claim(*this);
    // WSAAsyncSelect also makes the socket non-blocking.
    if (WSAAsyncSelect(attempt, window_->handle(), message, kNotifications) == 0 &&
        (connect(attempt, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0 ||
         WSAGetLastError() == WSAEWOULDBLOCK)) {
      socket_ = attempt;
      networkMessage_ = message;
      return;
    }
    lastError = WSAGetLastError();
    closesocket(attempt);
    window_->release(message);
  }
  fail(lastError, L"Connecting to " + peer(), reasonOf(lastError));
}

void WinsockSocket::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskMessage_) {
    switch (lParam) {
      case kLookedUp: return lookedUp();
      case kFlush: flushScheduled_ = false; return flush();
      case kPostedFlush: flushPosted_ = false; return flush();
      case kComplete: return completeIfReady();
      case kReportErrors: return reportDeferredErrors();
      case kUpgrade:  // unless a Close, or a Close and a Connect, came first
        if (state_ == kConnecting && !tls_ && !lookup_) beginTls();
        return;
    }
    return;
  }
  if (message != networkMessage_ || wParam != socket_) return;
  const int error = WSAGETSELECTERROR(lParam);
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
      if (state_ != kConnecting) return;
      return error ? connectNext(error) : connected();
    case FD_READ:
      if (error) return fail(error, L"Receiving from " + peer(), reasonOf(error));
      return receive();
    case FD_WRITE:
      if (error) return fail(error, L"Sending to " + peer(), reasonOf(error));
      return flush();
    case FD_CLOSE:
      if (error) {
        const auto alive = aliveToken();
        receive();
        if (alive.expired() || message != networkMessage_) return;  // closed while handling what arrived
        return fail(error, L"The connection to " + peer(), reasonOf(error));
      }
      return peerClosed();
  }
}

void WinsockSocket::OnException(std::exception_ptr failure) noexcept {
  int number = WSAENOBUFS;
  std::wstring reason = L"out of memory";
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
  } catch (...) {
    number = socket_error::kOtherSystemError;
    reason = L"an internal error";
  }
  try {
    fail(number, L"The connection to " + peer(), reason);
  } catch (...) {
    release();  // even the report failed: at least the connection ends
  }
}

void WinsockSocket::connected() {
  lookup_.reset();
  nextAddress_ = nullptr;
  if (!secured_) {
    state_ = kConnected;
    return flush();
  }
  beginTls();
}

void WinsockSocket::beginTls() {
  try {
    tls_ = std::make_unique<TlsChannel>(host_);
    sendQueue_.Stage(tls_->start());
  } catch (const TlsError& error) {
    return failTls(error);
  }
  flush();
}

// One recv() per FD_READ: Winsock posts FD_READ again while more is waiting, so a
// fast sender cannot hold the pump.
void WinsockSocket::receive() {
  const int got = recv(socket_, inbox(), kReceiveChunk, 0);
  if (got > 0) return accept(std::string_view(inbox_.get(), static_cast<size_t>(got)));
  // Nothing (a notification that a previous recv() overtook), or the peer's
  // FIN, which FD_CLOSE reports.
  const int error = got < 0 ? WSAGetLastError() : 0;
  if (error && error != WSAEWOULDBLOCK) fail(error, L"Receiving from " + peer(), reasonOf(error));
}

void WinsockSocket::accept(std::string_view bytes) {
  const size_t before = received_.size();
  bool closedByPeer = false;
  if (!tls_) {
    received_.append(bytes);
  } else {
    incoming_.append(bytes);
    std::string answer;
    try {
      const TlsChannel::Status status = tls_->feed(incoming_, received_, answer);
      closedByPeer = status == TlsChannel::Status::kClosedByPeer;
      if (state_ == kConnecting && status != TlsChannel::Status::kHandshaking) state_ = kConnected;
    } catch (const TlsError& error) {
      // Text decrypted before the failing record is handed over first.
      if (received_.size() > before) {
        const UINT connection = networkMessage_;
        sendQueue_.Arrived(window_->pumps());
        if (!raise([&] { events_.DataArrival(static_cast<int32_t>(received_.size())); })) return;
        if (networkMessage_ != connection || socket_ == INVALID_SOCKET) return;  // closed by the handler
      }
      return failTls(error);
    }
    const bool answered = !answer.empty();
    if (answered) sendQueue_.Stage(std::move(answer));
    if (answered || state_ == kConnected) {
      const auto alive = aliveToken();
      flush();
      if (alive.expired() || socket_ == INVALID_SOCKET) return;
    }
  }
  if (received_.size() > before) {
    sendQueue_.Arrived(window_->pumps());
    window_->received();
    if (!raise([&] { events_.DataArrival(static_cast<int32_t>(received_.size())); })) return;
  }
  if (closedByPeer) peerClosed();
}

void WinsockSocket::peerClosed() {
  if (state_ == kConnecting) {
    return fail(socket_error::kTlsFailure, L"The TLS handshake with " + peer(), L"the server closed the connection");
  }
  if (state_ != kConnected) return;
  // What is still on its way in comes first: the peer has stopped sending, so
  // this ends.
  const auto alive = aliveToken();
  const UINT connection = networkMessage_;
  for (;;) {
    const int got = recv(socket_, inbox(), kReceiveChunk, 0);
    if (got <= 0) break;
    accept(std::string_view(inbox_.get(), static_cast<size_t>(got)));
    if (alive.expired() || networkMessage_ != connection || state_ != kConnected) return;
  }
  state_ = kPeerClosed;
  raise([&] { events_.Closed(); });
}

void WinsockSocket::SendData(const std::u16string& data) {
  if (state_ == kClosed || state_ == kPeerClosed) {
    return deferError(WSAENOTCONN, L"Sending failed: the socket is not connected");
  }
  sendQueue_.Add(data, window_->pumps(), state_ == kConnected);
  // Sending happens in the pump, so SendProgress and SendComplete come from there.
  if (state_ != kConnected) return;
  if (sendQueue_.Joined()) {
    schedule(kComplete);
    // Whoever reads the thread's queue next sends the batch: this pump or a later
    // one, or the application's own loop once the control has returned.
    if (!flushPosted_) flushPosted_ = PostMessageW(window_->handle(), taskMessage_, 0, kPostedFlush) != 0;
  } else {
    schedule(kFlush);
  }
}

void WinsockSocket::completeIfReady() {
  if (state_ != kConnected || !sendQueue_.CompleteReady()) return;
  sendQueue_.Completed(window_->pumps());
  raise([&] { events_.SendComplete(); });
}

void WinsockSocket::flush(bool quiet) {
  // Events raised here may call back into the socket, pump or close it: every
  // pass reads the members afresh.
  while (socket_ != INVALID_SOCKET) {
    if (!sendQueue_.Staged()) {
      if (state_ != kConnected || sendQueue_.Queued() == 0) break;
      try {
        sendQueue_.StageNext(tls_ ? tls_->maxPiece() : kPlainPiece, [&](std::string_view piece) {
          return tls_ ? tls_->encrypt(piece) : std::string(piece);
        });
      } catch (const TlsError& error) {
        if (!quiet) failTls(error);
        return;
      }
    }
    const std::string_view wire = sendQueue_.Next(0);  // what is staged
    const int sent = send(socket_, wire.data(), static_cast<int>(wire.size()), 0);
    if (sent < 0) {
      const int error = WSAGetLastError();
      if (!quiet && error != WSAEWOULDBLOCK) fail(error, L"Sending to " + peer(), reasonOf(error));
      return;  // FD_WRITE follows when there is room again
    }
    const size_t text = sendQueue_.Wrote(static_cast<size_t>(sent));
    if (text == 0) continue;
    sentSinceIdle_ += text;
    // SendProgress takes 32-bit counts; a queue never drained may pass 2 GiB.
    const auto progress = static_cast<int32_t>(std::min<uint64_t>(sentSinceIdle_, INT32_MAX));
    const auto remaining = static_cast<int32_t>(std::min<size_t>(sendQueue_.Queued(), INT32_MAX));
    if (remaining == 0) sentSinceIdle_ = 0;  // progress counts from an empty queue
    if (quiet) continue;
    if (!raise([&] { events_.SendProgress(progress, remaining); })) return;
  }
  if (!quiet) completeIfReady();
}

void WinsockSocket::GetData(std::u16string& data) {
  data.resize(received_.size());
  hostCharset().fromBytes(received_, data.data());
  received_.clear();
}

void WinsockSocket::StartTls() {
  if (state_ != kConnected || tls_) {
    const bool secured = state_ == kConnected;
    release();
    return deferError(secured ? WSAEINVAL : WSAENOTCONN,
                      secured ? L"Upgrading the connection to " + peer() + L" to TLS failed: it is already secured"
                              : L"Upgrading to TLS failed: the socket is not connected");
  }
  // Whatever came before our hello is clear text: what waits unread is dropped
  // here (beyond a limit it is left to fail the handshake), anything later fails it.
  received_.clear();
  for (int dropped = 0; dropped < kReceiveChunk;) {
    const int got = recv(socket_, inbox(), kReceiveChunk - dropped, 0);
    if (got <= 0) break;
    dropped += got;
  }
  // The hello goes out from the next pump; what is queued waits for the handshake.
  state_ = kConnecting;
  schedule(kUpgrade);
}

void WinsockSocket::Close() {
  if (state_ == kClosed) return;
  // Sends already reported complete may still wait in the queue.
  if (state_ == kConnected) flush(true);
  if (tls_ && state_ == kConnected) {
    const std::string alert = tls_->closeNotify();
    if (!alert.empty()) send(socket_, alert.data(), static_cast<int>(alert.size()), 0);  // best effort
  }
  release();
}

// Ends the connection, or the attempt, at once and forgets everything of it. A
// lookup still running finishes on its own and is ignored.
void WinsockSocket::release() {
  if (socket_ != INVALID_SOCKET) closesocket(std::exchange(socket_, INVALID_SOCKET));
  if (networkMessage_) window_->release(std::exchange(networkMessage_, 0));
  lookup_.reset();
  nextAddress_ = nullptr;
  tls_.reset();
  incoming_.clear();
  received_.clear();
  sendQueue_.Clear();
  sentSinceIdle_ = 0;
  state_ = kClosed;
}

void WinsockSocket::fail(int number, const std::wstring& what, const std::wstring& reason) {
  release();
  std::u16string description = fromWide(what + L" failed: " + reason);
  raise([&] { events_.SocketError(static_cast<int16_t>(number), description); });
}

void WinsockSocket::failTls(const TlsError& error) {
  wchar_t status[16];
  std::swprintf(status, 16, L" (0x%08lX)", static_cast<unsigned long>(error.status));
  fail(tlsNumberOf(error.status), (state_ == kConnecting ? L"The TLS handshake with " : L"TLS with ") + peer(),
       error.reason + status);
}

// Failures found inside a call are reported from the pump, like all others.
void WinsockSocket::deferError(int number, std::wstring description) {
  deferredErrors_.emplace_back(static_cast<int16_t>(number), std::move(description));
  schedule(kReportErrors);
}

void WinsockSocket::reportDeferredErrors() {
  while (!deferredErrors_.empty()) {
    auto [number, text] = std::move(deferredErrors_.front());
    deferredErrors_.pop_front();
    std::u16string description = fromWide(text);
    if (!raise([&] { events_.SocketError(number, description); })) return;
  }
}

}  // namespace corvane::win
