#pragma once
// The platform layer over simulated buses: a table of port names that exist, each on its bus. Opening
// "\\.\COM3" gives a device on the bus of "COM3"; a name not in the table fails with ERROR_FILE_NOT_FOUND, a
// name already open with ERROR_ACCESS_DENIED. Runs either on the test toolkit's virtual clock or in real
// time with a scheduler thread of its own.
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/ComPlatform.h"
#include "unitsim/SimBus.h"
#include "unitsim/SimComDevice.h"

class TVirtualToolkit;
class TSimRealTime;
class TSimVirtualTime;

class TSimComPlatform : public TComPlatform {
 public:
  TSimComPlatform();                                   // real time
  explicit TSimComPlatform(TVirtualToolkit& toolkit);  // virtual time
  ~TSimComPlatform() override;
  TSimComPlatform(const TSimComPlatform&) = delete;
  TSimComPlatform& operator=(const TSimComPlatform&) = delete;

  // A port name that exists, on a new bus of its own or on the bus given. Names compare without regard
  // to case, as Windows device names do.
  TSimBus& AddPort(const std::string& name);
  void AddPort(const std::string& name, std::shared_ptr<TSimBus> bus);
  std::shared_ptr<TSimBus> Bus(const std::string& name);
  // The device open on that port, or null.
  TSimComDevice* Device(const std::string& name);
  // The adapter is pulled out: its open device fails from now on and the name no longer exists. Plugged
  // back, it tells the watches on its name.
  void Unplug(const std::string& name);
  void Replug(const std::string& name);
  // Whether the platform can watch for a device to come back (a platform that cannot leaves the program
  // to try again on a timer).
  bool OffersWatches = true;

  // TComPlatform
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override { return SimGetLastError(); }
  // Virtual time has no real waiting: a sleep only yields.
  void Sleep(uint32_t milliseconds) override;
  std::string ErrorText(uint32_t error) override;
  // The names beyond COM1 to COM10, as adapters.
  std::vector<std::string> AdapterPortNames() override;
  std::unique_ptr<TDeviceWatch> WatchDevice(const std::string& path, std::function<void()> changed) override;

 private:
  class TSimWatch;
  struct TPort {
    std::string Name;
    std::shared_ptr<TSimBus> Bus;
    bool Present = true;
  };
  TPort* Find(const std::string& name);
  void Drive(const std::shared_ptr<TSimBus>& bus);

  TVirtualToolkit* toolkit_ = nullptr;
  std::unique_ptr<TSimRealTime> realTime_;
  std::vector<std::unique_ptr<TSimVirtualTime>> virtualTime_;
  std::vector<std::shared_ptr<TSimBus>> driven_;
  std::vector<TPort> ports_;
  std::vector<TSimWatch*> watches_;
};
