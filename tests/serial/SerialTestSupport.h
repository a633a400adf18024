#pragma once
// What the serial tests share: the main window's port settings, catching the port's error, and a record
// of the modem-line events a port fires.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Link.h"
#include "serial/ComPort.h"

// The settings the main window's description stores for its port, applied the way loading does.
inline void LoadMainWindowSettings(TCustomComPort& port) {
  port.BeginLoading();
  ApplyUnitLineSettings(port);
  port.SetPort("COM1");
  port.Loaded();
}

// The EComPort that `f` raises; a test failure when it raises none.
template <typename F>
EComPort Raised(F f) {
  try {
    f();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

// Appends "CTS 1", "DSR 0", "RLSD 1" ... to `fired` as the port reports its lines.
inline void RecordSignals(TCustomComPort& port, std::vector<std::string>& fired) {
  auto line = [&fired](const char* name) {
    return [&fired, name](TCustomComPort*, bool on) { fired.push_back(std::string(name) + (on ? " 1" : " 0")); };
  };
  port.OnCTSChange = line("CTS");
  port.OnDSRChange = line("DSR");
  port.OnRLSDChange = line("RLSD");
}
