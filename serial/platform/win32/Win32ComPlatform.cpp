// Our headers come first: their constants must be parsed before the system's macros of the same names.
#include "serial/platform/win32/Win32ComPlatform.h"

#include <windows.h>

#include <atomic>

#include "serial/platform/win32/Win32Event.h"
#undef CreateFile
#undef CreateEvent

namespace {

// A zero-filled OVERLAPPED with its own manual-reset event, created set.
class TWin32Record : public TAsyncRecord {
 public:
  explicit TWin32Record(HANDLE event) { Overlapped.hEvent = event; }
  ~TWin32Record() override {
    // The system writes into the OVERLAPPED until the operation ends: it must not go before that.
    if (InFlight) {
      if (Device != INVALID_HANDLE_VALUE) ::CancelIoEx(Device, &Overlapped);
      ::WaitForSingleObject(Overlapped.hEvent, INFINITE);
    }
    ::CloseHandle(Overlapped.hEvent);
  }
  OVERLAPPED Overlapped{};
  DWORD EventMask = 0;          // where the system puts the mask of an event wait
  uint32_t* MaskOut = nullptr;  // where the caller wants it
  bool InFlight = false;
  HANDLE Device = INVALID_HANDLE_VALUE;
};

// Keeps the last error of `call` across the bookkeeping that follows it.
template <typename F>
BOOL Started(TWin32Record& record, HANDLE device, F call) {
  record.Device = device;
  BOOL done = call();
  const DWORD error = ::GetLastError();
  if (!done && error == ERROR_IO_PENDING) record.InFlight = true;
  ::SetLastError(error);
  return done;
}

class TWin32Device : public TComDevice {
 public:
  explicit TWin32Device(HANDLE handle) : handle_(handle) {}
  ~TWin32Device() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  bool SetupComm(uint32_t inputSize, uint32_t outputSize) override {
    return ::SetupComm(handle_, inputSize, outputSize) != 0;
  }

  bool SetCommState(const TDcb& d) override {
    DCB dcb{};
    dcb.DCBlength = d.DCBlength;
    dcb.BaudRate = d.BaudRate;
    dcb.fBinary = d.Flags & 1;
    dcb.fParity = (d.Flags >> 1) & 1;
    dcb.fOutxCtsFlow = (d.Flags >> 2) & 1;
    dcb.fOutxDsrFlow = (d.Flags >> 3) & 1;
    dcb.fDtrControl = (d.Flags >> 4) & 3;
    dcb.fDsrSensitivity = (d.Flags >> 6) & 1;
    dcb.fTXContinueOnXoff = (d.Flags >> 7) & 1;
    dcb.fOutX = (d.Flags >> 8) & 1;
    dcb.fInX = (d.Flags >> 9) & 1;
    dcb.fErrorChar = (d.Flags >> 10) & 1;
    dcb.fNull = (d.Flags >> 11) & 1;
    dcb.fRtsControl = (d.Flags >> 12) & 3;
    dcb.fAbortOnError = (d.Flags >> 14) & 1;
    dcb.XonLim = d.XonLim;
    dcb.XoffLim = d.XoffLim;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    dcb.StopBits = d.StopBits;
    dcb.XonChar = d.XonChar;
    dcb.XoffChar = d.XoffChar;
    dcb.ErrorChar = d.ErrorChar;
    dcb.EofChar = d.EofChar;
    dcb.EvtChar = d.EvtChar;
    return ::SetCommState(handle_, &dcb) != 0;
  }

  bool SetCommTimeouts(const TCommTimeouts& t) override {
    COMMTIMEOUTS timeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                          t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return ::SetCommTimeouts(handle_, &timeouts) != 0;
  }

  bool SetCommMask(uint32_t mask) override { return ::SetCommMask(handle_, mask) != 0; }
  bool PurgeComm(uint32_t flags) override { return ::PurgeComm(handle_, flags) != 0; }

