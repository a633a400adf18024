#pragma once
// Runs a bus on the virtual clock of the test toolkit: its bytes are due at their virtual times, and the
// clock waits while the device still has an event out that the worker thread has not taken up.
#include "toolkit/VirtualToolkit.h"
#include "unitsim/SimBus.h"

class TSimVirtualTime : public TSimClock, public TVirtualSource {
 public:
  TSimVirtualTime(TVirtualToolkit& toolkit, TSimBus& bus);
  ~TSimVirtualTime() override;

  // TSimClock
  int64_t NowUs() override { return toolkit_.NowUs(); }
  void Changed() override { toolkit_.SourceChanged(); }
  bool IsVirtual() const override { return true; }

  // TVirtualSource
  int64_t NextDueUs() override { return bus_.NextDueUs(); }
  void RunDue(int64_t nowUs) override { bus_.RunDue(nowUs); }
  bool Quiescent() override { return bus_.Quiescent(); }

 private:
  TVirtualToolkit& toolkit_;
  TSimBus& bus_;
};
