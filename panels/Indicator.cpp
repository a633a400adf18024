#include "panels/Indicator.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "link/RegisterMap.h"
#include "panels/KeepFocus.h"
#include "toolkit/Toolkit.h"

QColor ToQColor(TColor color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

const char* const TextStateUnknown = "Состояние не прочитано: устройство не ответило на запрос";
const char* const TextStateOn = "вкл";
const char* const TextStateOff = "выкл";
const char* const TextStateNotRead = "неизвестно";

const char* const IndicatorRowCaptions[6] = {"", "ГЦП", "Лого1", "Лого2", "Титры", "Доп.вход"};

TIndicator::TIndicator(QWidget* parent) : QWidget(parent) {
  // Tab reaches it; a click does not take the focus from where the keyboard left it.
  setFocusPolicy(Qt::TabFocus);
  KeepFocusThroughBusy(this);
}

QString TIndicator::Identity() const {
  const int address = Tag / 21, n = Tag % 21;
  if (n < 1 || n > IndicatorCount) return QString();
  return QString::fromUtf8("№ %1, K%2, %3")
      .arg(address)
      .arg(IndicatorChannel(n))
      .arg(QString::fromUtf8(IndicatorRowCaptions[IndicatorRow(n)]));
}

void TIndicator::Describe() {
  const char* state = brush_ == clLime ? TextStateOn : brush_ == clRed ? TextStateOff : TextStateNotRead;
  const QString name = Identity() + ": " + QString::fromUtf8(state);
  const QString reason = brush_ == clGray ? QString::fromUtf8(TextStateUnknown) : QString();
  setAccessibleName(name);
  setAccessibleDescription(reason);
  setToolTip(reason.isEmpty() ? name : name + "\n" + reason);
}

void TIndicator::ShowState(bool on) { SetBrushColor(on ? clLime : clRed); }

void TIndicator::ShowUnknown() { SetBrushColor(clGray); }

void TIndicator::SetBrushColor(TColor color) {
  if (color == brush_) return;
  brush_ = color;
  Describe();
  update();
}

void TIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = ToQColor(brush_);
  if (!isEnabled()) fill = fill.darker(140);  // busy while its exchange runs
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(fill);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = r.width() / 4;
  painter.drawRoundedRect(r, radius, radius);
  if (hasFocus()) {
    // A white ring with a black one inside reads on lime, red and grey alike.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawRoundedRect(r.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRoundedRect(r.adjusted(3.5, 3.5, -3.5, -3.5), radius - 3, radius - 3);
  }
}

void TIndicator::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) Guarded([&] { OnMouseDown(this, event->button()); });
}

void TIndicator::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) Guarded([&] { OnMouseUp(this, event->button()); });
}

void TIndicator::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // A held key repeats; one press is one switch.
      if (!event->isAutoRepeat()) {
        // As a click: the press, then the release that acts.
        QPointer<TIndicator> self(this);
        if (OnMouseDown) Guarded([&] { OnMouseDown(this, Qt::NoButton); });
        if (self && OnMouseUp) Guarded([&] { OnMouseUp(this, Qt::NoButton); });
      }
      event->accept();
      return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      if (TIndicator* next = Neighbour(event->key())) next->setFocus(Qt::TabFocusReason);
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TIndicator::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TIndicator::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

TIndicator* TIndicator::Neighbour(int key) const {
  if (!parentWidget()) return nullptr;
  const QPoint here = geometry().topLeft();
  TIndicator* best = nullptr;
  int bestDistance = 0;
  for (QObject* child : parentWidget()->children()) {
    auto* other = dynamic_cast<TIndicator*>(child);
    if (!other || other == this || !other->isEnabled()) continue;
    const QPoint there = other->geometry().topLeft();
    const bool across = key == Qt::Key_Left || key == Qt::Key_Right;
    if (across ? there.y() != here.y() : there.x() != here.x()) continue;
    const int distance = across ? there.x() - here.x() : there.y() - here.y();
    const bool forward = key == Qt::Key_Right || key == Qt::Key_Down;
    if (forward ? distance <= 0 : distance >= 0) continue;
    if (!best || std::abs(distance) < bestDistance) {
      best = other;
      bestDistance = std::abs(distance);
    }
  }
  return best;
}
