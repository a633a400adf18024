// The processing of line events and the firing hooks.
#include "serial/ComEventMask.h"
#include "serial/ComPort.h"

void TCustomComPort::RunEventHandlers(TComEvents events) {
  const uint64_t session = session_;
  for (TComEvent event : EventProcessingOrder) {
    if (!events.Has(event)) continue;
    // A handler that closed the port ends the batch: the rest belongs to a device that is gone.
    if (!connected_ || session_ != session) return;
    RunStep(event);
  }
}

void TCustomComPort::RunEventHandler(TComEvent event) { RunStep(event); }

void TCustomComPort::RunStep(TComEvent event) {
  switch (event) {
    case evError: {
      TComErrors errors = LineErrors();
      if (!errors.Empty()) FireError(errors);
      break;
    }
    case evRxChar: {
      // Counted now, not when the event was seen: bytes that came meanwhile are included, bytes that a
      // handler already read are not.
      int32_t count = PendingInputCount();
      if (count > 0) FireRxChar(count);
      break;
    }
    case evTxEmpty:
      FireTxEmpty();
      break;
    case evBreak:
      FireBreak();
      break;
    case evRing:
      FireRing();
      break;
    case evCTS:
      FireCTSChange(ReportedModemSignals().CTS());
      break;
    case evDSR:
      FireDSRChange(ReportedModemSignals().DSR());
      break;
    case evRxFlag:
      FireRxFlag();
      break;
    case evRLSD:
      FireRLSDChange(ReportedModemSignals().RLSD());
      break;
    case evRx80Full:
      FireRx80Full();
      break;
  }
}

void TCustomComPort::FireAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::FireAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::FireBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::FireBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::FireRxChar(int32_t count) {
  if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::FireRxBuf(const void* buffer, int32_t count) {
  if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::FireTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::FireBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::FireRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::FireRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::FireCTSChange(bool onOff) {
  if (OnCTSChange) OnCTSChange(this, onOff);
}
void TCustomComPort::FireDSRChange(bool onOff) {
  if (OnDSRChange) OnDSRChange(this, onOff);
}
void TCustomComPort::FireError(TComErrors errors) {
  if (OnError) OnError(this, errors);
}
void TCustomComPort::FireRLSDChange(bool onOff) {
  if (OnRLSDChange) OnRLSDChange(this, onOff);
}
void TCustomComPort::FireRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}
