#pragma once
// An open terminal device: the stream device over a termios descriptor. Line settings go to termios and
// the modem-control ioctls; the output queue and the line-error counters come from the driver.
#include "serial/platform/StreamComDevice.h"

class TPosixComDevice : public TStreamComDevice {
 public:
  explicit TPosixComDevice(int fd);
  ~TPosixComDevice() override;

  bool SetCommState(const TDcb& dcb) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

 protected:
  TStreamWait WaitStream(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop, int timeoutMs) override;
  bool EventIsSet(TPlatformEvent& event) override;
  void ReadStreamLocked() override;
  int64_t WriteStreamLocked(const uint8_t* bytes, uint32_t count, uint32_t& error) override;
  bool StreamStatusLocked(uint32_t& unread, uint32_t& unsent, uint32_t& errors, uint32_t& error) override;
  uint32_t FlushStreamLocked(bool input, bool output) override;
  uint32_t CloseStreamLocked() override;
  int UnsentLocked() override;

 private:
  uint32_t ReadIcountErrorsLocked();

  int fd_;
  bool icountBaseline_ = false;
  int icount_[4] = {};  // frame, overrun, parity, break
};
