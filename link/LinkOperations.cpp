#include "link/LinkOperations.h"

#include <deque>

#include "link/Frame.h"
#include "link/LinkBinding.h"
#include "toolkit/Toolkit.h"

namespace {
struct TQueued {
  const void* Kind;
  std::function<void()> Run;
};

bool running = false;
std::deque<TQueued> queued;

// A reply has begun and its length byte does not say it is over yet.
bool ReplyInProgress() {
  const TLinkState& s = LinkState;
  return s.RxCount > 0 && !(s.RxCount > FrameLengthOffset + 1 && s.RxRemaining == 0);
}

void RunOne(const std::function<void()>& operation) {
  Guarded(operation);
  Guarded(WaitForQuietLine);
}

// Queued operations start from the message loop, never from inside the handler whose operation just
// ended: one of them may destroy the very panel that handler belongs to.
void RunNextLater() {
  Toolkit().Post([] {
    if (queued.empty()) {
      running = false;
      return;
    }
    auto next = std::move(queued.front().Run);
    queued.pop_front();
    RunOne(next);
    if (queued.empty())
      running = false;
    else
      RunNextLater();
  });
}
}  // namespace

void WaitForQuietLine() {
  if (!LinkBound()) return;
  auto& link = Bound();
  // The reply timer runs from the first request that has had no byte back yet.
  while (link.Timer1->Enabled()) Toolkit().ProcessMessages();
  if (!ReplyInProgress()) return;
  // A reply has begun: the pacing time covers the longest one at the line's speed.
  link.Timer4->SetEnabled(true);
  while (link.Timer4->Enabled() && ReplyInProgress()) Toolkit().ProcessMessages();
  link.Timer4->SetEnabled(false);
}

void RunLinkOperation(std::function<void()> operation) { RunLinkOperation(nullptr, std::move(operation)); }

void RunLinkOperation(const void* kind, std::function<void()> operation) {
  if (running) {
    if (kind) std::erase_if(queued, [kind](const TQueued& q) { return q.Kind == kind; });
    queued.push_back({kind, std::move(operation)});
    return;
  }
  running = true;
  RunOne(operation);
  if (queued.empty())
    running = false;
  else
    RunNextLater();
}

bool LinkOperationRunning() { return running; }

int QueuedLinkOperations() { return int(queued.size()); }

void ResetLinkOperations() {
  running = false;
  queued.clear();
}
