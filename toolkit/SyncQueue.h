#pragma once
// The hand-off point between worker threads and the user-interface thread: synchronise requests, sent
// messages and posted calls wait here until the user-interface thread runs them. Both toolkit bindings
// use it; they differ only in how the user-interface thread is woken.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TSyncQueue {
 public:
  TSyncQueue();

  // Worker side.
  void Synchronize(const std::function<void()>& method);
  void Send(const std::function<void(const std::function<void()>& reply)>& procedure);
  void Post(const std::function<void()>& method);

  // User-interface side.
  bool HasPending();
  // Runs the requests queued so far; returns whether any ran.
  bool RunPending();
  // Runs only synchronise requests and sent messages until `done` holds.
  void WaitServing(const std::function<bool()>& done);
  void WakeWaiters();
  // Any thread: blocks until `done` holds, woken by WakeWaiters, running nothing meanwhile.
  void WaitWoken(const std::function<bool()>& done);

  // True while the user-interface thread runs a synchronise request, whose worker is blocked until it
  // returns (a handler inside a modal box, say): that worker can take up nothing meanwhile.
  bool ServingBlockedWorker() const { return serving_ > 0; }

  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
  void AdoptCurrentThreadAsUi() { uiThread_ = std::this_thread::get_id(); }

  // Called, outside the lock, whenever something is queued: the binding wakes its loop here.
  std::function<void()> OnQueued;

 private:
  struct TRequest {
    enum class TKind { Synchronize, Send, Post } Kind;
    std::function<void()> Method;
    std::function<void(const std::function<void()>&)> Procedure;
    bool Released = false;  // the worker may go on
    std::exception_ptr Error;
  };
  void Enqueue(const std::shared_ptr<TRequest>& request);
  void Run(const std::shared_ptr<TRequest>& request);
  void Release(const std::shared_ptr<TRequest>& request);

  std::mutex mutex_;
  std::condition_variable released_;  // workers wait for their request
  std::condition_variable changed_;   // WaitServing waits for work or a wake-up
  std::deque<std::shared_ptr<TRequest>> queue_;
  uint64_t wakeups_ = 0;
  int serving_ = 0;  // only the user-interface thread touches it
  std::thread::id uiThread_;
};
