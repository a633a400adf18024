#include "unitsim/SimFault.h"

#include <algorithm>

namespace {
TSimFault Make(TFaultKind kind) {
  TSimFault f;
  f.Kind = kind;
  return f;
}
}  // namespace

TSimFault TSimFault::Silent() { return Make(TFaultKind::fkSilent); }

TSimFault TSimFault::WithStatus(uint8_t status) {
  auto f = Make(TFaultKind::fkStatus);
  f.Status = status;
  return f;
}

TSimFault TSimFault::Split(size_t afterBytes, int64_t pauseUs) {
  auto f = Make(TFaultKind::fkSplit);
  f.SplitAfter = afterBytes;
  f.PauseUs = pauseUs;
  return f;
}

TSimFault TSimFault::StrayBefore(std::vector<uint8_t> bytes) {
  auto f = Make(TFaultKind::fkStrayBefore);
  f.Stray = std::move(bytes);
  return f;
}

TSimFault TSimFault::StrayAfter(std::vector<uint8_t> bytes, int64_t gapUs) {
  auto f = Make(TFaultKind::fkStrayAfter);
  f.Stray = std::move(bytes);
  f.GapUs = gapUs;
  return f;
}

TSimFault TSimFault::Oversize(size_t length) {
  auto f = Make(TFaultKind::fkOversize);
  f.Length = std::min<size_t>(length, 255);
  return f;
}

TSimFault TSimFault::BadChecksum() { return Make(TFaultKind::fkBadChecksum); }
TSimFault TSimFault::SingleByte() { return Make(TFaultKind::fkSingleByte); }

TSimFault TSimFault::Delay(int64_t delayUs) {
  auto f = Make(TFaultKind::fkDelay);
  f.DelayUs = delayUs;
  return f;
}

TSimFault TSimFault::Times(int replies) const {
  auto f = *this;
  f.Remaining = replies;
  return f;
}

TSimFault TSimFault::For(uint8_t command) const {
  auto f = *this;
  f.Command = command;
  return f;
}

void ShapeReply(const std::vector<TSimFault>& faults, TReplyPlan& plan) {
  // Checksum first, then cutting: a cut reply keeps the bytes it would have had.
  for (const auto& f : faults)
    if (f.Kind == TFaultKind::fkBadChecksum && plan.Bytes.size() >= 2) {
      plan.Bytes[plan.Bytes.size() - 2] ^= 0xFF;
      plan.Bytes[plan.Bytes.size() - 1] ^= 0xFF;
    }
  for (const auto& f : faults)
    if (f.Kind == TFaultKind::fkSingleByte && plan.Bytes.size() > 1) plan.Bytes.resize(1);
  for (const auto& f : faults) {
    switch (f.Kind) {
      case TFaultKind::fkSplit:
        if (f.SplitAfter > 0 && f.SplitAfter < plan.Bytes.size())
          plan.Splits.push_back({f.SplitAfter, f.PauseUs});
        break;
      case TFaultKind::fkStrayBefore:
        plan.StrayBefore.insert(plan.StrayBefore.end(), f.Stray.begin(), f.Stray.end());
        break;
      case TFaultKind::fkStrayAfter:
        plan.StrayAfter.insert(plan.StrayAfter.end(), f.Stray.begin(), f.Stray.end());
        plan.StrayAfterGapUs = std::max(plan.StrayAfterGapUs, f.GapUs);
        break;
      case TFaultKind::fkDelay: plan.DelayUs += f.DelayUs; break;
      default: break;
    }
  }
  std::sort(plan.Splits.begin(), plan.Splits.end(),
            [](const TReplySplit& a, const TReplySplit& b) { return a.AfterBytes < b.AfterBytes; });
}
