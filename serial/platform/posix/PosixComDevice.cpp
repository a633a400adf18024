#include "serial/platform/posix/PosixComDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "serial/platform/posix/PosixLastError.h"
#include "serial/platform/posix/PosixLineSettings.h"
#include "serial/platform/posix/PosixTimeouts.h"

namespace {
using Clock = std::chrono::steady_clock;

int64_t MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

int PollTimeoutMs(int64_t waitUs) {
  if (waitUs == NoLimit) return -1;
  return int(std::min<int64_t>((waitUs + 999) / 1000, 1 << 30));
}

bool Fail(uint32_t error) {
  SetPosixLastError(error);
  return false;
}

// Setting modem lines that a device without them (a pseudo-terminal) refuses is no error: the lines the
// units need off are off.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

constexpr size_t DefaultInputSize = 4096;
constexpr int DrainRounds = 64;  // per wake-up, so a flooding sender cannot hold the lock for ever
}  // namespace

// One operation: an event wait finishes in WaitForStopOrRecord, a transfer inside ReadFile / WriteFile.
class TPosixComDevice::TRecord : public TAsyncRecord {
 public:
  enum class TState { Idle, Waiting, Done };
  TState State = TState::Idle;
  uint32_t* Mask = nullptr;  // where an event wait stores what it saw
  uint32_t Result = 0;       // the mask of an event wait, the byte count of a transfer
  uint32_t Error = 0;
  uint64_t MaskGeneration = 0;
};

TPosixComDevice::TPosixComDevice(int fd) : fd_(fd), eventWake_(true, false), ioWake_(true, false) {}

TPosixComDevice::~TPosixComDevice() {
  if (fd_ >= 0) CloseHandle();
}

bool TPosixComDevice::Usable(TLock&) {
  if (fd_ < 0) return Fail(EBADF);
  return true;
}

bool TPosixComDevice::PollDevice(TLock& lock, short events, int wakeFd, int extraFd, int timeoutMs,
                                 short revents[3]) {
  pollfd fds[3] = {{fd_, events, 0}, {wakeFd, POLLIN, 0}, {extraFd, POLLIN, 0}};
  ++pollers_;
  lock.unlock();
  int n = poll(fds, extraFd >= 0 ? 3 : 2, timeoutMs);
  const int error = errno;
  lock.lock();
  if (--pollers_ == 0) pollersGone_.notify_all();
  for (int i = 0; i < 3; ++i) revents[i] = n > 0 ? fds[i].revents : 0;
  if (n < 0 && error != EINTR) {
    hungUp_ = true;
    hangupError_ = uint32_t(error);
  }
  return fd_ >= 0;
}

// Settings

bool TPosixComDevice::SetupComm(uint32_t inputSize, uint32_t outputSize) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  // Sizes are recommendations, as on Windows; only a negative size from above is refused.
  if (inputSize > 0x7FFFFFFFu || outputSize > 0x7FFFFFFFu) return Fail(EINVAL);
  inputCapacity_ = inputSize ? inputSize : DefaultInputSize;
  return true;
}

bool TPosixComDevice::SetCommState(const TDcb& dcb) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  termios attributes{};
  if (tcgetattr(fd_, &attributes) != 0) return Fail(errno);
  if (int error = TermiosFromDcb(dcb, attributes)) return Fail(error);
  if (tcsetattr(fd_, TCSANOW, &attributes) != 0) return Fail(errno);
  const TModemLineChange lines = ModemLinesFromDcb(dcb);
  if (lines.Raise && ioctl(fd_, TIOCMBIS, &lines.Raise) != 0 && !NoModemLines(errno)) return Fail(errno);
  if (lines.Drop && ioctl(fd_, TIOCMBIC, &lines.Drop) != 0 && !NoModemLines(errno)) return Fail(errno);
  baudRate_ = dcb.BaudRate;
  bitsPerChar_ = 1 + dcb.ByteSize + (dcb.Parity ? 1 : 0) + (dcb.StopBits ? 2 : 1);
  evtChar_ = dcb.EvtChar;
  discardNull_ = dcb.Flags & 0x0800;
  return true;
}

