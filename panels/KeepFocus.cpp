#include "panels/KeepFocus.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {
class TFocusKeeper : public QObject {
 public:
  explicit TFocusKeeper(QWidget* widget) : QObject(widget), widget_(widget) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != widget_) return false;
    if (event->type() == QEvent::FocusOut && !widget_->isEnabled()) {
      // Disabled with the focus on it: Qt has just given the focus to this widget.
      movedTo_ = QApplication::focusWidget();
      owed_ = true;
    } else if (event->type() == QEvent::EnabledChange && widget_->isEnabled() && owed_) {
      owed_ = false;
      if (QApplication::focusWidget() == movedTo_ && widget_->isVisible()) widget_->setFocus(Qt::OtherFocusReason);
    }
    return false;
  }

 private:
  QWidget* widget_;
  QPointer<QWidget> movedTo_;
  bool owed_ = false;
};
}  // namespace

void KeepFocusThroughBusy(QWidget* widget) { widget->installEventFilter(new TFocusKeeper(widget)); }
