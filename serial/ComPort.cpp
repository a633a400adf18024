#include "serial/ComPort.h"

#include <exception>

#include <algorithm>

#include "serial/ComNotifyWindow.h"
#include "serial/ComThread.h"
#include "toolkit/Toolkit.h"

namespace {
// Device values of TBaudRate, by member (brCustom takes CustomBaudRate instead).
constexpr uint32_t BaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                  14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr uint8_t DataBitsValues[] = {5, 6, 7, 8};

using namespace DcbFlag;

template <typename T>
bool Store(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}
}  // namespace

TCustomComPort::TCustomComPort(TComPlatform* platform)
    : platform_(platform ? platform : &SystemComPlatform()),
      parity_(std::make_unique<TComParity>(this)),
      flowControl_(std::make_unique<TComFlowControl>(this)),
      timeouts_(std::make_unique<TComTimeouts>(this)),
      buffer_(std::make_unique<TComBuffer>(this)) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise: whatever Close refused, the thread and the device still go.
    ReleaseWithoutRaising();
  }
  ReapRetiredWorkers(true);
  buffer_.reset();
  flowControl_.reset();
  timeouts_.reset();
  parity_.reset();
}

bool TCustomComPort::EventWorkerRunning() const { return eventWorker_ && !eventWorker_->Ended(); }

// Open and close

void TCustomComPort::Open() {
  if (connected_) return;
  ReapRetiredWorkers(false);
  deviceLost_ = false;
  FireBeforeOpen();
  AcquireDevice();
  connected_ = true;
  ++session_;
  try {
    ConfigureDevice();
    if (events_.Empty()) {
      hasEventWorker_ = false;
    } else {
      StartEventWorker();
    }
  } catch (...) {
    notifyWindow_.reset();
    ReleaseDevice();
    connected_ = false;
    throw;
  }
  FireAfterOpen();
  FireCTSChange(ReportedModemSignals().CTS());
  FireDSRChange(ReportedModemSignals().DSR());
  FireRLSDChange(ReportedModemSignals().RLSD());
}

void TCustomComPort::Close() {
  if (!connected_) return;
  FireCTSChange(false);
  FireDSRChange(false);
  FireRLSDChange(false);
  FireBeforeClose();
  // A device that refuses the purge is usually one that has gone away (an adapter pulled out). Leaving
  // the port open on it would leave the program no way to close it or move to another port, so the port
  // closes all the same and the refusal is reported afterwards.
  std::exception_ptr abortFailure;
  try {
    AbortTransfers();
  } catch (const EComPort&) {
    // Refused by a device known to be gone, it says nothing new.
    if (!DeviceLost()) abortFailure = std::current_exception();
  }
  bool waitFailed = false;
  if (hasEventWorker_) {
    const uint64_t session = session_;
    waitFailed = StopEventWorker();
    // A handler served during the wait may have closed, or closed and reopened, the port already.
    if (!connected_ || session_ != session) {
      if (abortFailure) std::rethrow_exception(abortFailure);
      return;
    }
  }
  notifyWindow_.reset();
  ReleaseDevice();
  connected_ = false;
  // The thread found the device gone before its own report of that could close the port: the port
  // remembers why it closed all the same, and the refused purge says nothing new.
  if (waitFailed) {
    deviceLost_ = true;
    abortFailure = nullptr;
  }
  ReapRetiredWorkers(false);
  FireAfterClose();
  if (abortFailure) std::rethrow_exception(abortFailure);
}

bool TCustomComPort::DeviceLost() const { return deviceLost_ || (eventWorker_ && eventWorker_->EndedOnFailure()); }

void TCustomComPort::LoseDevice(uint64_t session) {
  if (!connected_ || session != session_ || deviceLost_) return;
  deviceLost_ = true;
  try {
    Close();
  } catch (const EComPort&) {
    ReleaseWithoutRaising();
  }
  // Kept set while closed, so whoever looks next can tell why the port closed.
  deviceLost_ = true;
  if (OnDeviceLost) OnDeviceLost(this);
}

void TCustomComPort::StartEventWorker() {
  if (syncMethod_ == smWindowSync) notifyWindow_ = std::make_shared<TComNotifyWindow>(this);
  eventWorker_ = std::make_unique<TComThread>(this);
  hasEventWorker_ = true;
}

bool TCustomComPort::StopEventWorker() {
  // Taken out first: a handler that closes the port again while this waits finds no thread to stop.
  std::unique_ptr<TComThread> worker = std::move(eventWorker_);
  hasEventWorker_ = false;
  if (!worker) return false;
  if (worker->BlockedOnCaller()) {
    // Closed from one of the thread's own handlers: the thread waits for this very call, so waiting for
    // it here would never end. It is told to stop and ends once the handler returns; the device it
    // still holds is released below, so its remaining calls fail harmlessly.
    worker->RequestStop();
    retiredWorkers_.push_back(std::move(worker));
    return false;
  }
  worker->Stop();
  return worker->EndedOnFailure();
}

void TCustomComPort::ReapRetiredWorkers(bool wait) {
  std::erase_if(retiredWorkers_,
                [wait](const std::unique_ptr<TComThread>& worker) { return wait || worker->Ended(); });
}

