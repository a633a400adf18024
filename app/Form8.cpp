#include "app/Form8.h"

#include "app/PortBox.h"
#include "app/PortFile.h"
#include "link/LinkOperations.h"
#include "panels/Poll.h"
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

TForm8::TForm8()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromUtf8("Выбор Com-порта"));
  setFont(DefaultDesignFont());
  Label1 = new QLabel(QString::fromUtf8("Порт"), this);
  Place(Label1, 16, 27);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // a typed name is used, not added to the list
  Place(ComboBox1, 64, 24, 81, 21);
  BitBtn1 = new QPushButton(QString::fromUtf8("Выбрать"), this);
  Place(BitBtn1, 64, 64, 75, 20);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  move(537, 308);
  FixClientSize(this, 191, 95);
  KeepPortTextWhole(*this, *ComboBox1);
}

// The name is the one on screen when the button was pressed; the port changes only in the link's turn,
// never under another operation that is waiting for a reply. A press still waiting stands for the ones
// before it.
void TForm8::BitBtn1Click() {
  const QByteArray text = ComboBox1->currentText().toLocal8Bit();
  const std::string name(text.constData(), size_t(text.size()));
  RunLinkOperation(this, [this, name] { ChoosePort(name); });
}

void TForm8::ChoosePort(const std::string& name) {
  TCustomComPort& port = *ComPort1;
  // A port that is not open, or whose device has gone (an adapter pulled out, the far end of a terminal
  // closed), has no live units behind its panels: once it opens again, it is polled. A close refused by
  // such a device tells the operator nothing the open that follows does not.
  bool lost = !port.Connected();
  try {
    port.Close();
  } catch (const EComPort&) {
    lost = true;
  }
  lost = lost || port.DeviceLost();
  if (name == port.Port()) {
    port.Open();
    if (lost) RescanBus();
    return;
  }
  port.SetPort(name);
  SavePortName(port);
  port.Open();
  RescanBus();
}
