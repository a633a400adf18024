#include "tests/support/ProgramRig.h"

#include "panels/UnitPanels.h"
#include "tests/support/TestApplication.h"

TProgramRig::TProgramRig(const std::string& portName) : TVirtualRig(portName) {
  ResetUnitPanels();
  EnsureApplication();
  Windows = std::make_unique<TApplicationWindows>(&Platform);
}

TProgramRig::~TProgramRig() {
  Windows.reset();
  ResetUnitPanels();
}

void TProgramRig::Start() {
  Form1().show();  // the start-up runs from the loop once the window is up
  Tk.RunUntilIdle();
}
