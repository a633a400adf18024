#include "toolkit/SyncQueue.h"

TSyncQueue::TSyncQueue() : uiThread_(std::this_thread::get_id()) {}

void TSyncQueue::Enqueue(const std::shared_ptr<TRequest>& request) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(request);
  }
  changed_.notify_all();
  if (OnQueued) OnQueued();
}

void TSyncQueue::Synchronize(const std::function<void()>& method) {
  if (OnUiThread()) {
    method();
    return;
  }
  auto request = std::make_shared<TRequest>();
  request->Kind = TRequest::TKind::Synchronize;
  request->Method = method;
  Enqueue(request);
  std::unique_lock lock(mutex_);
  released_.wait(lock, [&] { return request->Released; });
  if (request->Error) std::rethrow_exception(request->Error);
}

void TSyncQueue::Send(const std::function<void(const std::function<void()>& reply)>& procedure) {
  auto request = std::make_shared<TRequest>();
  request->Kind = TRequest::TKind::Send;
  request->Procedure = procedure;
  if (OnUiThread()) {
    Run(request);
    return;
  }
  Enqueue(request);
  std::unique_lock lock(mutex_);
  released_.wait(lock, [&] { return request->Released; });
}

void TSyncQueue::Post(const std::function<void()>& method) {
  auto request = std::make_shared<TRequest>();
  request->Kind = TRequest::TKind::Post;
  request->Method = method;
  Enqueue(request);
}

bool TSyncQueue::HasPending() {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

void TSyncQueue::Release(const std::shared_ptr<TRequest>& request) {
  {
    std::lock_guard lock(mutex_);
    if (request->Released) return;
    request->Released = true;
  }
  released_.notify_all();
}

void TSyncQueue::Run(const std::shared_ptr<TRequest>& request) {
  struct TServing {
    int& Count;
    explicit TServing(int& count) : Count(count) { ++Count; }
    ~TServing() { --Count; }
  };
  switch (request->Kind) {
    case TRequest::TKind::Synchronize: {
      TServing serving(serving_);
      try {
        request->Method();
      } catch (...) {
        request->Error = std::current_exception();
      }
      Release(request);
      break;
    }
    case TRequest::TKind::Send: {
      // The worker waits only until the procedure replies; errors stay on this side.
      std::weak_ptr<TRequest> weak = request;
      auto reply = [this, weak] {
        if (auto r = weak.lock()) Release(r);
      };
      try {
        request->Procedure(reply);
      } catch (...) {
        Release(request);
        throw;
      }
      Release(request);
      break;
    }
    case TRequest::TKind::Post:
      request->Method();
      break;
  }
}

bool TSyncQueue::RunPending() {
  std::deque<std::shared_ptr<TRequest>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  bool ran = false;
  while (!batch.empty()) {
    auto request = batch.front();
    batch.pop_front();
    ran = true;
    try {
      Run(request);
    } catch (...) {
      // Put back what this batch did not reach, in order, before the error leaves.
      std::lock_guard lock(mutex_);
      queue_.insert(queue_.begin(), batch.begin(), batch.end());
      throw;
    }
  }
  return ran;
}

void TSyncQueue::WaitServing(const std::function<bool()>& done) {
  for (;;) {
    if (done()) return;
    std::shared_ptr<TRequest> next;
    uint64_t seen;
    {
      std::unique_lock lock(mutex_);
      seen = wakeups_;
      // Posted calls are left for the loop; only what a worker is blocked on runs here.
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if ((*it)->Kind != TRequest::TKind::Post) {
          next = *it;
          queue_.erase(it);
          break;
        }
      }
      if (!next) {
        if (done()) return;
        changed_.wait(lock, [&] {
          if (wakeups_ != seen) return true;
          for (auto& r : queue_)
            if (r->Kind != TRequest::TKind::Post) return true;
          return false;
        });
        continue;
      }
    }
    Run(next);
  }
}

void TSyncQueue::WaitWoken(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const uint64_t seen = wakeups_;
    if (done()) return;
    changed_.wait(lock, [&] { return wakeups_ != seen; });
  }
}

void TSyncQueue::WakeWaiters() {
  {
    std::lock_guard lock(mutex_);
    ++wakeups_;
  }
  changed_.notify_all();
}
