#include "app/Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QShowEvent>

#include "app/Form7.h"
#include "app/Form8.h"
#include "app/PortFile.h"
#include "app/PortBox.h"
#include "app/PortList.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Widgets.h"

namespace {
QLabel* RowCaption(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setFont(DesignFont("Times New Roman", 15, true));
  Place(label, left, top);
  return label;
}
}  // namespace

TForm1::TForm1(TComPlatform* platform)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      ComPort1(platform) {
  setWindowTitle("ORVEL Control");
  setFont(DefaultDesignFont());

  // The port as the window's description stores it; nothing reaches a device until it is opened.
  ComPort1.Name = "ComPort1";
  ComPort1.BeginLoading();
  ApplyUnitLineSettings(ComPort1);
  ComPort1.SetPort("COM1");
  ComPort1.Loaded();

  // Created disabled; binding the link gives them their intervals and handlers.
  Timer1 = Toolkit().CreateTimer();
  Timer2 = Toolkit().CreateTimer();
  Timer4 = Toolkit().CreateTimer();

  // Each with its first letter as the mnemonic, for the keyboard (Alt+О, then В, З or Д).
  N1 = menuBar()->addMenu(QString::fromUtf8("&Общие настройки"));
  Com1 = N1->addAction(QString::fromUtf8("&Выбор Com-порта"));
  N2 = N1->addAction(QString::fromUtf8("&Задать адрес устройства"));
  N3 = N1->addAction(QString::fromUtf8("&Добавить устройство в систему"));
  connect(Com1, &QAction::triggered, this, [this] { Guarded([this] { Com1Click(); }); });
  connect(N2, &QAction::triggered, this, [this] { Guarded([this] { N2Click(); }); });
  connect(N3, &QAction::triggered, this, [this] { Guarded([this] { N3Click(); }); });

  ClientArea = new QWidget(this);
  setCentralWidget(ClientArea);
  Label2 = RowCaption(ClientArea, "Настройки", 0, 16);
  Label3 = RowCaption(ClientArea, "прибора", 11, 32);
  Label4 = RowCaption(ClientArea, "ГЦП", 19, 76);
  Label5 = RowCaption(ClientArea, "Лого1", 16, 109);
  Label1 = RowCaption(ClientArea, "Лого2", 16, 139);
  Label7 = RowCaption(ClientArea, "Титры", 13, 168);
  Label6 = RowCaption(ClientArea, "Доп.вход", 7, 200);

  move(242, 99);
  setFixedSize(DesignWidth, DesignHeight + menuBar()->sizeHint().height());
}

TForm1::~TForm1() = default;

void TForm1::SetWidth(int width) { setFixedWidth(width); }

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Restoring from the task bar is not a showing; the start-up runs once the window is up, from the loop.
  if (event->spontaneous() || startupPending_) return;
  startupPending_ = true;
  Toolkit().Post([this] {
    startupPending_ = false;
    Guarded([this] { FormShow(); });
  });
}

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) Guarded([this] { FormActivate(); });
  return QMainWindow::event(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  // Closing the main window ends the program, whatever other window is still open.
  QApplication::quit();
}

void TForm1::FormShow() {
  for (auto& unit : UnitPanels) unit.ButtonOn[pbTitles] = unit.ButtonOn[pbAuxInput] = 0;
  ComPort1.Close();
  const TPortListing ports = ProbeComPorts(ComPort1.Platform());
  AddPortsToList(*Form8->ComboBox1, ports);
  if (PortFileExists()) {
    LoadPortName(ComPort1);
  } else {
    // No port to remember: say so, and write no empty name.
    if (Form8->ComboBox1->count() == 0) throw Exception(NoPortFoundText(ports, ComPort1.Platform()));
    ComPort1.SetPort(Form8->ComboBox1->itemText(0).toLocal8Bit().toStdString());
    SavePortName(ComPort1);
  }
  ComPort1.Open();
  SetWidth(80);
  RescanBus();
}

// Activation clears a register mode an abandoned exchange left behind. An operation still running on the
// link ends its exchange itself: cleared under it, its remaining frames would go out without their
// register and data, and a read-modify-write would write a wrong byte to a wrong register.
void TForm1::FormActivate() {
  if (!LinkOperationRunning()) LinkState.RegisterMode = false;
}

void TForm1::Com1Click() {
  Form8->show();
  Form8->ComboBox1->setEditText(QString::fromLocal8Bit(ComPort1.Port().c_str()));
}

void TForm1::N2Click() { Form7->show(); }

void TForm1::N3Click() { RescanBus(); }
