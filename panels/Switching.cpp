#include "panels/Switching.h"

#include <QPointer>
#include <string>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "link/RegisterMap.h"
#include "panels/DeferredErrors.h"
#include "panels/Indicator.h"
#include "panels/PanelButton.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "toolkit/Toolkit.h"

namespace {

// However an operation ends, its switch takes the mouse again and the link leaves register mode.
template <typename W>
struct TOperationEnd {
  QPointer<W> Widget;
  ~TOperationEnd() {
    if (Widget) Widget->setEnabled(true);
    LinkState.RegisterMode = false;
  }
};

// Changes status values, then rewrites the unit's file; when the file cannot be written the values go
// back, so memory never holds what the file does not.
template <typename Change>
void ChangeStatus(int address, TUnitPanel& unit, Change change) {
  const TStatusValues before = unit.StatusValues;
  change(unit);
  try {
    SaveStatusValues(address, unit.StatusValues);
  } catch (...) {
    unit.StatusValues = before;
    throw;
  }
}

void SwitchIndicator(int a, int n, QPointer<TIndicator> sender) {
  if (!sender) return;  // its panel was destroyed while the release waited for the link
  TUnitPanel& unit = UnitPanels[a];
  TLinkState& s = LinkState;
  s.RegisterMode = true;
  TOperationEnd<TIndicator> end{sender};
  sender->setEnabled(false);

  s.Address = uint8_t(a);
  s.Register = IndicatorRegisters[n];
  RunCommand(cmdSelect);
  s.WriteCount = 1;
  s.Value = 1;
  ReadRegister();
  if (!s.ReadAnswered) {
    // Writing back what an earlier read left would switch the wrong bits: nothing is written, the
    // indicator keeps what it shows, and the operator is told once the line is quiet (with register mode
    // still set, the time-out itself passes silently).
    unit.IndicatorPressed[n] = unit.IndicatorOn[n];
    WaitForQuietLine();
    Toolkit().MessageBox(TextNotConnected, CaptionInformation, TMessageKind::mkInformation);
    return;
  }
  if (unit.IndicatorUnknown[n]) {
    // Not known to be on or off, so not switched either way: the click shows what the unit holds.
    const bool on = (s.CurrentValue & *IndicatorBitMask(n)) != 0;
    unit.IndicatorUnknown[n] = 0;
    unit.IndicatorOn[n] = on;
    unit.IndicatorPressed[n] = on;
    sender->ShowState(on);
    return;
  }
  s.CurrentValue &= 3;
  if (unit.IndicatorPressed[n] != 1) return;
  unit.IndicatorPressed[n] = 0;

  const TIndicatorRow row = IndicatorRow(n);
  const bool on = unit.IndicatorOn[n] != 1;
  if (row <= irLogo2) {
    s.CurrentValue = SwitchedIndicatorValue(n, s.CurrentValue, on);
    unit.IndicatorOn[n] = on;
    sender->SetBrushColor(on ? clLime : clRed);
  } else if (!(row == irTitles ? TitlesLocked : AuxLocked)) {
    ChangeStatus(a, unit, [&](TUnitPanel& u) { u.Status(StatusPositionOfIndicator(n)) = on; });
    unit.IndicatorOn[n] = on;
    sender->SetBrushColor(on ? clLime : clRed);
  }

  s.Register = IndicatorRegisters[n];
  RunCommand(cmdSelect);
  s.Value = s.CurrentValue;
  RunCommand(cmdWrite);
}

void SwitchTitles(int a, QPointer<TPanelButton> button) {
  if (!button) return;
  TUnitPanel& unit = UnitPanels[a];
  TOperationEnd<TPanelButton> end{button};
  // A picture that cannot be shown is no reason to leave the unit half switched: the button carries its
  // caption instead, and the operator is told once the operation is done.
  TDeferredErrors images;
  LinkState.Address = uint8_t(a);
  if (unit.ButtonOn[pbTitles] == 0 && unit.ButtonOn[pbAuxInput] != 0) return;  // the input has the channels
  const bool on = unit.ButtonOn[pbTitles] == 0;
  ChangeStatus(a, unit, [&](TUnitPanel& u) { u.Status(spTitlesButton) = on; });
  LinkState.RegisterMode = true;
  images.Note(ShowSwitchButton(*button, pbTitles, on));
  unit.ButtonOn[pbTitles] = on;
  TitlesLocked = on;
  WriteSelectedChannels(unit, irTitles, on, true);
}

void SwitchAuxInput(int a, QPointer<TPanelButton> aux) {
  if (!aux) return;
  TUnitPanel& unit = UnitPanels[a];
  TOperationEnd<TPanelButton> end{nullptr};
  TDeferredErrors images;
  LinkState.Address = uint8_t(a);
  TPanelButton* titles = unit.Buttons[pbTitles];
  if (unit.ButtonOn[pbAuxInput] == 0) {
    ChangeStatus(a, unit, [](TUnitPanel& u) {
      u.Status(spAuxButton) = 1;
      u.Status(spTitlesButton) = 0;
    });
    LinkState.RegisterMode = false;
    images.Note(ShowSwitchButton(*aux, pbAuxInput, true));
    unit.ButtonOn[pbAuxInput] = 1;
    AuxLocked = true;
    LinkState.RegisterMode = true;
    images.Note(ShowSwitchButton(*titles, pbTitles, false));
    unit.ButtonOn[pbTitles] = 0;
    TitlesLocked = false;
    // Titles go off on the selected channels whether or not they were on.
    WriteSelectedChannels(unit, irTitles, 0);
    WriteSelectedChannels(unit, irAuxInput, 1);
  } else {
    ChangeStatus(a, unit, [](TUnitPanel& u) { u.Status(spAuxButton) = 0; });
    LinkState.RegisterMode = true;
    images.Note(ShowSwitchButton(*aux, pbAuxInput, false));
    unit.ButtonOn[pbAuxInput] = 0;
    AuxLocked = false;
    WriteSelectedChannels(unit, irAuxInput, 0);
  }
}

}  // namespace