void TCustomComPort::ReleaseWithoutRaising() noexcept {
  try {
    if (auto worker = std::move(eventWorker_)) {
      hasEventWorker_ = false;
      if (worker->BlockedOnCaller()) {
        worker->RequestStop();
        retiredWorkers_.push_back(std::move(worker));
      }
    }
    notifyWindow_.reset();
    ReleaseDevice();
  } catch (...) {
  }
  connected_ = false;
}

void TCustomComPort::AcquireDevice() {
  device_ = std::shared_ptr<TComDevice>(
      platform_->CreateFile("\\\\.\\" + port_, ComApi::GENERIC_READ | ComApi::GENERIC_WRITE, 0,
                            ComApi::OPEN_EXISTING, ComApi::FILE_FLAG_OVERLAPPED));
  if (!device_) throw SystemError(CError_OpenFailed, platform_->GetLastError());
}

EComPort TCustomComPort::SystemError(int errorCode, uint32_t osError) const {
  return EComPort(errorCode, osError, platform_->DescribeError(port_, osError));
}

void TCustomComPort::ReleaseDevice() {
  if (!device_) return;
  device_->CloseHandle();
  device_.reset();
}

void TCustomComPort::ConfigureDevice() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

// Settings pushed to the device

void TCustomComPort::ApplyLineSettings() {
  if (!connected_ || loading_) return;
  TDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = baudRate_ == brCustom ? uint32_t(customBaudRate_) : BaudRates[baudRate_];
  const TComParity& parity = *parity_;
  const TComFlowControl& flow = *flowControl_;
  const bool errorChar = parity.Check() && parity.Replace();
  uint32_t flags = fBinary;
  if (parity.Check()) flags |= fParity;
  if (flow.OutCTSFlow()) flags |= fOutxCtsFlow;
  if (flow.OutDSRFlow()) flags |= fOutxDsrFlow;
  flags |= uint32_t(flow.ControlDTR()) << fDtrControlShift;
  if (flow.DSRSensitivity()) flags |= fDsrSensitivity;
  if (flow.TxContinueOnXoff()) flags |= fTXContinueOnXoff;
  if (flow.XonXoffOut()) flags |= fOutX;
  if (flow.XonXoffIn()) flags |= fInX;
  if (errorChar) flags |= fErrorChar;
  if (discardNull_) flags |= fNull;
  flags |= uint32_t(flow.ControlRTS()) << fRtsControlShift;
  dcb.Flags = flags;
  // The limits are 16-bit fields: an input size beyond 256 KiB must not wrap to a tiny limit.
  const uint16_t limit = uint16_t(std::clamp(buffer_->InputSize() / 4, 0, 0xFFFF));
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.ByteSize = DataBitsValues[dataBits_];
  dcb.Parity = uint8_t(parity.Bits());
  dcb.StopBits = uint8_t(stopBits_);
  dcb.XonChar = flow.XonChar();
  dcb.XoffChar = flow.XoffChar();
  dcb.ErrorChar = errorChar ? parity.ReplaceChar() : 0;
  dcb.EofChar = 0;
  dcb.EvtChar = eventChar_;
  if (!device_->SetCommState(dcb)) throw SystemError(CError_SetStateFailed, platform_->GetLastError());
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!connected_ || loading_) return;
  const TComTimeouts& t = *timeouts_;
  TCommTimeouts record;
  record.ReadIntervalTimeout = uint32_t(t.ReadInterval());
  record.ReadTotalTimeoutMultiplier = uint32_t(t.ReadTotalMultiplier());
  record.ReadTotalTimeoutConstant = uint32_t(t.ReadTotalConstant());
  record.WriteTotalTimeoutMultiplier = uint32_t(t.WriteTotalMultiplier());
  record.WriteTotalTimeoutConstant = uint32_t(t.WriteTotalConstant());
  if (!device_->SetCommTimeouts(record)) throw SystemError(CError_TimeoutsFailed, platform_->GetLastError());
}

void TCustomComPort::ApplyBufferSizes() {
  if (!connected_ || loading_) return;
  if (!device_->SetupComm(uint32_t(buffer_->InputSize()), uint32_t(buffer_->OutputSize())))
    throw SystemError(CError_SetupComFailed, platform_->GetLastError());
}

// Loading from the owner's description

void TCustomComPort::BeginLoading() { loading_ = true; }

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!connectedRecorded_) return;
  connectedRecorded_ = false;
  try {
    Open();
  } catch (...) {
    ShowException(std::current_exception());
  }
}

// Properties

void TCustomComPort::SetConnected(bool value) {
  if (loading_) {
    connectedRecorded_ = value;
    return;
  }
  if (value)
    Open();
  else
    Close();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (Store(baudRate_, value)) ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (Store(customBaudRate_, value)) ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (!Store(port_, value)) return;
  if (connected_ && !loading_) {
    Close();
    Open();
  }
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_->Assign(value);
  ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (Store(stopBits_, value)) ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (Store(dataBits_, value)) ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (Store(discardNull_, value)) ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
  if (Store(eventChar_, value)) ApplyLineSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_->Assign(value);
  ApplyBufferSizes();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_->Assign(value);
  ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_->Assign(value);
  ApplyTimeoutSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  // The event thread reads it while it runs.
  if (connected_ && !loading_) throw EComPort(CError_ConnChangeProp);
  syncMethod_ = value;
}
