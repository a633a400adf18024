#include "toolkit/VirtualToolkit.h"

#include <algorithm>
#include <chrono>

class TVirtualToolkit::TVirtualTimer : public TTimer {
 public:
  explicit TVirtualTimer(TVirtualToolkit& owner) : owner_(owner) { owner_.timers_.push_back(this); }
  ~TVirtualTimer() override { std::erase(owner_.timers_, this); }

  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) Schedule();
  }
  bool Enabled() const override { return enabled_; }
  void SetInterval(int milliseconds) override {
    if (milliseconds == intervalMs_) return;
    intervalMs_ = milliseconds;
    if (enabled_) Schedule();  // a new interval restarts a running timer
  }
  int Interval() const override { return intervalMs_; }

  void Schedule() {
    dueUs_ = owner_.NowUs() + int64_t(intervalMs_) * 1000;
    order_ = ++owner_.order_;
  }
  void Fire() {
    Schedule();  // periodic, unless the handler stops it
    if (OnTimer) Guarded(OnTimer);
  }

  bool enabled_ = false;
  int intervalMs_ = 1000;
  int64_t dueUs_ = 0;
  uint64_t order_ = 0;

 private:
  TVirtualToolkit& owner_;
};

TVirtualToolkit::TVirtualToolkit(TClock clock) : realTime_(clock == TClock::Real) {
  queue_.AdoptCurrentThreadAsUi();
  queue_.OnQueued = [this] { SourceChanged(); };
}

TVirtualToolkit::~TVirtualToolkit() { queue_.OnQueued = nullptr; }

std::unique_ptr<TTimer> TVirtualToolkit::CreateTimer() { return std::make_unique<TVirtualTimer>(*this); }

void TVirtualToolkit::AddSource(TVirtualSource* source) { sources_.push_back(source); }

void TVirtualToolkit::RemoveSource(TVirtualSource* source) { std::erase(sources_, source); }

void TVirtualToolkit::SourceChanged() {
  {
    std::lock_guard lock(changeMutex_);
    ++changes_;
  }
  changed_.notify_all();
}

void TVirtualToolkit::At(int64_t timeUs, std::function<void()> action) {
  actions_.push_back({std::max(timeUs, nowUs_), ++order_, std::move(action)});
}

int64_t TVirtualToolkit::RealUs() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
}

void TVirtualToolkit::Tick() {
  if (realTime_) nowUs_ = std::max(nowUs_, RealUs());
}

uint64_t TVirtualToolkit::Changes() {
  std::lock_guard lock(changeMutex_);
  return changes_;
}

void TVirtualToolkit::AdvanceTo(int64_t timeUs, uint64_t seen) {
  if (!realTime_) {
    nowUs_ = std::max(nowUs_, timeUs);
    return;
  }
  {
    std::unique_lock lock(changeMutex_);
    auto changed = [&] { return changes_ != seen; };
    if (timeUs < 0)
      changed_.wait(lock, changed);
    else
      changed_.wait_until(lock, start_ + std::chrono::microseconds(timeUs), changed);
  }
  Tick();
}

void TVirtualToolkit::Settle() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(SettleTimeoutSeconds));
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard lock(changeMutex_);
      seen = changes_;
    }
    if (queue_.HasPending()) return;
    // The worker whose event is still out is the one blocked on the request being served here (the rigs
    // drive one device): waiting for it could only stall.
    if (queue_.ServingBlockedWorker()) return;
    bool quiet = std::all_of(sources_.begin(), sources_.end(), [](TVirtualSource* s) { return s->Quiescent(); });
    if (quiet) return;
    std::unique_lock lock(changeMutex_);
    if (!changed_.wait_until(lock, deadline, [&] { return changes_ != seen; }))
      throw EVirtualStall("virtual time: a worker thread did not take up its event");
  }
}

int64_t TVirtualToolkit::NextEventUs() {
  int64_t next = -1;
  auto consider = [&](int64_t t) {
    if (t >= 0 && (next < 0 || t < next)) next = t;
  };
  for (auto* t : timers_)
    if (t->enabled_) consider(t->dueUs_);
  for (auto& a : actions_) consider(a.DueUs);
  for (auto* s : sources_) consider(s->NextDueUs());
  return next;
}

