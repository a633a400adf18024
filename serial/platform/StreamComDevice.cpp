#include "serial/platform/StreamComDevice.h"

#include <algorithm>
#include <chrono>

#include "serial/platform/ComTimeouts.h"
#include "serial/platform/SystemErrors.h"

namespace {
using Clock = std::chrono::steady_clock;

int64_t MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

int WaitTimeoutMs(int64_t waitUs) {
  if (waitUs == NoLimit) return -1;
  return int(std::min<int64_t>((waitUs + 999) / 1000, 1 << 30));
}

constexpr size_t DefaultInputSize = 4096;
}  // namespace

// One operation: an event wait finishes in WaitForStopOrRecord, a transfer inside ReadFile / WriteFile.
class TStreamComDevice::TRecord : public TAsyncRecord {
 public:
  enum class TState { Idle, Waiting, Done };
  TState State = TState::Idle;
  uint32_t* Mask = nullptr;  // where an event wait stores what it saw
  uint32_t Result = 0;       // the mask of an event wait, the byte count of a transfer
  uint32_t Error = 0;
  uint64_t MaskGeneration = 0;
};

TStreamComDevice::TStreamComDevice(std::unique_ptr<TPlatformEvent> eventWake,
                                   std::unique_ptr<TPlatformEvent> ioWake)
    : eventWake_(std::move(eventWake)), ioWake_(std::move(ioWake)), inputCapacity_(DefaultInputSize) {}

TStreamComDevice::~TStreamComDevice() = default;

bool TStreamComDevice::Fail(uint32_t error) {
  SetLastSystemError(error);
  return false;
}

bool TStreamComDevice::UsableLocked() {
  if (!open_) return Fail(SystemError::BadHandle);
  return true;
}

uint32_t TStreamComDevice::InterruptionOf(uint64_t abort) const {
  return !open_ ? SystemError::BadHandle : abort != abortGeneration_ ? SystemError::Cancelled : 0;
}

bool TStreamComDevice::Wait(TLock& lock, bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop,
                            int timeoutMs, TStreamWait& seen) {
  ++waiters_;
  lock.unlock();
  seen = WaitStream(forWrite, wake, stop, timeoutMs);
  lock.lock();
  if (--waiters_ == 0) waitersGone_.notify_all();
  if (!open_) return false;
  if (seen.Woken) wake.Reset();
  // What came before a hang-up is still delivered; reading also finds the precise reason for it.
  if (seen.Readable || seen.Gone) ReadStreamLocked();
  if (seen.Gone) HangUpLocked(seen.GoneError);
  return true;
}

bool TStreamComDevice::WaitForStreamLocked(TLock& lock, bool forWrite, int timeoutMs) {
  TStreamWait seen;
  return Wait(lock, forWrite, *ioWake_, nullptr, timeoutMs, seen);
}

void TStreamComDevice::WakeTransfersLocked() { ioWake_->Set(); }

void TStreamComDevice::NoteLineSettingsLocked(const TDcb& dcb) {
  baudRate_ = dcb.BaudRate;
  bitsPerChar_ = 1 + dcb.ByteSize + (dcb.Parity ? 1 : 0) + (dcb.StopBits ? 2 : 1);
  evtChar_ = dcb.EvtChar;
  discardNull_ = dcb.Flags & DcbFlag::fNull;
}

// Settings

bool TStreamComDevice::SetupComm(uint32_t inputSize, uint32_t outputSize) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  // Sizes are recommendations, as on Windows; only a negative size from above is refused.
  if (inputSize > 0x7FFFFFFFu || outputSize > 0x7FFFFFFFu) return Fail(SystemError::InvalidArgument);
  inputCapacity_ = inputSize ? inputSize : DefaultInputSize;
  return true;
}

bool TStreamComDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  timeouts_ = timeouts;
  return true;
}

bool TStreamComDevice::SetCommMask(uint32_t mask) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  mask_ = mask;
  history_ = 0;
  // A wait in progress ends with an empty mask.
  ++maskGeneration_;
  eventWake_->Set();
  return true;
}

