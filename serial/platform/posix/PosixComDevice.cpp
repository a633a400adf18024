#include "serial/platform/posix/PosixComDevice.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "serial/platform/posix/PosixEvent.h"
#include "serial/platform/posix/PosixLineSettings.h"
#include "serial/platform/posix/PosixStreamWait.h"

namespace {
// Setting modem lines that a device without them (a pseudo-terminal) refuses is no error: the lines the
// units need off are off.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

constexpr int DrainRounds = 64;  // per wake-up, so a flooding sender cannot hold the lock for ever
}  // namespace

TPosixComDevice::TPosixComDevice(int fd)
    : TStreamComDevice(std::make_unique<TPosixEvent>(true, false), std::make_unique<TPosixEvent>(true, false)),
      fd_(fd) {}

TPosixComDevice::~TPosixComDevice() {
  bool open;
  {
    TLock lock(mutex_);
    open = IsOpenLocked();
  }
  if (open) CloseHandle();
}

// Settings

bool TPosixComDevice::SetCommState(const TDcb& dcb) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  termios attributes{};
  if (tcgetattr(fd_, &attributes) != 0) return Fail(errno);
  if (int error = TermiosFromDcb(dcb, attributes)) return Fail(error);
  if (tcsetattr(fd_, TCSANOW, &attributes) != 0) return Fail(errno);
  const TModemLineChange lines = ModemLinesFromDcb(dcb);
  if (lines.Raise && ioctl(fd_, TIOCMBIS, &lines.Raise) != 0 && !NoModemLines(errno)) return Fail(errno);
  if (lines.Drop && ioctl(fd_, TIOCMBIC, &lines.Drop) != 0 && !NoModemLines(errno)) return Fail(errno);
  NoteLineSettingsLocked(dcb);
  return true;
}

bool TPosixComDevice::GetCommModemStatus(uint32_t& modemStatus) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  // A device without modem lines (a pseudo-terminal) refuses, as Windows drivers do; the port decides.
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return Fail(errno);
  modemStatus = 0;
  if (lines & TIOCM_CTS) modemStatus |= ComApi::MS_CTS_ON;
  if (lines & TIOCM_DSR) modemStatus |= ComApi::MS_DSR_ON;
  if (lines & TIOCM_RNG) modemStatus |= ComApi::MS_RING_ON;
  if (lines & TIOCM_CAR) modemStatus |= ComApi::MS_RLSD_ON;
  return true;
}

uint32_t TPosixComDevice::ReadIcountErrorsLocked() {
#if defined(__linux__) && defined(TIOCGICOUNT)
  serial_icounter_struct counters{};
  if (ioctl(fd_, TIOCGICOUNT, &counters) != 0) return 0;  // no counters on this kind of device
  const int now[4] = {counters.frame, counters.overrun + counters.buf_overrun, counters.parity, counters.brk};
  uint32_t flags = 0;
  if (icountBaseline_) {
    const uint32_t bits[4] = {ComApi::CE_FRAME, ComApi::CE_OVERRUN, ComApi::CE_RXPARITY, ComApi::CE_BREAK};
    for (int i = 0; i < 4; ++i)
      if (now[i] != icount_[i]) flags |= bits[i];
  }
  std::copy(now, now + 4, icount_);
  icountBaseline_ = true;
  return flags;
#else
  return 0;
#endif
}

// The stream

TStreamComDevice::TStreamWait TPosixComDevice::WaitStream(bool forWrite, TPlatformEvent& wake,
                                                          TPlatformEvent* stop, int timeoutMs) {
  const TPosixStreamWait polled = PosixWaitForStream(fd_, forWrite, wake, stop, timeoutMs);
  TStreamWait seen;
  seen.Readable = polled.Readable;
  seen.Writable = polled.Writable;
  seen.Woken = polled.Woken;
  seen.Stopped = polled.Stopped;
  // Some drivers report the loss only through poll(); without this a wait would wake for ever.
  seen.Gone = polled.HungUp || polled.Invalid || polled.Failed;
  seen.GoneError = polled.Failed ? uint32_t(polled.Error) : polled.Invalid ? EBADF : EIO;
  return seen;
}

bool TPosixComDevice::EventIsSet(TPlatformEvent& event) { return PosixEventIsSet(event); }

void TPosixComDevice::ReadStreamLocked() {
  if (!IsOpenLocked() || HungUpLocked()) return;
  uint8_t buffer[1024];
  for (int round = 0; round < DrainRounds; ++round) {
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      AcceptLocked(buffer, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of file or an I/O error: the device has gone (an unplugged adapter, a closed master end).
    HangUpLocked(n == 0 ? EIO : uint32_t(errno));
    return;
  }
}

int64_t TPosixComDevice::WriteStreamLocked(const uint8_t* bytes, uint32_t count, uint32_t& error) {
  for (;;) {
    const ssize_t n = write(fd_, bytes, count);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    error = uint32_t(errno);
    return -1;
  }
}

bool TPosixComDevice::StreamStatusLocked(uint32_t& unread, uint32_t& unsent, uint32_t& errors,
                                         uint32_t& error) {
  int waiting = 0;
  if (ioctl(fd_, FIONREAD, &waiting) != 0) {
    error = uint32_t(errno);
    return false;
  }
  unread = uint32_t(std::max(waiting, 0));
  unsent = uint32_t(std::max(UnsentLocked(), 0));
  errors = ReadIcountErrorsLocked();
  return true;
}

uint32_t TPosixComDevice::FlushStreamLocked(bool input, bool output) {
  if (input && tcflush(fd_, TCIFLUSH) != 0) return uint32_t(errno);
  if (output && tcflush(fd_, TCOFLUSH) != 0) return uint32_t(errno);
  return 0;
}

int TPosixComDevice::UnsentLocked() {
  int outgoing = 0;
  if (ioctl(fd_, TIOCOUTQ, &outgoing) != 0) return 0;
  return outgoing;
}

uint32_t TPosixComDevice::CloseStreamLocked() {
  ioctl(fd_, TIOCNXCL);
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && errno != EINTR) return uint32_t(errno);
  return 0;
}