bool TVirtualToolkit::RunOneDue() {
  // Devices first: bytes that reach the line at the same instant as a timer tick are already there.
  for (auto* s : sources_) {
    int64_t due = s->NextDueUs();
    if (due >= 0 && due <= nowUs_) {
      s->RunDue(nowUs_);
      return true;
    }
  }
  TAction* action = nullptr;
  for (auto& a : actions_)
    if (a.DueUs <= nowUs_ && (!action || a.DueUs < action->DueUs ||
                              (a.DueUs == action->DueUs && a.Order < action->Order)))
      action = &a;
  TVirtualTimer* timer = nullptr;
  for (auto* t : timers_)
    if (t->enabled_ && t->dueUs_ <= nowUs_ &&
        (!timer || t->dueUs_ < timer->dueUs_ || (t->dueUs_ == timer->dueUs_ && t->order_ < timer->order_)))
      timer = t;
  if (action && (!timer || action->DueUs < timer->dueUs_ ||
                 (action->DueUs == timer->dueUs_ && action->Order < timer->order_))) {
    auto run = std::move(action->Run);
    actions_.erase(actions_.begin() + (action - actions_.data()));
    Guarded(run);
    return true;
  }
  if (timer) {
    timer->Fire();
    return true;
  }
  return false;
}

bool TVirtualToolkit::RunSomethingDue() {
  Tick();
  Settle();
  bool ran = false;
  Guarded([&] { ran = queue_.RunPending(); });
  return ran || RunOneDue();
}

void TVirtualToolkit::ProcessMessages() {
  const uint64_t seen = Changes();
  if (RunSomethingDue()) return;
  int64_t next = NextEventUs();
  if (realTime_) {
    // Nothing scheduled is no stall here: a worker thread may still hand something over.
    AdvanceTo(next, seen);
    RunSomethingDue();
    return;
  }
  if (next < 0)
    throw EVirtualStall("virtual time: waiting at " + std::to_string(nowUs_) + " us with nothing scheduled");
  nowUs_ = next;
  RunOneDue();
}

void TVirtualToolkit::RunUntilTime(int64_t timeUs) {
  for (;;) {
    const uint64_t seen = Changes();
    if (RunSomethingDue()) continue;
    int64_t next = NextEventUs();
    if (next < 0 || next > timeUs) {
      AdvanceTo(timeUs, seen);
      if (nowUs_ >= timeUs) return;
      continue;
    }
    AdvanceTo(next, seen);
  }
}

void TVirtualToolkit::RunUntilIdle(int64_t limitUs) {
  const int64_t limit = NowUs() + limitUs;
  for (;;) {
    const uint64_t seen = Changes();
    if (RunSomethingDue()) continue;
    int64_t next = NextEventUs();
    if (next < 0) return;
    if (next > limit) throw EVirtualStall("virtual time: still busy after the run limit");
    AdvanceTo(next, seen);
  }
}

void TVirtualToolkit::MessageBox(const std::string& text, const std::string& caption, TMessageKind kind) {
  messages_.push_back({text, caption, kind, NowUs()});
  if (OnMessage) OnMessage(messages_.back());
  if (OperatorDelayUs > 0) RunUntilTime(nowUs_ + OperatorDelayUs);
}

void TVirtualToolkit::Synchronize(const std::function<void()>& method) { queue_.Synchronize(method); }

void TVirtualToolkit::SendMessage(const std::function<void(const std::function<void()>& reply)>& procedure) {
  queue_.Send(procedure);
}

void TVirtualToolkit::Post(const std::function<void()>& method) { queue_.Post(method); }

void TVirtualToolkit::WaitServing(const std::function<bool()>& done) { queue_.WaitServing(done); }

void TVirtualToolkit::WakeWaiters() { queue_.WakeWaiters(); }

void TVirtualToolkit::WaitOutside(const std::function<bool()>& done) { queue_.WaitWoken(done); }
