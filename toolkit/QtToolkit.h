#pragma once
// The toolkit services over Qt: precise timers, blocking message processing, QMessageBox and a wake-up
// event that runs the synchronise queue from whatever loop the user-interface thread is in.
#include <QObject>
#include <atomic>

#include "toolkit/SyncQueue.h"
#include "toolkit/Toolkit.h"

class TQtToolkit : public TToolkit {
 public:
  TQtToolkit();  // on the user-interface thread, after the QApplication exists
  ~TQtToolkit() override;

  std::unique_ptr<TTimer> CreateTimer() override;
  void ProcessMessages() override;
  void MessageBox(const std::string& text, const std::string& caption, TMessageKind kind) override;
  void Synchronize(const std::function<void()>& method) override;
  void SendMessage(const std::function<void(const std::function<void()>& reply)>& procedure) override;
  void Post(const std::function<void()>& method) override;
  void WaitServing(const std::function<bool()>& done) override;
  void WakeWaiters() override;
  void WaitOutside(const std::function<bool()>& done) override;

 private:
  class TWakeReceiver;
  TSyncQueue queue_;
  TWakeReceiver* receiver_;
  std::atomic<int> outsideWaits_{0};
};
