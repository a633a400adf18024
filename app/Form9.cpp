#include "app/Form9.h"

#include <QStyle>

#include "panels/Poll.h"
#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

TForm9::TForm9()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  // No title-bar buttons: the window cannot be closed from there, only by its OK.
  setWindowTitle(QString());
  setFont(DefaultDesignFont());
  Label1 = new QLabel(QString::fromUtf8("Новый адрес записан"), this);
  Label1->setFont(DesignFont("Times New Roman", 13, false, true));
  Place(Label1, 40, 16);
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
  Place(BitBtn1, 64, 48, 75, 25);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  move(441, 294);
  FixClientSize(this, 202, 79);
}

// The old panels go, the window closes, then the poll runs: all in the link's turn.
void TForm9::BitBtn1Click() {
  RescanBus([this] { close(); });
}
