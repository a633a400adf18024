#include "tests/support/TraceFile.h"

#include <fstream>

#include "unitsim/SimTrace.h"

std::string TTracedFrame::Wire() const {
  return std::string(FromHost ? "host " : "units ") + Kind + " " + HexBytes(Bytes);
}

std::string TraceField(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const auto at = line.find(marker);
  if (at == std::string::npos) return {};
  auto p = at + marker.size();
  if (line[p] == '"') return line.substr(p + 1, line.find('"', p + 1) - p - 1);
  return line.substr(p, line.find_first_of(",}", p) - p);
}

std::vector<TTracedFrame> ReadTrace(const std::string& path) {
  std::vector<TTracedFrame> frames;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    TTracedFrame f;
    f.FromHost = TraceField(line, "from") == "host";
    f.Kind = TraceField(line, "kind");
    f.Bytes = ParseHexBytes(TraceField(line, "bytes"));
    f.Data = TraceField(line, "data");
    const std::string start = TraceField(line, "start_us");
    if (!start.empty()) f.StartUs = std::stoll(start);
    f.Line = line;
    frames.push_back(std::move(f));
  }
  return frames;
}
