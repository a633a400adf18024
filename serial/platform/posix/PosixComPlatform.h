#pragma once
// The POSIX backend: terminal devices through termios, poll() for the event wait.
#include "serial/platform/ComPlatform.h"
#include "serial/platform/posix/PosixPortNames.h"

class TPosixComPlatform : public TComPlatform {
 public:
  // `roots`: where the device files and the device tree are (scratch trees in tests).
  explicit TPosixComPlatform(TPosixDeviceRoots roots = {}) : roots_(std::move(roots)) {}

  // Opens with O_NOCTTY and, for share mode 0, takes the device exclusively: TIOCEXCL, and an advisory
  // lock, since a privileged process ignores TIOCEXCL. A second opener gets EBUSY.
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;
  std::string ErrorText(uint32_t error) override;
  std::vector<std::string> AdapterPortNames() override;
  // The error number as errno, and what it means on the port in Russian.
  TSystemErrorText DescribeError(const std::string& portName, uint32_t error) override;
  std::string PortDescription(const std::string& portName) override;
  bool AccessDenied(uint32_t error) override;
  // Through inotify, for every name that stands for a device file.
  std::unique_ptr<TDeviceWatch> WatchDevice(const std::string& path, std::function<void()> changed) override;

 private:
  TPosixDeviceRoots roots_;
};
