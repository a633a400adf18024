#include "unitsim/SimComPlatform.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "unitsim/SimRealTime.h"
#include "unitsim/SimVirtualTime.h"

using namespace ComApi;

namespace {
std::string Upper(std::string s) {
  for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The port name in a device path as the port forms it ("\\.\COM3").
std::string BareName(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path; }

bool IsNumberedComName(const std::string& name) {
  const std::string u = Upper(name);
  if (u.size() < 4 || u.compare(0, 3, "COM") != 0) return false;
  if (!std::all_of(u.begin() + 3, u.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  const int n = std::stoi(u.substr(3));
  return n >= 1 && n <= 10;
}
}  // namespace

TSimComPlatform::TSimComPlatform() : realTime_(std::make_unique<TSimRealTime>()) {}

TSimComPlatform::TSimComPlatform(TVirtualToolkit& toolkit) : toolkit_(&toolkit) {}

TSimComPlatform::~TSimComPlatform() {
  if (realTime_)
    for (auto& bus : driven_) realTime_->RemoveBus(*bus);
  realTime_.reset();
  virtualTime_.clear();
}

void TSimComPlatform::Drive(const std::shared_ptr<TSimBus>& bus) {
  for (auto& b : driven_)
    if (b == bus) return;
  driven_.push_back(bus);
  if (toolkit_)
    virtualTime_.push_back(std::make_unique<TSimVirtualTime>(*toolkit_, *bus));
  else
    realTime_->AddBus(*bus);
}

TSimComPlatform::TPort* TSimComPlatform::Find(const std::string& name) {
  const std::string key = Upper(name);
  for (auto& p : ports_)
    if (Upper(p.Name) == key) return &p;
  return nullptr;
}

TSimBus& TSimComPlatform::AddPort(const std::string& name) {
  auto bus = std::make_shared<TSimBus>();
  AddPort(name, bus);
  return *bus;
}

void TSimComPlatform::AddPort(const std::string& name, std::shared_ptr<TSimBus> bus) {
  if (auto* p = Find(name)) {
    p->Bus = bus;
    p->Present = true;
  } else {
    ports_.push_back({name, bus, true});
  }
  Drive(bus);
}

std::shared_ptr<TSimBus> TSimComPlatform::Bus(const std::string& name) {
  auto* p = Find(name);
  return p ? p->Bus : nullptr;
}

TSimComDevice* TSimComPlatform::Device(const std::string& name) {
  auto* p = Find(name);
  if (!p) return nullptr;
  return dynamic_cast<TSimComDevice*>(p->Bus->AttachedHost());
}

void TSimComPlatform::Unplug(const std::string& name) {
  auto* p = Find(name);
  if (!p) return;
  p->Present = false;
  if (auto* device = Device(name)) device->Unplug();
}

class TSimComPlatform::TSimWatch : public TDeviceWatch {
 public:
  TSimWatch(TSimComPlatform& platform, std::string name, std::function<void()> changed)
      : Platform(platform), Name(std::move(name)), Changed(std::move(changed)) {
    Platform.watches_.push_back(this);
  }
  ~TSimWatch() override { std::erase(Platform.watches_, this); }
  TSimComPlatform& Platform;
  const std::string Name;
  const std::function<void()> Changed;
};

void TSimComPlatform::Replug(const std::string& name) {
  auto* p = Find(name);
  if (!p) return;
  p->Present = true;
  const std::vector<TSimWatch*> watches = watches_;
  for (auto* watch : watches)
    if (std::find(watches_.begin(), watches_.end(), watch) != watches_.end() &&
        Upper(watch->Name) == Upper(p->Name))
      watch->Changed();
}

std::unique_ptr<TDeviceWatch> TSimComPlatform::WatchDevice(const std::string& path,
                                                            std::function<void()> changed) {
  if (!OffersWatches) return nullptr;
  return std::make_unique<TSimWatch>(*this, BareName(path), std::move(changed));
}

std::unique_ptr<TComDevice> TSimComPlatform::CreateFile(const std::string& path, uint32_t access,
                                                        uint32_t shareMode, uint32_t creation, uint32_t flags) {
  auto* p = Find(BareName(path));
  if (!p || !p->Present) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (creation != OPEN_EXISTING) {
    SimSetLastError(SimError::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto device = std::make_unique<TSimComDevice>(p->Bus, p->Name);
  // A communications device is never shared, whatever the share mode asks.
  if (!p->Bus->AttachHost(device.get())) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SimSetLastError(0);
  return device;
}

std::unique_ptr<TPlatformEvent> TSimComPlatform::CreateEvent(bool manualReset, bool initialState) {
  return std::make_unique<TSimEvent>(manualReset, initialState);
}

void TSimComPlatform::Sleep(uint32_t milliseconds) {
  if (toolkit_ || milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string TSimComPlatform::ErrorText(uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case SimError::ERROR_BAD_COMMAND: return "The device does not recognize the command.";
    case SimError::ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_OPERATION_ABORTED:
      return "The I/O operation has been aborted because of either a thread exit or an application request.";
    case SimError::ERROR_IO_INCOMPLETE: return "Overlapped I/O event is not in a signaled state.";
    case ERROR_IO_PENDING: return "Overlapped I/O operation is in progress.";
    default: return {};
  }
}

std::vector<std::string> TSimComPlatform::AdapterPortNames() {
  std::vector<std::string> names;
  for (auto& p : ports_)
    if (p.Present && !IsNumberedComName(p.Name)) names.push_back(p.Name);
  return names;
}
