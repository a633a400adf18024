#include "serial/ComSettings.h"

#include "serial/ComPort.h"

namespace {
// Stores `value` and reports whether anything changed; a repeated value must not reach the device.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Sizes are kept even.
int32_t EvenSize(int32_t value) { return (value > 0 && value % 2 != 0) ? value - 1 : value; }
}  // namespace

// TComParity

void TComParity::Assign(const TComParity& source) {
  bits_ = source.bits_;
  check_ = source.check_;
  replace_ = source.replace_;
  replaceChar_ = source.replaceChar_;
}

void TComParity::Changed() {
  if (port_) port_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (Store(bits_, value)) Changed();
}
void TComParity::SetCheck(bool value) {
  if (Store(check_, value)) Changed();
}
void TComParity::SetReplace(bool value) {
  if (Store(replace_, value)) Changed();
}
void TComParity::SetReplaceChar(char value) {
  if (Store(replaceChar_, value)) Changed();
}

// TComFlowControl

void TComFlowControl::Assign(const TComFlowControl& source) {
  outCTSFlow_ = source.outCTSFlow_;
  outDSRFlow_ = source.outDSRFlow_;
  controlDTR_ = source.controlDTR_;
  controlRTS_ = source.controlRTS_;
  xonXoffOut_ = source.xonXoffOut_;
  xonXoffIn_ = source.xonXoffIn_;
  dsrSensitivity_ = source.dsrSensitivity_;
  txContinueOnXoff_ = source.txContinueOnXoff_;
  xonChar_ = source.xonChar_;
  xoffChar_ = source.xoffChar_;
}

void TComFlowControl::Changed() {
  if (port_) port_->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xonXoff = xonXoffIn_ || xonXoffOut_;
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoff) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoff) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  // The fields are set directly, so the device sees one re-apply for the whole change.
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = false;
    xonXoffIn_ = false;
    xonXoffOut_ = false;
    if (value == fcHardware) {
      controlRTS_ = rtsHandshake;
      outCTSFlow_ = true;
    } else if (value == fcSoftware) {
      xonXoffIn_ = true;
      xonXoffOut_ = true;
    }
  }
  Changed();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (Store(outCTSFlow_, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (Store(outDSRFlow_, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (Store(controlDTR_, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (Store(controlRTS_, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (Store(xonXoffOut_, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (Store(xonXoffIn_, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (Store(dsrSensitivity_, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (Store(txContinueOnXoff_, value)) Changed();
}
void TComFlowControl::SetXonChar(char value) {
  if (Store(xonChar_, value)) Changed();
}
void TComFlowControl::SetXoffChar(char value) {
  if (Store(xoffChar_, value)) Changed();
}

// TComTimeouts

void TComTimeouts::Assign(const TComTimeouts& source) {
  readInterval_ = source.readInterval_;
  readTotalMultiplier_ = source.readTotalMultiplier_;
  readTotalConstant_ = source.readTotalConstant_;
  writeTotalMultiplier_ = source.writeTotalMultiplier_;
  writeTotalConstant_ = source.writeTotalConstant_;
}

void TComTimeouts::Changed() {
  if (port_) port_->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value) {
  if (Store(readInterval_, value)) Changed();
}
void TComTimeouts::SetReadTotalMultiplier(int32_t value) {
  if (Store(readTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetReadTotalConstant(int32_t value) {
  if (Store(readTotalConstant_, value)) Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) {
  if (Store(writeTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetWriteTotalConstant(int32_t value) {
  if (Store(writeTotalConstant_, value)) Changed();
}

// TComBuffer

void TComBuffer::Assign(const TComBuffer& source) {
  inputSize_ = EvenSize(source.inputSize_);
  outputSize_ = EvenSize(source.outputSize_);
}

void TComBuffer::Changed() {
  if (port_) port_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int32_t value) {
  if (Store(inputSize_, EvenSize(value))) Changed();
}
void TComBuffer::SetOutputSize(int32_t value) {
  if (Store(outputSize_, EvenSize(value))) Changed();
}
