#include "serial/ComNotifyWindow.h"

#include <thread>

#include "serial/ComEventMask.h"
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

void TComNotifyWindow::SendEventMessages(TComEvents events) {
  for (TComEvent event : EventProcessingOrder) {
    if (!events.Has(event)) continue;
    const uintptr_t wParam = EventMask(event);
    const std::thread::id sender = std::this_thread::get_id();
    Toolkit().SendMessage([this, wParam, sender](const std::function<void()>& reply) {
      WindowProc(CM_COMEVENT, wParam, 0, std::this_thread::get_id() != sender, reply);
    });
  }
}

intptr_t TComNotifyWindow::WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                      bool fromOtherThread, const std::function<void()>& reply) {
  if (OnMessage) OnMessage(message, wParam, lParam);
  if (message != CM_COMEVENT) return 0;  // the default procedure has nothing to do for a hidden receiver
  // The step may close the port, which frees this receiver: nothing below may touch a member.
  TCustomComPort* port = port_;
  if (fromOtherThread) reply();
  TComEvent event;
  if (!port->Connected() || !EventForMask(uint32_t(wParam), event)) return 0;
  try {
    port->RunEventHandler(event);
  } catch (...) {
    ShowException(std::current_exception());
  }
  return 0;
}
