#include "panels/Form3.h"

#include <QScreen>
#include <algorithm>

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
  move(DesignPosition);
  FixClientSize(this, DesignWidth, DesignHeight);
}

void TForm3::FitText() {
  StaticText1->setToolTip(QString());
  StaticText1->adjustSize();
  const int margin = StaticText1->x();
  int width = std::max(int(DesignWidth), StaticText1->x() + StaticText1->width() + margin);
  if (const QScreen* shown = screen()) {
    const int most = shown->availableGeometry().width() - 2 * margin;
    if (width > most) {
      // Longer than any screen: the middle of the name gives way, and the whole text is in the tooltip.
      const QString text = StaticText1->text();
      StaticText1->setText(StaticText1->fontMetrics().elidedText(text, Qt::ElideMiddle, most - 2 * margin));
      StaticText1->setToolTip(text);
      StaticText1->adjustSize();
      width = most;
    }
  }
  FixClientSize(this, width, DesignHeight);
  // The bar keeps its margins to the window's edges.
  ProgressBar1->resize(width - (DesignWidth - 411), ProgressBar1->height());
  // A grown window moves left as far as it must to stay on the screen.
  QPoint place = DesignPosition;
  if (const QScreen* shown = screen()) {
    const QRect room = shown->availableGeometry();
    place.setX(std::max(room.left(), std::min(place.x(), room.right() + 1 - width)));
  }
  move(place);
}
