#include "serial/ComThread.h"

#include "serial/ComEventMask.h"
#include "serial/ComNotifyWindow.h"
#include "serial/platform/ThreadPriority.h"
#include "toolkit/Toolkit.h"

namespace {
constexpr uint32_t FailedWaitPauseMs = 10;
}  // namespace

TComThread::TComThread(TCustomComPort* port)
    : port_(port),
      platform_(port->Platform()),
      device_(port->device_),
      notifyWindow_(port->notifyWindow_),
      syncMethod_(port->SyncMethod()),
      priority_(port->WorkerPriority),
      portAlive_(port->self_),
      session_(port->session_) {
  // The body waits at the gate until the mask is set: the thread is created suspended.
  thread_ = std::thread([this] { Execute(); });
  try {
    stopSignal_ = platform_.CreateEvent(true, false);
    device_->SetCommMask(EventsToMask(port->Events()));
  } catch (...) {
    Resume();
    thread_.join();
    throw;
  }
  Resume();
}

TComThread::~TComThread() { Stop(); }

void TComThread::Stop() {
  if (stopped_) return;
  stopped_ = true;
  RequestStop();
  Resume();  // a thread that never got going must still pass its gate to end
  if (!thread_.joinable()) return;
  // A thread blocked handing a batch to this thread finishes that batch here, then sees the stop signal.
  if (!ended_) Toolkit().WaitServing([this] { return ended_.load(); });
  thread_.join();
}

void TComThread::RequestStop() {
  stopRequested_ = true;
  {
    std::lock_guard lock(stopMutex_);
    if (stopSignal_) stopSignal_->Set();
  }
  platform_.Sleep(0);
}

void TComThread::Resume() {
  {
    std::lock_guard lock(gateMutex_);
    resumed_ = true;
  }
  gate_.notify_all();
}

void TComThread::Execute() {
  {
    std::unique_lock lock(gateMutex_);
    gate_.wait(lock, [this] { return resumed_; });
  }
  SetCurrentThreadPriority(static_cast<int>(priority_) - static_cast<int>(TThreadPriority::tpNormal));

  std::exception_ptr failure;
  std::unique_ptr<TAsyncRecord> record = stopSignal_ ? device_->CreateAsyncRecord() : nullptr;
  // The device writes the mask of a wait when the wait completes, which for the wait still outstanding at
  // the end is the SetCommMask(0) below: the variable must live as long as the record.
  uint32_t mask = 0;
  if (record) {
    try {
      failedWait_ = RunLoop(*record, mask);
    } catch (...) {
      // A handler's error ends the thread, but not before the exit steps below.
      failure = std::current_exception();
    }
  }
  // A mask of 0 also completes the wait that is still outstanding, so the record can go.
  device_->SetCommMask(0);
  device_->PurgeComm(ComApi::PURGE_TXCLEAR | ComApi::PURGE_RXCLEAR);
  // Nobody else would ever show it; the operator should see why events stopped.
  if (failure) Toolkit().Post([failure] { ShowException(failure); });
  // A wait that failed means the device has gone: the port closes itself on the user-interface thread.
  if (failedWait_)
    Toolkit().Post([alive = portAlive_, session = session_] {
      if (auto port = alive.lock()) (*port)->LoseDevice(session);
    });
  record.reset();
  {
    std::lock_guard lock(stopMutex_);
    stopSignal_.reset();
  }
  ended_ = true;
  Toolkit().WakeWaiters();
}

bool TComThread::RunLoop(TAsyncRecord& record, uint32_t& mask) {
  for (;;) {
    mask = 0;
    // A wait that cannot even be started (an unplugged adapter, a closed device) would fail again at
    // once on every round: end as for a failed wait instead of spinning.
    if (!device_->WaitCommEvent(mask, record) && platform_.GetLastError() != ComApi::ERROR_IO_PENDING)
      return !StopRequested();
    const uint32_t woken = device_->WaitForStopOrRecord(*stopSignal_, record);
    if (woken == 0) return false;
    if (woken != 1) return !StopRequested();
    uint32_t transferred = 0;
    if (!device_->GetOverlappedResult(record, transferred)) {
      // The batch is dropped. A driver may fail every wait at once (Wine does, 10 ms after it began, on
      // a port without modem lines): a short pause keeps the loop from spinning, and is short enough
      // that bytes are still taken up well within the link's 60 ms pacing.
      platform_.Sleep(FailedWaitPauseMs);
      continue;
    }
    PendingEvents = MaskToEvents(mask);
    // An empty batch (the mask was changed under a pending wait) has nothing to hand over.
    if (!PendingEvents.Empty()) DeliverEvents();
  }
}

void TComThread::DeliverEvents() {
  switch (syncMethod_) {
    case smThreadSync:
      Toolkit().Synchronize([this] { RunHandlers(); });
      break;
    case smWindowSync:
      if (notifyWindow_) notifyWindow_->SendEventMessages(PendingEvents);
      break;
    case smNone:
      RunHandlers();
      break;
  }
}

void TComThread::RunHandlers() {
  struct TMark {
    std::atomic<std::thread::id>& Slot;
    ~TMark() { Slot = std::thread::id(); }
  } mark{handlerThread_};
  handlerThread_ = std::this_thread::get_id();
  port_->RunEventHandlers(PendingEvents);
}
