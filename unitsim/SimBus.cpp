#include "unitsim/SimBus.h"

#include <algorithm>
#include <climits>

TSimBus::TSimBus(uint32_t baudRate) : baudRate_(baudRate), hostLine_(baudRate), unitLine_(baudRate) {}

TSimUnit& TSimBus::AddUnit(uint8_t address) {
  units_.push_back(std::make_unique<TSimUnit>(address));
  return *units_.back();
}

TSimUnit* TSimBus::FindUnit(uint8_t address) {
  for (auto& u : units_)
    if (u->Address == address) return u.get();
  return nullptr;
}

std::vector<TSimUnit*> TSimBus::Units() {
  std::vector<TSimUnit*> all;
  for (auto& u : units_) all.push_back(u.get());
  return all;
}

void TSimBus::SetClock(TSimClock* clock) {
  std::lock_guard lock(mutex_);
  clock_ = clock;
}

int64_t TSimBus::NowUs() {
  std::lock_guard lock(mutex_);
  return NowLockedUs();
}

int64_t TSimBus::NowLockedUs() {
  if (clock_) lastNowUs_ = std::max(lastNowUs_, clock_->NowUs());
  return lastNowUs_;
}

void TSimBus::Notify() {
  if (clock_) clock_->Changed();
}

bool TSimBus::AttachHost(TSimHost* host) {
  std::lock_guard lock(mutex_);
  if (host_) return false;
  host_ = host;
  return true;
}

void TSimBus::DetachHost(TSimHost* host) {
  {
    std::lock_guard lock(mutex_);
    if (host_ == host) host_ = nullptr;
  }
  Notify();
}

bool TSimBus::HostAttached() { return AttachedHost() != nullptr; }

TSimHost* TSimBus::AttachedHost() {
  std::lock_guard lock(mutex_);
  return host_;
}

void TSimBus::SetDropGapUs(int64_t us) {
  std::lock_guard lock(mutex_);
  assembler_.SilenceUs = us;
}

void TSimBus::HostWrite(const uint8_t* bytes, size_t count, bool garbled) {
  {
    std::lock_guard lock(mutex_);
    QueueHostBytes(bytes, count, garbled);
  }
  Notify();
}

void TSimBus::QueueHostBytes(const uint8_t* bytes, size_t count, bool garbled) {
  const int64_t now = NowLockedUs();
  for (size_t i = 0; i < count; ++i) {
    auto slot = hostLine_.Next(now);
    hostBytes_.push_back({bytes[i], slot.StartUs, slot.EndUs, garbled, 0});
  }
}

int64_t TSimBus::SilenceDueUs() const {
  if (assembler_.DeadlineUs() < 0) return -1;
  // A byte already on its way that starts within the silence window keeps the frame open.
  if (!hostBytes_.empty() && hostBytes_.front().StartUs - assembler_.LastEndUs() <= assembler_.SilenceUs)
    return -1;
  return assembler_.DeadlineUs() + 1;
}

int64_t TSimBus::NextDueUs() {
  std::lock_guard lock(mutex_);
  int64_t next = -1;
  auto consider = [&](int64_t t) {
    if (t >= 0 && (next < 0 || t < next)) next = t;
  };
  if (!hostBytes_.empty()) consider(hostBytes_.front().EndUs);
  if (!unitBytes_.empty()) consider(unitBytes_.front().EndUs);
  consider(SilenceDueUs());
  return next;
}

bool TSimBus::Quiescent() {
  std::lock_guard lock(mutex_);
  return !host_ || host_->HostQuiescent();
}

void TSimBus::RunDue(int64_t nowUs) {
  bool ran = false;
  {
    std::lock_guard lock(mutex_);
    lastNowUs_ = std::max(lastNowUs_, nowUs);
    for (;;) {
      const int64_t hostDue = hostBytes_.empty() ? INT64_MAX : hostBytes_.front().EndUs;
      const int64_t unitDue = unitBytes_.empty() ? INT64_MAX : unitBytes_.front().EndUs;
      const int64_t silence = SilenceDueUs();
      const int64_t silenceDue = silence < 0 ? INT64_MAX : silence;
      const int64_t due = std::min({hostDue, unitDue, silenceDue});
      if (due > nowUs) break;
      ran = true;
      if (hostDue == due) {
        TLineByte b = hostBytes_.front();
        hostBytes_.pop_front();
        for (auto& frame : assembler_.Feed(b.Value, b.StartUs, b.EndUs, b.Garbled)) {
          const bool request = frame.Kind == TTraceKind::tkFrame;
          Append(frame);
          if (request) Dispatch(frame);
        }
        if (hostBytes_.empty() && host_) host_->HostTxEmpty(b.EndUs);
      } else if (silenceDue == due) {
        for (auto& frame : assembler_.Expire(INT64_MAX)) Append(std::move(frame));
      } else {
        TLineByte b = unitBytes_.front();
        unitBytes_.pop_front();
        if (host_) host_->HostReceive(b.Value, b.EndUs);
        auto it = pending_.find(b.Entry);
        if (it != pending_.end() && --it->second.Left == 0) {
          Append(std::move(it->second.Frame));
          pending_.erase(it);
        }
      }
    }
  }
  // Only real work is worth a wake-up: a scheduler that ran nothing must be free to go back to sleep.
  if (ran) Notify();
}

