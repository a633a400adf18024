#pragma once
// One direction of the serial line: bytes leave back to back at the line rate. Each burst keeps its start
// and counts its bytes, and byte k of a burst ends at start + (k + 1) x 10 bits / baud, rounded, so a long
// burst does not drift.
#include <cstdint>

class TSimLine {
 public:
  static constexpr int BitsPerByte = 10;  // start bit, 8 data bits, stop bit

  explicit TSimLine(uint32_t baudRate = 38400) : baudRate_(baudRate) {}

  struct TSlot {
    int64_t StartUs;
    int64_t EndUs;
  };

  // The time from a burst's start to the end of its byte k (0 based).
  int64_t OffsetUs(int64_t bytesBefore) const {
    const int64_t numerator = bytesBefore * BitsPerByte * 1'000'000;
    return (2 * numerator + baudRate_) / (2 * int64_t(baudRate_));
  }

  // The next byte sent at `atUs` or as soon as the line is free: it joins the running burst when the line
  // is still busy at that time (or frees just then), or starts a new one.
  TSlot Next(int64_t atUs) {
    if (burstBytes_ == 0 || atUs > FreeUs()) {
      burstStartUs_ = atUs;
      burstBytes_ = 0;
    }
    TSlot slot{burstStartUs_ + OffsetUs(burstBytes_), burstStartUs_ + OffsetUs(burstBytes_ + 1)};
    ++burstBytes_;
    return slot;
  }

  // The end of the last byte handed to the line so far.
  int64_t FreeUs() const { return burstBytes_ ? burstStartUs_ + OffsetUs(burstBytes_) : INT64_MIN; }
  uint32_t BaudRate() const { return baudRate_; }

 private:
  uint32_t baudRate_;
  int64_t burstStartUs_ = 0;
  int64_t burstBytes_ = 0;
};
