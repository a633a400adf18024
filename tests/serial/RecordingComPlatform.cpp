#include "tests/serial/RecordingComPlatform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {
thread_local uint32_t lastError = 0;

std::string Hex(uint32_t value, int digits = 4) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string DcbText(const TDcb& d) {
  return "BaudRate=" + std::to_string(d.BaudRate) + " Flags=" + Hex(d.Flags) +
         " XonLim=" + std::to_string(d.XonLim) + " XoffLim=" + std::to_string(d.XoffLim) +
         " ByteSize=" + std::to_string(d.ByteSize) + " Parity=" + std::to_string(d.Parity) +
         " StopBits=" + std::to_string(d.StopBits) + " XonChar=" + std::to_string(int(d.XonChar)) +
         " XoffChar=" + std::to_string(int(d.XoffChar)) + " ErrorChar=" + std::to_string(int(d.ErrorChar)) +
         " EofChar=" + std::to_string(int(d.EofChar)) + " EvtChar=" + std::to_string(int(d.EvtChar));
}
}  // namespace

class TRecordingComPlatform::TEvent : public TPlatformEvent {
 public:
  TEvent(TRecordingComPlatform& owner, bool set) : owner_(owner), set_(set) {}
  ~TEvent() override {
    owner_.Record("CloseEvent", "");
    // The event thread releases its stop signal last: whatever it handed over is queued by now.
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.busy_ = false;
    }
    owner_.Changed();
  }
  void Set() override {
    {
      std::lock_guard lock(owner_.mutex_);
      set_ = true;
    }
    owner_.Record("SetEvent", "");
    owner_.Changed();
  }
  void Reset() override {
    std::lock_guard lock(owner_.mutex_);
    set_ = false;
  }
  bool IsSetLocked() const { return set_; }

 private:
  TRecordingComPlatform& owner_;
  bool set_;
};

class TRecordingComPlatform::TRecord : public TAsyncRecord {
 public:
  uint32_t* Mask = nullptr;
  uint32_t Result = 0;
  bool Waiting = false;
};

class TRecordingComPlatform::TDevice : public TComDevice {
 public:
  TDevice(TRecordingComPlatform& owner, std::string path) : o_(owner), path_(std::move(path)) {}

  bool SetupComm(uint32_t in, uint32_t out) override {
    return Call("SetupComm", std::to_string(in) + " " + std::to_string(out));
  }
  bool SetCommState(const TDcb& dcb) override {
    if (!Call("SetCommState", DcbText(dcb))) return false;
    std::lock_guard lock(o_.mutex_);
    o_.lastState_ = dcb;
    return true;
  }
  bool SetCommTimeouts(const TCommTimeouts& t) override {
    if (!Call("SetCommTimeouts", std::to_string(t.ReadIntervalTimeout) + "/" +
                                     std::to_string(t.ReadTotalTimeoutMultiplier) + "/" +
                                     std::to_string(t.ReadTotalTimeoutConstant) + "/" +
                                     std::to_string(t.WriteTotalTimeoutMultiplier) + "/" +
                                     std::to_string(t.WriteTotalTimeoutConstant)))
      return false;
    std::lock_guard lock(o_.mutex_);
    o_.lastTimeouts_ = t;
    return true;
  }
  bool SetCommMask(uint32_t mask) override {
    if (!Call("SetCommMask", Hex(mask))) return false;
    {
      std::lock_guard lock(o_.mutex_);
      o_.mask_ = mask;
      ++o_.maskGeneration_;
      o_.waiterArmed_ = mask != 0;
    }
    o_.Changed();
    return true;
  }
  bool PurgeComm(uint32_t flags) override {
    if (!Call("PurgeComm", std::to_string(flags))) return false;
    std::lock_guard lock(o_.mutex_);
    if (flags & ComApi::PURGE_RXCLEAR) o_.input_.clear();
    return true;
  }
  bool ClearCommError(uint32_t& errors, TComStat& status) override {
    if (!Call("ClearCommError", "")) return false;
    std::lock_guard lock(o_.mutex_);
    errors = o_.lineErrors_;
    o_.lineErrors_ = 0;
    status.cbInQue = uint32_t(o_.input_.size());
    status.cbOutQue = 0;
    return true;
  }
  bool GetCommModemStatus(uint32_t& status) override {
    if (!Call("GetCommModemStatus", "")) return false;
    std::lock_guard lock(o_.mutex_);
    status = o_.modemStatus_;
    return true;
  }
  std::unique_ptr<TAsyncRecord> CreateAsyncRecord() override { return std::make_unique<TRecord>(); }

