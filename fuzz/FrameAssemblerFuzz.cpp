// The simulator's frame assembler against any byte stream with any timing and any silence setting: every
// byte comes out exactly once, in order, in exactly one frame, partial frame or garbage run; a frame is
// exactly a frame start, a header and N + 11 bytes, and its pieces are exactly the bursts it came in; only
// a silence longer than the one set or a garbled byte cuts a frame short; and after such a silence a
// well-formed request is always found, whatever came before.
#include <climits>
#include <iterator>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "link/Frame.h"
#include "unitsim/FrameAssembler.h"

namespace {

constexpr int64_t ByteUs = 260;  // one byte at 38400 baud, near enough

struct TSentByte {
  uint8_t Value;
  int64_t StartUs, EndUs;
  bool Garbled;
};

std::string KindName(TTraceKind kind) { return TraceKindName(kind); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TFrameAssembler assembler;
  static const int64_t silences[] = {2'000, TFrameAssembler::DefaultSilenceUs, 30'000};
  assembler.SilenceUs = silences[data[0] % std::size(silences)];
  const int64_t silence = assembler.SilenceUs;
  std::vector<TSentByte> sent;
  int64_t lineFreeUs = 0;
  auto queue = [&](uint8_t value, int64_t gapUs, bool garbled) {
    const int64_t start = lineFreeUs + gapUs;
    sent.push_back({value, start, start + ByteUs, garbled});
    lineFreeUs = start + ByteUs;
  };
  // After the silence setting, the input is pairs: a byte, and how it goes out.
  for (size_t i = 1; i + 1 < size; i += 2) {
    const uint8_t value = data[i];
    const uint8_t how = data[i + 1];
    // Mostly back to back; now and then a pause on either side of the silence that ends a frame.
    const int64_t gaps[] = {0, 0, 0, 0, 0, 1, 1500, silence - ByteUs, silence, silence + 1, 250'000};
    queue(value, gaps[(how >> 1) % std::size(gaps)], (how & 0xF1) == 0xF1);
  }
  // A well-formed request after more than the silence must be found whatever came before it.
  const auto request = BuildFrame(3, cmdRead, {1});
  const size_t requestAt = sent.size();
  for (size_t i = 0; i < request.size(); ++i) queue(request[i], i ? 0 : silence + 1, false);

  std::vector<TWireFrame> out;
  for (const auto& b : sent) {
    for (auto& f : assembler.Feed(b.Value, b.StartUs, b.EndUs, b.Garbled)) out.push_back(std::move(f));
    FUZZ_CHECK(assembler.LastEndUs() == b.EndUs, "the assembler lost track of the line's time");
  }
  for (auto& f : assembler.Expire(INT64_MAX)) out.push_back(std::move(f));
  FUZZ_CHECK(assembler.DeadlineUs() == -1, "something stayed open after the line fell silent for good");

  size_t next = 0;  // the first sent byte not yet found in the output
  for (size_t k = 0; k < out.size(); ++k) {
    const TWireFrame& f = out[k];
    const std::string where = "entry " + std::to_string(k) + " (" + KindName(f.Kind) + " [" +
                              FuzzHex(std::string(f.Bytes.begin(), f.Bytes.end())) + "])";
    FUZZ_CHECK(!f.Bytes.empty(), where << " is empty");
    FUZZ_CHECK(f.Direction == TTraceDirection::tdHostToUnits, where << " has the wrong direction");
    FUZZ_CHECK(next + f.Bytes.size() <= sent.size(), where << " holds bytes that were never sent");
    for (size_t i = 0; i < f.Bytes.size(); ++i) {
      const TSentByte& b = sent[next + i];
      FUZZ_CHECK(f.Bytes[i] == b.Value, where << " byte " << i << " differs from the one sent");
      FUZZ_CHECK(f.Garbled == b.Garbled, where << " mixes garbled and clean bytes");
      if (i > 0)
        FUZZ_CHECK(b.StartUs - sent[next + i - 1].EndUs <= silence, where << " spans a silence");
    }
    FUZZ_CHECK(f.StartUs == sent[next].StartUs && f.EndUs == sent[next + f.Bytes.size() - 1].EndUs,
               where << " has times its bytes do not have");
    const bool frameStart = f.Bytes.size() >= 2 && f.Bytes[0] == 0xE2 && f.Bytes[1] == 0xE4;
    const size_t after = next + f.Bytes.size();  // the sent byte that followed it
    const bool cutBySilence = after == sent.size() ||
                              sent[after].StartUs - sent[after - 1].EndUs > silence;
    // The pieces are the bursts: a new one wherever a byte starts after the one before it ended.
    std::vector<size_t> bursts{0};
    for (size_t i = 1; i < f.Bytes.size(); ++i)
      if (sent[next + i].StartUs > sent[next + i - 1].EndUs) bursts.push_back(i);
    if (f.Kind != TTraceKind::tkGarbage && bursts.size() > 1) {
      FUZZ_CHECK(f.Pieces.size() == bursts.size(), where << " came in " << bursts.size() << " bursts but has "
                                                          << f.Pieces.size() << " pieces");
      for (size_t k = 0; k < bursts.size(); ++k) {
        const size_t end = k + 1 < bursts.size() ? bursts[k + 1] : f.Bytes.size();
        FUZZ_CHECK(f.Pieces[k].Count == end - bursts[k] && f.Pieces[k].StartUs == sent[next + bursts[k]].StartUs &&
                       f.Pieces[k].EndUs == sent[next + end - 1].EndUs,
                   where << " piece " << k << " is not its burst");
      }
    } else {
      FUZZ_CHECK(f.Pieces.empty(), where << " came in one burst but has " << f.Pieces.size() << " pieces");
    }
    switch (f.Kind) {
      case TTraceKind::tkFrame:
        FUZZ_CHECK(frameStart && f.Bytes.size() == size_t(f.Bytes[FrameLengthOffset]) + FrameOverhead,
                   where << " is not a frame");
        FUZZ_CHECK(f.HasHeader && f.Length == f.Bytes[FrameLengthOffset] && f.Data.size() == f.Length &&
                       f.Command == f.Bytes[6] && f.Address == f.Bytes[3],
                   where << " is parsed wrongly");
        break;
      case TTraceKind::tkPartial:
        FUZZ_CHECK(frameStart, where << " is a partial frame without a frame start");
        FUZZ_CHECK(f.Bytes.size() <= size_t(FrameLengthOffset) ||
                       f.Bytes.size() < size_t(f.Bytes[FrameLengthOffset]) + FrameOverhead,
                   where << " is complete but called partial");
        FUZZ_CHECK(cutBySilence || sent[after].Garbled, where << " was cut short without a silence or noise");
        break;
      case TTraceKind::tkGarbage:
        for (size_t i = 0; i + 1 < f.Bytes.size() && !f.Garbled; ++i)
          FUZZ_CHECK(!(f.Bytes[i] == 0xE2 && f.Bytes[i + 1] == 0xE4), where << " hides a frame start");
        break;
      case TTraceKind::tkStray:
        FUZZ_CHECK(false, where << ": the host sends no stray bytes");
    }
    next = after;
  }
  FUZZ_CHECK(next == sent.size(), "bytes lost: " << sent.size() - next << " of " << sent.size());
  FUZZ_CHECK(!out.empty() && out.back().Kind == TTraceKind::tkFrame &&
                 out.back().StartUs == sent[requestAt].StartUs,
             "the request after the silence was not found");
  return 0;
}
