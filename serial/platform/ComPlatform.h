#pragma once
// The platform layer under the serial port: one small interface shaped after the Windows communications
// calls, so the port object and its event thread read the same on every system. Backends: Win32 (the
// calls themselves), POSIX (termios and poll), the simulated device of unitsim and the recording fake of
// the tests.
//
// Every call that fails leaves its reason in the calling thread's last error (GetLastError), as the
// Windows calls do; the caller reads it at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ComApi {
// CreateFile
constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t GENERIC_WRITE = 0x40000000u;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t FILE_FLAG_OVERLAPPED = 0x40000000u;
// PurgeComm
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;
// Event masks (SetCommMask, WaitCommEvent)
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_RX80FULL = 0x0400;
// ClearCommError error flags
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;
constexpr uint32_t CE_MODE = 0x8000;
// GetCommModemStatus
constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;
// Waits
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
// Error numbers the logic above the layer looks at
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
constexpr uint32_t ERROR_IO_PENDING = 997;
}  // namespace ComApi

// The device control block that SetCommState takes. Flags holds the DCB bit fields (fBinary 0x0001 ...).
struct TDcb {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  bool operator==(const TDcb&) const = default;
};

// Bits of TDcb::Flags, the DCB's bit fields, and its two line-control fields of two bits each.
namespace DcbFlag {
constexpr uint32_t fBinary = 0x0001;
constexpr uint32_t fParity = 0x0002;
constexpr uint32_t fOutxCtsFlow = 0x0004;
constexpr uint32_t fOutxDsrFlow = 0x0008;
constexpr int fDtrControlShift = 4;
constexpr uint32_t fDsrSensitivity = 0x0040;
constexpr uint32_t fTXContinueOnXoff = 0x0080;
constexpr uint32_t fOutX = 0x0100;
constexpr uint32_t fInX = 0x0200;
constexpr uint32_t fErrorChar = 0x0400;
constexpr uint32_t fNull = 0x0800;
constexpr int fRtsControlShift = 12;
// DTR_CONTROL_ and RTS_CONTROL_ values.
constexpr uint32_t ControlDisable = 0, ControlEnable = 1, ControlHandshake = 2, RtsToggle = 3;
constexpr uint32_t DtrControl(const TDcb& dcb) { return (dcb.Flags >> fDtrControlShift) & 3; }
constexpr uint32_t RtsControl(const TDcb& dcb) { return (dcb.Flags >> fRtsControlShift) & 3; }
}  // namespace DcbFlag

struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
  bool operator==(const TCommTimeouts&) const = default;
};

struct TComStat {
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// A manual-reset event (CreateEventA). Only the platform that made it can wait on it.
class TPlatformEvent {
 public:
  virtual ~TPlatformEvent() = default;
  virtual void Set() = 0;    // SetEvent
  virtual void Reset() = 0;  // ResetEvent
};

// One overlapped operation record: a zero-filled OVERLAPPED whose event is a manual-reset event created
// set, plus whatever the backend keeps for the transfer in flight.
class TAsyncRecord {
 public:
  virtual ~TAsyncRecord() = default;
};

// An open communications device (the handle CreateFileA returned).
class TComDevice {
 public:
  virtual ~TComDevice() = default;

  virtual bool SetupComm(uint32_t inputSize, uint32_t outputSize) = 0;
  virtual bool SetCommState(const TDcb& dcb) = 0;
  virtual bool SetCommTimeouts(const TCommTimeouts& timeouts) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;
  virtual bool PurgeComm(uint32_t flags) = 0;
  virtual bool ClearCommError(uint32_t& errors, TComStat& status) = 0;
  virtual bool GetCommModemStatus(uint32_t& modemStatus) = 0;

  virtual std::unique_ptr<TAsyncRecord> CreateAsyncRecord() = 0;
  // Start overlapped operations: true when finished at once; false with ERROR_IO_PENDING when started.
  virtual bool WaitCommEvent(uint32_t& mask, TAsyncRecord& record) = 0;
  virtual bool WriteFile(const void* buffer, uint32_t count, TAsyncRecord& record) = 0;
  virtual bool ReadFile(void* buffer, uint32_t count, TAsyncRecord& record) = 0;
  // WaitForSingleObject on the record's event, without a time limit.
  virtual uint32_t WaitForRecord(TAsyncRecord& record) = 0;
  // WaitForMultipleObjects(2, [stop, record's event], any, INFINITE): 0, 1 or WAIT_FAILED.
  virtual uint32_t WaitForStopOrRecord(TPlatformEvent& stop, TAsyncRecord& record) = 0;
  // GetOverlappedResult without waiting: the byte count of a transfer; for an event wait the mask has
  // been stored where WaitCommEvent was told.
  virtual bool GetOverlappedResult(TAsyncRecord& record, uint32_t& transferred) = 0;

  virtual bool CloseHandle() = 0;
};

// What a failure's system error number tells, for the text of the error it causes: the number as the
// system names it, which follows the code's own text (empty: the number as a Windows error code), and what
// it means for the operator on that port, a line of its own (may be empty).
struct TSystemErrorText {
  std::string Suffix;
  std::string Explanation;
};

// Watching for a device to come back; deleting it ends the watch.
class TDeviceWatch {
 public:
  virtual ~TDeviceWatch() = default;
};

class TComPlatform {
 public:
  virtual ~TComPlatform() = default;

  // CreateFileA. `path` is the name as the port forms it ("\\.\" followed by the port name). Returns
  // nullptr for the invalid handle value, with the reason in GetLastError.
  virtual std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                                 uint32_t creation, uint32_t flags) = 0;
  virtual std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // The system's own text for an error number, for messages; may be empty.
  virtual std::string ErrorText(uint32_t error) { return {}; }
  // How an error number from this layer is put in a port error's text; `portName` is the port's name.
  virtual TSystemErrorText DescribeError(const std::string& portName, uint32_t error) { return {}; }
  // Adapters beyond COM1 to COM10 that the port list offers (USB and ACM adapters on POSIX).
  virtual std::vector<std::string> AdapterPortNames() { return {}; }
  // What the device behind a port name is, for the port list (maker, product, serial number); may be empty.
  virtual std::string PortDescription(const std::string& portName) { return {}; }
  // Whether CreateFile's error says the device exists but the user may not use it (a matter of permission,
  // not of another program holding it).
  virtual bool AccessDenied(uint32_t error) { return false; }
  // Calls `changed` whenever the device that `path` (as CreateFile takes it) names may have appeared or
  // changed, until the watch is deleted; from a thread of the watch's own, so `changed` only hands the news
  // on. Costs nothing while nothing happens. Null where this layer cannot tell (a name without a device
  // file); the caller then tries again on a timer.
  virtual std::unique_ptr<TDeviceWatch> WatchDevice(const std::string& path, std::function<void()> changed) {
    return nullptr;
  }
};

// The backend of the system the program runs on (Win32 on Windows, POSIX elsewhere).
TComPlatform& SystemComPlatform();
