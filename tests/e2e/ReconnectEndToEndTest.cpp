// The real programs: the simulator's terminal closes under a running program, which then waits without
// using the processor, and when the simulator comes back on the same path the program opens the port and
// polls the units again without anyone touching it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TraceFile.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// The simulator on the terminal link dir/tty, with a trace of its own.
TChildProcess::TOptions SimulatorTracing(const std::string& dir, const std::string& trace) {
  TChildProcess::TOptions options = Simulator(dir);
  auto at = std::find(options.Arguments.begin(), options.Arguments.end(), "--trace");
  *(at + 1) = dir + "/" + trace;
  return options;
}

// The poll went out as it should: every request of a poll of units 3 and 7, or, on a machine so busy that
// the simulator answered late, at least a late reply to account for what differs.
void ExpectPollOfThreeAndSeven(const std::string& trace) {
  if (HostRequests(trace) != PollRequestsForUnits3And7())
    EXPECT_GT(LateReplies(ReadTrace(trace)), 0) << "the poll differs, and no reply was late";
}

TEST(ReconnectEndToEnd, TheSimulatorsTerminalClosesAndComesBackAndThePanelsReturnByThemselves) {
  // A poll has run to its end once its probe of the last address went out.
  const std::string lastProbe = PollRequestsForUnits3And7().back();
  const auto polled = [&](const std::string& trace) {
    const auto sent = HostRequests(trace);
    return std::find(sent.begin(), sent.end(), lastProbe) != sent.end();
  };
  TScratchDirectory scratch;
  const std::string dir = scratch.Path();
  const std::string tty = dir + "/tty";
  auto sim = std::make_unique<TChildProcess>(SimulatorTracing(dir, "before.jsonl"));
  ASSERT_TRUE(SimulatorUp(*sim, tty));
  WriteFileBytes(dir + "/COM.ini", tty + "\r\n");
  const ino_t remembered = Inode(dir + "/COM.ini");
  TChildProcess program(Program(dir));
  // A poll that found units rewrites COM.ini as its last step. Only then may the terminal close: a loss in
  // the middle of the poll is reported in a box, which nobody acknowledges here.
  ASSERT_TRUE(WaitUntil([&] { return Inode(dir + "/COM.ini") != remembered || !program.Running(); }, 120s))
      << ReadFileBytes(dir + "/before.jsonl");
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  // A reply that came too late on a busy machine leaves a box up, which holds everything after it.
  if (LateReplies(ReadTrace(dir + "/before.jsonl")) > 0)
    GTEST_SKIP() << "a reply came too late on this busy machine, and the program said so in a box";
  EXPECT_EQ(HostRequests(dir + "/before.jsonl"), PollRequestsForUnits3And7());

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
  sim = std::make_unique<TChildProcess>(SimulatorTracing(dir, "after.jsonl"));
  ASSERT_TRUE(SimulatorUp(*sim, tty));
  ASSERT_TRUE(WaitUntil([&] { return polled(dir + "/after.jsonl") || !program.Running(); }, 120s))
      << "no poll after the terminal came back; trace:\n" << ReadFileBytes(dir + "/after.jsonl");
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  for (const auto& f : ReadTrace(dir + "/after.jsonl")) EXPECT_TRUE(WellFormed(f));
  ExpectPollOfThreeAndSeven(dir + "/after.jsonl");
  EXPECT_EQ(ReadFileBytes(dir + "/COM.ini"), tty + "\r\n");
  Terminate(program);
  Terminate(*sim);
}

}  // namespace
