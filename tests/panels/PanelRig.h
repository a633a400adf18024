#pragma once
// The program on simulated units, seen the way the operator and a line analyser see it: the panels'
// switches driven by real mouse events and clicks, and the requests on the wire written as short words
// ("sel 3 6C", "rd 3 1", "wr 3 03", "id 3", "addr 0 5") so a sequence reads at a glance.
#include <string>
#include <vector>

#include "panels/Indicator.h"
#include "panels/PanelButton.h"
#include "panels/UnitPanels.h"
#include "tests/support/ProgramRig.h"

// One request as a word; anything that is not a well-formed request of the five kinds the program sends
// comes out as "bad" or "?" with its bytes.
std::string Describe(const TWireFrame& request);
std::vector<std::string> Describe(const std::vector<TWireFrame>& requests);

// What the poll sends a unit it has found to read its colour-bar and logo states: select and read of
// indicators 1 to 12's registers, in that order.
std::vector<std::string> PollReads(int address);
// A whole poll of addresses 1 to 16 in which the units at `found` answer.
std::vector<std::string> PollWords(const std::vector<int>& found);

// The panels standing on the main window, the row captions not counted.
int PanelsOnMainWindow(TProgramRig& rig);

class TPanelRig : public TProgramRig {
 public:
  // Remembers COM1 and runs the start-up with its poll to the end.
  void StartOnCom1();

  TUnitPanel& Unit(int address) { return UnitPanels[address]; }
  TIndicator* Indicator(int address, int n) { return UnitPanels[address].Indicators[n]; }
  TPanelButton* Button(int address, int b) { return UnitPanels[address].Buttons[b]; }

  // A mark in the wire trace, and the requests sent since.
  size_t Mark() { return Bus.Requests().size(); }
  std::vector<TWireFrame> RequestsSince(size_t mark);
  std::vector<std::string> WordsSince(size_t mark) { return Describe(RequestsSince(mark)); }

  // Press and release of the left button on an indicator, a release alone, a button click; each runs
  // the program until nothing is left to do and returns the requests it caused.
  std::vector<std::string> Click(int address, int n);
  std::vector<std::string> Release(int address, int n, Qt::MouseButton button);
  std::vector<std::string> ClickButton(int address, int b);

  // The same from inside the message loop, for actions scheduled with Tk.At.
  static void PressAndRelease(TIndicator* indicator);
};
