#pragma once
// Test rigs on the virtual clock: the simulated units on a simulated serial device, and the link alone on
// a port and three timers (TLinkRig); ProgramRig.h adds the program's real windows. Every case starts
// from the state the program has when it starts.
#include <memory>
#include <string>
#include <vector>

#include "serial/ComPort.h"
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
