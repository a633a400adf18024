#pragma once
// The system's platform as the port sees it: names of serial device servers (tcp://, rfc2217://) go to the
// network backend, every other name to the local one, which also provides events, errors and the list of
// adapters.
#include "serial/platform/ComPlatform.h"

class TDispatchComPlatform : public TComPlatform {
 public:
  TDispatchComPlatform(TComPlatform& local, TComPlatform& net) : local_(local), net_(net) {}

  // A connection being made keeps the window's messages going; an open that starts from inside that wait
  // (on the same thread) is refused as busy rather than run nested inside the first.
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;
  std::string ErrorText(uint32_t error) override;
  std::vector<std::string> AdapterPortNames() override;
  // The local backend names the system's errors for either kind of port; the rest goes by the name.
  TSystemErrorText DescribeError(const std::string& portName, uint32_t error) override;
  std::string PortDescription(const std::string& portName) override;
  bool AccessDenied(uint32_t error) override;
  std::unique_ptr<TDeviceWatch> WatchDevice(const std::string& path, std::function<void()> changed) override;

 private:
  TComPlatform& local_;
  TComPlatform& net_;
};
