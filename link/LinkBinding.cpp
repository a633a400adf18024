#include "link/LinkBinding.h"

#include <stdexcept>

#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

namespace {
TLinkBinding binding;
bool bound = false;
}  // namespace

TLinkBinding& Bound() {
  if (!bound) throw std::logic_error("the link is not bound to a port and timers");
  return binding;
}

bool LinkBound() { return bound; }

void BindLink(TComPort& comPort1, TTimer& timer1, TTimer& timer2, TTimer& timer4, TLinkHooks hooks) {
  binding = TLinkBinding{&comPort1, &timer1, &timer2, &timer4, std::move(hooks)};
  bound = true;
  timer1.SetInterval(250);
  timer2.SetInterval(250);
  timer4.SetInterval(60);
  timer1.OnTimer = Timer1Timer;
  timer2.OnTimer = Timer2Timer;
  timer4.OnTimer = Timer4Timer;
  comPort1.OnRxChar = ComPort1RxChar;
}

void UnbindLink() {
  if (!bound) return;
  binding.ComPort1->OnRxChar = nullptr;
  binding.Timer1->OnTimer = nullptr;
  binding.Timer2->OnTimer = nullptr;
  binding.Timer4->OnTimer = nullptr;
  binding = TLinkBinding{};
  bound = false;
}

void ApplyUnitLineSettings(TCustomComPort& port) {
  port.SetBaudRate(br38400);
  port.SetDataBits(dbEight);
  port.Parity().SetBits(prNone);
  port.SetStopBits(sbOneStopBit);
  auto& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  port.SetEvents(MakeEvents({evRxChar, evTxEmpty, evRxFlag}));
  port.Timeouts().SetReadInterval(1);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(0);
}
