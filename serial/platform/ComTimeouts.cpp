#include "serial/platform/ComTimeouts.h"

#include <algorithm>

namespace {
constexpr uint32_t MaxDword = 0xFFFFFFFFu;

int64_t Smallest(int64_t a, int64_t b) {
  if (a == NoLimit) return b;
  if (b == NoLimit) return a;
  return std::min(a, b);
}

int64_t TotalUs(uint32_t multiplier, uint32_t constant, uint32_t count) {
  if (multiplier == 0 && constant == 0) return NoLimit;
  return (int64_t(multiplier) * count + constant) * 1000;
}
}  // namespace

TReadTimeoutPlan::TReadTimeoutPlan(const TCommTimeouts& t, uint32_t count) {
  if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    immediate_ = true;
    return;
  }
  if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == MaxDword &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MaxDword) {
    firstByteOnly_ = true;
    totalUs_ = int64_t(t.ReadTotalTimeoutConstant) * 1000;
    return;
  }
  totalUs_ = TotalUs(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count);
  if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MaxDword)
    intervalUs_ = int64_t(t.ReadIntervalTimeout) * 1000;
}

int64_t TReadTimeoutPlan::WaitUs(int64_t elapsedUs, uint32_t received, int64_t sinceLastUs) const {
  if (immediate_) return 0;
  if (firstByteOnly_ && received > 0) return 0;
  int64_t wait = totalUs_ == NoLimit ? NoLimit : std::max<int64_t>(0, totalUs_ - elapsedUs);
  // The interval only runs once the first byte is there.
  if (intervalUs_ != NoLimit && received > 0)
    wait = Smallest(wait, std::max<int64_t>(0, intervalUs_ - sinceLastUs));
  return wait;
}

int64_t WriteTimeoutUs(const TCommTimeouts& t, uint32_t count) {
  return TotalUs(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count);
}
