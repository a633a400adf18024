#pragma once
// Test rigs on the virtual clock: the simulated units on a simulated serial device, and either the link
// alone on a port and three timers (TLinkRig) or the program's real windows (TProgramRig). Every case
// starts from the state the program has when it starts.
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "serial/ComPort.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/VirtualToolkit.h"
#include "unitsim/SimComPlatform.h"

class TVirtualRig {
 public:
  // `portName`: the port that exists, with its bus of units.
  explicit TVirtualRig(const std::string& portName = "COM1");
  virtual ~TVirtualRig();

  TVirtualToolkit Tk;
  TSimComPlatform Platform{Tk};
  TSimBus& Bus;

  TSimUnit& AddUnit(uint8_t address);

  // The frames the host sent, and their times relative to a mark.
  std::vector<TWireFrame> Requests() { return Bus.Requests(); }
  std::vector<std::string> RequestHex();
  // Message boxes shown so far, as "caption: text".
  std::vector<std::string> MessageTexts() const;
};

class TLinkRig : public TVirtualRig {
 public:
  TLinkRig();
  ~TLinkRig() override;
  TComPort Port{&Platform};
  std::unique_ptr<TTimer> Timer1, Timer2, Timer4;
  // What the link reported through its hooks.
  int StepButtonsEnabled = 0;
  int AddressAccepted = 0;
  int NewAddress = 5;
};

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