bool TPosixComDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  timeouts_ = timeouts;
  return true;
}

bool TPosixComDevice::SetCommMask(uint32_t mask) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  mask_ = mask;
  history_ = 0;
  // A wait in progress ends with an empty mask.
  ++maskGeneration_;
  eventWake_.Set();
  return true;
}

bool TPosixComDevice::PurgeComm(uint32_t flags) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  if (flags & ~uint32_t(0x000F)) return Fail(EINVAL);
  // Aborting touches no device: it must work on an adapter that has gone away, or Close could not end.
  if (flags & (ComApi::PURGE_TXABORT | ComApi::PURGE_RXABORT)) {
    ++abortGeneration_;
    ioWake_.Set();
  }
  if (flags & ComApi::PURGE_RXCLEAR) {
    input_.clear();
    if (tcflush(fd_, TCIFLUSH) != 0) return Fail(errno);
  }
  if (flags & ComApi::PURGE_TXCLEAR) {
    txPending_ = false;
    if (tcflush(fd_, TCOFLUSH) != 0) return Fail(errno);
  }
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

bool TPosixComDevice::ClearCommError(uint32_t& errors, TComStat& status) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  int waiting = 0;
  if (ioctl(fd_, FIONREAD, &waiting) != 0) return Fail(errno);
  int outgoing = 0;
  if (ioctl(fd_, TIOCOUTQ, &outgoing) != 0) outgoing = 0;
  errors = errors_ | ReadIcountErrorsLocked();
  errors_ = 0;
  status.cbInQue = uint32_t(input_.size()) + uint32_t(std::max(waiting, 0));
  status.cbOutQue = uint32_t(std::max(outgoing, 0));
  return true;
}

bool TPosixComDevice::GetCommModemStatus(uint32_t& modemStatus) {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
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

// Received bytes and line events

void TPosixComDevice::RaiseLocked(uint32_t events) {
  const uint32_t seen = events & mask_;
  if ((history_ | seen) != history_) historyRaised_ = true;
  history_ |= seen;
}

void TPosixComDevice::AcceptLocked(const uint8_t* bytes, size_t count) {
  bool arrived = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (discardNull_ && byte == 0) continue;
    if (input_.size() >= inputCapacity_) {
      errors_ |= ComApi::CE_RXOVER;
      RaiseLocked(ComApi::EV_ERR);
      continue;
    }
    input_.push_back(byte);
    arrived = true;
    if (char(byte) == evtChar_) RaiseLocked(ComApi::EV_RXFLAG);
  }
  if (arrived) RaiseLocked(ComApi::EV_RXCHAR);
}

void TPosixComDevice::DrainLocked() {
  if (fd_ < 0 || hungUp_) return;
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
    hungUp_ = true;
    hangupError_ = n == 0 ? EIO : uint32_t(errno);
    return;
  }
}

void TPosixComDevice::NoteHangupLocked(short revents) {
  // Some drivers report the loss only through poll(); without this a wait would wake for ever.
  if (hungUp_ || !(revents & (POLLHUP | POLLERR | POLLNVAL))) return;
  hungUp_ = true;
  hangupError_ = (revents & POLLNVAL) ? EBADF : EIO;
}

void TPosixComDevice::TransmittedLocked() {
  int outgoing = 0;
  if (ioctl(fd_, TIOCOUTQ, &outgoing) == 0 && outgoing > 0) {
    txPending_ = true;  // the event wait watches the output queue empty
  } else {
    RaiseLocked(ComApi::EV_TXEMPTY);
  }
  eventWake_.Set();
}

void TPosixComDevice::CheckOutputLocked() {
  if (!txPending_) return;
  int outgoing = 0;
  if (ioctl(fd_, TIOCOUTQ, &outgoing) == 0 && outgoing > 0) return;
  txPending_ = false;
  RaiseLocked(ComApi::EV_TXEMPTY);
}