void WriteSelectedChannels(TUnitPanel& unit, int row, uint8_t value, bool bareLastWrite) {
  const int before = row == irTitles ? 12 : 16;  // indicators of the row are before + 1 .. before + 4
  LinkState.Value = value;
  LinkState.WriteCount = 1;
  for (int c = 1; c <= ChannelCount; ++c) {
    if (unit.IndicatorOn[before + c] != 1) continue;
    LinkState.RegisterMode = true;
    LinkState.Register = IndicatorRegisters[before + c];
    if (bareLastWrite && c == ChannelCount) {
      RunCommand(cmdSelect);
      SendCommand(cmdWrite);
    } else {
      WriteRegister();
    }
  }
  LinkState.RegisterMode = false;
}

void IndicatorMouseDown(TIndicator* Sender, Qt::MouseButton) {
  const int a = Sender->Tag / 21, n = Sender->Tag % 21;
  UnitPanels[a].IndicatorPressed[n] = 1;
}

void IndicatorMouseUp(TIndicator* Sender, Qt::MouseButton) {
  const int a = Sender->Tag / 21, n = Sender->Tag % 21;
  QPointer<TIndicator> sender(Sender);
  // Busy from the release on, also while the release waits for the link.
  Sender->setEnabled(false);
  RunLinkOperation([a, n, sender] { SwitchIndicator(a, n, sender); });
}

void PanelButtonClick(TPanelButton* Sender) {
  const int a = Sender->Tag / 10, b = Sender->Tag % 10;
  QPointer<TPanelButton> sender(Sender);
  switch (b) {
    case pbTitles:
      Sender->setEnabled(false);
      RunLinkOperation([a, sender] { SwitchTitles(a, sender); });
      break;
    case pbAuxInput:
      RunLinkOperation([a, sender] { SwitchAuxInput(a, sender); });
      break;
    case pbSettings:
      // The window works on the unit at Address. While another operation is on the link its address must
      // stay, so the new one is taken when that operation ends.
      RunLinkOperation([a] { LinkState.Address = uint8_t(a); });
      if (PanelsHost().ShowSettings) PanelsHost().ShowSettings(a);
      break;
    default:
      break;
  }
}
