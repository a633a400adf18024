#pragma once
// A communications device over a byte stream the system only offers as "readable, writable, gone": a
// terminal, or a network connection to a serial device server. What the Windows driver does itself is
// done here once for every such stream: the input queue with its event character and overflow, the line
// events and the event mask, the overlapped records, the read and write timeouts, aborts and closing.
//
// Overlapped transfers finish inside ReadFile and WriteFile (the caller blocks there, within its
// timeouts). The event wait waits on the stream, the stop event and an internal wake-up, and drains the
// stream into the queue, so bytes left unread never wake it again. Read takes from that queue, refilling
// it from the stream first. A stream that ends or fails is a vanished device: the event wait fails, reads
// and writes fail with the reason, and nothing spins.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "serial/platform/ComPlatform.h"

class TStreamComDevice : public TComDevice {
 public:
  // What one wait on the stream saw.
  struct TStreamWait {
    bool Readable = false;
    bool Writable = false;
    bool Woken = false;    // the wake-up event was set
    bool Stopped = false;  // the stop event was set
    bool Gone = false;     // the stream has hung up or failed
    uint32_t GoneError = 0;
  };

  // The two wake-up events come from the backend, as only it can wait on them.
  TStreamComDevice(std::unique_ptr<TPlatformEvent> eventWake, std::unique_ptr<TPlatformEvent> ioWake);
  // Subclasses close their stream in their own destructor (CloseHandle), while it is still theirs.
  ~TStreamComDevice() override;

  bool SetupComm(uint32_t inputSize, uint32_t outputSize) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool SetCommMask(uint32_t mask) override;
  bool PurgeComm(uint32_t flags) override;
  bool ClearCommError(uint32_t& errors, TComStat& status) override;

  std::unique_ptr<TAsyncRecord> CreateAsyncRecord() override;
  bool WaitCommEvent(uint32_t& mask, TAsyncRecord& record) override;
  bool WriteFile(const void* buffer, uint32_t count, TAsyncRecord& record) override;
  bool ReadFile(void* buffer, uint32_t count, TAsyncRecord& record) override;
  uint32_t WaitForRecord(TAsyncRecord& record) override;
  uint32_t WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& record) override;
  bool GetOverlappedResult(TAsyncRecord& record, uint32_t& transferred) override;

  bool CloseHandle() override;

 protected:
  using TLock = std::unique_lock<std::mutex>;

  // The stream itself, supplied by each backend.
  //
  // Waits, without the lock, until the stream is readable (or writable too), `wake` or `stop` is set, or
  // `timeoutMs` passes (-1: no limit). The stream stays open meanwhile: closing waits for such waits.
  virtual TStreamWait WaitStream(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop, int timeoutMs) = 0;
  // Whether an event of the backend is set, without waiting.
  virtual bool EventIsSet(TPlatformEvent& event) = 0;
  // Moves what has arrived into the queue (AcceptLocked); notes an end or failure (HangUpLocked).
  virtual void ReadStreamLocked() = 0;
  // Hands up to `count` bytes to the stream: the number taken (0 when it would block), or -1 with `error`.
  virtual int64_t WriteStreamLocked(const uint8_t* bytes, uint32_t count, uint32_t& error) = 0;
  // Bytes still waiting in the system on either side, and line errors the system counted.
  virtual bool StreamStatusLocked(uint32_t& unread, uint32_t& unsent, uint32_t& errors, uint32_t& error) = 0;
  // Empties the system's queues; 0 or the reason it could not.
  virtual uint32_t FlushStreamLocked(bool input, bool output) = 0;
  virtual uint32_t CloseStreamLocked() = 0;
  // Bytes written but not yet out on the line; 0 where the system cannot tell, which makes a write
  // raise the transmitter-empty event at once.
  virtual int UnsentLocked() { return 0; }

  // For the backends.
  bool Fail(uint32_t error);
  bool UsableLocked();
  bool IsOpenLocked() const { return open_; }
  // The event character and null discarding of a device control block that the backend has applied.
  void NoteLineSettingsLocked(const TDcb& dcb);
  void AcceptLocked(const uint8_t* bytes, size_t count);
  void RaiseLocked(uint32_t events);
  void AddErrorsLocked(uint32_t errors) { errors_ |= errors; }
  void HangUpLocked(uint32_t error);
  bool HungUpLocked() const { return hungUp_; }
  uint32_t HangupErrorLocked() const { return hangupError_; }
  // Wakes a transfer or settings wait of the user-interface thread (something it waits for arrived).
  void WakeTransfersLocked();
  // Waits for the stream (read, or write too) or the transfers' wake-up until `timeoutMs`; false when the
  // device was closed meanwhile. Drains the stream when it is readable.
  bool WaitForStreamLocked(TLock& lock, bool forWrite, int timeoutMs);

  std::mutex mutex_;

 private:
  class TRecord;

  // Why a transfer started at `abort` must stop now (closed, or aborted meanwhile); 0 while it may go on.
  uint32_t InterruptionOf(uint64_t abort) const;
  bool Wait(TLock& lock, bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop, int timeoutMs,
            TStreamWait& seen);
  void TransmittedLocked();
  void CheckOutputLocked();
  int OutputCheckDelayMs();
  void CompleteWaitLocked(TRecord& record, uint32_t mask, uint32_t error);
  // The event wait: 0 when `stop` (if any) was set, 1 when the record completed, or WAIT_FAILED.
  uint32_t WaitForEvents(TPlatformEvent* stop, TRecord& record);

  std::condition_variable waitersGone_;
  bool open_ = true;
  int waiters_ = 0;
  std::unique_ptr<TPlatformEvent> eventWake_;  // the event wait: mask changes, events raised by transfers
  std::unique_ptr<TPlatformEvent> ioWake_;     // blocking reads, writes and settings: aborts, answers

  std::deque<uint8_t> input_;
  size_t inputCapacity_;
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
};
