// The "COM.ini" reader against any file: the port name is exactly the bytes before the first CR or LF (at
// most 64 KiB of them), nothing trimmed or added; saving that name writes exactly it and CR LF, reading
// that back gives the same name, and no other file is left in the directory.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "app/PortFile.h"
#include "fuzz/FuzzSupport.h"
#include "serial/ComPort.h"

namespace {

std::string FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr size_t MaxNameLength = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratchDirectory("orvel-fuzz-portfile");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream("COM.ini", std::ios::binary | std::ios::trunc) << bytes;
  }
  const std::string expected = bytes.substr(0, std::min(bytes.find_first_of("\r\n"), MaxNameLength));

  TComPort port;
  port.SetPort("untouched");
  LoadPortName(port);
  FUZZ_CHECK(port.Port() == expected,
             "read [" << FuzzHex(port.Port()) << "] from [" << FuzzHex(bytes) << "]");

  SavePortName(port);
  FUZZ_CHECK(FileBytes("COM.ini") == expected + "\r\n", "saved as [" << FuzzHex(FileBytes("COM.ini")) << "]");
  TComPort again;
  LoadPortName(again);
  FUZZ_CHECK(again.Port() == expected, "the saved name reads back as [" << FuzzHex(again.Port()) << "]");
  FUZZ_CHECK(DirectoryEntries() == std::vector<std::string>{"COM.ini"},
             "left in the directory: " << DirectoryEntries().size() << " entries");
  return 0;
}
