#include "unitsim/SimComDevice.h"

#include <algorithm>
#include <cstring>

using namespace ComApi;

namespace {
thread_local uint32_t tLastError = 0;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
}  // namespace

void SimSetLastError(uint32_t error) { tLastError = error; }
uint32_t SimGetLastError() { return tLastError; }

void TSimEvent::Set() {
  set_ = true;
  std::vector<TWaiter> waiters;
  {
    std::lock_guard lock(waitersMutex_);
    waiters = waiters_;
  }
  // Taking the waiter's lock orders this wake-up after its check of the flag, so it cannot be lost.
  for (auto& w : waiters) {
    { std::lock_guard lock(*w.Mutex); }
    w.Wake->notify_all();
  }
}

void TSimEvent::AddWaiter(std::mutex* mutex, std::condition_variable* wake) {
  std::lock_guard lock(waitersMutex_);
  waiters_.push_back({mutex, wake});
}

void TSimEvent::RemoveWaiter(std::condition_variable* wake) {
  std::lock_guard lock(waitersMutex_);
  std::erase_if(waiters_, [&](const TWaiter& w) { return w.Wake == wake; });
}

// One OVERLAPPED with its manual-reset event (created set) and the transfer it carries.
class TSimAsyncRecord : public TAsyncRecord {
 public:
  enum class TKind { None, Wait, Read, Write };

  TSimAsyncRecord(std::shared_ptr<TSimBus> bus, std::mutex& mutex, TSimComDevice* device)
      : bus_(std::move(bus)), mutex_(mutex), device_(device) {}
  ~TSimAsyncRecord() override {
    std::lock_guard lock(mutex_);
    if (!device_) return;
    if (device_->waitRecord_ == this) device_->waitRecord_ = nullptr;
    if (device_->readRecord_ == this) device_->readRecord_ = nullptr;
    std::erase(device_->records_, this);
  }

  void Start(TKind kind) {
    Kind = kind;
    Signalled = false;
    Pending = true;
    Ok = true;
    Error = 0;
    Transferred = 0;
  }

  std::shared_ptr<TSimBus> bus_;  // keeps the lock alive as long as the record
  std::mutex& mutex_;
  TSimComDevice* device_;  // null once the device is gone

  TKind Kind = TKind::None;
  bool Signalled = true;
  bool Pending = false;
  bool Ok = true;
  uint32_t Error = 0;
  uint32_t Transferred = 0;

  uint32_t* MaskOut = nullptr;

  uint8_t* Buffer = nullptr;
  uint32_t Count = 0;
  bool ReturnOnFirstByte = false;
  std::optional<std::chrono::steady_clock::time_point> TotalDeadline;
  std::chrono::microseconds Interval{0};
  std::chrono::steady_clock::time_point LastByte;
};

TSimComDevice::TSimComDevice(std::shared_ptr<TSimBus> bus, std::string name)
    : bus_(std::move(bus)), mutex_(bus_->mutex_), name_(std::move(name)) {
  // A fresh device already runs at the line's settings, as a driver keeps the last ones.
  dcb_.BaudRate = bus_->BaudRate();
  dcb_.Flags = 0x0001;
  dcb_.ByteSize = 8;
}

TSimComDevice::~TSimComDevice() {
  {
    std::lock_guard lock(mutex_);
    if (!closed_) {
      closed_ = true;
      FailOutstanding(ERROR_OPERATION_ABORTED);
      Detach();
    }
    for (auto* r : records_) r->device_ = nullptr;
    records_.clear();
  }
  bus_->Notify();
}

bool TSimComDevice::Usable() {
  if (closed_) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (unplugged_) {
    SimSetLastError(SimError::Unplugged);
    return false;
  }
  return true;
}

bool TSimComDevice::IsVirtual() const { return !bus_->clock_ || bus_->clock_->IsVirtual(); }