  bool WaitCommEvent(uint32_t& mask, TAsyncRecord& base) override {
    if (!Call("WaitCommEvent", "")) return false;
    auto& record = static_cast<TRecord&>(base);
    std::lock_guard lock(o_.mutex_);
    record.Mask = &mask;
    record.Waiting = true;
    generation_ = o_.maskGeneration_;
    lastError = ComApi::ERROR_IO_PENDING;
    return false;
  }
  uint32_t WaitForStopOrRecord(TPlatformEvent& stopBase, TAsyncRecord& base) override {
    if (!Call("WaitForStopOrRecord", "")) return ComApi::WAIT_FAILED;
    auto& stop = static_cast<TEvent&>(stopBase);
    auto& record = static_cast<TRecord&>(base);
    std::unique_lock lock(o_.mutex_);
    o_.busy_ = false;
    o_.waiting_ = true;
    lock.unlock();
    o_.Changed();
    lock.lock();
    o_.changed_.wait(lock, [&] {
      return stop.IsSetLocked() || !record.Waiting || !o_.raised_.empty() || closed_ ||
             generation_ != o_.maskGeneration_;
    });
    o_.waiting_ = false;
    if (stop.IsSetLocked()) return 0;
    if (record.Waiting) {
      record.Waiting = false;
      if (!o_.raised_.empty() && !closed_ && generation_ == o_.maskGeneration_) {
        *record.Mask = o_.raised_.front();
        o_.raised_.pop_front();
        o_.busy_ = true;
        lock.unlock();
        o_.Changed();
        return 1;
      }
      *record.Mask = 0;
    }
    return 1;
  }
  bool WriteFile(const void* buffer, uint32_t count, TAsyncRecord& base) override {
    {
      std::lock_guard lock(o_.mutex_);
      if (!closed_) {
        auto* bytes = static_cast<const uint8_t*>(buffer);
        o_.written_.insert(o_.written_.end(), bytes, bytes + count);
        static_cast<TRecord&>(base).Result = count;
      }
    }
    return Call("WriteFile", std::to_string(count));
  }
  bool ReadFile(void* buffer, uint32_t count, TAsyncRecord& base) override {
    {
      std::lock_guard lock(o_.mutex_);
      if (!closed_) {
        uint32_t n = uint32_t(std::min<size_t>(count, o_.input_.size()));
        std::copy_n(o_.input_.begin(), n, static_cast<uint8_t*>(buffer));
        o_.input_.erase(o_.input_.begin(), o_.input_.begin() + n);
        static_cast<TRecord&>(base).Result = n;
      }
    }
    return Call("ReadFile", std::to_string(count));
  }
  uint32_t WaitForRecord(TAsyncRecord&) override {
    return Call("WaitForRecord", "") ? ComApi::WAIT_OBJECT_0 : ComApi::WAIT_FAILED;
  }
  bool GetOverlappedResult(TAsyncRecord& base, uint32_t& transferred) override {
    if (!Call("GetOverlappedResult", "")) return false;
    transferred = static_cast<TRecord&>(base).Result;
    return true;
  }
  bool CloseHandle() override {
    if (!Call("CloseHandle", "")) return false;
    {
      std::lock_guard lock(o_.mutex_);
      closed_ = true;
      o_.waiterArmed_ = false;
      o_.busy_ = false;
      std::erase(o_.openPaths_, path_);
    }
    o_.Changed();
    return true;
  }

 private:
  // Records the call and decides its outcome: scripted failure, or a handle that was closed already.
  bool Call(const std::string& name, const std::string& args) {
    if (o_.Record(name, args)) return false;
    std::lock_guard lock(o_.mutex_);
    if (closed_) {
      lastError = ComApi::ERROR_INVALID_HANDLE;
      return false;
    }
    return true;
  }

  TRecordingComPlatform& o_;
  std::string path_;
  bool closed_ = false;
  uint64_t generation_ = 0;
};

TRecordingComPlatform::TRecordingComPlatform(TVirtualToolkit* clock)
    : clock_(clock), creator_(std::this_thread::get_id()) {
  if (clock_) clock_->AddSource(this);
}

TRecordingComPlatform::~TRecordingComPlatform() {
  if (clock_) clock_->RemoveSource(this);
}

