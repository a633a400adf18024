#pragma once
// The settings window on simulated units, driven as the operator drives it: the panel's settings button,
// tree selections as the tree makes them, mouse clicks on the buttons and the check box. The screen is
// read back as one line of the controls on show, in their order, a disabled one marked with "~":
//   "Яркость [6] - 0..5@3 + default"     a value node: label, value box, "-", slider range@position, "+"
//   "[x] АРУ"  "[ ] Замещение explained"  a switch node, with the substitution's explanation
//   ""                                    a heading: the group box is empty
#include <QAbstractButton>

#include "settings/Form2.h"
#include "tests/panels/PanelRig.h"

using TWords = std::vector<std::string>;

class TSettingsRig : public TPanelRig {
 public:
  // Units at these addresses, with the program started on them and the first one's settings open.
  explicit TSettingsRig(std::initializer_list<int> units = {3});

  TForm2& Settings() { return *Windows->Form2; }
  TSimUnit& Sim(int address) { return *Bus.FindUnit(uint8_t(address)); }
  // The value at `code` and its descriptor.
  void SetValue(int address, uint8_t code, uint8_t value, TSimDescriptor descriptor);

  // Each returns the requests the action caused once the program has nothing left to do.
  TWords Select(int index);
  TWords Press(QAbstractButton* button);
  TWords OpenSettings(int address) { return ClickButton(address, 3); }

  std::string Screen();
  // Milliseconds between the starts of the requests sent since `mark`.
  std::vector<int> Gaps(size_t mark);
};

// What the window sends to read a value node (select, read 1, select code + 1, read 4) and a switch
// node (select, then select and read 1).
TWords ValueRead(int address, uint8_t code);
TWords SwitchRead(int address, uint8_t code);
TWords operator+(TWords a, const TWords& b);
