#include "app/Form7.h"

#include <QEvent>

#include <algorithm>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "panels/UnitPanels.h"
#include "toolkit/Convert.h"
#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

const char* const TextAddressOutOfRange = "Адрес устройства должен быть не менее 1 и не более 16.";

static_assert(HighestUnitAddress == PolledAddressCount, "an address the poll never visits is never found");

TForm7::TForm7() : QWidget(nullptr, Qt::Window) {
  setWindowTitle(QString());
  setFont(DefaultDesignFont());
  Label1 = new QLabel(QString::fromUtf8("Задайте адрес устройства, незадействованный в системе"), this);
  Place(Label1, 16, 8);
  Edit1 = new QLineEdit(this);
  Place(Edit1, 104, 32, 129, 21);
  BitBtn1 = new QPushButton(QString::fromUtf8("Записать"), this);
  Place(BitBtn1, 136, 72, 75, 20);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  // A sizable window; the design's outer size, less the frame the window manager adds.
  setGeometry(371, 247, ClientWidth, 115);
  // Wider where the fonts at hand make the label longer than the design width holds, so it reads whole.
  resize(std::max(width(), 2 * Label1->x() + Label1->width()), height());
}

bool TForm7::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) Guarded([this] { FormActivate(); });
  return QWidget::event(event);
}

void TForm7::FormActivate() { Edit1->clear(); }

void TForm7::BitBtn1Click() {
  // Checked at the press, so the operator hears at once about a wrong number even while the link is busy.
  const int address = StrToInt(Edit1->text().toStdString());
  if (address < LowestUnitAddress || address > HighestUnitAddress) {
    Toolkit().MessageBox(TextAddressOutOfRange, CaptionInformation, TMessageKind::mkInformation);
    return;
  }
  // After another operation's wait, a unit that answered meanwhile has hidden the dialog, or the operator
  // closed it: the request is no longer wanted. A press still waiting stands for the ones before it.
  RunLinkOperation(this, [this, address] {
    if (!isVisible()) return;
    NewAddress = address;
    SendCommand(cmdSetAddress);
  });
}
