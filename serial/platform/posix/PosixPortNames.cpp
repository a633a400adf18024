#include "serial/platform/posix/PosixPortNames.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

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
}  // namespace

bool DevicePathForPortName(const std::string& name, std::string& path) {
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
  path = "/dev/ttyS" + std::to_string(number - 1);
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
