#pragma once
// The units on one serial line and the line itself. Bytes the host writes queue on the line at 38400 baud,
// 10 bits a byte; the units see a request when its last byte has arrived and answer after their reply delay,
// byte after byte at the line rate. Everything that crosses the line is kept in the wire trace.
//
// One lock guards the bus, its units and the device attached to it. Units may be touched directly from the
// thread that runs the bus (virtual time: the test's own thread); from any other thread hold Lock().
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "unitsim/FrameAssembler.h"
#include "unitsim/SimClock.h"
#include "unitsim/SimLine.h"
#include "unitsim/SimUnit.h"

// The host end of the line: the simulated device, or the pseudo-terminal of orvel-unitsim. Called with the
// bus lock held.
class TSimHost {
 public:
  virtual ~TSimHost() = default;
  // A byte from the units has arrived; its stop bit ended at `timeUs`.
  virtual void HostReceive(uint8_t byte, int64_t timeUs) = 0;
  // The last byte the host wrote has left the line.
  virtual void HostTxEmpty(int64_t timeUs) {}
  // Everything it raised has been taken up by whoever waits on it (virtual time).
  virtual bool HostQuiescent() { return true; }
};

class TSimBus {
 public:
  static constexpr uint32_t DefaultBaudRate = 38400;

  explicit TSimBus(uint32_t baudRate = DefaultBaudRate);
  TSimBus(const TSimBus&) = delete;
  TSimBus& operator=(const TSimBus&) = delete;

  // Units.
  TSimUnit& AddUnit(uint8_t address);
  TSimUnit* FindUnit(uint8_t address);  // the first unit at that address, or null
  std::vector<TSimUnit*> Units();
  [[nodiscard]] std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }

  // Sees every complete frame from the host (bad checksums and all) before the units do. A plan it returns
  // goes on the line instead of the units' answers, and no unit acts on the request. Runs with the bus lock
  // held: it may touch the units directly but must not call the bus's own accessors.
  std::function<std::optional<TReplyPlan>(const TWireFrame& request)> Script;

  // Called as each frame enters the trace, with the bus lock held; must not call back into the bus.
  std::function<void(const TWireFrame& frame)> OnTrace;

  void SetClock(TSimClock* clock);
  TSimClock* Clock() const { return clock_; }
  // The longest pause a request frame may have inside it before the units drop it (10 ms by default).
  void SetDropGapUs(int64_t us);
  int64_t NowUs();
  uint32_t BaudRate() const { return baudRate_; }

  // The host end. Only one host at a time, like a port opened without sharing.
  bool AttachHost(TSimHost* host);
  void DetachHost(TSimHost* host);
  bool HostAttached();
  TSimHost* AttachedHost();
  // Queues bytes on the line from now on. Garbled bytes were sent with line settings that do not match
  // the bus: the units hear only noise.
  void HostWrite(const uint8_t* bytes, size_t count, bool garbled = false);

  // The schedule: the earliest time something is due (-1 for nothing), and doing what is due.
  int64_t NextDueUs();
  void RunDue(int64_t nowUs);
  bool Quiescent();

  // The wire trace, in the order frames completed.
  std::vector<TWireFrame> Trace();
  std::vector<TWireFrame> Requests();  // complete frames from the host
  std::vector<TWireFrame> Replies();   // what the units sent as replies, whole or cut short
  std::vector<TUnitChange> Changes();
  std::vector<TUnitChange> RegisterChanges();
  void ClearTrace();

 private:
  friend class TSimComDevice;

  struct TLineByte {
    uint8_t Value;
    int64_t StartUs;
    int64_t EndUs;
    bool Garbled;
    uint64_t Entry;  // the trace entry a unit's byte belongs to
  };
  struct TPendingEntry {
    TWireFrame Frame;
    size_t Left = 0;
  };

  void Notify();
  int64_t NowLockedUs();
  void QueueHostBytes(const uint8_t* bytes, size_t count, bool garbled);
  int64_t SilenceDueUs() const;
  void Append(TWireFrame frame);
  void Dispatch(const TWireFrame& request);
  void Send(const TReplyPlan& plan, int64_t requestEndUs);
  int64_t SendBurst(const uint8_t* bytes, size_t count, int64_t atUs, uint64_t entry);
  uint64_t OpenEntry(TTraceKind kind, size_t count);

  std::mutex mutex_;
  uint32_t baudRate_;
  TSimClock* clock_ = nullptr;
  int64_t lastNowUs_ = 0;
  TSimHost* host_ = nullptr;

  std::vector<std::unique_ptr<TSimUnit>> units_;
  TSimLine hostLine_, unitLine_;
  std::deque<TLineByte> hostBytes_, unitBytes_;
  TFrameAssembler assembler_;

  std::vector<TWireFrame> trace_;
  std::vector<TUnitChange> changes_;
  std::map<uint64_t, TPendingEntry> pending_;
  uint64_t nextEntry_ = 1;
};
