#include "tests/support/TraceFile.h"

#include <fstream>

#include "unitsim/SimTrace.h"
#ifdef ORVEL_TRACE_JSON
#include "tests/support/WireTraceFile.h"
#endif

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

#ifdef ORVEL_TRACE_JSON
// Built with Qt, every line goes through the JSON parser, and one that is not what the simulator writes
// fails the test.
std::vector<TTracedFrame> ReadTrace(const std::string& path) {
  std::vector<TTracedFrame> frames;
  for (auto& line : ReadWireTrace(path)) {
    TTracedFrame f;
    f.FromHost = line.FromHost();
    f.Kind = line.Kind;
    f.Bytes = line.Bytes;
    if (line.HasHeader) f.Data = HexBytes(line.Data);
    f.StartUs = line.StartUs;
    f.EndUs = line.EndUs;
    f.Line = line.Text;
    frames.push_back(std::move(f));
  }
  return frames;
}
#else
std::vector<TTracedFrame> ReadTrace(const std::string& path) {
  std::vector<TTracedFrame> frames;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    // A last line without its newline is still being written by the simulator: not there yet.
    if (in.eof()) break;
    if (line.empty()) continue;
    TTracedFrame f;
    f.FromHost = TraceField(line, "from") == "host";
    f.Kind = TraceField(line, "kind");
    f.Bytes = ParseHexBytes(TraceField(line, "bytes"));
    f.Data = TraceField(line, "data");
    const std::string start = TraceField(line, "start_us");
    if (!start.empty()) f.StartUs = std::stoll(start);
    const std::string end = TraceField(line, "end_us");
    if (!end.empty()) f.EndUs = std::stoll(end);
    f.Line = line;
    frames.push_back(std::move(f));
  }
  return frames;
}
#endif
