#include "app/PortList.h"

#include "serial/platform/ComPlatform.h"

std::vector<std::string> ListComPorts(TComPlatform& platform) {
  std::vector<std::string> names;
  for (int n = 1; n <= 10; ++n) {
    const std::string name = "COM" + std::to_string(n);
    // The device namespace prefix is what lets COM10 open at all on Windows.
    auto device = platform.CreateFile("\\\\.\\" + name, ComApi::GENERIC_READ, 0, ComApi::OPEN_EXISTING, 0);
    if (!device) continue;
    device->CloseHandle();
    names.push_back(name);
  }
  for (auto& name : platform.AdapterPortNames()) names.push_back(name);
  return names;
}
