#pragma once
// The one wait of the POSIX backends: poll() on a descriptor (a terminal or a socket) together with the
// wake-up and stop events, which are TPosixEvent descriptors.
#include "serial/platform/StreamComDevice.h"

struct TPosixStreamWait {
  bool Readable = false;
  bool Writable = false;
  bool Woken = false;
  bool Stopped = false;
  bool HungUp = false;   // POLLHUP or POLLERR
  bool Invalid = false;  // POLLNVAL
  bool Failed = false;   // poll() itself failed, with `Error`
  int Error = 0;
};

TPosixStreamWait PosixWaitForStream(int fd, bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop,
                                    int timeoutMs);
bool PosixEventIsSet(TPlatformEvent& event);
