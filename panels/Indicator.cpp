#include "panels/Indicator.h"

#include <QMouseEvent>
#include <QPainter>

#include "toolkit/Toolkit.h"

QColor ToQColor(TColor color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

const char* const TextStateUnknown = "Состояние не прочитано: устройство не ответило на запрос";

TIndicator::TIndicator(QWidget* parent) : QWidget(parent) {}

void TIndicator::ShowState(bool on) {
  SetBrushColor(on ? clLime : clRed);
  setToolTip(QString());
}

void TIndicator::ShowUnknown() {
  SetBrushColor(clGray);
  setToolTip(QString::fromUtf8(TextStateUnknown));
}

void TIndicator::SetBrushColor(TColor color) {
  if (color == brush_) return;
  brush_ = color;
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
}

void TIndicator::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) Guarded([&] { OnMouseDown(this, event->button()); });
}

void TIndicator::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) Guarded([&] { OnMouseUp(this, event->button()); });
}
