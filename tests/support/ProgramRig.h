#pragma once
// The program's real windows on the virtual clock, over the simulated units.
#include <memory>
#include <string>

#include "app/Application.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualRig.h"

class TProgramRig : public TVirtualRig {
 public:
  explicit TProgramRig(const std::string& portName = "COM1");
  ~TProgramRig() override;
  TScratchDirectory Scratch;
  std::unique_ptr<TApplicationWindows> Windows;
  TForm1& Form1() { return *Windows->Form1; }

  // Shows the main window and runs its start-up (port list, COM.ini, open, poll) to the end.
  void Start();
};
