#pragma once
// What a device must be given for the units' line: 38400 baud, 8N1, binary only, no handshake, limits of
// a quarter of the 1024-byte input buffer, and reads that return 1 ms after the last byte.
#include "serial/platform/ComPlatform.h"

inline TDcb UnitLineBlock() {
  TDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = 38400;
  dcb.Flags = 0x0001;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.Parity = 0;
  dcb.StopBits = 0;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

inline TCommTimeouts UnitLineTimeouts() { return TCommTimeouts{1, 0, 0, 0, 0}; }
