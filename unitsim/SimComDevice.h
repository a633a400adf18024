#pragma once
// A communications device on a simulated bus, with the Windows semantics the port's event thread relies
// on: an event mask with a history of events that occurred between waits, one overlapped event wait that a
// mask change completes at once, reads and writes as overlapped transfers, ClearCommError, PurgeComm, and an
// adapter that can be unplugged under the program.
//
// In virtual time reads never block (they return what is there) and the device counts as quiescent only
// when no event it reported is still on its way to the worker. In real time a pending read completes
// by its timeouts.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/platform/ComPlatform.h"
#include "unitsim/SimBus.h"

namespace SimError {
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
// What every call on an unplugged adapter fails with: ERROR_BAD_COMMAND, as Windows reports for a USB
// serial adapter that has gone.
constexpr uint32_t ERROR_BAD_COMMAND = 22;
constexpr uint32_t Unplugged = ERROR_BAD_COMMAND;
}  // namespace SimError

// The calling thread's last error, shared by the simulated platform and its devices.
void SimSetLastError(uint32_t error);
uint32_t SimGetLastError();

// A manual- or auto-reset event of the simulated platform. Devices waiting on it register to be woken.
class TSimEvent : public TPlatformEvent {
 public:
  TSimEvent(bool manualReset, bool initialState) : manualReset_(manualReset), set_(initialState) {}
  void Set() override;
  void Reset() override { set_ = false; }
  bool IsSet() const { return set_; }
  // A successful wait on an auto-reset event consumes it.
  void Consume() {
    if (!manualReset_) set_ = false;
  }

  void AddWaiter(std::mutex* mutex, std::condition_variable* wake);
  void RemoveWaiter(std::condition_variable* wake);

 private:
  struct TWaiter {
    std::mutex* Mutex;
    std::condition_variable* Wake;
  };
  const bool manualReset_;
  std::atomic<bool> set_;
  std::mutex waitersMutex_;
  std::vector<TWaiter> waiters_;
};

class TSimAsyncRecord;

class TSimComDevice : public TComDevice, public TSimHost {
 public:
  static constexpr uint32_t DefaultInputSize = 4096;

  TSimComDevice(std::shared_ptr<TSimBus> bus, std::string name);
  ~TSimComDevice() override;

  // TComDevice
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

  // The adapter goes away: from now on every call fails with SimError::Unplugged, a pending wait ends
  // with WAIT_FAILED, and the port name is free again on the bus.
  void Unplug();

  // For tests.
  const std::string& Name() const { return name_; }
  TSimBus& Bus() { return *bus_; }
  TDcb CommState();
  TCommTimeouts CommTimeouts();
  uint32_t CommMask();
  bool Unplugged();
  bool Closed();
  bool Quiescent();

  // TSimHost (bus lock held)
  void HostReceive(uint8_t byte, int64_t timeUs) override;
  void HostTxEmpty(int64_t timeUs) override;
  bool HostQuiescent() override;

 private:
  friend class TSimAsyncRecord;
  using TClock = std::chrono::steady_clock;

  bool Usable();  // bus lock held; sets the last error when not
  bool LineMatches() const;
  void Raise(uint32_t events);
  void Complete(TSimAsyncRecord& record, bool ok, uint32_t error);
  void FailOutstanding(uint32_t error);
  void Detach();
  bool IsVirtual() const;
  std::optional<TClock::time_point> ReadDeadline(const TSimAsyncRecord& record) const;
  void CheckRead(TSimAsyncRecord& record, TClock::time_point now);
  TSimAsyncRecord* Ours(TAsyncRecord& record);

  std::shared_ptr<TSimBus> bus_;
  std::mutex& mutex_;  // the bus lock
  std::condition_variable wake_;
  std::string name_;

  TDcb dcb_;
  TCommTimeouts timeouts_;
  uint32_t inputSize_ = DefaultInputSize;
  uint32_t mask_ = 0;
  uint32_t events_ = 0;  // events of the mask that occurred with no wait outstanding
  uint32_t errors_ = 0;
  bool handedOut_ = false;
  bool unplugged_ = false;
  bool closed_ = false;
  std::deque<uint8_t> input_;

  TSimAsyncRecord* waitRecord_ = nullptr;
  TSimAsyncRecord* readRecord_ = nullptr;
  std::vector<TSimAsyncRecord*> records_;
};
