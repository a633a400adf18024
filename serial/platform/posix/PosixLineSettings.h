#pragma once
// The device control block in termios terms. Raw mode, receiver on, modem control lines ignored for
// opening; whatever the system cannot do is refused with EINVAL rather than silently approximated.
#include <termios.h>

#include "serial/platform/ComPlatform.h"

// Fills `attributes` (read from the device first) from `dcb`; 0 or an errno value.
int TermiosFromDcb(const TDcb& dcb, termios& attributes);
// The speed constant of a rate, or false for a rate termios has no constant for.
bool SpeedForBaudRate(uint32_t rate, speed_t& speed);

// The DTR and RTS lines the block asks for: TIOCM_ bits to raise and to drop.
struct TModemLineChange {
  int Raise = 0;
  int Drop = 0;
};
TModemLineChange ModemLinesFromDcb(const TDcb& dcb);