bool TStreamComDevice::PurgeComm(uint32_t flags) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  if (flags & ~uint32_t(0x000F)) return Fail(SystemError::InvalidArgument);
  // Aborting touches no device: it must work on an adapter that has gone away, or Close could not end.
  if (flags & (ComApi::PURGE_TXABORT | ComApi::PURGE_RXABORT)) {
    ++abortGeneration_;
    ioWake_->Set();
  }
  const bool input = flags & ComApi::PURGE_RXCLEAR, output = flags & ComApi::PURGE_TXCLEAR;
  if (input) input_.clear();
  if (output) txPending_ = false;
  if (!input && !output) return true;
  if (uint32_t error = FlushStreamLocked(input, output)) return Fail(error);
  return true;
}

bool TStreamComDevice::ClearCommError(uint32_t& errors, TComStat& status) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  uint32_t unread = 0, unsent = 0, counted = 0, error = 0;
  if (!StreamStatusLocked(unread, unsent, counted, error)) return Fail(error);
  errors = errors_ | counted;
  errors_ = 0;
  status.cbInQue = uint32_t(input_.size()) + unread;
  status.cbOutQue = unsent;
  return true;
}

// Received bytes and line events

void TStreamComDevice::RaiseLocked(uint32_t events) {
  const uint32_t seen = events & mask_;
  if ((history_ | seen) != history_) historyRaised_ = true;
  history_ |= seen;
}

void TStreamComDevice::AcceptLocked(const uint8_t* bytes, size_t count) {
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

void TStreamComDevice::HangUpLocked(uint32_t error) {
  if (hungUp_) return;
  hungUp_ = true;
  hangupError_ = error;
  // Whoever waits on the device must learn it now, not at its next byte (which will never come).
  eventWake_->Set();
  ioWake_->Set();
}

void TStreamComDevice::TransmittedLocked() {
  if (UnsentLocked() > 0) {
    txPending_ = true;  // the event wait watches the output queue empty
  } else {
    RaiseLocked(ComApi::EV_TXEMPTY);
  }
  eventWake_->Set();
}

void TStreamComDevice::CheckOutputLocked() {
  if (!txPending_ || UnsentLocked() > 0) return;
  txPending_ = false;
  RaiseLocked(ComApi::EV_TXEMPTY);
}

int TStreamComDevice::OutputCheckDelayMs() {
  const int unsent = UnsentLocked();
  if (unsent <= 0) return 0;
  // About when the queue will be out on the line; nothing wakes a wait for that.
  const int64_t ms = int64_t(unsent) * bitsPerChar_ * 1000 / std::max<uint32_t>(baudRate_, 1);
  return int(std::clamp<int64_t>(ms, 1, 200));
}

// Overlapped operations

std::unique_ptr<TAsyncRecord> TStreamComDevice::CreateAsyncRecord() { return std::make_unique<TRecord>(); }

void TStreamComDevice::CompleteWaitLocked(TRecord& record, uint32_t mask, uint32_t error) {
  record.State = TRecord::TState::Done;
  record.Error = error;
  record.Result = mask;
  if (record.Mask && !error) *record.Mask = mask;
  history_ &= ~mask;
}

bool TStreamComDevice::WaitCommEvent(uint32_t& mask, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(SystemError::InvalidArgument);
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  if (hungUp_) return Fail(hangupError_);
  if (mask_ == 0) return Fail(SystemError::InvalidArgument);
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

uint32_t TStreamComDevice::WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) {
    SetLastSystemError(SystemError::InvalidArgument);
    return ComApi::WAIT_FAILED;
  }
  return WaitForEvents(&stop, *record);
}

uint32_t TStreamComDevice::WaitForEvents(TPlatformEvent* stop, TRecord& record) {
  TLock lock(mutex_);
  for (;;) {
    historyRaised_ = false;  // this waiter looks at the history itself
    // The stop signal is first in the list: it wins over a device event at the same moment.
    if (stop && EventIsSet(*stop)) return 0;
    if (record.State != TRecord::TState::Waiting) return 1;
    if (!open_) {
      CompleteWaitLocked(record, 0, SystemError::Cancelled);
      return 1;
    }
    if (record.MaskGeneration != maskGeneration_) {
      CompleteWaitLocked(record, 0, 0);
      return 1;
    }
    CheckOutputLocked();
    if (history_ & mask_) {
      CompleteWaitLocked(record, history_ & mask_, 0);
      return 1;
    }
    if (hungUp_) {
      // A device that vanished would keep the wait waking for ever: the wait fails instead.
      SetLastSystemError(hangupError_);
      return ComApi::WAIT_FAILED;
    }
    TStreamWait seen;
    const int timeout = txPending_ ? OutputCheckDelayMs() : -1;
    Wait(lock, false, *eventWake_, stop, timeout, seen);
  }
}

