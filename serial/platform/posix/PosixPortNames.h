#pragma once
// Port names on POSIX: "COMn" (n = 1 to 256) is /dev/ttyS<n-1>, a name beginning with "/" is a device path
// used as it stands; the "\\.\" prefix the port puts in front is dropped first.
#include <string>
#include <vector>

// The device path for a name, or false when the name stands for no device.
bool DevicePathForPortName(const std::string& name, std::string& path);
// The USB and ACM adapters under `directory`, USB ones first, each in numeric order.
std::vector<std::string> AdapterDevicePaths(const std::string& directory = "/dev");
