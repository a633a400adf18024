#pragma once
// An open terminal device behind the communications calls. Overlapped transfers finish inside ReadFile
// and WriteFile (the caller blocks there, within its timeouts); the event wait polls the device, the stop
// event and an internal wake-up, and drains the device into the backend's own input queue, so bytes left
// unread never wake it again. Read takes from that queue, refilling it from the device first.
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "serial/platform/ComPlatform.h"
#include "serial/platform/posix/PosixEvent.h"

class TPosixComDevice : public TComDevice {
 public:
  explicit TPosixComDevice(int fd);
  ~TPosixComDevice() override;

  bool SetupComm(uint32_t inputSize, uint32_t outputSize) override;
  bool SetCommState(const TDcb& dcb) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool SetCommMask(uint32_t mask) override;
  bool PurgeComm(uint32_t flags) override;
  bool ClearCommError(uint32_t& errors, TComStat& status) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

  std::unique_ptr<TAsyncRecord> CreateAsyncRecord() override;
  bool WaitCommEvent(uint32_t& mask, TAsyncRecord& record) override;
  bool WriteFile(const void* buffer, uint32_t count, TAsyncRecord& record) override;
  bool ReadFile(void* buffer, uint32_t count, TAsyncRecord& record) override;
  uint32_t WaitForRecord(TAsyncRecord& record) override;
  uint32_t WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& record) override;
  bool GetOverlappedResult(TAsyncRecord& record, uint32_t& transferred) override;

  bool CloseHandle() override;

 private:
  class TRecord;
  using TLock = std::unique_lock<std::mutex>;

  bool Usable(TLock&);

  // Why a transfer started at `abort` must stop now (closed, or aborted meanwhile); 0 while it may go on.
  uint32_t InterruptionOf(uint64_t abort) const {
    return fd_ < 0 ? EBADF : abort != abortGeneration_ ? ECANCELED : 0;
  }
  // Poll the device (for `events`) and `wake` without holding the lock; false when the device was closed.
  bool PollDevice(TLock& lock, short events, int wakeFd, int extraFd, int timeoutMs, short revents[3]);
  void DrainLocked();
  void NoteHangupLocked(short revents);
  void AcceptLocked(const uint8_t* bytes, size_t count);
  void RaiseLocked(uint32_t events);
  void TransmittedLocked();
  void CheckOutputLocked();
  int OutputCheckDelayMs();
  void CompleteWaitLocked(TRecord& record, uint32_t mask, uint32_t error);
  uint32_t ReadIcountErrorsLocked();

  std::mutex mutex_;
  std::condition_variable pollersGone_;
  int fd_;
  int pollers_ = 0;
  TPosixEvent eventWake_;  // the event wait: mask changes, events raised by transfers, close
  TPosixEvent ioWake_;     // blocking reads and writes: aborts, close

  std::deque<uint8_t> input_;
  size_t inputCapacity_ = 4096;
  uint32_t errors_ = 0;  // CE_ flags since the last ClearCommError
  uint32_t mask_ = 0;
  uint32_t history_ = 0;  // events seen in the mask and not reported yet
  uint64_t maskGeneration_ = 0;
  uint64_t abortGeneration_ = 0;
  bool historyRaised_ = false;
  bool txPending_ = false;
  bool hungUp_ = false;
  uint32_t hangupError_ = 0;

  TCommTimeouts timeouts_{};
  uint32_t baudRate_ = 9600;
  uint32_t bitsPerChar_ = 10;
  char evtChar_ = 0;
  bool discardNull_ = false;

  bool icountBaseline_ = false;
  int icount_[4] = {};  // frame, overrun, parity, break
};
