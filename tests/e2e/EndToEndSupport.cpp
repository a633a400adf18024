#include "tests/e2e/EndToEndSupport.h"

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "link/Frame.h"
#include "link/FrameCrc.h"
#include "tests/support/TestEnvironment.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
// The value of `"key":` in one line of the trace: a string's contents, or a number or literal as written.
std::string JsonField(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const auto at = line.find(marker);
  if (at == std::string::npos) return {};
  auto p = at + marker.size();
  if (line[p] == '"') return line.substr(p + 1, line.find('"', p + 1) - p - 1);
  return line.substr(p, line.find_first_of(",}", p) - p);
}
}  // namespace

std::vector<TTracedFrame> ReadTrace(const std::string& path) {
  std::vector<TTracedFrame> frames;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    TTracedFrame f;
    f.FromHost = JsonField(line, "from") == "host";
    f.Kind = JsonField(line, "kind");
    f.Bytes = ParseHexBytes(JsonField(line, "bytes"));
    f.Line = line;
    frames.push_back(std::move(f));
  }
  return frames;
}

// A reply carries its status at byte 7; a request has 0 there.
::testing::AssertionResult WellFormed(const TTracedFrame& f) {
  const auto& b = f.Bytes;
  if (f.Kind != "frame") return ::testing::AssertionFailure() << "not a whole frame: " << f.Line;
  if (b.size() < size_t(FrameOverhead) || b[0] != 0xE2 || b[1] != 0xE4 || b[2] != 0x05 || b[4] != 0xFF ||
      b[5] != 0x00 || (f.FromHost && b[7] != 0x00))
    return ::testing::AssertionFailure() << "bad header: " << f.Line;
  if (b.size() != size_t(b[FrameLengthOffset]) + FrameOverhead)
    return ::testing::AssertionFailure() << "length byte does not match: " << f.Line;
  const uint16_t crc = FrameCrc(b.data(), b.size() - 2);
  if (b[b.size() - 2] != (crc & 0xFF) || b[b.size() - 1] != (crc >> 8))
    return ::testing::AssertionFailure() << "bad checksum: " << f.Line;
  return ::testing::AssertionSuccess();
}

std::vector<std::string> HostFrames(const std::vector<TTracedFrame>& trace) {
  std::vector<std::string> sent;
  for (auto& f : trace)
    if (f.FromHost) sent.push_back(HexBytes(f.Bytes));
  return sent;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TChildProcess::TOptions SimulatorNamed(const std::string& dir, const std::string& name,
                                       std::vector<std::string> args) {
  args.insert(args.end(), {"--link", dir + "/tty" + name, "--trace", dir + "/trace" + name + ".jsonl", "--state",
                           dir + "/units" + name + ".txt"});
  return {BinDir() + "/orvel-unitsim", args, dir, {}, dir + "/unitsim" + name + ".out"};
}

TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra) {
  std::vector<std::string> args{"--units", "3,7", "--registers", SourceDir() + "/unitsim/demo-registers.txt"};
  args.insert(args.end(), extra.begin(), extra.end());
  return SimulatorNamed(dir, "", args);
}

TChildProcess::TOptions Program(const std::string& dir) {
  return {BinDir() + "/orvel-control", {}, dir, {"QT_QPA_PLATFORM=offscreen"}, dir + "/program.out"};
}

::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link) {
  if (WaitUntil([&] { return fs::is_symlink(link) || !sim.Running(); }, 10s) && sim.Running())
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << sim.Describe() << "\n" << sim.Output();
}

void Terminate(TChildProcess& process) {
  process.Signal(SIGTERM);
  ASSERT_TRUE(process.WaitForExit(std::chrono::seconds(10))) << process.Describe() << " after SIGTERM";
  EXPECT_TRUE((process.Signalled() && process.TermSignal() == SIGTERM) ||
              (process.Exited() && process.ExitCode() == 0))
      << process.Describe() << "\n" << process.Output();
}
