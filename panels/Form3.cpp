#include "panels/Form3.h"

#include "toolkit/Widgets.h"

TForm3::TForm3() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
  // A plain bordered box with no caption and no title-bar buttons.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint);
  setWindowTitle(QString());
  setFont(DefaultDesignFont());
  StaticText1 = new QLabel(this);
  StaticText1->setFont(DesignFont("Times New Roman", 16, true, true));
  Place(StaticText1, 10, 24);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, 32);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  Place(ProgressBar1, 22, 64, 411, 16);
  move(328, 287);
  FixClientSize(this, 446, 113);
}