bool TSimComDevice::LineMatches() const {
  return dcb_.BaudRate == bus_->BaudRate() && dcb_.ByteSize == 8 && dcb_.Parity == 0 && dcb_.StopBits == 0;
}

TSimAsyncRecord* TSimComDevice::Ours(TAsyncRecord& record) {
  auto* r = dynamic_cast<TSimAsyncRecord*>(&record);
  if (!r || r->device_ != this) {
    SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return r;
}

void TSimComDevice::Complete(TSimAsyncRecord& record, bool ok, uint32_t error) {
  record.Pending = false;
  record.Signalled = true;
  record.Ok = ok;
  record.Error = error;
  if (&record == waitRecord_) waitRecord_ = nullptr;
  if (&record == readRecord_) readRecord_ = nullptr;
  wake_.notify_all();
}

void TSimComDevice::FailOutstanding(uint32_t error) {
  if (waitRecord_) Complete(*waitRecord_, false, error);
  if (readRecord_) Complete(*readRecord_, false, error);
  handedOut_ = false;
  events_ = 0;
}

void TSimComDevice::Detach() {
  if (bus_->host_ == this) bus_->host_ = nullptr;
}

bool TSimComDevice::SetupComm(uint32_t inputSize, uint32_t outputSize) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  inputSize_ = std::max<uint32_t>(inputSize, 16);
  return true;
}

bool TSimComDevice::SetCommState(const TDcb& dcb) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2) {
    SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
    return false;
  }
  dcb_ = dcb;
  return true;
}

bool TSimComDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  timeouts_ = timeouts;
  return true;
}

bool TSimComDevice::SetCommMask(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    if (!Usable()) return false;
    mask_ = mask;
    events_ = 0;  // a new mask starts a new history
    if (waitRecord_) {
      *waitRecord_->MaskOut = 0;
      Complete(*waitRecord_, true, 0);
      // With a mask left, the worker comes back for its next wait; with none, it is on its way out.
      handedOut_ = mask != 0;
    }
    if (mask == 0) handedOut_ = false;
  }
  bus_->Notify();
  return true;
}

bool TSimComDevice::PurgeComm(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  if (flags & ~uint32_t(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
    SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
    return false;
  }
  if ((flags & PURGE_RXABORT) && readRecord_) Complete(*readRecord_, false, ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXCLEAR) input_.clear();
  // Written bytes are already in the line's transmitter (writes complete at once), so the transmit flags
  // have nothing left to cancel.
  return true;
}

bool TSimComDevice::ClearCommError(uint32_t& errors, TComStat& status) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  errors = errors_;
  errors_ = 0;
  status.cbInQue = uint32_t(input_.size());
  status.cbOutQue = uint32_t(bus_->hostBytes_.size());
  return true;
}

bool TSimComDevice::GetCommModemStatus(uint32_t& modemStatus) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  modemStatus = 0;  // no modem lines are wired on the bus
  return true;
}

std::unique_ptr<TAsyncRecord> TSimComDevice::CreateAsyncRecord() {
  std::lock_guard lock(mutex_);
  auto record = std::make_unique<TSimAsyncRecord>(bus_, mutex_, this);
  records_.push_back(record.get());
  return record;
}

bool TSimComDevice::WaitCommEvent(uint32_t& mask, TAsyncRecord& record) {
  bool done = false;
  {
    std::lock_guard lock(mutex_);
    if (!Usable()) return false;
    auto* r = Ours(record);
    if (!r) return false;
    if (waitRecord_ || mask_ == 0) {
      // One wait at a time, and a wait needs something to wait for.
      SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
      return false;
    }
    handedOut_ = false;
    r->Start(TSimAsyncRecord::TKind::Wait);
    r->MaskOut = &mask;
    if (events_ & mask_) {
      mask = events_ & mask_;
      events_ = 0;
      Complete(*r, true, 0);
      handedOut_ = true;
      done = true;
    } else {
      waitRecord_ = r;
    }
  }
  bus_->Notify();
  if (!done) SimSetLastError(ERROR_IO_PENDING);
  return done;
}