bool TRecordingComPlatform::Record(const std::string& name, const std::string& args) {
  std::lock_guard lock(mutex_);
  calls_.push_back({name, args, std::this_thread::get_id() != creator_});
  changed_.notify_all();
  auto it = failures_.find(name);
  if (it == failures_.end()) return false;
  lastError = it->second.first;
  if (it->second.second > 0 && --it->second.second == 0) failures_.erase(it);
  return true;
}

void TRecordingComPlatform::Changed() {
  changed_.notify_all();
  if (clock_) clock_->SourceChanged();
}

std::vector<TRecordingComPlatform::TCall> TRecordingComPlatform::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> TRecordingComPlatform::Log(bool creatorThreadOnly) const {
  std::vector<std::string> log;
  for (const TCall& c : Calls())
    if (!creatorThreadOnly || !c.OnWorker) log.push_back(c.Text());
  return log;
}

std::vector<std::string> TRecordingComPlatform::Log(const std::vector<std::string>& names) const {
  std::vector<std::string> log;
  for (const TCall& c : Calls())
    if (std::find(names.begin(), names.end(), c.Name) != names.end()) log.push_back(c.Text());
  return log;
}

int TRecordingComPlatform::Count(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return int(std::count_if(calls_.begin(), calls_.end(), [&](const TCall& c) { return c.Name == name; }));
}

void TRecordingComPlatform::ClearLog() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

TDcb TRecordingComPlatform::LastState() const {
  std::lock_guard lock(mutex_);
  return lastState_;
}

TCommTimeouts TRecordingComPlatform::LastTimeouts() const {
  std::lock_guard lock(mutex_);
  return lastTimeouts_;
}

void TRecordingComPlatform::Fail(const std::string& call, uint32_t error, int times) {
  std::lock_guard lock(mutex_);
  failures_[call] = {error, times};
}

void TRecordingComPlatform::RaiseEvents(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    raised_.push_back(mask);
  }
  Changed();
}

void TRecordingComPlatform::Receive(const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> TRecordingComPlatform::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void TRecordingComPlatform::SetModemStatus(uint32_t status) {
  std::lock_guard lock(mutex_);
  modemStatus_ = status;
}

void TRecordingComPlatform::SetLineErrors(uint32_t flags) {
  std::lock_guard lock(mutex_);
  lineErrors_ = flags;
}

size_t TRecordingComPlatform::InputCount() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

bool TRecordingComPlatform::WaitUntilWaiting(double seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                           [&] { return waiting_ && raised_.empty(); });
}

bool TRecordingComPlatform::WaitForCall(const std::string& name, int count, double seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
    return std::count_if(calls_.begin(), calls_.end(), [&](const TCall& c) { return c.Name == name; }) >=
           count;
  });
}

bool TRecordingComPlatform::WaitUntilTaken(double seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                           [&] { return busy_ && raised_.empty(); });
}

bool TRecordingComPlatform::Quiescent() {
  std::lock_guard lock(mutex_);
  return !busy_ && (raised_.empty() || !waiterArmed_);
}

std::unique_ptr<TComDevice> TRecordingComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                              uint32_t shareMode, uint32_t creation,
                                                              uint32_t flags) {
  if (Record("CreateFile", path + " access=" + Hex(access, 8) + " share=" + std::to_string(shareMode) +
                               " creation=" + std::to_string(creation) + " flags=" + Hex(flags, 8)))
    return nullptr;
  std::lock_guard lock(mutex_);
  // Share mode 0, as the port asks: a second opener is refused.
  if (std::find(openPaths_.begin(), openPaths_.end(), path) != openPaths_.end()) {
    lastError = ComApi::ERROR_ACCESS_DENIED;
    return nullptr;
  }
  openPaths_.push_back(path);
  return std::make_unique<TDevice>(*this, path);
}

std::unique_ptr<TPlatformEvent> TRecordingComPlatform::CreateEvent(bool manualReset, bool initialState) {
  if (Record("CreateEvent",
             std::string("manual=") + (manualReset ? "1" : "0") + " initial=" + (initialState ? "1" : "0")))
    return nullptr;
  return std::make_unique<TEvent>(*this, initialState);
}

uint32_t TRecordingComPlatform::GetLastError() { return lastError; }

void TRecordingComPlatform::Sleep(uint32_t milliseconds) { Record("Sleep", std::to_string(milliseconds)); }
