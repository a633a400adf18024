#pragma once
// A manual-reset (or auto-reset) event that poll() can wait on: readable while set.
#include "serial/platform/ComPlatform.h"

class TPosixEvent : public TPlatformEvent {
 public:
  TPosixEvent(bool manualReset = true, bool initialState = false);
  ~TPosixEvent() override;
  TPosixEvent(const TPosixEvent&) = delete;
  TPosixEvent& operator=(const TPosixEvent&) = delete;

  bool Valid() const { return readFd_ >= 0; }
  void Set() override;
  void Reset() override;
  bool IsSet() const;
  // After poll() saw it readable: an auto-reset event is consumed here, a manual one stays set.
  void Consumed();
  int Fd() const { return readFd_; }

 private:
  bool manualReset_;
  int readFd_ = -1;
  int writeFd_ = -1;  // the same descriptor where eventfd exists
};