void TSimComDevice::Raise(uint32_t events) {
  events &= mask_;
  if (!events) return;
  if (waitRecord_) {
    *waitRecord_->MaskOut = events;
    Complete(*waitRecord_, true, 0);
    handedOut_ = true;
  } else {
    events_ |= events;
  }
}

void TSimComDevice::HostReceive(uint8_t byte, int64_t timeUs) {
  if (closed_ || unplugged_) return;
  if (readRecord_) {
    auto* r = readRecord_;
    r->Buffer[r->Transferred++] = byte;
    r->LastByte = TClock::now();
    if (r->Transferred == r->Count || r->ReturnOnFirstByte) Complete(*r, true, 0);
  } else if (input_.size() >= inputSize_) {
    errors_ |= CE_RXOVER;
    Raise(EV_ERR);
  } else {
    input_.push_back(byte);
  }
  Raise(EV_RXCHAR | (byte == uint8_t(dcb_.EvtChar) ? EV_RXFLAG : 0));
  wake_.notify_all();
}

void TSimComDevice::HostTxEmpty(int64_t) {
  if (closed_ || unplugged_) return;
  Raise(EV_TXEMPTY);
}

bool TSimComDevice::HostQuiescent() { return closed_ || unplugged_ || (!handedOut_ && events_ == 0); }

bool TSimComDevice::WriteFile(const void* buffer, uint32_t count, TAsyncRecord& record) {
  {
    std::lock_guard lock(mutex_);
    if (!Usable()) return false;
    auto* r = Ours(record);
    if (!r) return false;
    r->Start(TSimAsyncRecord::TKind::Write);
    bus_->QueueHostBytes(static_cast<const uint8_t*>(buffer), count, !LineMatches());
    Complete(*r, true, 0);
    r->Transferred = count;
  }
  bus_->Notify();
  return true;
}

bool TSimComDevice::ReadFile(void* buffer, uint32_t count, TAsyncRecord& record) {
  std::lock_guard lock(mutex_);
  if (!Usable()) return false;
  auto* r = Ours(record);
  if (!r) return false;
  if (readRecord_) {
    SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
    return false;
  }
  r->Start(TSimAsyncRecord::TKind::Read);
  r->Buffer = static_cast<uint8_t*>(buffer);
  r->Count = count;
  const uint32_t take = std::min<uint32_t>(count, uint32_t(input_.size()));
  std::copy_n(input_.begin(), take, r->Buffer);
  input_.erase(input_.begin(), input_.begin() + take);

  const auto& t = timeouts_;
  const bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                            t.ReadTotalTimeoutConstant == 0;
  const bool waitForFirst = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
                            t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < kMaxDword;
  // Virtual time never blocks a reader: what is there is all there is until the clock moves.
  r->Transferred = take;
  if (take == count || IsVirtual() || returnAtOnce || (waitForFirst && take > 0)) {
    Complete(*r, true, 0);
    return true;
  }
  r->LastByte = TClock::now();
  r->ReturnOnFirstByte = waitForFirst;
  r->TotalDeadline.reset();
  r->Interval = std::chrono::microseconds(0);
  if (waitForFirst) {
    r->TotalDeadline = TClock::now() + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
  } else {
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword)
      r->Interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
      r->TotalDeadline = TClock::now() + std::chrono::milliseconds(uint64_t(t.ReadTotalTimeoutMultiplier) * count +
                                                                   t.ReadTotalTimeoutConstant);
  }
  readRecord_ = r;
  SimSetLastError(ERROR_IO_PENDING);
  return false;
}

std::optional<TSimComDevice::TClock::time_point> TSimComDevice::ReadDeadline(const TSimAsyncRecord& r) const {
  std::optional<TClock::time_point> deadline = r.TotalDeadline;
  if (r.Interval.count() > 0 && r.Transferred > 0) {
    auto intervalEnd = r.LastByte + r.Interval;
    if (!deadline || intervalEnd < *deadline) deadline = intervalEnd;
  }
  return deadline;
}

