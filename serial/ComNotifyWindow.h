#pragma once
// The hidden receiver of a port that delivers under smWindowSync: the event thread sends it one message
// per event; it releases the sender at once and then runs that event's step on the user-interface thread.
#include <cstdint>
#include <functional>

#include "serial/ComTypes.h"

class TCustomComPort;

class TComNotifyWindow {
 public:
  static constexpr uint32_t CM_COMEVENT = 1025;  // WM_USER + 1; wParam is the event's device mask

  explicit TComNotifyWindow(TCustomComPort* port) : port_(port) {}
  TComNotifyWindow(const TComNotifyWindow&) = delete;
  TComNotifyWindow& operator=(const TComNotifyWindow&) = delete;

  // Event thread: one sent message per event of the batch, in processing order.
  void SendEventMessages(TComEvents events);

  // The message procedure. `fromOtherThread` and `reply` stand for InSendMessage and ReplyMessage.
  intptr_t WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam, bool fromOtherThread,
                      const std::function<void()>& reply);

  // Seen by every message before it is handled (tests look at the traffic).
  std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)> OnMessage;

 private:
  TCustomComPort* port_;
};
