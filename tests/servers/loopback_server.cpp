#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace corvane::test_servers {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("loopback server: ") + what);
}

int ListenOnLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Check(fd >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  Check(bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0, "bind");
  Check(listen(fd, 64) == 0, "listen");
  Check(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
  port = ntohs(address.sin_port);
  return fd;
}

SSL_CTX* ServerContext(const Identity& identity) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  Check(context != nullptr, "TLS context");
  Check(SSL_CTX_use_certificate_file(context, identity.certificateFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
            SSL_CTX_use_PrivateKey_file(context, identity.keyFile.c_str(), SSL_FILETYPE_PEM) == 1,
        ("server certificate " + identity.certificateFile).c_str());
  return context;
}

}  // namespace

std::string ServerConnection::Read() {
  char buffer[16384];
  if (ssl_ && !clear_) {
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, n) : std::string();
  }
  ssize_t n;
  do n = recv(fd_, buffer, sizeof buffer, 0);
  while (n < 0 && errno == EINTR);
  return n > 0 ? std::string(buffer, n) : std::string();
}

bool ServerConnection::Readable(int milliseconds) const {
  pollfd wanted{fd_, POLLIN, 0};
  return (ssl_ && !clear_ && SSL_pending(ssl_) > 0) || poll(&wanted, 1, milliseconds) > 0;
}

bool ServerConnection::Write(std::string_view bytes, bool beneathTls) {
  while (!bytes.empty()) {
    ssize_t n;
    if (ssl_ && !clear_ && !beneathTls) {
      n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    } else {
      do n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      while (n < 0 && errno == EINTR);
    }
    if (n <= 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

bool ServerConnection::StartTls() {
  clear_ = false;
  return ssl_ && SSL_accept(ssl_) == 1;
}

void ServerConnection::Reset() {
  const linger abort{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  reset_ = true;
}

std::string ServerConnection::ServerName() const {
  const char* name = ssl_ ? SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name) : nullptr;
  return name ? name : "";
}

bool ServerConnection::ClientSentCloseNotify() const {
  return ssl_ && (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) != 0;
}

LoopbackServer::LoopbackServer(Behaviour behaviour, const Identity* tls, bool tls10Only, bool startPlain)
    : behaviour_(std::move(behaviour)), startPlain_(startPlain) {
  // A client that goes away must not end the test process.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) std::signal(SIGPIPE, SIG_IGN);
  if (tls) tls_ = ServerContext(*tls);
  if (tls_ && tls10Only) {
    // TLS 1.0 signs with SHA-1, which the default security level forbids.
    SSL_CTX_set_security_level(tls_, 0);
    Check(SSL_CTX_set_min_proto_version(tls_, TLS1_VERSION) == 1 &&
              SSL_CTX_set_max_proto_version(tls_, TLS1_VERSION) == 1,
          "TLS 1.0");
  }
  listenFd_ = ListenOnLoopback(port_);
  Check(pipe2(wakeFds_, O_CLOEXEC) == 0, "pipe");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  const char stop = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFds_[1], &stop, 1);
  acceptor_.join();
  {
    std::lock_guard lock(mutex_);
    for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
  }
  for (auto& connection : connections_) connection.join();
  close(listenFd_);
  close(wakeFds_[0]);
  close(wakeFds_[1]);
  SSL_CTX_free(tls_);
}

void LoopbackServer::AcceptLoop() {
  while (true) {
    pollfd fds[] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!fds[0].revents) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    openFds_.push_back(fd);
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void LoopbackServer::Serve(int fd) {
  SSL* ssl = nullptr;
  bool ready = true;
  if (tls_) {
    ssl = SSL_new(tls_);
    ready = ssl && SSL_set_fd(ssl, fd) == 1 && (startPlain_ || SSL_accept(ssl) == 1);
  }
  if (ready) {
    ++served_;
    ServerConnection connection(fd, ssl, startPlain_);
    behaviour_(connection);
    if (ssl && !connection.WasReset() && SSL_is_init_finished(ssl)) SSL_shutdown(ssl);
  }
  SSL_free(ssl);
  // Closed under the lock, so the destructor never shuts down a reused number.
  std::lock_guard lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  close(fd);
}

void Silent(ServerConnection& connection) {
  while (!connection.Read().empty()) {
  }
}

Behaviour Discard(std::shared_ptr<std::atomic<size_t>> received) {
  return [received](ServerConnection& connection) {
    for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) *received += data.size();
  };
}

uint16_t UnusedPort() {
  uint16_t port = 0;
  close(ListenOnLoopback(port));
  return port;
}

}  // namespace corvane::test_servers
