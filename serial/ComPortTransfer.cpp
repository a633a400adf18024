// Blocking transfers and the status calls of an open port.
#include "serial/ComPort.h"

TComDevice& TCustomComPort::Device(int errorCode) {
  // A closed port has no device to ask, hence no system error number either.
  if (!device_) throw EComPort(errorCode);
  return *device_;
}

// A transfer on an open device fails only when the device has gone: the port closes itself so that the
// next Open opens the device anew, and the error goes to the caller.
void TCustomComPort::FailTransfer(int errorCode, uint32_t osError) {
  LoseDevice(session_);
  throw SystemError(errorCode, osError);
}

namespace {
bool FinishTransfer(TComDevice& device, TAsyncRecord& record, int32_t& transferred) {
  uint32_t count = 0;
  if (device.WaitForRecord(record) != ComApi::WAIT_OBJECT_0 || !device.GetOverlappedResult(record, count))
    return false;
  transferred = int32_t(count);
  return true;
}
}  // namespace

int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  // A negative count would reach the device as a huge unsigned one.
  if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_WriteFailed);
  std::shared_ptr<TComDevice> device = device_;
  Device(CError_WriteFailed);
  std::unique_ptr<TAsyncRecord> record = device->CreateAsyncRecord();
  if (!record) throw EComPort(CError_InvalidAsync);
  if (!device->WriteFile(buffer, uint32_t(count), *record)) {
    const uint32_t error = platform_->GetLastError();
    if (error != ComApi::ERROR_IO_PENDING) FailTransfer(CError_WriteFailed, error);
  }
  int32_t transferred = 0;
  if (!FinishTransfer(*device, *record, transferred)) FailTransfer(CError_WriteFailed, platform_->GetLastError());
  return transferred;
}

int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_ReadFailed);
  std::shared_ptr<TComDevice> device = device_;
  Device(CError_ReadFailed);
  std::unique_ptr<TAsyncRecord> record = device->CreateAsyncRecord();
  if (!record) throw EComPort(CError_InvalidAsync);
  if (!device->ReadFile(buffer, uint32_t(count), *record)) {
    const uint32_t error = platform_->GetLastError();
    if (error != ComApi::ERROR_IO_PENDING) FailTransfer(CError_ReadFailed, error);
  }
  int32_t transferred = 0;
  if (!FinishTransfer(*device, *record, transferred)) FailTransfer(CError_ReadFailed, platform_->GetLastError());
  return transferred;
}

int32_t TCustomComPort::PendingInputCount() {
  uint32_t errors = 0;
  TComStat status;
  if (!Device(CError_ClearComFailed).ClearCommError(errors, status))
    throw SystemError(CError_ClearComFailed, platform_->GetLastError());
  return int32_t(status.cbInQue);
}

TComErrors TCustomComPort::LineErrors() {
  uint32_t flags = 0;
  TComStat status;
  if (!Device(CError_ClearComFailed).ClearCommError(flags, status))
    throw SystemError(CError_ClearComFailed, platform_->GetLastError());
  struct TBit {
    uint32_t Flag;
    uint8_t Bit;
  };
  static constexpr TBit Bits[] = {{ComApi::CE_FRAME, 0x01},   {ComApi::CE_RXPARITY, 0x02},
                                  {ComApi::CE_OVERRUN, 0x04}, {ComApi::CE_BREAK, 0x08},
                                  {ComApi::CE_IOE, 0x10},     {ComApi::CE_MODE, 0x20},
                                  {ComApi::CE_RXOVER, 0x40},  {ComApi::CE_TXFULL, 0x80}};
  TComErrors errors;
  for (const TBit& b : Bits) {
    // Parity errors mean nothing unless parity is checked.
    if (b.Flag == ComApi::CE_RXPARITY && !parity_->Check()) continue;
    if (flags & b.Flag) errors.Bits |= b.Bit;
  }
  return errors;
}

namespace {
TComSignals SignalsFromStatus(uint32_t status) {
  TComSignals signals;
  if (status & ComApi::MS_CTS_ON) signals.Bits |= 1;
  if (status & ComApi::MS_DSR_ON) signals.Bits |= 2;
  if (status & ComApi::MS_RING_ON) signals.Bits |= 4;
  if (status & ComApi::MS_RLSD_ON) signals.Bits |= 8;
  return signals;
}
}  // namespace

TComSignals TCustomComPort::ModemSignals() {
  uint32_t status = 0;
  if (!Device(CError_ModemStatFailed).GetCommModemStatus(status))
    throw SystemError(CError_ModemStatFailed, platform_->GetLastError());
  return SignalsFromStatus(status);
}

TComSignals TCustomComPort::ReportedModemSignals() {
  // Pseudo-terminals and many USB and virtual COM drivers have no modem lines, and reading them fails.
  // Such a port serves the units all the same, so its lines are reported off instead of failing it.
  uint32_t status = 0;
  if (!device_ || !device_->GetCommModemStatus(status)) return {};
  return SignalsFromStatus(status);
}

void TCustomComPort::AbortTransfers() {
  if (!Device(CError_PurgeFailed).PurgeComm(ComApi::PURGE_TXABORT | ComApi::PURGE_RXABORT))
    throw SystemError(CError_PurgeFailed, platform_->GetLastError());
}
