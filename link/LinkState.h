#pragma once
// The single record every conversation with a unit goes through: the request a caller sets up, the
// results the receiver stores, and the frame and receive state.
#include <array>
#include <cstdint>
#include <vector>

constexpr int RxBufferSize = 80;

struct TLinkState {
  // Request fields.
  uint8_t Address = 0;
  uint8_t Register = 0;
  uint8_t WriteCount = 0;
  uint8_t Value = 0;  // the byte to write, or K, the number of bytes to read

  uint8_t Command = 0;  // the request last sent
  uint8_t DataLength = 0;

  // Results.
  uint8_t CurrentValue = 0;
  uint8_t Minimum = 0;
  uint8_t Maximum = 0;
  uint8_t Default = 0;
  uint8_t Step = 0;

  // Flags.
  bool StepPending = false;
  bool RegisterMode = false;
  bool Scanning = false;
  bool ReplyTimedOut = false;
  bool ReplyRejected = false;
  // The last cmdRead's reply was complete and stored its result; cleared when a cmdRead goes out. Without
  // it a caller could not tell a value read now from the one an earlier read left behind.
  bool ReadAnswered = false;

  // Frame and receive state. RxBuffer position k (1..80) holds reply offset k - 1; position 0 is unused.
  std::vector<uint8_t> TxFrame;
  std::array<uint8_t, RxBufferSize + 1> RxBuffer{};
  int32_t RxCount = 0;
  int32_t RxRemaining = 0;
  uint8_t CrcLow = 0;
  uint8_t CrcHigh = 0;
};

extern TLinkState LinkState;

// Back to the state at program start (tests run many programs' worth of link state in one process).
void ResetLinkState();
