#pragma once
// CRC-16/MODBUS of a frame, one byte at a time over the two running bytes, which start at 0xFF for every
// frame and go on the wire low byte first.
#include <cstddef>
#include <cstdint>

void FrameCrc(uint8_t byte, uint8_t& crcLow, uint8_t& crcHigh);

// The checksum of `count` bytes, as (high << 8) | low.
uint16_t FrameCrc(const uint8_t* bytes, size_t count);
