#pragma once
// Port names on POSIX: "COMn" (n = 1 to 256) is <dev>/ttyS<n-1>, a name beginning with "/" is a device path
// used as it stands; the "\\.\" prefix the port puts in front is dropped first.
#include <string>
#include <vector>

// Where the system keeps its device files and its device tree: /dev and /sys, or scratch trees in tests.
struct TPosixDeviceRoots {
  std::string Dev = "/dev";
  std::string Sys = "/sys";
};

// The device path for a name, or false when the name stands for no device.
bool DevicePathForPortName(const std::string& name, std::string& path, const std::string& devRoot = "/dev");
// The USB and ACM adapters under `directory`, USB ones first, each in numeric order.
std::vector<std::string> AdapterDevicePaths(const std::string& directory = "/dev");

// The adapters as the port list offers them, in the order above: each under its stable name in
// <dev>/serial/by-id (the same adapter keeps it whatever socket it is plugged into) where the system made
// one, else under its device path.
std::vector<std::string> AdapterPortNames(const TPosixDeviceRoots& roots = {});
// What the adapter behind a device path is, read from the device tree: maker, product and serial number
// of the USB device ("FTDI FT232R USB UART, S/N A50285BI"); empty when the tree does not say.
std::string AdapterDescription(const std::string& devicePath, const TPosixDeviceRoots& roots = {});
