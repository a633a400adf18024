#include "serial/platform/DispatchComPlatform.h"

#include "serial/platform/SystemErrors.h"
#include "serial/platform/net/NetPortName.h"

namespace {
thread_local bool connecting = false;
}

std::unique_ptr<TComDevice> TDispatchComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                             uint32_t shareMode, uint32_t creation,
                                                             uint32_t flags) {
  if (connecting) {
    SetLastSystemError(SystemError::Busy);
    return nullptr;
  }
  if (!IsNetPortName(path)) return local_.CreateFile(path, access, shareMode, creation, flags);
  struct TMark {
    TMark() { connecting = true; }
    ~TMark() { connecting = false; }
  } mark;
  return net_.CreateFile(path, access, shareMode, creation, flags);
}

std::unique_ptr<TPlatformEvent> TDispatchComPlatform::CreateEvent(bool manualReset, bool initialState) {
  return local_.CreateEvent(manualReset, initialState);
}

uint32_t TDispatchComPlatform::GetLastError() { return local_.GetLastError(); }

void TDispatchComPlatform::Sleep(uint32_t milliseconds) { local_.Sleep(milliseconds); }

std::string TDispatchComPlatform::ErrorText(uint32_t error) { return local_.ErrorText(error); }

std::vector<std::string> TDispatchComPlatform::AdapterPortNames() { return local_.AdapterPortNames(); }

TSystemErrorText TDispatchComPlatform::DescribeError(const std::string& portName, uint32_t error) {
  return local_.DescribeError(portName, error);
}

std::string TDispatchComPlatform::PortDescription(const std::string& portName) {
  return IsNetPortName(portName) ? net_.PortDescription(portName) : local_.PortDescription(portName);
}

bool TDispatchComPlatform::AccessDenied(uint32_t error) { return local_.AccessDenied(error); }

std::unique_ptr<TDeviceWatch> TDispatchComPlatform::WatchDevice(const std::string& path,
                                                                std::function<void()> changed) {
  return IsNetPortName(path) ? net_.WatchDevice(path, std::move(changed))
                             : local_.WatchDevice(path, std::move(changed));
}
