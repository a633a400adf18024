#include "toolkit/QtToolkit.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

namespace {
const QEvent::Type WakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TQtTimer : public TTimer {
 public:
  TQtTimer() {
    // Coarse timers may fire the two 250 ms timers of a probe out of order.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (OnTimer) Guarded(OnTimer);
    });
  }
  void SetEnabled(bool enabled) override {
    if (enabled == timer_.isActive()) return;
    if (enabled)
      timer_.start();
    else
      timer_.stop();
  }
  bool Enabled() const override { return timer_.isActive(); }
  void SetInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
  int Interval() const override { return timer_.interval(); }

 private:
  QTimer timer_;
};
}  // namespace

class TQtToolkit::TWakeReceiver : public QObject {
 public:
  explicit TWakeReceiver(TSyncQueue& queue) : queue_(queue) {}

 protected:
  // The only events of a user's type it is sent are wake events; the event itself, made on a worker and
  // handed over by Qt, is not looked at.
  void customEvent(QEvent*) override { Guarded([this] { queue_.RunPending(); }); }

 private:
  TSyncQueue& queue_;
};

TQtToolkit::TQtToolkit() : receiver_(new TWakeReceiver(queue_)) {
  queue_.AdoptCurrentThreadAsUi();
  queue_.OnQueued = [this] { QCoreApplication::postEvent(receiver_, new QEvent(WakeEvent)); };
}

TQtToolkit::~TQtToolkit() {
  queue_.OnQueued = nullptr;
  delete receiver_;
}

std::unique_ptr<TTimer> TQtToolkit::CreateTimer() { return std::make_unique<TQtTimer>(); }

void TQtToolkit::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TQtToolkit::MessageBox(const std::string& text, const std::string& caption, TMessageKind kind) {
  QMessageBox box(kind == TMessageKind::mkError ? QMessageBox::Critical : QMessageBox::Information,
                  QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

void TQtToolkit::Synchronize(const std::function<void()>& method) { queue_.Synchronize(method); }

void TQtToolkit::SendMessage(const std::function<void(const std::function<void()>& reply)>& procedure) {
  queue_.Send(procedure);
}

void TQtToolkit::Post(const std::function<void()>& method) { queue_.Post(method); }

void TQtToolkit::WaitServing(const std::function<bool()>& done) { queue_.WaitServing(done); }

void TQtToolkit::WakeWaiters() {
  queue_.WakeWaiters();
  // A wait outside blocks in Qt's own loop, which only an event wakes.
  if (outsideWaits_ > 0) QCoreApplication::postEvent(receiver_, new QEvent(WakeEvent));
}

void TQtToolkit::WaitOutside(const std::function<bool()>& done) {
  if (!queue_.OnUiThread()) {
    queue_.WaitWoken(done);
    return;
  }
  ++outsideWaits_;
  while (!done())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::WaitForMoreEvents);
  --outsideWaits_;
}
