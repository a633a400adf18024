#include "tests/serial/ScriptedServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {
using Clock = std::chrono::steady_clock;

int ListeningSocket(uint16_t& port, int backlog = 4) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  // Port 0: the system picks a free one, so parallel runs never collide.
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("bind");
  }
  port = ntohs(address.sin_port);
  return fd;
}

int MillisecondsUntil(Clock::time_point deadline) {
  return int(std::max<int64_t>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}
}  // namespace

TScriptedServer::TScriptedServer() { listener_ = ListeningSocket(port_); }

TScriptedServer::~TScriptedServer() {
  Close();
  StopListening();
}

std::string TScriptedServer::Name(const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_);
}

bool TScriptedServer::Accept(std::chrono::milliseconds limit) {
  pollfd p{listener_, POLLIN, 0};
  if (poll(&p, 1, int(limit.count())) != 1) return false;
  connection_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return connection_ >= 0;
}

void TScriptedServer::Send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(connection_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += size_t(n);
  }
}

std::vector<uint8_t> TScriptedServer::Receive(size_t count, std::chrono::milliseconds limit) {
  std::vector<uint8_t> bytes;
  const auto deadline = Clock::now() + limit;
  while (bytes.size() < count) {
    pollfd p{connection_, POLLIN, 0};
    if (poll(&p, 1, MillisecondsUntil(deadline)) != 1) break;
    uint8_t buffer[256];
    const ssize_t n = recv(connection_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

std::vector<uint8_t> TScriptedServer::ReceiveFor(std::chrono::milliseconds limit) {
  std::vector<uint8_t> bytes;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    pollfd p{connection_, POLLIN, 0};
    if (poll(&p, 1, MillisecondsUntil(deadline)) != 1) break;
    uint8_t buffer[256];
    const ssize_t n = recv(connection_, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

void TScriptedServer::Close() {
  if (connection_ < 0) return;
  close(connection_);
  connection_ = -1;
}

void TScriptedServer::Reset() {
  if (connection_ < 0) return;
  linger immediately{1, 0};
  setsockopt(connection_, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
  Close();
}

void TScriptedServer::StopListening() {
  if (listener_ < 0) return;
  close(listener_);
  listener_ = -1;
}

uint16_t UnusedLoopbackPort() {
  uint16_t port = 0;
  close(ListeningSocket(port));
  return port;
}

THangingListener::THangingListener() {
  listener_ = ListeningSocket(port_, 0);
  // With a queue of none, one connection fills it; the next one's handshake is never answered.
  filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  if (connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("connect");
}

THangingListener::~THangingListener() {
  close(filler_);
  close(listener_);
}
