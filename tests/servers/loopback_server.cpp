#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
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
  if (ssl_) {
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, n) : std::string();
  }
  ssize_t n;
  do n = recv(fd_, buffer, sizeof buffer, 0);
  while (n < 0 && errno == EINTR);
  return n > 0 ? std::string(buffer, n) : std::string();
}

std::string ServerConnection::ReadExactly(size_t size) {
  std::string data;
  while (data.size() < size) {
    const std::string piece = Read();
    if (piece.empty()) break;
    data += piece;
  }
  return data;
}

bool ServerConnection::Write(std::string_view bytes, bool beneathTls) {
  while (!bytes.empty()) {
    ssize_t n;
    if (ssl_ && !beneathTls) {
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

LoopbackServer::LoopbackServer(Behaviour behaviour, const Identity* tls, bool tls10Only)
    : behaviour_(std::move(behaviour)) {
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
    ready = ssl && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1;
  }
  if (ready) {
    ++served_;
    ServerConnection connection(fd, ssl);
    behaviour_(connection);
    if (ssl && !connection.WasReset()) SSL_shutdown(ssl);
  }
  SSL_free(ssl);
  // Closed under the lock, so the destructor never shuts down a reused number.
  std::lock_guard lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  close(fd);
}

void Echo(ServerConnection& connection) {
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) {
    if (!connection.Write(data)) return;
  }
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

namespace {

constexpr std::pair<Fault, const char*> kFaultNames[] = {
    {Fault::kNone, "none"},       {Fault::kClose, "close"},         {Fault::kStall, "stall"},
    {Fault::kReset, "reset"},     {Fault::kTrickle, "trickle"},     {Fault::kGarbage, "garbage"},
    {Fault::kLongLine, "longline"}, {Fault::kFlood, "flood"},     {Fault::kRefuse, "refuse"},
};

std::string Answer(Protocol protocol, const std::string& verb) {
  if (protocol == Protocol::kPop3) {
    if (verb.empty()) return "+OK ready\r\n";
    if (verb == "STAT" || verb == "LIST") return "+OK 1 29\r\n";
    if (verb == "RETR") return "+OK 29 octets\r\nSubject: fault\r\n\r\nbody line\r\n.\r\n";
    if (verb == "QUIT") return "+OK bye\r\n";
    return "+OK\r\n";
  }
  if (verb.empty()) return "220 ready\r\n";
  if (verb == "DATA") return "354 go on\r\n";
  if (verb == "QUIT") return "221 bye\r\n";
  return "250 ok\r\n";
}

// The command's first word in capitals, up to a space or a colon.
std::string Verb(const std::string& line) {
  std::string verb;
  for (char c : line) {
    if (c == ' ' || c == ':') break;
    verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return verb;
}

// Hands each line the client sends (without its CR LF) to `take`, until `take`
// returns false or the client goes.
void ReadLines(ServerConnection& connection, const std::function<bool(const std::string&)>& take) {
  std::string received;
  for (std::string data = connection.Read(); !data.empty(); data = connection.Read()) {
    received += data;
    for (size_t end; (end = received.find("\r\n")) != std::string::npos;) {
      const std::string line = received.substr(0, end);
      received.erase(0, end + 2);
      if (!take(line)) return;
    }
  }
}

// Misbehaves in place of `answer`; false when the connection is to end.
bool Misbehave(ServerConnection& connection, Fault fault, const std::string& answer) {
  switch (fault) {
    case Fault::kNone: return connection.Write(answer);
    case Fault::kClose: return false;
    case Fault::kStall: Silent(connection); return false;
    case Fault::kReset: connection.Reset(); return false;
    case Fault::kTrickle:
      for (char c : answer) {
        if (!connection.Write(std::string_view(&c, 1))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      return true;
    case Fault::kGarbage: return connection.Write(std::string("\x00\xff\x1b[2J\x80garbage\x7f\r\n", 17));
    case Fault::kLongLine: return connection.Write(std::string(65536, 'x'));
    case Fault::kRefuse: return connection.Write(answer[0] == '+' ? "-ERR refused\r\n" : "550 5.7.1 Refused\r\n");
    case Fault::kFlood: {
      std::string chunk;
      while (chunk.size() < 16384) chunk += "flood flood flood flood flood\r\n";
      while (connection.Write(chunk)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return false;
    }
  }
  return false;
}

}  // namespace

Behaviour FaultyPeer(Protocol protocol, Fault fault, std::string at) {
  auto pending = std::make_shared<std::atomic<bool>>(true);  // the fault is still to come
  return [protocol, fault, at, pending](ServerConnection& connection) {
    bool inTransaction = false;  // SMTP: from an accepted MAIL to the end of its message
    auto reply = [&](const std::string& verb) {
      std::string answer = Answer(protocol, verb);
      if (protocol == Protocol::kSmtp && verb == "MAIL" && inTransaction)
        answer = "503 5.5.1 Error: nested MAIL command\r\n";
      const bool now = verb == at && pending->exchange(false);
      if (verb == "MAIL" && !(now && fault == Fault::kRefuse)) inTransaction = true;
      if (verb == "." || verb == "RSET") inTransaction = false;
      // After QUIT the peer closes, unless its answer was spoilt: then the client
      // is the one to go.
      const bool spoilt = now && fault != Fault::kTrickle;
      return Misbehave(connection, now ? fault : Fault::kNone, answer) && (verb != "QUIT" || spoilt);
    };
    if (!reply("")) return;
    bool inMessage = false;
    ReadLines(connection, [&](const std::string& line) {
      if (inMessage && line != ".") return true;
      const std::string verb = inMessage ? "." : Verb(line);
      inMessage = verb == "DATA";
      return reply(verb);
    });
  };
}

std::string SplitMailboxMessage(int n) {
  const std::string number = std::to_string(n);
  return (n % 2 ? "Subject: Re: -ERR mailbox locked " : "Subject: message ") + number + "\r\n\r\nbody " + number +
         "\r\n";
}

Behaviour Pop3SplitMailbox(std::function<void(const std::string&)> log) {
  return [log](ServerConnection& connection) {
    bool marked[kSplitMailboxSize + 1] = {};
    if (!connection.Write("+OK ready\r\n")) return;
    ReadLines(connection, [&](const std::string& line) {
      const std::string verb = Verb(line);
      const int n = verb.size() < line.size() ? std::atoi(line.c_str() + verb.size() + 1) : 0;
      const bool exists = n >= 1 && n <= kSplitMailboxSize;
      if (verb == "STAT") {
        int count = 0;
        for (int k = 1; k <= kSplitMailboxSize; ++k) count += !marked[k];
        return connection.Write("+OK " + std::to_string(count) + " 200\r\n");
      }
      if (verb == "RETR" && exists && !marked[n]) {
        const std::string message = SplitMailboxMessage(n);
        const size_t firstLine = message.find("\r\n") + 2;
        if (!connection.Write("+OK " + std::to_string(message.size()) + " octets\r\n" + message.substr(0, firstLine)))
          return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return connection.Write(message.substr(firstLine) + ".\r\n");
      }
      if (verb == "DELE" && exists && !marked[n]) {
        marked[n] = true;
        return connection.Write("+OK message " + std::to_string(n) + " deleted\r\n");
      }
      if (verb == "QUIT") {
        for (int k = 1; k <= kSplitMailboxSize; ++k)
          if (marked[k]) log("deleted " + std::to_string(k));
        connection.Write("+OK bye\r\n");
        return false;
      }
      return connection.Write(verb == "RETR" || verb == "DELE" ? "-ERR no such message\r\n" : "+OK\r\n");
    });
  };
}

const char* FaultName(Fault fault) {
  for (const auto& [each, name] : kFaultNames)
    if (each == fault) return name;
  return "?";
}

Fault FaultNamed(std::string_view name) {
  for (const auto& [each, known] : kFaultNames)
    if (name == known) return each;
  return Fault::kNone;
}

uint16_t UnusedPort() {
  uint16_t port = 0;
  close(ListenOnLoopback(port));
  return port;
}

}  // namespace corvane::test_servers
