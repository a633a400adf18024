#pragma once
// Helpers for the simulated-unit tests: frames, a bus on a hand-stepped clock, and a host end that records
// what reached it and when.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "tests/support/TestEnvironment.h"
#include "unitsim/SimBus.h"


// The end time of byte k (0 based) of a burst that starts at `startUs`, at 38400 baud.
inline int64_t ByteEndUs(int64_t startUs, int k) { return startUs + std::llround((k + 1) * 1e7 / 38400.0); }

inline std::vector<uint8_t> Select(uint8_t address, uint8_t code) {
  return BuildFrame(address, cmdSelect, {code, 0, 0, 0});
}
inline std::vector<uint8_t> Read(uint8_t address, uint8_t count) { return BuildFrame(address, cmdRead, {count}); }
inline std::vector<uint8_t> Write(uint8_t address, uint8_t value) { return BuildFrame(address, cmdWrite, {value}); }
inline std::vector<uint8_t> Identify(uint8_t address) { return BuildFrame(address, cmdIdentify, {}); }

class TRecordingHost : public TSimHost {
 public:
  struct TByte {
    uint8_t Value;
    int64_t TimeUs;
  };
  void HostReceive(uint8_t byte, int64_t timeUs) override { Received.push_back({byte, timeUs}); }
  void HostTxEmpty(int64_t timeUs) override { TxEmpty.push_back(timeUs); }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b;
    for (auto& r : Received) b.push_back(r.Value);
    return b;
  }
  std::vector<TByte> Received;
  std::vector<int64_t> TxEmpty;
};

// A bus with a recording host on a clock the test moves.
struct TBusBench {
  TSimManualClock Clock;
  TSimBus Bus;
  TRecordingHost Host;

  TBusBench() {
    Bus.SetClock(&Clock);
    Bus.AttachHost(&Host);
  }
  ~TBusBench() { Bus.DetachHost(&Host); }

  void Send(const std::vector<uint8_t>& bytes) { Bus.HostWrite(bytes.data(), bytes.size()); }
  // Moves the clock to `timeUs`, delivering everything due on the way.
  void RunUntil(int64_t timeUs) {
    for (int64_t next; (next = Bus.NextDueUs()) >= 0 && next <= timeUs;) {
      Clock.Now = next;
      Bus.RunDue(next);
    }
    Clock.Now = timeUs;
  }
  void RunFor(int64_t us) { RunUntil(Clock.Now + us); }
};
