#include "tests/support/VirtualRig.h"

#include "link/Link.h"
#include "link/LinkOperations.h"

namespace {
void ResetLinkLayer() {
  ResetLinkState();
  ResetLinkOperations();
}
}  // namespace

TVirtualRig::TVirtualRig(const std::string& portName) : Bus(Platform.AddPort(portName)) {
  SetToolkit(&Tk);
  ResetLinkLayer();
}

TVirtualRig::~TVirtualRig() {
  ResetLinkLayer();
  SetToolkit(nullptr);
}

TSimUnit& TVirtualRig::AddUnit(uint8_t address) { return Bus.AddUnit(address); }

std::vector<std::string> TVirtualRig::RequestHex() {
  std::vector<std::string> out;
  for (auto& frame : Bus.Requests()) out.push_back(frame.Hex());
  return out;
}

std::vector<std::string> TVirtualRig::MessageTexts() const {
  std::vector<std::string> out;
  for (auto& m : Tk.Messages()) out.push_back(m.Caption + ": " + m.Text);
  return out;
}

TLinkRig::TLinkRig() {
  Timer1 = Tk.CreateTimer();
  Timer2 = Tk.CreateTimer();
  Timer4 = Tk.CreateTimer();
  ApplyUnitLineSettings(Port);
  TLinkHooks hooks;
  hooks.EnableStepButtons = [this] { ++StepButtonsEnabled; };
  hooks.AddressAccepted = [this] { ++AddressAccepted; };
  hooks.NewAddress = [this] { return NewAddress; };
  BindLink(Port, *Timer1, *Timer2, *Timer4, hooks);
  Port.Open();
}

TLinkRig::~TLinkRig() {
  // A port whose adapter was unplugged reports the refused purge as it closes.
  try {
    Port.Close();
  } catch (const EComPort&) {
  }
  UnbindLink();
}
