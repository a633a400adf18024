#pragma once
// The settings the main window's description stores for its port, applied the way loading does.
#include "serial/ComPort.h"

inline void LoadMainWindowSettings(TCustomComPort& port) {
  port.BeginLoading();
  port.SetBaudRate(br38400);
  port.SetPort("COM1");
  port.Parity().SetBits(prNone);
  port.SetStopBits(sbOneStopBit);
  port.SetDataBits(dbEight);
  port.SetEvents(MakeEvents({evRxChar, evTxEmpty, evRxFlag}));
  port.FlowControl().SetOutCTSFlow(false);
  port.FlowControl().SetOutDSRFlow(false);
  port.FlowControl().SetControlDTR(dtrDisable);
  port.FlowControl().SetControlRTS(rtsDisable);
  port.FlowControl().SetXonXoffOut(false);
  port.FlowControl().SetXonXoffIn(false);
  port.Timeouts().SetReadInterval(1);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(0);
  port.Loaded();
}
