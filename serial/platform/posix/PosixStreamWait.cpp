#include "serial/platform/posix/PosixStreamWait.h"

#include <poll.h>

#include <cerrno>

#include "serial/platform/posix/PosixEvent.h"

TPosixStreamWait PosixWaitForStream(int fd, bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop,
                                    int timeoutMs) {
  TPosixStreamWait seen;
  auto* wakeEvent = dynamic_cast<TPosixEvent*>(&wake);
  auto* stopEvent = dynamic_cast<TPosixEvent*>(stop);
  const short events = short(POLLIN | (forWrite ? POLLOUT : 0));
  pollfd fds[3] = {{fd, events, 0},
                   {wakeEvent ? wakeEvent->Fd() : -1, POLLIN, 0},
                   {stopEvent ? stopEvent->Fd() : -1, POLLIN, 0}};
  const int n = poll(fds, 3, timeoutMs);
  if (n < 0) {
    if (errno != EINTR) {
      seen.Failed = true;
      seen.Error = errno;
    }
    return seen;
  }
  if (n == 0) return seen;
  seen.Readable = fds[0].revents & POLLIN;
  seen.Writable = fds[0].revents & POLLOUT;
  seen.HungUp = fds[0].revents & (POLLHUP | POLLERR);
  seen.Invalid = fds[0].revents & POLLNVAL;
  seen.Woken = fds[1].revents != 0;
  seen.Stopped = fds[2].revents != 0;
  return seen;
}

bool PosixEventIsSet(TPlatformEvent& event) {
  auto* posix = dynamic_cast<TPosixEvent*>(&event);
  return posix && posix->IsSet();
}
