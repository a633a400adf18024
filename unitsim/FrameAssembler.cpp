#include "unitsim/FrameAssembler.h"

#include <climits>

#include "link/Frame.h"

namespace {
constexpr uint8_t kLead1 = 0xE2, kLead2 = 0xE4;
}

int64_t TFrameAssembler::DeadlineUs() const {
  if (frame_.Bytes.empty() && garbage_.Bytes.empty()) return -1;
  return lastEndUs_ + SilenceUs;
}

void TFrameAssembler::CloseGarbage(std::vector<TWireFrame>& out) {
  if (garbage_.Bytes.empty()) return;
  out.push_back(std::move(garbage_));
  garbage_ = {};
}

void TFrameAssembler::AddGarbage(uint8_t byte, int64_t startUs, int64_t endUs, bool garbled,
                                 std::vector<TWireFrame>& out) {
  if (!garbage_.Bytes.empty() && garbage_.Garbled != garbled) CloseGarbage(out);
  if (garbage_.Bytes.empty()) {
    garbage_.Direction = TTraceDirection::tdHostToUnits;
    garbage_.Kind = TTraceKind::tkGarbage;
    garbage_.StartUs = startUs;
    garbage_.Garbled = garbled;
  }
  garbage_.Bytes.push_back(byte);
  garbage_.EndUs = endUs;
}

void TFrameAssembler::CloseAll(std::vector<TWireFrame>& out) {
  CloseFrame(out);
  CloseGarbage(out);
}

void TFrameAssembler::StartFrame(int64_t startUs, int64_t endUs, uint8_t byte) {
  frame_.Direction = TTraceDirection::tdHostToUnits;
  frame_.StartUs = startUs;
  firstByteEndUs_ = endUs;
  frame_.EndUs = endUs;
  frame_.Bytes.push_back(byte);
  frame_.Pieces.push_back({startUs, endUs, 1});
}

// A byte that starts after the one before it ended (any pause at all) begins a new burst.
void TFrameAssembler::AddPiece(int64_t startUs, int64_t endUs) {
  auto& pieces = frame_.Pieces;
  if (pieces.empty() || startUs > pieces.back().EndUs)
    pieces.push_back({startUs, endUs, 1});
  else {
    pieces.back().EndUs = endUs;
    ++pieces.back().Count;
  }
}

void TFrameAssembler::CloseFrame(std::vector<TWireFrame>& out) {
  if (frame_.Bytes.size() == 1) {
    // A lone E2 never became a frame start.
    AddGarbage(frame_.Bytes[0], frame_.StartUs, firstByteEndUs_, false, out);
  } else if (!frame_.Bytes.empty()) {
    CloseGarbage(out);
    ParseWireFrame(frame_);
    frame_.Kind = TTraceKind::tkPartial;
    if (frame_.Pieces.size() < 2) frame_.Pieces.clear();
    out.push_back(std::move(frame_));
  }
  frame_ = {};
}

std::vector<TWireFrame> TFrameAssembler::Expire(int64_t nextStartUs) {
  std::vector<TWireFrame> out;
  if (DeadlineUs() >= 0 && nextStartUs - lastEndUs_ > SilenceUs) CloseAll(out);
  return out;
}

std::vector<TWireFrame> TFrameAssembler::Feed(uint8_t byte, int64_t startUs, int64_t endUs, bool garbled) {
  std::vector<TWireFrame> out = Expire(startUs);
  lastEndUs_ = endUs;
  if (garbled) {
    CloseFrame(out);
    AddGarbage(byte, startUs, endUs, true, out);
    return out;
  }
  auto& bytes = frame_.Bytes;
  if (bytes.empty()) {
    if (byte == kLead1) {
      StartFrame(startUs, endUs, byte);
    } else {
      AddGarbage(byte, startUs, endUs, false, out);
    }
    return out;
  }
  if (bytes.size() == 1) {
    if (byte == kLead2) {
      CloseGarbage(out);  // the frame start is certain now
      bytes.push_back(byte);
      frame_.EndUs = endUs;
      AddPiece(startUs, endUs);
    } else {
      AddGarbage(bytes[0], frame_.StartUs, firstByteEndUs_, false, out);
      frame_ = {};
      if (byte == kLead1) {
        StartFrame(startUs, endUs, byte);
      } else {
        AddGarbage(byte, startUs, endUs, false, out);
      }
    }
    return out;
  }
  bytes.push_back(byte);
  frame_.EndUs = endUs;
  AddPiece(startUs, endUs);
  if (bytes.size() > size_t(FrameLengthOffset) &&
      bytes.size() == size_t(bytes[FrameLengthOffset]) + FrameOverhead) {
    if (frame_.Pieces.size() < 2) frame_.Pieces.clear();
    ParseWireFrame(frame_);
    out.push_back(std::move(frame_));
    frame_ = {};
  }
  return out;
}
