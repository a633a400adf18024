#pragma once
// How a unit picks request frames out of the bytes on the line: it waits for E2 E4, reads the header up to
// byte 8 for N, then takes N + 2 more bytes. Bytes before E2 E4 are skipped (and reported as garbage), and a
// frame that is still incomplete after more than 10 ms of silence (or the gap set) is dropped (and reported as
// partial). A frame that came in more than one burst keeps its bursts as pieces.
#include <cstdint>
#include <vector>

#include "unitsim/SimTrace.h"

class TFrameAssembler {
 public:
  static constexpr int64_t DefaultSilenceUs = 10'000;
  // The longest pause a frame may have inside it; a longer one drops what has come so far.
  int64_t SilenceUs = DefaultSilenceUs;

  // One byte off the line. Returns what it closed, in line order: a garbage run, a dropped partial frame, a
  // complete frame. A garbled byte (wrong line settings) is noise: it ends any frame begun.
  std::vector<TWireFrame> Feed(uint8_t byte, int64_t startUs, int64_t endUs, bool garbled = false);

  // The line stays quiet until `nextStartUs` (the start of the next byte; INT64_MAX when none is coming):
  // closes what is open if that silence is longer than SilenceUs.
  std::vector<TWireFrame> Expire(int64_t nextStartUs);

  // When the open frame or garbage run would be closed by silence; -1 when nothing is open.
  int64_t DeadlineUs() const;
  int64_t LastEndUs() const { return lastEndUs_; }

 private:
  void AddGarbage(uint8_t byte, int64_t startUs, int64_t endUs, bool garbled, std::vector<TWireFrame>& out);
  void CloseGarbage(std::vector<TWireFrame>& out);
  void CloseFrame(std::vector<TWireFrame>& out);
  void CloseAll(std::vector<TWireFrame>& out);
  void StartFrame(int64_t startUs, int64_t endUs, uint8_t byte);
  void AddPiece(int64_t startUs, int64_t endUs);

  TWireFrame frame_;    // the frame being assembled; Bytes empty when none
  TWireFrame garbage_;  // the garbage run being collected; Bytes empty when none
  int64_t firstByteEndUs_ = 0;
  int64_t lastEndUs_ = 0;
};