void TSimComDevice::CheckRead(TSimAsyncRecord& r, TClock::time_point now) {
  if (&r != readRecord_) return;
  auto deadline = ReadDeadline(r);
  if (deadline && now >= *deadline) Complete(r, true, 0);
}

uint32_t TSimComDevice::WaitForRecord(TAsyncRecord& record) {
  std::unique_lock lock(mutex_);
  auto* r = dynamic_cast<TSimAsyncRecord*>(&record);
  if (!r) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  while (!r->Signalled) {
    if (r->device_ != this || closed_ || unplugged_) {
      SimSetLastError(closed_ ? ERROR_INVALID_HANDLE : SimError::Unplugged);
      return WAIT_FAILED;
    }
    auto deadline = r == readRecord_ ? ReadDeadline(*r) : std::nullopt;
    if (deadline) {
      wake_.wait_until(lock, *deadline);
      CheckRead(*r, TClock::now());
    } else {
      wake_.wait(lock);
    }
  }
  return WAIT_OBJECT_0;
}

uint32_t TSimComDevice::WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& record) {
  auto* event = dynamic_cast<TSimEvent*>(&stop);
  auto* r = dynamic_cast<TSimAsyncRecord*>(&record);
  if (!event || !r) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  uint32_t result;
  event->AddWaiter(&mutex_, &wake_);
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (event->IsSet()) {
        event->Consume();
        handedOut_ = false;  // the worker stops; what it was handed is dropped with it
        result = WAIT_OBJECT_0;
        break;
      }
      if (closed_ || unplugged_ || r->device_ != this) {
        SimSetLastError(closed_ ? ERROR_INVALID_HANDLE : SimError::Unplugged);
        result = WAIT_FAILED;
        break;
      }
      if (r->Signalled) {
        result = WAIT_OBJECT_0 + 1;
        break;
      }
      wake_.wait(lock);
    }
  }
  event->RemoveWaiter(&wake_);
  bus_->Notify();
  return result;
}

bool TSimComDevice::GetOverlappedResult(TAsyncRecord& record, uint32_t& transferred) {
  std::lock_guard lock(mutex_);
  auto* r = dynamic_cast<TSimAsyncRecord*>(&record);
  if (!r) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (r->Pending) CheckRead(*r, TClock::now());
  if (!r->Signalled || r->Pending) {
    SimSetLastError(SimError::ERROR_IO_INCOMPLETE);
    return false;
  }
  transferred = r->Transferred;
  if (!r->Ok) {
    SimSetLastError(r->Error);
    return false;
  }
  return true;
}

bool TSimComDevice::CloseHandle() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      SimSetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    closed_ = true;
    FailOutstanding(ERROR_OPERATION_ABORTED);
    input_.clear();
    Detach();
  }
  bus_->Notify();
  return true;
}

void TSimComDevice::Unplug() {
  {
    std::lock_guard lock(mutex_);
    if (unplugged_ || closed_) return;
    unplugged_ = true;
    FailOutstanding(SimError::Unplugged);
    input_.clear();
    Detach();
    wake_.notify_all();
  }
  bus_->Notify();
}

TDcb TSimComDevice::CommState() {
  std::lock_guard lock(mutex_);
  return dcb_;
}

TCommTimeouts TSimComDevice::CommTimeouts() {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

uint32_t TSimComDevice::CommMask() {
  std::lock_guard lock(mutex_);
  return mask_;
}

bool TSimComDevice::Unplugged() {
  std::lock_guard lock(mutex_);
  return unplugged_;
}

bool TSimComDevice::Closed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

bool TSimComDevice::Quiescent() {
  std::lock_guard lock(mutex_);
  return HostQuiescent();
}
