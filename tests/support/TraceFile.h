#pragma once
// Reading back the wire trace orvel-unitsim writes (--trace): one JSON object per line and frame. Built
// with Qt, through Qt's JSON parser (WireTraceFile.h, which has every field); without Qt (the Windows test
// programs), through a field scanner.
#include <cstdint>
#include <string>
#include <vector>

struct TTracedFrame {
  bool FromHost = false;
  std::string Kind;  // "frame", "partial", "garbage", "stray"
  std::vector<uint8_t> Bytes;
  std::string Data;  // the data bytes as the trace writes them, in hex
  int64_t StartUs = -1, EndUs = -1;
  std::string Line;  // as written, for messages
  // "host frame E2 ..." or "units frame E2 ...": the frame as a line analyser would list it.
  std::string Wire() const;
};

// The value of `"key":` in one line of the trace: a string's contents, or a number or literal as written.
std::string TraceField(const std::string& line, const std::string& key);
// Every frame of the file, in order; nothing when it is missing.
std::vector<TTracedFrame> ReadTrace(const std::string& path);
