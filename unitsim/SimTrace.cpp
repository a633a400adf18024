#include "unitsim/SimTrace.h"

#include <algorithm>
#include <stdexcept>

#include "link/Frame.h"
#include "link/FrameCrc.h"

void ParseWireFrame(TWireFrame& frame) {
  const auto& b = frame.Bytes;
  frame.HasHeader = b.size() >= size_t(FrameDataOffset);
  frame.Data.clear();
  frame.CrcOk = false;
  if (!frame.HasHeader) {
    frame.Kind = TTraceKind::tkPartial;
    return;
  }
  frame.Address = b[3];
  frame.Command = b[6];
  frame.Status = b[FrameStatusOffset];
  frame.Length = b[FrameLengthOffset];
  const size_t whole = size_t(frame.Length) + FrameOverhead;
  const size_t dataEnd = std::min(b.size(), size_t(FrameDataOffset) + frame.Length);
  frame.Data.assign(b.begin() + FrameDataOffset, b.begin() + dataEnd);
  frame.Kind = b.size() == whole ? TTraceKind::tkFrame : TTraceKind::tkPartial;
  if (frame.Kind == TTraceKind::tkFrame) {
    const uint16_t crc = FrameCrc(b.data(), whole - 2);
    frame.CrcOk = b[whole - 2] == (crc & 0xFF) && b[whole - 1] == (crc >> 8);
  }
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) text += ' ';
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xF];
  }
  return text;
}

std::vector<uint8_t> ParseHexBytes(const std::string& text) {
  auto digit = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex byte sequence: \"" + text + "\"");
  };
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || text[i + 1] == ' ')
      throw std::invalid_argument("odd number of hex digits in \"" + text + "\"");
    bytes.push_back(uint8_t(digit(text[i]) << 4 | digit(text[i + 1])));
    i += 2;
  }
  return bytes;
}

std::string TWireFrame::Hex() const { return HexBytes(Bytes); }

const char* TraceKindName(TTraceKind kind) {
  switch (kind) {
    case TTraceKind::tkFrame: return "frame";
    case TTraceKind::tkPartial: return "partial";
    case TTraceKind::tkGarbage: return "garbage";
    case TTraceKind::tkStray: return "stray";
  }
  return "?";
}

std::string WireFrameJson(const TWireFrame& f) {
  std::string j = "{\"start_us\":" + std::to_string(f.StartUs) + ",\"end_us\":" + std::to_string(f.EndUs);
  j += f.Direction == TTraceDirection::tdHostToUnits ? ",\"from\":\"host\"" : ",\"from\":\"units\"";
  j += std::string(",\"kind\":\"") + TraceKindName(f.Kind) + "\"";
  j += ",\"bytes\":\"" + HexBytes(f.Bytes) + "\"";
  if (f.HasHeader) {
    j += ",\"address\":" + std::to_string(f.Address) + ",\"command\":" + std::to_string(f.Command) +
         ",\"status\":" + std::to_string(f.Status) + ",\"n\":" + std::to_string(f.Length) +
         ",\"data\":\"" + HexBytes(f.Data) + "\"";
  }
  if (f.Kind == TTraceKind::tkFrame) j += std::string(",\"crc_ok\":") + (f.CrcOk ? "true" : "false");
  if (!f.Pieces.empty()) {
    j += ",\"pieces\":[";
    for (size_t i = 0; i < f.Pieces.size(); ++i) {
      if (i) j += ',';
      j += "{\"start_us\":" + std::to_string(f.Pieces[i].StartUs) + ",\"end_us\":" +
           std::to_string(f.Pieces[i].EndUs) + ",\"count\":" + std::to_string(f.Pieces[i].Count) + "}";
    }
    j += ']';
  }
  if (f.Garbled) j += ",\"garbled\":true";
  j += '}';
  return j;
}