void TSimBus::Append(TWireFrame frame) {
  trace_.push_back(std::move(frame));
  if (OnTrace) OnTrace(trace_.back());
}

void TSimBus::Dispatch(const TWireFrame& request) {
  if (Script) {
    if (auto plan = Script(request)) {
      Send(*plan, request.EndUs);
      return;
    }
  }
  for (auto& unit : units_)
    if (unit->Hears(request)) Send(unit->Answer(request, changes_), request.EndUs);
}

uint64_t TSimBus::OpenEntry(TTraceKind kind, size_t count) {
  const uint64_t id = nextEntry_++;
  auto& entry = pending_[id];
  entry.Frame.Direction = TTraceDirection::tdUnitsToHost;
  entry.Frame.Kind = kind;
  entry.Left = count;
  return id;
}

int64_t TSimBus::SendBurst(const uint8_t* bytes, size_t count, int64_t atUs, uint64_t entry) {
  auto& frame = pending_[entry].Frame;
  TTracePiece piece;
  for (size_t i = 0; i < count; ++i) {
    auto slot = unitLine_.Next(atUs);
    unitBytes_.push_back({bytes[i], slot.StartUs, slot.EndUs, false, entry});
    if (i == 0) piece.StartUs = slot.StartUs;
    piece.EndUs = slot.EndUs;
  }
  piece.Count = count;
  if (frame.Bytes.empty()) frame.StartUs = piece.StartUs;
  frame.EndUs = piece.EndUs;
  frame.Bytes.insert(frame.Bytes.end(), bytes, bytes + count);
  frame.Pieces.push_back(piece);
  return piece.EndUs;
}

void TSimBus::Send(const TReplyPlan& plan, int64_t requestEndUs) {
  int64_t at = requestEndUs + plan.DelayUs;
  auto finish = [&](uint64_t entry) {
    auto& frame = pending_[entry].Frame;
    if (frame.Pieces.size() < 2) frame.Pieces.clear();
  };
  if (!plan.StrayBefore.empty()) {
    const uint64_t entry = OpenEntry(TTraceKind::tkStray, plan.StrayBefore.size());
    at = SendBurst(plan.StrayBefore.data(), plan.StrayBefore.size(), at, entry);
    finish(entry);
  }
  if (!plan.Bytes.empty()) {
    const uint64_t entry = OpenEntry(TTraceKind::tkFrame, plan.Bytes.size());
    size_t sent = 0;
    for (const auto& split : plan.Splits) {
      if (split.AfterBytes <= sent || split.AfterBytes >= plan.Bytes.size()) continue;
      at = SendBurst(plan.Bytes.data() + sent, split.AfterBytes - sent, at, entry) + split.PauseUs;
      sent = split.AfterBytes;
    }
    at = SendBurst(plan.Bytes.data() + sent, plan.Bytes.size() - sent, at, entry);
    finish(entry);
    ParseWireFrame(pending_[entry].Frame);
  }
  if (!plan.StrayAfter.empty()) {
    const uint64_t entry = OpenEntry(TTraceKind::tkStray, plan.StrayAfter.size());
    SendBurst(plan.StrayAfter.data(), plan.StrayAfter.size(), at + plan.StrayAfterGapUs, entry);
    finish(entry);
  }
}

std::vector<TWireFrame> TSimBus::Trace() {
  std::lock_guard lock(mutex_);
  return trace_;
}

std::vector<TWireFrame> TSimBus::Requests() {
  std::lock_guard lock(mutex_);
  std::vector<TWireFrame> out;
  for (auto& f : trace_)
    if (f.Direction == TTraceDirection::tdHostToUnits && f.Kind == TTraceKind::tkFrame) out.push_back(f);
  return out;
}

std::vector<TWireFrame> TSimBus::Replies() {
  std::lock_guard lock(mutex_);
  std::vector<TWireFrame> out;
  for (auto& f : trace_)
    if (f.Direction == TTraceDirection::tdUnitsToHost && f.Kind != TTraceKind::tkStray) out.push_back(f);
  return out;
}

std::vector<TUnitChange> TSimBus::Changes() {
  std::lock_guard lock(mutex_);
  return changes_;
}

std::vector<TUnitChange> TSimBus::RegisterChanges() {
  std::lock_guard lock(mutex_);
  std::vector<TUnitChange> out;
  for (auto& c : changes_)
    if (!c.AddressChange) out.push_back(c);
  return out;
}

void TSimBus::ClearTrace() {
  std::lock_guard lock(mutex_);
  trace_.clear();
  changes_.clear();
}
