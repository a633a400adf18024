#pragma once
// orvel-unitsim's wire trace (--trace) as the tests read it: one JSON object per line, parsed with Qt's
// JSON parser, so a line that is not what the simulator promises fails the test instead of being
// half-read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TTraceLine {
  std::string From;  // "host" or "units"
  std::string Kind;  // "frame", "partial", "garbage" or "stray"
  std::vector<uint8_t> Bytes;
  int64_t StartUs = 0;
  int64_t EndUs = 0;
  // The header, where the bytes reach that far.
  bool HasHeader = false;
  int Address = 0, Command = 0, Status = 0, Length = 0;
  std::vector<uint8_t> Data;
  std::optional<bool> CrcOk;  // complete frames only
  std::string Text;            // the line as written, for failure messages

  bool FromHost() const { return From == "host"; }
  // "host frame E2 ..." or "units frame E2 ...": the frame as a line analyser would list it.
  std::string Wire() const;
};

// Every line of the file; a missing file reads as no lines. A line that is not such an object throws
// std::runtime_error naming the line.
std::vector<TTraceLine> ReadWireTrace(const std::string& path);
