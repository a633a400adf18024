#include "link/LinkOperations.h"

#include <deque>

#include "toolkit/Toolkit.h"

namespace {
bool running = false;
std::deque<std::function<void()>> queued;

// Queued operations start from the message loop, never from inside the handler whose operation just
// ended: one of them may destroy the very panel that handler belongs to.
void RunNextLater() {
  Toolkit().Post([] {
    if (queued.empty()) {
      running = false;
      return;
    }
    auto next = std::move(queued.front());
    queued.pop_front();
    Guarded(next);
    if (queued.empty())
      running = false;
    else
      RunNextLater();
  });
}
}  // namespace

void RunLinkOperation(std::function<void()> operation) {
  if (running) {
    queued.push_back(std::move(operation));
    return;
  }
  running = true;
  Guarded(operation);
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
