#include "unitsim/SimRealTime.h"

#include <algorithm>

TSimRealTime::TSimRealTime() : thread_([this] { Run(); }) {}

TSimRealTime::~TSimRealTime() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard lock(busesMutex_);
  for (auto* bus : buses_)
    if (bus->Clock() == this) bus->SetClock(nullptr);
}

void TSimRealTime::AddBus(TSimBus& bus) {
  {
    std::lock_guard lock(busesMutex_);
    buses_.push_back(&bus);
  }
  bus.SetClock(this);
  Changed();
}

void TSimRealTime::RemoveBus(TSimBus& bus) {
  std::lock_guard lock(busesMutex_);
  std::erase(buses_, &bus);
  if (bus.Clock() == this) bus.SetClock(nullptr);
}

void TSimRealTime::Changed() {
  {
    std::lock_guard lock(mutex_);
    dirty_ = true;
  }
  wake_.notify_all();
}

void TSimRealTime::Run() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      dirty_ = false;
    }
    int64_t next = -1;
    {
      std::lock_guard lock(busesMutex_);
      for (auto* bus : buses_) {
        bus->RunDue(NowUs());
        const int64_t due = bus->NextDueUs();
        if (due >= 0 && (next < 0 || due < next)) next = due;
      }
    }
    std::unique_lock lock(mutex_);
    auto woken = [&] { return stop_ || dirty_; };
    if (next < 0)
      wake_.wait(lock, woken);
    else
      wake_.wait_until(lock, TimeAt(next), woken);
  }
}
