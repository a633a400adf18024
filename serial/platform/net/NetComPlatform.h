#pragma once
// The backend for serial device servers: CreateFile with a server's name connects, and for rfc2217://
// agrees the COM-PORT-OPTION, within one time limit and away from the window's thread.
#include <chrono>

#include "serial/platform/ComPlatform.h"

class TNetComPlatform : public TComPlatform {
 public:
  struct TLimits {
    // Resolving, connecting and agreeing the options, together.
    std::chrono::milliseconds Open{3000};
    // Waiting for the server's answers to a change of the line settings.
    std::chrono::milliseconds Answers{2000};
  };

  TNetComPlatform() = default;
  explicit TNetComPlatform(TLimits limits) : limits_(limits) {}

  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;

 private:
  TLimits limits_;
};
