#pragma once
// Faults a simulated unit shows on demand, and the plan of what it puts on the line for one request. A fault
// holds for every reply or for the next n, optionally only for replies to one command.
#include <cstddef>
#include <cstdint>
#include <vector>

enum class TFaultKind {
  fkSilent,       // no reply; the unit did not take the request in
  fkStatus,       // the reply carries this status (0x83, 0x84 ...); a refused command is not carried out
  fkSplit,        // the reply pauses after SplitAfter bytes for PauseUs
  fkStrayBefore,  // Stray bytes go out just ahead of the reply
  fkStrayAfter,   // Stray bytes follow the reply after GapUs of silence
  fkOversize,     // the reply carries Length data bytes (more than the host's 80-byte buffer holds)
  fkBadChecksum,  // the reply's checksum bytes are wrong
  fkSingleByte,   // only the reply's first byte goes out
  fkDelay,        // the reply starts DelayUs later than usual
};

struct TSimFault {
  TFaultKind Kind = TFaultKind::fkSilent;
  int Remaining = -1;  // replies it still spoils; -1 for all of them
  int Command = -1;    // only replies to this command code; -1 for any

  uint8_t Status = 0;
  size_t SplitAfter = 0;
  int64_t PauseUs = 0;
  std::vector<uint8_t> Stray;
  int64_t GapUs = 0;
  size_t Length = 0;
  int64_t DelayUs = 0;

  static TSimFault Silent();
  static TSimFault WithStatus(uint8_t status);
  static TSimFault Split(size_t afterBytes, int64_t pauseUs);
  static TSimFault StrayBefore(std::vector<uint8_t> bytes);
  static TSimFault StrayAfter(std::vector<uint8_t> bytes, int64_t gapUs = 0);
  static TSimFault Oversize(size_t length = 70);
  static TSimFault BadChecksum();
  static TSimFault SingleByte();
  static TSimFault Delay(int64_t delayUs);

  // Builder style: TSimFault::Split(3, 20000).For(cmdRead).Times(1).
  TSimFault Times(int replies) const;
  TSimFault For(uint8_t command) const;

  bool Applies(uint8_t command) const { return Remaining != 0 && (Command < 0 || Command == command); }
};

// A pause inside a reply: after the first AfterBytes bytes of it, the line stays quiet for PauseUs.
struct TReplySplit {
  size_t AfterBytes = 0;
  int64_t PauseUs = 0;
};

// Everything a unit sends for one request. Empty Bytes and no stray bytes: silence.
struct TReplyPlan {
  int64_t DelayUs = 0;               // from the end of the request to the first byte
  std::vector<uint8_t> StrayBefore;  // in the same burst, just ahead of the reply
  std::vector<uint8_t> Bytes;        // the reply as the unit sends it
  std::vector<TReplySplit> Splits;
  std::vector<uint8_t> StrayAfter;
  int64_t StrayAfterGapUs = 0;  // silence between the end of the reply and the stray bytes after it

  bool Silent() const { return Bytes.empty() && StrayBefore.empty() && StrayAfter.empty(); }
};

// The faults that work on the bytes of a finished reply: checksum, single byte, split, stray bytes, delay.
void ShapeReply(const std::vector<TSimFault>& faults, TReplyPlan& plan);
