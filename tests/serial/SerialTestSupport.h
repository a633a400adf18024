#pragma once
// What the serial tests share: the main window's port settings, catching the port's error, and a record
// of the modem-line events a port fires.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Link.h"
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

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

// A timer that keeps a real-time loop waking, so a test can run the loop until something another thread
// does has happened.
inline std::unique_ptr<TTimer> KeepLoopWaking(TToolkit& tk) {
  auto tick = tk.CreateTimer();
  tick->SetInterval(5);
  tick->OnTimer = [] {};
  tick->SetEnabled(true);
  return tick;
}

// Runs the loop until `done` holds; false after `seconds`.
inline bool RunLoopUntil(TToolkit& tk, const std::function<bool()>& done, double seconds = 10.0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    tk.ProcessMessages();
  }
  return true;
}
