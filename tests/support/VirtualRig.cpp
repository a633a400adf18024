#include "tests/support/VirtualRig.h"

#include "link/Link.h"
#include "link/LinkOperations.h"
#include "panels/UnitPanels.h"

namespace {
void ResetProgramState() {
  ResetLinkState();
  ResetLinkOperations();
  ResetUnitPanels();
}
}  // namespace

TVirtualRig::TVirtualRig(const std::string& portName) : Bus(Platform.AddPort(portName)) {
  SetToolkit(&Tk);
  ResetProgramState();
}

TVirtualRig::~TVirtualRig() {
  ResetProgramState();
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

TProgramRig::TProgramRig(const std::string& portName) : TVirtualRig(portName) {
  EnsureApplication();
  Windows = std::make_unique<TApplicationWindows>(&Platform);
}

TProgramRig::~TProgramRig() { Windows.reset(); }

void TProgramRig::Start() {
  Form1().show();  // the start-up runs from the loop once the window is up
  Tk.RunUntilIdle();
}
