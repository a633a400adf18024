#include "link/Frame.h"

#include "link/FrameCrc.h"

std::vector<uint8_t> BuildFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data,
                                uint8_t status) {
  std::vector<uint8_t> frame{0xE2, 0xE4, 0x05, address, 0xFF, 0x00, command, status, uint8_t(data.size())};
  frame.insert(frame.end(), data.begin(), data.end());
  uint16_t crc = FrameCrc(frame.data(), frame.size());
  frame.push_back(uint8_t(crc & 0xFF));
  frame.push_back(uint8_t(crc >> 8));
  return frame;
}
