#include "serial/platform/net/NetComPlatform.h"

#include <thread>

#include "serial/platform/SystemErrors.h"
#include "serial/platform/net/NetComDevice.h"
#include "serial/platform/net/NetConnect.h"

std::unique_ptr<TComDevice> TNetComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                        uint32_t shareMode, uint32_t creation, uint32_t flags) {
  TNetAddress address;
  if (!ParseNetPortName(path, address) || creation != ComApi::OPEN_EXISTING ||
      (access & (ComApi::GENERIC_READ | ComApi::GENERIC_WRITE)) == 0) {
    SetLastSystemError(SystemError::InvalidArgument);
    return nullptr;
  }
  std::unique_ptr<TNetComDevice> device;
  uint32_t error = 0;
  RunBesideTheWindow([&] {
    const auto deadline = std::chrono::steady_clock::now() + limits_.Open;
    auto socket = std::make_unique<TNetSocket>();
    error = ConnectByDeadline(address, deadline, *socket);
    if (error) return;
    device = std::make_unique<TNetComDevice>(std::move(socket), address.Protocol, limits_.Answers);
    if (!device->Negotiate(deadline, error)) device.reset();
  });
  if (!device) {
    SetLastSystemError(error);
    return nullptr;
  }
  return device;
}

std::unique_ptr<TPlatformEvent> TNetComPlatform::CreateEvent(bool manualReset, bool initialState) {
  auto event = TNetSocket::NewEvent(manualReset);
  if (event && initialState) event->Set();
  return event;
}

uint32_t TNetComPlatform::GetLastError() { return LastSystemError(); }

void TNetComPlatform::Sleep(uint32_t milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
