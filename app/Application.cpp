#include "app/Application.h"

#include "app/PortFile.h"
#include "link/Link.h"
#include "panels/Poll.h"

TApplicationWindows::TApplicationWindows(TComPlatform* platform) {
  Form1 = std::make_unique<TForm1>(platform);
  Form3 = std::make_unique<TForm3>();
  Form2 = std::make_unique<TForm2>();
  Form7 = std::make_unique<TForm7>();
  Form8 = std::make_unique<TForm8>();
  Form9 = std::make_unique<TForm9>();
  Form1->Form7 = Form7.get();
  Form1->Form8 = Form8.get();
  Form8->ComPort1 = &Form1->ComPort1;

  TLinkHooks hooks;
  hooks.EnableStepButtons = [this] { Form2->EnableStepButtons(); };
  hooks.AddressAccepted = [this] {
    Form7->hide();
    Form9->show();
  };
  hooks.NewAddress = [this] { return Form7->NewAddress; };
  BindLink(Form1->ComPort1, *Form1->Timer1, *Form1->Timer2, *Form1->Timer4, std::move(hooks));

  TPanelsHost host;
  host.MainClient = Form1->ClientArea;
  host.SetMainWidth = [this](int width) { Form1->SetWidth(width); };
  host.PortName = [this] { return Form1->ComPort1.Port(); };
  host.SavePortName = [this] { SavePortName(Form1->ComPort1); };
  host.ShowAddressDialog = [this] { Form7->show(); };
  host.ClosePortDialog = [this] { Form8->close(); };
  host.ShowSettings = [this](int address) { Form2->ShowForUnit(address); };
  // Every way to start a poll is closed while one runs or waits to run.
  host.PollActiveChanged = [this](bool active) {
    Form1->N3->setEnabled(!active);
    Form8->BitBtn1->setEnabled(!active);
    Form9->BitBtn1->setEnabled(!active);
  };
  BindPanels(*Form3, std::move(host));
  Reconnect = std::make_unique<TPortReconnect>(Form1->ComPort1, Form1.get());
}

TApplicationWindows::~TApplicationWindows() {
  Reconnect.reset();
  UnbindPanels();
  DestroyPanels();
  UnbindLink();
  // The port closes (and its event thread ends) before the windows it reports to go away. Closing a port
  // whose adapter was pulled out reports the refused purge; at the end of the program there is no one left
  // to tell, and the port is closed all the same.
  try {
    Form1->ComPort1.Close();
  } catch (const EComPort&) {
  }
}