  bool ClearCommError(uint32_t& errors, TComStat& status) override {
    DWORD flags = 0;
    COMSTAT stat{};
    if (!::ClearCommError(handle_, &flags, &stat)) return false;
    errors = flags;
    status.cbInQue = stat.cbInQue;
    status.cbOutQue = stat.cbOutQue;
    return true;
  }

  bool GetCommModemStatus(uint32_t& modemStatus) override {
    DWORD status = 0;
    if (!::GetCommModemStatus(handle_, &status)) return false;
    modemStatus = status;
    return true;
  }

  std::unique_ptr<TAsyncRecord> CreateAsyncRecord() override {
    HANDLE event = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!event) return nullptr;
    return std::make_unique<TWin32Record>(event);
  }

  bool WaitCommEvent(uint32_t& mask, TAsyncRecord& base) override {
    auto& record = static_cast<TWin32Record&>(base);
    record.MaskOut = &mask;
    record.EventMask = 0;
    const HANDLE device = handle_;
    BOOL done = Started(record, device,
                        [&] { return ::WaitCommEvent(device, &record.EventMask, &record.Overlapped); });
    if (done) mask = record.EventMask;
    return done != 0;
  }

  bool WriteFile(const void* buffer, uint32_t count, TAsyncRecord& base) override {
    auto& record = static_cast<TWin32Record&>(base);
    record.MaskOut = nullptr;
    const HANDLE device = handle_;
    return Started(record, device,
                   [&] { return ::WriteFile(device, buffer, count, nullptr, &record.Overlapped); });
  }

  bool ReadFile(void* buffer, uint32_t count, TAsyncRecord& base) override {
    auto& record = static_cast<TWin32Record&>(base);
    record.MaskOut = nullptr;
    const HANDLE device = handle_;
    return Started(record, device,
                   [&] { return ::ReadFile(device, buffer, count, nullptr, &record.Overlapped); });
  }

  uint32_t WaitForRecord(TAsyncRecord& base) override {
    auto& record = static_cast<TWin32Record&>(base);
    return ::WaitForSingleObject(record.Overlapped.hEvent, INFINITE) == WAIT_OBJECT_0 ? 0 : 0xFFFFFFFFu;
  }

  uint32_t WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& base) override {
    auto& record = static_cast<TWin32Record&>(base);
    HANDLE handles[2] = {static_cast<TWin32Event&>(stop).Handle, record.Overlapped.hEvent};
    const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return 0;
    if (result == WAIT_OBJECT_0 + 1) return 1;
    return 0xFFFFFFFFu;
  }

  bool GetOverlappedResult(TAsyncRecord& base, uint32_t& transferred) override {
    auto& record = static_cast<TWin32Record&>(base);
    DWORD count = 0;
    if (!::GetOverlappedResult(handle_, &record.Overlapped, &count, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_INCOMPLETE) record.InFlight = false;
      ::SetLastError(error);
      return false;
    }
    record.InFlight = false;
    transferred = count;
    if (record.MaskOut) *record.MaskOut = record.EventMask;
    return true;
  }

  bool CloseHandle() override {
    HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (handle == INVALID_HANDLE_VALUE) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::CloseHandle(handle) != 0;
  }

 private:
  // A thread that outlives its port's close finds the invalid value here, never a reused handle.
  std::atomic<HANDLE> handle_;
};

}  // namespace

std::unique_ptr<TComDevice> TWin32ComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                          uint32_t shareMode, uint32_t creation,
                                                          uint32_t flags) {
  HANDLE handle = ::CreateFileA(path.c_str(), access, shareMode, nullptr, creation, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<TWin32Device>(handle);
}

std::unique_ptr<TPlatformEvent> TWin32ComPlatform::CreateEvent(bool manualReset, bool initialState) {
  HANDLE event = ::CreateEventA(nullptr, manualReset, initialState, nullptr);
  if (!event) return nullptr;
  return std::make_unique<TWin32Event>(event);
}

uint32_t TWin32ComPlatform::GetLastError() { return ::GetLastError(); }

void TWin32ComPlatform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

std::string TWin32ComPlatform::ErrorText(uint32_t error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result(text ? text : "", length);
  if (text) ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}
