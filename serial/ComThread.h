#pragma once
// The serial event thread: waits on the open device for the port's line events and hands each batch to
// the port's handlers (on the user-interface thread by synchronisation, through the hidden receiver, or
// directly). Created suspended and started by its constructor; destroying it stops it and waits, serving
// the user-interface thread's synchronise requests meanwhile, so a thread blocked delivering can finish.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/ComPort.h"

class TComThread {
 public:
  explicit TComThread(TCustomComPort* port);
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Sets the stop signal and yields once.
  void RequestStop();
  // Tells the thread to stop and waits until it has ended, serving synchronise requests meanwhile.
  void Stop();
  bool Ended() const { return ended_.load(); }
  // Ended because its device wait failed (the device has gone), not because it was told to stop.
  bool EndedOnFailure() const { return failedWait_.load(); }
  // True on the thread that is running this thread's handlers while the thread waits for them: waiting
  // for the thread to end from there could never return.
  bool BlockedOnCaller() const { return handlerThread_.load() == std::this_thread::get_id(); }

  // The events of the last completed wait; read by the delivery step.
  TComEvents PendingEvents;

 private:
  void Resume();
  void Execute();
  // True when the loop ended on a failed wait rather than on the stop signal.
  bool RunLoop(TAsyncRecord& record, uint32_t& mask);
  void DeliverEvents();
  void RunHandlers();

  TCustomComPort* port_;
  TComPlatform& platform_;
  std::shared_ptr<TComDevice> device_;
  std::shared_ptr<TComNotifyWindow> notifyWindow_;
  const TSyncMethod syncMethod_;
  const TThreadPriority priority_;

  // The body releases the stop signal among its exit steps; RequestStop may race with that.
  std::mutex stopMutex_;
  std::unique_ptr<TPlatformEvent> stopSignal_;

  std::mutex gateMutex_;
  std::condition_variable gate_;
  bool resumed_ = false;

  bool stopped_ = false;  // Stop has run (user-interface thread only)
  std::atomic<bool> ended_{false};
  std::atomic<bool> failedWait_{false};
  std::atomic<bool> stopRequested_{false};
  bool StopRequested() const { return stopRequested_.load(); }
  std::weak_ptr<TCustomComPort*> portAlive_;
  uint64_t session_ = 0;
  std::atomic<std::thread::id> handlerThread_{};
  std::thread thread_;
};
