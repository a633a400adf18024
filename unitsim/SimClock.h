#pragma once
// The time a simulated bus runs on. Virtual time (tests) and real time (the in-process device with its
// scheduler thread, and orvel-unitsim) both give microseconds; the bus tells its clock whenever its schedule
// or its hand-off state changed, so a scheduler can wake or a virtual clock can settle.
#include <chrono>
#include <cstdint>
#include <functional>

class TSimClock {
 public:
  virtual ~TSimClock() = default;
  virtual int64_t NowUs() = 0;
  // Any thread, without the bus lock held.
  virtual void Changed() {}
  // Virtual time: device reads never block, they return what is there.
  virtual bool IsVirtual() const = 0;
};

// Stepped by hand: unit tests of the bus.
class TSimManualClock : public TSimClock {
 public:
  int64_t Now = 0;
  int64_t NowUs() override { return Now; }
  bool IsVirtual() const override { return true; }
};

// Real microseconds since the clock was made (steady, never jumps), or since the steady clock's own
// zero, which other programs on the machine can read too.
class TSimSteadyClock : public TSimClock {
 public:
  explicit TSimSteadyClock(bool fromClockZero = false)
      : origin_(fromClockZero ? std::chrono::steady_clock::time_point{} : std::chrono::steady_clock::now()) {}
  int64_t NowUs() override { return UsAt(std::chrono::steady_clock::now()); }
  bool IsVirtual() const override { return false; }
  void Changed() override {
    if (OnChanged) OnChanged();
  }

  int64_t UsAt(std::chrono::steady_clock::time_point t) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - origin_).count();
  }
  std::chrono::steady_clock::time_point TimeAt(int64_t us) const {
    return origin_ + std::chrono::microseconds(us);
  }

  std::function<void()> OnChanged;

 private:
  std::chrono::steady_clock::time_point origin_;
};
