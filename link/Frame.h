#pragma once
// The frame layout on the line: E2 E4 05, address, FF 00, command, a byte that is 00 in a request and the
// status in a reply, N, N data bytes and the checksum, low byte first.
#include <cstdint>
#include <vector>

enum TCommandCode : uint8_t {
  cmdSelect = 0,
  cmdWrite = 4,
  cmdRead = 6,
  cmdSetAddress = 8,
  cmdIdentify = 9,
};

enum TReplyStatus : uint8_t {
  statusDeviceFault = 0x83,
  statusNotSupported = 0x84,
};

constexpr int FrameOverhead = 11;        // a frame is N + 11 bytes
constexpr int FrameAddressOffset = 3;
constexpr int FrameCommandOffset = 6;
constexpr int FrameStatusOffset = 7;
constexpr int FrameLengthOffset = 8;
constexpr int FrameDataOffset = 9;

// A whole frame with its checksum. `status` is byte 7: 0 in every request.
std::vector<uint8_t> BuildFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data,
                                uint8_t status = 0);
