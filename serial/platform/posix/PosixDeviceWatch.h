#pragma once
// Watches for a device file to appear or change, through the kernel's inotify: on the folder the device
// file lives in (or, while that folder is missing too, on the nearest one that exists, since
// /dev/serial/by-id goes with the last adapter), and, where the name is a link, on its target's folder as
// well, where udev gives the device its group and mode after making it. A thread of its own sleeps in
// poll() until the kernel reports something, so the wait costs no CPU.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/ComPlatform.h"

class TPosixDeviceWatch : public TDeviceWatch {
 public:
  // `changed` runs on the watch's thread, once for each batch of events that concern the device.
  TPosixDeviceWatch(std::string devicePath, std::function<void()> changed);
  ~TPosixDeviceWatch() override;
  TPosixDeviceWatch(const TPosixDeviceWatch&) = delete;
  TPosixDeviceWatch& operator=(const TPosixDeviceWatch&) = delete;

  bool Valid() const { return inotify_ >= 0 && stop_ >= 0; }

 private:
  struct TWatched {
    int Descriptor;
    std::string Name;  // the entry of that folder that leads to the device
  };
  void Arm();
  void Run();
  // Reads what is pending; true when some of it concerns the device.
  bool Drain();

  std::string path_;
  std::function<void()> changed_;
  int inotify_ = -1;
  int stop_ = -1;
  std::vector<TWatched> watched_;
  std::thread thread_;
};
