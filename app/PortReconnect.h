#pragma once
// When the port's device goes (an adapter pulled out, the far end of a terminal closed), the port closes
// itself. The operator is told once, in a notice that leaves the program free, and the program waits. When
// a device of the same name comes back, it opens the port and polls the units again by itself, saying so.
//
// It learns of the device's return from the platform's watch (inotify on the device's folder on Linux),
// which costs nothing meanwhile. A name the platform cannot watch (a name on Windows) is tried again on a
// timer whose pause doubles up to half a minute. A serial device server's name is left to the operator's
// rescan, as its loss is reported by the exchange that failed. Either way there is
// one early try, for a device that came back before the watch began. Every try runs in the link's turn,
// like any operation, and the poll after it is the operator's own rescan.
#include <QMessageBox>
#include <QPointer>
#include <memory>
#include <string>

#include "toolkit/Toolkit.h"

class QWidget;
class TCustomComPort;
class TDeviceWatch;

// The notices, with %1 for the port's name.
extern const char* const TextPortLost;
extern const char* const TextPortBack;

class TPortReconnect {
 public:
  // Binds itself to the port's OnDeviceLost; `noticeParent` is the window the notice belongs to.
  TPortReconnect(TCustomComPort& port, QWidget* noticeParent);
  ~TPortReconnect();
  TPortReconnect(const TPortReconnect&) = delete;
  TPortReconnect& operator=(const TPortReconnect&) = delete;

  // The port whose device is awaited; empty while none is.
  const std::string& Awaited() const { return awaited_; }
  bool Watching() const { return watch_ != nullptr; }
  // The notice; null until the first loss.
  QMessageBox* Notice() const { return notice_; }

  static constexpr int FirstRetryMs = 1000;
  static constexpr int LongestRetryMs = 30000;

 private:
  void DeviceLost();
  void AskToTry();  // a try, in the link's turn
  void Try();
  void Stop();
  void Tell(const char* text, const std::string& name);

  TCustomComPort& port_;
  QWidget* noticeParent_;
  QPointer<QMessageBox> notice_;
  std::string awaited_;
  std::unique_ptr<TDeviceWatch> watch_;
  std::unique_ptr<TTimer> retry_;
  int retryMs_ = FirstRetryMs;
  // News from the watch's thread and tries queued on the link find out through this whether the object
  // still exists.
  std::shared_ptr<TPortReconnect*> self_;
};
