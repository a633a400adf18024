#include "serial/platform/posix/PosixPortNames.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {
const std::string DevicePrefix = "\\\\.\\";

// A decimal number without sign or leading zero ("0" itself is fine); false for anything else.
bool ParseNumber(const std::string& text, unsigned long& value) {
  if (text.empty() || text.size() > 6 || (text[0] == '0' && text.size() > 1)) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

bool IsComName(const std::string& name, unsigned long& number) {
  if (name.size() < 4) return false;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  return ParseNumber(name.substr(3), number) && number >= 1 && number <= 256;
}

bool Under(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

// The device's kernel name ("ttyUSB0"): the last part of the path once the links are followed that lead
// to another name in the device directory (a stable name to its device node, say).
std::string KernelName(const std::string& devicePath, const std::string& devRoot) {
  const fs::path root = fs::path(devRoot).lexically_normal();
  fs::path path = fs::path(devicePath).lexically_normal();
  std::error_code error;
  for (int hops = 0; hops < 8 && fs::is_symlink(path, error); ++hops) {
    fs::path target = fs::read_symlink(path, error);
    if (error) break;
    if (target.is_relative()) target = path.parent_path() / target;
    target = target.lexically_normal();
    if (!Under(target, root)) break;
    path = target;
  }
  return path.filename().string();
}

// The stable names under <dev>/serial/by-id, by the kernel name of the device each one leads to; the first
// in byte order where there are several.
std::map<std::string, std::string> StableNames(const std::string& devRoot) {
  std::map<std::string, std::string> names;
  const std::string directory = devRoot + "/serial/by-id";
  std::error_code error;
  std::vector<std::string> links;
  for (const auto& entry : fs::directory_iterator(directory, error))
    if (entry.is_symlink(error)) links.push_back(entry.path().string());
  std::sort(links.begin(), links.end());
  for (const auto& link : links) {
    if (!fs::exists(link, error)) continue;  // left behind by an adapter that has gone
    names.emplace(KernelName(link, devRoot), link);
  }
  return names;
}

std::string ReadAttribute(const fs::path& directory, const char* name) {
  std::ifstream in(directory / name);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return value;
}
}  // namespace

bool DevicePathForPortName(const std::string& name, std::string& path, const std::string& devRoot) {
  std::string bare =
      name.compare(0, DevicePrefix.size(), DevicePrefix) == 0 ? name.substr(DevicePrefix.size()) : name;
  // An embedded NUL would silently shorten the path the system sees.
  if (bare.empty() || bare.find('\0') != std::string::npos) return false;
  if (bare[0] == '/') {
    path = bare;
    return true;
  }
  unsigned long number = 0;
  if (!IsComName(bare, number)) return false;
  path = devRoot + "/ttyS" + std::to_string(number - 1);
  return true;
}

std::vector<std::string> AdapterDevicePaths(const std::string& directory) {
  std::vector<std::pair<unsigned long, std::string>> usb, acm;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      unsigned long number = 0;
      for (auto [prefix, list] : {std::pair{"ttyUSB", &usb}, std::pair{"ttyACM", &acm}}) {
        std::string p = prefix;
        if (name.compare(0, p.size(), p) == 0 && ParseNumber(name.substr(p.size()), number))
          list->push_back({number, directory + "/" + name});
      }
    }
    closedir(dir);
  }
  std::vector<std::string> paths;
  for (auto* list : {&usb, &acm}) {
    std::sort(list->begin(), list->end());
    for (auto& entry : *list) paths.push_back(entry.second);
  }
  return paths;
}

std::vector<std::string> AdapterPortNames(const TPosixDeviceRoots& roots) {
  const std::map<std::string, std::string> stable = StableNames(roots.Dev);
  std::vector<std::string> names;
  for (const auto& path : AdapterDevicePaths(roots.Dev)) {
    const auto found = stable.find(fs::path(path).filename().string());
    names.push_back(found != stable.end() ? found->second : path);
  }
  return names;
}

std::string AdapterDescription(const std::string& devicePath, const TPosixDeviceRoots& roots) {
  std::error_code error;
  // <sys>/class/tty/<name>/device leads into the device tree; the USB device that carries the maker's
  // strings sits a level or two above the tty (its interface, or the serial converter's port).
  const std::string name = KernelName(devicePath, roots.Dev);
  fs::path node = fs::canonical(fs::path(roots.Sys) / "class/tty" / name / "device", error);
  if (error) return {};
  const fs::path top = fs::canonical(roots.Sys, error);
  for (int level = 0; level < 4 && !error && node != top && node.has_relative_path(); ++level) {
    if (fs::exists(node / "idVendor", error)) {
      const std::string maker = ReadAttribute(node, "manufacturer");
      const std::string product = ReadAttribute(node, "product");
      const std::string serial = ReadAttribute(node, "serial");
      std::string text = product.find(maker) == std::string::npos ? maker : "";
      if (!product.empty()) text += (text.empty() ? "" : " ") + product;
      if (text.empty())
        text = "USB " + ReadAttribute(node, "idVendor") + ":" + ReadAttribute(node, "idProduct");
      if (!serial.empty()) text += ", S/N " + serial;
      return text;
    }
    node = node.parent_path();
  }
  return {};
}
