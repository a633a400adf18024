#include "serial/platform/posix/PosixComPlatform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "serial/platform/net/NetPortName.h"
#include "serial/platform/posix/PosixComDevice.h"
#include "serial/platform/posix/PosixDeviceWatch.h"
#include "serial/platform/posix/PosixErrorText.h"
#include "serial/platform/posix/PosixEvent.h"
#include "serial/platform/posix/PosixLastError.h"
#include "serial/platform/posix/PosixPortNames.h"

namespace {
std::unique_ptr<TComDevice> Refuse(uint32_t error) {
  SetPosixLastError(error);
  return nullptr;
}

// Closes `fd` without letting close() overwrite the reason already captured.
std::unique_ptr<TComDevice> RefuseAndClose(int fd, uint32_t error) {
  close(fd);
  return Refuse(error);
}
}  // namespace

std::unique_ptr<TComDevice> TPosixComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                          uint32_t shareMode, uint32_t creation,
                                                          uint32_t flags) {
  std::string device;
  if (!DevicePathForPortName(path, device, roots_.Dev)) return Refuse(ENOENT);
  if (creation != ComApi::OPEN_EXISTING) return Refuse(EINVAL);
  const bool reading = access & ComApi::GENERIC_READ, writing = access & ComApi::GENERIC_WRITE;
  if (!reading && !writing) return Refuse(EINVAL);
  const int mode = reading && writing ? O_RDWR : reading ? O_RDONLY : O_WRONLY;
  const int fd = open(device.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Refuse(errno);
  if (!isatty(fd)) return RefuseAndClose(fd, ENOTTY);
  if (shareMode == 0) {
    if (ioctl(fd, TIOCEXCL) != 0) return RefuseAndClose(fd, errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return RefuseAndClose(fd, errno == EWOULDBLOCK ? EBUSY : errno);
  }
  return std::make_unique<TPosixComDevice>(fd);
}

std::unique_ptr<TPlatformEvent> TPosixComPlatform::CreateEvent(bool manualReset, bool initialState) {
  auto event = std::make_unique<TPosixEvent>(manualReset, initialState);
  if (!event->Valid()) {
    SetPosixLastError(errno);
    return nullptr;
  }
  return event;
}

uint32_t TPosixComPlatform::GetLastError() { return PosixLastError(); }

void TPosixComPlatform::Sleep(uint32_t milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string TPosixComPlatform::ErrorText(uint32_t error) {
  return std::system_category().message(int(error));
}

std::vector<std::string> TPosixComPlatform::AdapterPortNames() { return ::AdapterPortNames(roots_); }

TSystemErrorText TPosixComPlatform::DescribeError(const std::string& portName, uint32_t error) {
  // A serial device server's error number is this system's too; only its meaning differs.
  if (IsNetPortName(portName)) return PosixNetErrorText(portName, int(error));
  std::string device;
  if (!DevicePathForPortName(portName, device, roots_.Dev)) device.clear();
  return PosixErrorText(portName, device, int(error));
}

std::string TPosixComPlatform::PortDescription(const std::string& portName) {
  std::string device;
  return DevicePathForPortName(portName, device, roots_.Dev) ? AdapterDescription(device, roots_) : "";
}

bool TPosixComPlatform::AccessDenied(uint32_t error) { return error == EACCES || error == EPERM; }

std::unique_ptr<TDeviceWatch> TPosixComPlatform::WatchDevice(const std::string& path,
                                                              std::function<void()> changed) {
  std::string device;
  if (!DevicePathForPortName(path, device, roots_.Dev)) return nullptr;
  auto watch = std::make_unique<TPosixDeviceWatch>(device, std::move(changed));
  if (!watch->Valid()) return nullptr;
  return watch;
}