bool TStreamComDevice::ReadFile(void* buffer, uint32_t count, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(SystemError::InvalidArgument);
  auto* out = static_cast<uint8_t*>(buffer);
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  const TReadTimeoutPlan plan(timeouts_, count);
  const uint64_t abort = abortGeneration_;
  const Clock::time_point start = Clock::now();
  Clock::time_point lastByte = start;
  uint32_t received = 0;
  uint32_t error = 0;
  for (;;) {
    if ((error = InterruptionOf(abort)) != 0) break;
    // Refill from the stream first, so the queue keeps the bytes in the order they came.
    if (input_.size() < count - received && !hungUp_) ReadStreamLocked();
    if (historyRaised_) {
      historyRaised_ = false;
      eventWake_->Set();
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
    WaitForStreamLocked(lock, false, WaitTimeoutMs(wait));
  }
  record->State = TRecord::TState::Done;
  record->Mask = nullptr;
  record->Result = received;
  record->Error = error;
  return error ? Fail(error) : true;
}

bool TStreamComDevice::WriteFile(const void* buffer, uint32_t count, TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(SystemError::InvalidArgument);
  auto* in = static_cast<const uint8_t*>(buffer);
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  const int64_t limit = WriteTimeoutUs(timeouts_, count);
  const uint64_t abort = abortGeneration_;
  const Clock::time_point start = Clock::now();
  uint32_t written = 0;
  uint32_t error = 0;
  while (written < count) {
    if ((error = InterruptionOf(abort)) != 0) break;
    if (hungUp_) {
      error = hangupError_;
      break;
    }
    const int64_t n = WriteStreamLocked(in + written, count - written, error);
    if (n < 0) break;
    if (n > 0) {
      written += uint32_t(n);
      continue;
    }
    const int64_t wait = limit == NoLimit ? NoLimit : std::max<int64_t>(0, limit - MicrosecondsSince(start));
    if (wait == 0) break;  // timed out: the bytes written so far are the result
    WaitForStreamLocked(lock, true, WaitTimeoutMs(wait));
  }
  if (written > 0 && open_) TransmittedLocked();
  record->State = TRecord::TState::Done;
  record->Mask = nullptr;
  record->Result = written;
  record->Error = error;
  return error ? Fail(error) : true;
}

uint32_t TStreamComDevice::WaitForRecord(TAsyncRecord& base) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) {
    SetLastSystemError(SystemError::InvalidArgument);
    return ComApi::WAIT_FAILED;
  }
  // Transfers have finished inside ReadFile and WriteFile; an event wait is waited for here, alone.
  if (record->State == TRecord::TState::Waiting && WaitForEvents(nullptr, *record) == ComApi::WAIT_FAILED)
    return ComApi::WAIT_FAILED;
  return ComApi::WAIT_OBJECT_0;
}

bool TStreamComDevice::GetOverlappedResult(TAsyncRecord& base, uint32_t& transferred) {
  auto* record = dynamic_cast<TRecord*>(&base);
  if (!record) return Fail(SystemError::InvalidArgument);
  TLock lock(mutex_);
  if (record->State == TRecord::TState::Waiting) return Fail(SystemError::Incomplete);
  if (record->Error) return Fail(record->Error);
  transferred = record->Mask ? 0 : record->Result;
  return true;
}

bool TStreamComDevice::CloseHandle() {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  open_ = false;
  // Nobody may be waiting on a stream handle that the next open could reuse.
  eventWake_->Set();
  ioWake_->Set();
  waitersGone_.wait(lock, [this] { return waiters_ == 0; });
  if (uint32_t error = CloseStreamLocked()) return Fail(error);
  return true;
}
