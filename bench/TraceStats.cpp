// Reads a trace of orvel-unitsim (JSON lines) and the units' registers (its state file) and tells how the
// program's requests reached the line: frames sent, frames that paused inside, the longest such pause,
// frames the units dropped, and polls whose indicators cannot have shown the units' registers. The poll
// reads indicators 1 to 12's registers of each unit it found, in table order. A read answered within the
// 60 ms the program waits, with another value than the register, or a frame the units dropped, is a wrong
// indicator. A read whose reply is missing or later is counted apart: the program must show that
// indicator as unknown (a program that shows the value an earlier read left instead is wrong there too).
//
//   orvel-trace-stats TRACE STATE
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/RegisterMap.h"
#include "unitsim/RegisterFile.h"
#include "unitsim/SimTrace.h"

namespace {

struct TFrame {
  bool FromHost = false;
  std::string Kind;
  std::vector<uint8_t> Bytes;
  int64_t StartUs = 0, EndUs = 0;
  int64_t InnerGapUs = 0;  // the longest pause between two bursts of the frame
};

std::vector<TFrame> ReadTrace(const char* path) {
  std::vector<TFrame> frames;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "orvel-trace-stats: cannot read %s\n", path);
    std::exit(2);
  }
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    if (line.isEmpty()) continue;
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    if (error.error != QJsonParseError::NoError) {
      std::fprintf(stderr, "orvel-trace-stats: %s: not JSON: %s\n", path, line.constData());
      std::exit(2);
    }
    TFrame f;
    f.FromHost = o["from"].toString() == "host";
    f.Kind = o["kind"].toString().toStdString();
    f.Bytes = ParseHexBytes(o["bytes"].toString().toStdString());
    f.StartUs = o["start_us"].toInteger();
    f.EndUs = o["end_us"].toInteger();
    const QJsonArray pieces = o["pieces"].toArray();
    for (qsizetype i = 1; i < pieces.size(); ++i)
      f.InnerGapUs = std::max<int64_t>(f.InnerGapUs, pieces[i].toObject()["start_us"].toInteger() -
                                                          pieces[i - 1].toObject()["end_us"].toInteger());
    frames.push_back(std::move(f));
  }
  return frames;
}

constexpr int64_t PacingUs = 60'000;

bool IsRequest(const TFrame& f, uint8_t command) {
  return f.FromHost && f.Kind == "frame" && f.Bytes.size() > size_t(FrameLengthOffset) &&
         f.Bytes[FrameCommandOffset] == command;
}

bool IsReply(const TFrame& f, uint8_t command, uint8_t address) {
  return !f.FromHost && f.Kind == "frame" && f.Bytes.size() > size_t(FrameDataOffset) &&
         f.Bytes[FrameCommandOffset] == command && f.Bytes[FrameAddressOffset] == address;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: orvel-trace-stats TRACE STATE\n");
    return 2;
  }
  const std::vector<TFrame> frames = ReadTrace(argv[1]);
  std::map<int, std::map<int, int>> registers;  // unit -> code -> value
  try {
    for (const auto& setup : LoadRegisterFile(argv[2]))
      for (auto [code, value] : setup.Registers) registers[setup.Address][code] = value;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvel-trace-stats: %s\n", e.what());
    return 2;
  }

  int sent = 0, paused = 0, dropped = 0, polls = 0, wrongPolls = 0, unansweredReads = 0, unansweredPolls = 0;
  int64_t longestUs = 0;
  bool pollWrong = false, pollUnanswered = false;
  std::map<int, int> readsOf;  // unit -> indicator reads seen in this poll
  auto endPoll = [&] {
    if (polls == 0) return;
    for (auto [unit, reads] : readsOf) pollWrong = pollWrong || reads != 12;
    if (pollWrong) ++wrongPolls;
    if (pollUnanswered) ++unansweredPolls;
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    const TFrame& f = frames[i];
    if (!f.FromHost) continue;
    if (f.Kind == "partial" || f.Kind == "garbage") {
      ++dropped;
      pollWrong = true;
      continue;
    }
    ++sent;
    if (f.InnerGapUs > 1000) ++paused;
    longestUs = std::max(longestUs, f.InnerGapUs);
    if (IsRequest(f, cmdIdentify) && f.Bytes[FrameAddressOffset] == 1) {
      endPoll();
      ++polls;
      pollWrong = pollUnanswered = false;
      readsOf.clear();
    }
    if (!IsRequest(f, cmdRead)) continue;
    const int unit = f.Bytes[FrameAddressOffset];
    const int n = ++readsOf[unit];
    if (n > 12) continue;  // a poll reads 12 registers per unit; anything after is another operation
    // The read's own reply: a late reply to the select before it may come first.
    const TFrame* reply = nullptr;
    for (size_t j = i + 1; j < frames.size() && !frames[j].FromHost && !reply; ++j)
      if (IsReply(frames[j], cmdRead, uint8_t(unit))) reply = &frames[j];
    const bool answered = reply && reply->EndUs - f.StartUs <= PacingUs;
    if (!answered) {
      ++unansweredReads;
      pollUnanswered = true;
    } else if (reply->Bytes[FrameDataOffset] != registers[unit][IndicatorRegisters[n]]) {
      pollWrong = true;
    }
  }
  endPoll();
  std::printf("frames sent                      %d\n", sent);
  std::printf("frames with an inner gap > 1 ms  %d\n", paused);
  std::printf("largest inner gap                %.3f ms\n", longestUs / 1000.0);
  std::printf("frames the units dropped         %d\n", dropped);
  std::printf("polls                            %d\n", polls);
  std::printf("polls with a wrong indicator     %d\n", wrongPolls);
  std::printf("reads answered late or never    %d (in %d polls; their indicators must show unknown)\n",
              unansweredReads, unansweredPolls);
  return 0;
}
