#pragma once
// What went over the simulated line: every frame the host sent, every reply (whole or cut short) and every
// run of stray bytes, with the times its first byte started and its last byte ended, so tests can assert
// on the wire exactly as an analyser on the line would show it.
#include <cstdint>
#include <string>
#include <vector>

enum class TTraceDirection { tdHostToUnits, tdUnitsToHost };

enum class TTraceKind {
  tkFrame,    // a complete frame: N + 11 bytes
  tkPartial,  // the start of a frame that never completed (dropped after the silence, or cut short)
  tkGarbage,  // bytes from the host before a frame start, skipped by the units
  tkStray,    // bytes a unit sent that belong to no reply
};

// One burst of a frame that went out in pieces.
struct TTracePiece {
  int64_t StartUs = 0;
  int64_t EndUs = 0;
  size_t Count = 0;
  bool operator==(const TTracePiece&) const = default;
};

struct TWireFrame {
  int64_t StartUs = 0;  // start bit of the first byte
  int64_t EndUs = 0;    // stop bit of the last byte
  TTraceDirection Direction = TTraceDirection::tdHostToUnits;
  TTraceKind Kind = TTraceKind::tkFrame;
  std::vector<uint8_t> Bytes;

  // The header as far as the bytes reach (HasHeader: at least the nine header bytes are there).
  bool HasHeader = false;
  uint8_t Address = 0;
  uint8_t Command = 0;
  uint8_t Status = 0;
  uint8_t Length = 0;  // N, byte 8
  std::vector<uint8_t> Data;
  bool CrcOk = false;  // a complete frame whose checksum is right

  std::vector<TTracePiece> Pieces;  // filled only when the bytes went out in more than one burst
  bool Garbled = false;             // sent with line settings that do not match the bus

  std::string Hex() const;
};

// Fills the parsed fields and the kind (tkFrame or tkPartial) from Bytes.
void ParseWireFrame(TWireFrame& frame);

// "E2 E4 05": upper-case hex, one space between bytes.
std::string HexBytes(const std::vector<uint8_t>& bytes);
// The reverse, for tests and option values: hex digit pairs, spaces optional ("E2E405" or "e2 e4 05").
// Throws std::invalid_argument on anything else.
std::vector<uint8_t> ParseHexBytes(const std::string& text);

// One JSON object (no line break) describing a frame; the trace files are lines of these.
std::string WireFrameJson(const TWireFrame& frame);

const char* TraceKindName(TTraceKind kind);