int TPosixComDevice::OutputCheckDelayMs() {
  int outgoing = 0;
  if (ioctl(fd_, TIOCOUTQ, &outgoing) != 0 || outgoing <= 0) return 0;
  // About when the queue will be out on the line; nothing wakes a poll() for that.
  const int64_t ms = int64_t(outgoing) * bitsPerChar_ * 1000 / std::max<uint32_t>(baudRate_, 1);
  return int(std::clamp<int64_t>(ms, 1, 200));
}

// Overlapped operations

std::unique_ptr<TAsyncRecord> TPosixComDevice::CreateAsyncRecord() { return std::make_unique<TRecord>(); }

void TPosixComDevice::CompleteWaitLocked(TRecord& record, uint32_t mask, uint32_t error) {
  record.State = TRecord::TState::Done;
  record.Error = error;
  record.Result = mask;
  if (record.Mask && !error) *record.Mask = mask;
  history_ &= ~mask;
}

bool TPosixComDevice::WaitCommEvent(uint32_t& mask, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(EINVAL);
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  if (hungUp_) return Fail(hangupError_);
  if (mask_ == 0) return Fail(EINVAL);
  record->Mask = &mask;
  record->Error = 0;
  if (history_ & mask_) {
    CompleteWaitLocked(*record, history_ & mask_, 0);
    return true;
  }
  record->State = TRecord::TState::Waiting;
  record->MaskGeneration = maskGeneration_;
  return Fail(ComApi::ERROR_IO_PENDING);
}

uint32_t TPosixComDevice::WaitForStopOrRecord(TPlatformEvent& stopBase, TAsyncRecord& base) {
  auto* stop = dynamic_cast<TPosixEvent*>(&stopBase);
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!stop || !record || !stop->Valid()) {
    SetPosixLastError(EINVAL);
    return ComApi::WAIT_FAILED;
  }
  TLock lock(mutex_);
  for (;;) {
    historyRaised_ = false;  // this waiter looks at the history itself
    // The stop signal is first in the list: it wins over a device event at the same moment.
    if (stop->IsSet()) {
      stop->Consumed();
      return 0;
    }
    if (record->State != TRecord::TState::Waiting) return 1;
    if (fd_ < 0) {
      CompleteWaitLocked(*record, 0, ECANCELED);
      return 1;
    }
    if (record->MaskGeneration != maskGeneration_) {
      CompleteWaitLocked(*record, 0, 0);
      return 1;
    }
    CheckOutputLocked();
    if (history_ & mask_) {
      CompleteWaitLocked(*record, history_ & mask_, 0);
      return 1;
    }
    if (hungUp_) {
      // An adapter that vanished keeps the device readable for ever: the wait fails instead.
      SetPosixLastError(hangupError_);
      return ComApi::WAIT_FAILED;
    }
    short revents[3];
    const int timeout = txPending_ ? OutputCheckDelayMs() : -1;
    if (!PollDevice(lock, POLLIN, eventWake_.Fd(), stop->Fd(), timeout, revents)) continue;
    if (revents[1]) eventWake_.Reset();
    if (revents[0] & (POLLIN | POLLHUP | POLLERR)) DrainLocked();
    NoteHangupLocked(revents[0]);
  }
}

