#include "app/PortReconnect.h"

#include <QMessageBox>
#include <algorithm>

#include "link/LinkOperations.h"
#include "panels/Poll.h"
#include "serial/ComPort.h"
#include "serial/platform/net/NetPortName.h"

const char* const TextPortLost =
    "Связь с портом %1 потеряна: устройство отключено.\r\n"
    "Когда порт снова появится, программа сама откроет его и опросит устройства.";
const char* const TextPortBack = "Порт %1 снова доступен. Программа открыла его и опрашивает устройства.";

TPortReconnect::TPortReconnect(TCustomComPort& port, QWidget* noticeParent)
    : port_(port), noticeParent_(noticeParent), self_(std::make_shared<TPortReconnect*>(this)) {
  retry_ = Toolkit().CreateTimer();
  retry_->OnTimer = [this] {
    retry_->SetEnabled(false);
    AskToTry();
  };
  port_.OnDeviceLost = [this](TCustomComPort*) { DeviceLost(); };
}

TPortReconnect::~TPortReconnect() {
  port_.OnDeviceLost = nullptr;
  *self_ = nullptr;
  watch_.reset();  // its thread ends here, before anything it reports to goes
  delete notice_.data();
}

void TPortReconnect::Tell(const char* text, const std::string& name) {
  if (!notice_) {
    // Not modal: the program must stay free to notice the device's return and act on it.
    notice_ = new QMessageBox(QMessageBox::Information, ApplicationTitle, QString(), QMessageBox::Ok,
                              noticeParent_);
    notice_->setWindowModality(Qt::NonModal);
  }
  notice_->setText(QString::fromUtf8(text).arg(QString::fromLocal8Bit(name.c_str())));
  notice_->show();
}

void TPortReconnect::DeviceLost() {
  const std::string name = port_.Port();
  if (awaited_ == name) return;  // told already
  // A serial device server that went away is reported by the failed exchange, and the operator's rescan
  // connects again once it is back; trying on our own would race that rescan.
  if (IsNetPortName(name)) return;
  Stop();
  awaited_ = name;
  Tell(TextPortLost, name);
  std::weak_ptr<TPortReconnect*> self = self_;
  watch_ = port_.Platform().WatchDevice("\\\\.\\" + name, [self] {
    Toolkit().Post([self] {
      if (auto alive = self.lock(); alive && *alive) (*alive)->AskToTry();
    });
  });
  retryMs_ = FirstRetryMs;
  retry_->SetInterval(retryMs_);
  retry_->SetEnabled(true);
}

void TPortReconnect::AskToTry() {
  if (awaited_.empty()) return;
  std::weak_ptr<TPortReconnect*> self = self_;
  // Tries still waiting for the link stand for one another.
  RunLinkOperation(this, [self] {
    if (auto alive = self.lock(); alive && *alive) (*alive)->Try();
  });
}

void TPortReconnect::Try() {
  if (awaited_.empty()) return;
  if (port_.Port() != awaited_ || port_.Connected()) {
    // The operator has moved to another port or opened this one again: nothing left to wait for.
    Stop();
    if (notice_) notice_->hide();
    return;
  }
  try {
    port_.Open();
  } catch (const EComPort&) {
    // Still gone. A watched device says when it is back; anything else is asked again later.
    if (!watch_) {
      retryMs_ = std::min(retryMs_ * 2, LongestRetryMs);
      retry_->SetInterval(retryMs_);
      retry_->SetEnabled(true);
    }
    return;
  }
  const std::string name = awaited_;
  Stop();
  Tell(TextPortBack, name);
  RescanBus();
}

void TPortReconnect::Stop() {
  awaited_.clear();
  watch_.reset();
  retry_->SetEnabled(false);
}
