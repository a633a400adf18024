#pragma once
// Runs buses in real time: one scheduler thread sleeps until the next byte is due (or the schedule
// changes) and delivers it. No polling: between bytes the thread is blocked.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "unitsim/SimBus.h"

class TSimRealTime : public TSimClock {
 public:
  TSimRealTime();
  ~TSimRealTime() override;
  TSimRealTime(const TSimRealTime&) = delete;
  TSimRealTime& operator=(const TSimRealTime&) = delete;

  void AddBus(TSimBus& bus);
  // Returns once the scheduler no longer touches the bus.
  void RemoveBus(TSimBus& bus);

  int64_t NowUs() override { return steady_.NowUs(); }
  void Changed() override;
  bool IsVirtual() const override { return false; }
  std::chrono::steady_clock::time_point TimeAt(int64_t us) const { return steady_.TimeAt(us); }

 private:
  void Run();

  TSimSteadyClock steady_;
  std::mutex busesMutex_;  // held while the scheduler works on the buses
  std::vector<TSimBus*> buses_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool dirty_ = false;
  std::thread thread_;
};
