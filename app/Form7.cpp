#include "app/Form7.h"

#include <QEvent>
#include <algorithm>

#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

TForm7::TForm7() : QWidget(nullptr, Qt::Window) {
  setWindowTitle(QString());
  setFont(DefaultDesignFont());
  Label1 = new QLabel(QString::fromUtf8("Задайте адрес устройства, незадействованный в системе"), this);
  Place(Label1, 16, 8);
  Edit1 = new QLineEdit(this);
  Place(Edit1, 104, 32, 129, 21);
  BitBtn1 = new QPushButton(QString::fromUtf8("Записать"), this);
  Place(BitBtn1, 136, 72, 75, 20);
  // A sizable window; the design's outer size, less the frame the window manager adds.
  setGeometry(371, 247, 333, 115);
  // Wider where the fonts at hand make the label longer than the design width holds, so it reads whole.
  resize(std::max(width(), 2 * Label1->x() + Label1->width()), height());
}

bool TForm7::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) Guarded([this] { FormActivate(); });
  return QWidget::event(event);
}

void TForm7::FormActivate() { Edit1->clear(); }
