// The real programs: the simulator's terminal closes under a running program, which then waits without
// using the processor, and when the simulator comes back on the same path the program opens the port and
// polls the units again without anyone touching it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "link/Frame.h"
#include "link/RegisterMap.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/TestEnvironment.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// The requests of a poll that finds units 3 and 7 of the demo: probes of 1 to 16, and after the probes of
// 3 and 7 the reads of that unit's colour-bar and logo indicators.
std::vector<std::string> PollOfThreeAndSeven() {
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

// The simulator on the terminal link dir/tty, with a trace of its own.
TChildProcess::TOptions SimulatorTracing(const std::string& dir, const std::string& trace) {
  TChildProcess::TOptions options = Simulator(dir);
  auto at = std::find(options.Arguments.begin(), options.Arguments.end(), "--trace");
  *(at + 1) = dir + "/" + trace;
  return options;
}

TEST(ReconnectEndToEnd, TheSimulatorsTerminalClosesAndComesBackAndThePanelsReturnByThemselves) {
  TScratchDirectory scratch;
  const std::string dir = scratch.Path();
  const std::string tty = dir + "/tty";
  auto sim = std::make_unique<TChildProcess>(SimulatorTracing(dir, "before.jsonl"));
  ASSERT_TRUE(SimulatorUp(*sim, tty));
  WriteFileBytes(dir + "/COM.ini", tty + "\r\n");
  ino_t remembered = Inode(dir + "/COM.ini");
  TChildProcess program(Program(dir));
  // A poll that found units rewrites COM.ini as its last step.
  ASSERT_TRUE(WaitUntil([&] { return Inode(dir + "/COM.ini") != remembered || !program.Running(); }, 120s))
      << ReadFileBytes(dir + "/before.jsonl");
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  EXPECT_EQ(HostFrames(ReadTrace(dir + "/before.jsonl")), PollOfThreeAndSeven());

  // The terminal closes: the program is told at once by its port, and then waits.
  Terminate(*sim);
  sim.reset();
  ASSERT_FALSE(fs::exists(tty));
  std::this_thread::sleep_for(1500ms);
  const double before = program.CpuSeconds();
  std::this_thread::sleep_for(2000ms);
  const double used = program.CpuSeconds() - before;
  std::printf("CPU time of the waiting program over 2 s: %.3f s\n", used);
  EXPECT_LT(used, 0.3);
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();

  // Back on the same path, as a replugged adapter under its stable name.
  remembered = Inode(dir + "/COM.ini");
  sim = std::make_unique<TChildProcess>(SimulatorTracing(dir, "after.jsonl"));
  ASSERT_TRUE(SimulatorUp(*sim, tty));
  ASSERT_TRUE(WaitUntil([&] { return Inode(dir + "/COM.ini") != remembered || !program.Running(); }, 120s))
      << "no poll after the terminal came back; trace:\n" << ReadFileBytes(dir + "/after.jsonl");
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  const auto after = ReadTrace(dir + "/after.jsonl");
  for (const auto& f : after) EXPECT_TRUE(WellFormed(f));
  EXPECT_EQ(HostFrames(after), PollOfThreeAndSeven());
  EXPECT_EQ(ReadFileBytes(dir + "/COM.ini"), tty + "\r\n");
  Terminate(program);
  Terminate(*sim);
}

}  // namespace
