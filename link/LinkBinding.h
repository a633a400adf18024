#pragma once
// What BindLink stored: the components the operations and handlers work on. Internal to the link layer.
#include "link/Link.h"

struct TLinkBinding {
  TComPort* ComPort1 = nullptr;
  TTimer* Timer1 = nullptr;
  TTimer* Timer2 = nullptr;
  TTimer* Timer4 = nullptr;
  TLinkHooks Hooks;
};

TLinkBinding& Bound();
bool LinkBound();

// Receives the bytes already waiting in the port, as their event would; false when there were none (or
// the receiver itself is running).
bool ReceiveWaitingBytes();
