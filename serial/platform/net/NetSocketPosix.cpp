// The socket calls over POSIX sockets.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial/platform/net/NetSocket.h"
#include "serial/platform/net/NetTuning.h"
#include "serial/platform/posix/PosixEvent.h"
#include "serial/platform/posix/PosixStreamWait.h"

namespace NetError {
uint32_t ConnectionClosed() { return ECONNRESET; }
uint32_t TimedOut() { return ETIMEDOUT; }
uint32_t NotSupported() { return EOPNOTSUPP; }
uint32_t Resolver(int code) {
  switch (code) {
    case EAI_SYSTEM:
      return uint32_t(errno);
    case EAI_AGAIN:
      return EAGAIN;
    case EAI_MEMORY:
      return ENOMEM;
    default:
      return ENXIO;  // no such host, or no address of a kind this side can use
  }
}
}  // namespace NetError

uint32_t NetStartup() { return 0; }

namespace {
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return int(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}

void SetOption(int fd, int level, int name, int value) { setsockopt(fd, level, name, &value, sizeof value); }

// A lost server must show as an error, not as silence for ever: keep-alive probes while idle, and a
// limit on data the server does not acknowledge.
void Tune(int fd) {
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);  // a request is a few bytes; Nagle would hold them back
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, NetTuning::KeepAliveIdleSeconds);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, NetTuning::KeepAliveIntervalSeconds);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, NetTuning::KeepAliveProbes);
#endif
#ifdef TCP_USER_TIMEOUT
  SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, NetTuning::UnacknowledgedLimitMs);
#endif
}
}  // namespace

struct TNetSocket::TState {
  int Fd = -1;
};

TNetSocket::TNetSocket() : state_(std::make_unique<TState>()) {}

TNetSocket::~TNetSocket() { Close(); }

bool TNetSocket::Connected() const { return state_->Fd >= 0; }

uint32_t TNetSocket::Connect(const TNetEndpoint& endpoint, std::chrono::steady_clock::time_point deadline) {
  Close();
  const int fd = socket(endpoint.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return uint32_t(errno);
  auto fail = [fd](uint32_t error) {
    close(fd);
    return error;
  };
  if (connect(fd, reinterpret_cast<const sockaddr*>(endpoint.Address.data()), socklen_t(endpoint.Address.size())) !=
      0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(uint32_t(errno));
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const int n = poll(&p, 1, MillisecondsUntil(deadline));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(uint32_t(errno));
      if (n == 0) return fail(ETIMEDOUT);
      break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail(uint32_t(errno));
    if (error != 0) return fail(uint32_t(error));
  }
  Tune(fd);
  state_->Fd = fd;
  return 0;
}

int64_t TNetSocket::Send(const uint8_t* bytes, size_t count, uint32_t& error) {
  for (;;) {
    // No SIGPIPE for a server that has gone: the error is reported like any other.
    const ssize_t n = send(state_->Fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    error = uint32_t(errno);
    return -1;
  }
}

int64_t TNetSocket::Receive(uint8_t* bytes, size_t count, uint32_t& error) {
  for (;;) {
    const ssize_t n = recv(state_->Fd, bytes, count, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n == 0) {
      error = NetError::ConnectionClosed();
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    error = uint32_t(errno);
    return -1;
  }
}

TStreamComDevice::TStreamWait TNetSocket::Wait(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop,
                                               int timeoutMs) {
  const TPosixStreamWait polled = PosixWaitForStream(state_->Fd, forWrite, wake, stop, timeoutMs);
  TStreamComDevice::TStreamWait seen;
  seen.Readable = polled.Readable;
  seen.Writable = polled.Writable;
  seen.Woken = polled.Woken;
  seen.Stopped = polled.Stopped;
  seen.Gone = polled.HungUp || polled.Invalid || polled.Failed;
  if (polled.Failed) {
    seen.GoneError = uint32_t(polled.Error);
  } else if (polled.Invalid) {
    seen.GoneError = EBADF;
  } else if (polled.HungUp) {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(state_->Fd, SOL_SOCKET, SO_ERROR, &error, &length);
    seen.GoneError = error ? uint32_t(error) : NetError::ConnectionClosed();
  }
  return seen;
}

uint32_t TNetSocket::Close() {
  const int fd = state_->Fd;
  if (fd < 0) return 0;
  state_->Fd = -1;
  if (close(fd) != 0 && errno != EINTR) return uint32_t(errno);
  return 0;
}

std::unique_ptr<TPlatformEvent> TNetSocket::NewEvent(bool manualReset) {
  return std::make_unique<TPosixEvent>(manualReset, false);
}

bool TNetSocket::EventIsSet(TPlatformEvent& event) { return PosixEventIsSet(event); }
