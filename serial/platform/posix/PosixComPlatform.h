#pragma once
// The POSIX backend: terminal devices through termios, poll() for the event wait.
#include "serial/platform/ComPlatform.h"

class TPosixComPlatform : public TComPlatform {
 public:
  // Opens with O_NOCTTY and, for share mode 0, takes the device exclusively: TIOCEXCL, and an advisory
  // lock, since a privileged process ignores TIOCEXCL. A second opener gets EBUSY.
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;
  std::string ErrorText(uint32_t error) override;
  std::vector<std::string> AdapterPortNames() override;
};
