#include "serial/platform/posix/PosixEvent.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#ifdef __linux__
#include <sys/eventfd.h>
#endif

TPosixEvent::TPosixEvent(bool manualReset, bool initialState) : manualReset_(manualReset) {
#ifdef __linux__
  readFd_ = writeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#else
  int fds[2];
  if (pipe(fds) == 0) {
    for (int fd : fds) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
  }
#endif
  if (initialState) Set();
}

TPosixEvent::~TPosixEvent() {
  if (readFd_ >= 0) close(readFd_);
  if (writeFd_ >= 0 && writeFd_ != readFd_) close(writeFd_);
}

void TPosixEvent::Set() {
  if (writeFd_ < 0 || IsSet()) return;
#ifdef __linux__
  uint64_t one = 1;
  while (write(writeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
#else
  char one = 1;
  while (write(writeFd_, &one, 1) < 0 && errno == EINTR) {
  }
#endif
}

void TPosixEvent::Reset() {
  if (readFd_ < 0) return;
  // Drains whatever was written; a set racing with this is either drained or stays, both fine for
  // waiters that look at their state again after waking.
  char buffer[64];
  for (;;) {
    ssize_t n = read(readFd_, buffer, sizeof buffer);
    if (n > 0 && size_t(n) == sizeof buffer) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

bool TPosixEvent::IsSet() const {
  if (readFd_ < 0) return false;
  pollfd p{readFd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void TPosixEvent::Consumed() {
  if (!manualReset_) Reset();
}