bool TPosixComDevice::ReadFile(void* buffer, uint32_t count, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(EINVAL);
  auto* out = static_cast<uint8_t*>(buffer);
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  const TReadTimeoutPlan plan(timeouts_, count);
  const uint64_t abort = abortGeneration_;
  const Clock::time_point start = Clock::now();
  Clock::time_point lastByte = start;
  uint32_t received = 0;
  uint32_t error = 0;
  for (;;) {
    if ((error = InterruptionOf(abort)) != 0) break;
    // Refill from the device first, so the queue keeps the bytes in the order they came.
    if (input_.size() < count - received) DrainLocked();
    if (historyRaised_) {
      historyRaised_ = false;
      eventWake_.Set();
    }
    const uint32_t take = uint32_t(std::min<size_t>(input_.size(), count - received));
    if (take > 0) {
      std::copy_n(input_.begin(), take, out + received);
      input_.erase(input_.begin(), input_.begin() + take);
      received += take;
      lastByte = Clock::now();
    }
    if (received == count) break;
    if (hungUp_) {
      // Bytes that came before the loss are handed over; the next read reports it.
      if (received == 0) error = hangupError_;
      break;
    }
    const int64_t wait = plan.WaitUs(MicrosecondsSince(start), received, MicrosecondsSince(lastByte));
    if (wait == 0) break;
    short revents[3];
    if (!PollDevice(lock, POLLIN, ioWake_.Fd(), -1, PollTimeoutMs(wait), revents)) continue;
    if (revents[1]) ioWake_.Reset();
    if (revents[0] & (POLLHUP | POLLERR)) DrainLocked();
    NoteHangupLocked(revents[0]);
  }
  record->State = TRecord::TState::Done;
  record->Mask = nullptr;
  record->Result = received;
  record->Error = error;
  return error ? Fail(error) : true;
}

bool TPosixComDevice::WriteFile(const void* buffer, uint32_t count, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(EINVAL);
  auto* in = static_cast<const uint8_t*>(buffer);
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  const int64_t limit = WriteTimeoutUs(timeouts_, count);
  const uint64_t abort = abortGeneration_;
  const Clock::time_point start = Clock::now();
  uint32_t written = 0;
  uint32_t error = 0;
  while (written < count) {
    if ((error = InterruptionOf(abort)) != 0) break;
    ssize_t n = write(fd_, in + written, count - written);
    if (n > 0) {
      written += uint32_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = uint32_t(errno);
      break;
    }
    const int64_t wait = limit == NoLimit ? NoLimit : std::max<int64_t>(0, limit - MicrosecondsSince(start));
    if (wait == 0) break;  // timed out: the bytes written so far are the result
    short revents[3];
    if (!PollDevice(lock, POLLOUT, ioWake_.Fd(), -1, PollTimeoutMs(wait), revents)) continue;
    if (revents[1]) ioWake_.Reset();
    NoteHangupLocked(revents[0]);
    if (hungUp_) {
      error = hangupError_;
      break;
    }
  }
  if (written > 0 && fd_ >= 0) TransmittedLocked();
  record->State = TRecord::TState::Done;
  record->Mask = nullptr;
  record->Result = written;
  record->Error = error;
  return error ? Fail(error) : true;
}

uint32_t TPosixComDevice::WaitForRecord(TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) {
    SetPosixLastError(EINVAL);
    return ComApi::WAIT_FAILED;
  }
  if (record->State == TRecord::TState::Waiting) {
    TPosixEvent never(true, false);
    if (WaitForStopOrRecord(never, *record) == ComApi::WAIT_FAILED) return ComApi::WAIT_FAILED;
  }
  return ComApi::WAIT_OBJECT_0;
}

bool TPosixComDevice::GetOverlappedResult(TAsyncRecord& base, uint32_t& transferred) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(EINVAL);
  TLock lock(mutex_);
  if (record->State == TRecord::TState::Waiting) return Fail(EINPROGRESS);
  if (record->Error) return Fail(record->Error);
  transferred = record->Mask ? 0 : record->Result;
  return true;
}

bool TPosixComDevice::CloseHandle() {
  TLock lock(mutex_);
  if (!Usable(lock)) return false;
  const int fd = fd_;
  fd_ = -1;
  // Nobody may be inside poll() on a descriptor number that the next open could reuse.
  eventWake_.Set();
  ioWake_.Set();
  pollersGone_.wait(lock, [this] { return pollers_ == 0; });
  ioctl(fd, TIOCNXCL);
  if (close(fd) != 0 && errno != EINTR) return Fail(errno);
  return true;
}
