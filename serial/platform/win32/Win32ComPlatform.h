#pragma once
// The Windows backend: the communications calls themselves, with overlapped I/O.
#include "serial/platform/ComPlatform.h"

class TWin32ComPlatform : public TComPlatform {
 public:
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;
  std::string ErrorText(uint32_t error) override;
};
