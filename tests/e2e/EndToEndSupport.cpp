#include "tests/e2e/EndToEndSupport.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "link/Frame.h"
#include "link/FrameCrc.h"
#include "link/RegisterMap.h"
#include "tests/support/TestEnvironment.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A reply carries its status at byte 7.
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

int LateReplies(const std::vector<TTracedFrame>& trace) {
  int late = 0;
  for (size_t i = 1; i < trace.size(); ++i)
    if (!trace[i].FromHost && trace[i - 1].FromHost && trace[i].EndUs - trace[i - 1].StartUs > 60'000) ++late;
  return late;
}

std::vector<std::string> HostRequests(const std::string& tracePath) { return HostFrames(ReadTrace(tracePath)); }

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

std::vector<std::string> StatusFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Status", 0) == 0 || name.find(".tmp") != std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
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

TChildProcess::TOptions Program(const std::string& dir, std::vector<std::string> environment) {
  bool platformGiven = false;
  for (auto& e : environment) platformGiven = platformGiven || e.rfind("QT_QPA_PLATFORM=", 0) == 0;
  if (!platformGiven) environment.push_back("QT_QPA_PLATFORM=offscreen");
  return {BinDir() + "/orvel-control", {}, dir, environment, dir + "/program.out"};
}

::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link) {
  if (WaitUntil([&] { return fs::is_symlink(link) || !sim.Running(); }, 10s) && sim.Running())
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << sim.Describe() << "\n" << sim.Output();
}

void Terminate(TChildProcess& process) {
  process.Signal(SIGTERM);
  ASSERT_TRUE(process.WaitForExit(10s)) << process.Describe() << " after SIGTERM";
  EXPECT_TRUE((process.Signalled() && process.TermSignal() == SIGTERM) ||
              (process.Exited() && process.ExitCode() == 0))
      << process.Describe() << "\n" << process.Output();
}

std::vector<std::string> PollRequestsForUnits3And7() {
  std::vector<std::string> expected;
  for (int a = 1; a <= 16; ++a) {
    expected.push_back(HexBytes(BuildFrame(uint8_t(a), cmdIdentify, {})));
    if (a != 3 && a != 7) continue;
    for (int n = 1; n <= IndicatorCount; ++n) {
      if (IndicatorRow(n) > irLogo2) continue;
      expected.push_back(HexBytes(BuildFrame(uint8_t(a), cmdSelect, {IndicatorRegisters[n], 0, 0, 0})));
      expected.push_back(HexBytes(BuildFrame(uint8_t(a), cmdRead, {1})));
    }
  }
  return expected;
}
