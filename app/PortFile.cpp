#include "app/PortFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "serial/ComPort.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/Exceptions.h"

const char* const PortFileName = "COM.ini";

namespace {
// No device name is anywhere near this long; reading stops here so a huge file cannot exhaust memory,
// and a name this long fails to open all the same.
constexpr size_t MaxNameLength = 64 * 1024;
}  // namespace

bool PortFileExists() {
  struct stat st {};
  return ::stat(PortFileName, &st) == 0;
}

void SavePortName(TCustomComPort& port) { WriteFileReplacing(PortFileName, port.Port() + "\r\n"); }

void LoadPortName(TCustomComPort& port) {
  std::ifstream in(PortFileName, std::ios::binary);
  if (!in) {
    int error = errno;
    throw EInOutError(std::string(PortFileName) + ": " + std::strerror(error), error);
  }
  std::string name;
  char c;
  while (name.size() < MaxNameLength && in.get(c) && c != '\r' && c != '\n') name.push_back(c);
  if (in.bad()) throw EInOutError(std::string(PortFileName) + ": read error", EIO);
  port.SetPort(name);
}
