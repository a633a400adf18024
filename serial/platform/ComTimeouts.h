#pragma once
// How long a read or write may still wait, from the COMMTIMEOUTS values, in microseconds.
#include <cstdint>

#include "serial/platform/ComPlatform.h"

constexpr int64_t NoLimit = -1;

class TReadTimeoutPlan {
 public:
  TReadTimeoutPlan(const TCommTimeouts& timeouts, uint32_t count);
  // The wait allowed now: NoLimit, or 0 (return what there is) or more. `received` bytes have come so far,
  // the last one `sinceLastUs` ago; the read started `elapsedUs` ago.
  int64_t WaitUs(int64_t elapsedUs, uint32_t received, int64_t sinceLastUs) const;

 private:
  bool immediate_ = false;      // MAXDWORD interval, no totals: what is there, at once
  bool firstByteOnly_ = false;  // MAXDWORD interval and multiplier: return as soon as anything is there
  int64_t totalUs_ = NoLimit;
  int64_t intervalUs_ = NoLimit;
};

// The whole time a write of `count` bytes may take, or NoLimit.
int64_t WriteTimeoutUs(const TCommTimeouts& timeouts, uint32_t count);
