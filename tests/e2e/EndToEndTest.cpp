// The real programs together: orvel-control on the offscreen platform against orvel-unitsim on a
// pseudo-terminal, watched from outside through the simulator's wire trace and the files left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TraceFile.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

TEST(EndToEnd, ProgramPollsTwoSimulatedUnitsOverAPseudoTerminal) {
  TScratchDirectory scratch;
  const std::string dir = scratch.Path();
  const std::string tty = dir + "/tty";
  TChildProcess sim(Simulator(dir));
  ASSERT_TRUE(SimulatorUp(sim, tty));
  WriteFileBytes(dir + "/COM.ini", tty + "\r\n");
  const ino_t written = Inode(dir + "/COM.ini");
  // What an earlier run killed part-way through a replacement left, and what a writer still at work has.
  const std::string stale = "Status3.log.orvel-" + std::to_string(EndedProcessId()) + "-0123abcd.tmp";
  const std::string busy = "COM.ini.orvel-" + std::to_string(sim.Pid()) + "-89abcdef.tmp";
  WriteFileBytes(dir + "/" + stale, "1 0 1");
  WriteFileBytes(dir + "/" + busy, "/dev/tt");

  TChildProcess program(Program(dir));
  // The poll that found units replaces COM.ini as its last step, unless a simulator starved by a busy
  // machine answered late: then the program says which registers it could not read, and its box waits for
  // an operator. Either way the poll has sent all it will once its 64 requests are on the line.
  constexpr size_t PollRequests = 16 + 2 * 24;
  const bool polled = WaitUntil(
      [&] {
        return Inode(dir + "/COM.ini") != written || !program.Running() || !sim.Running() ||
               HostRequests(dir + "/trace.jsonl").size() >= PollRequests;
      },
      120s);
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  ASSERT_TRUE(sim.Running()) << sim.Describe() << "\n" << sim.Output();
  ASSERT_TRUE(polled) << "the poll did not finish; trace so far:\n" << ReadFileBytes(dir + "/trace.jsonl");
  if (!WaitUntil([&] { return Inode(dir + "/COM.ini") != written; }, 10s)) {
    EXPECT_GT(LateReplies(ReadTrace(dir + "/trace.jsonl")), 0) << "COM.ini not rewritten, and no reply was late";
  }
  Terminate(program);
  Terminate(sim);

  std::vector<TTracedFrame> requests, replies;
  for (auto& f : ReadTrace(dir + "/trace.jsonl")) {
    EXPECT_TRUE(WellFormed(f));
    (f.FromHost ? requests : replies).push_back(f);
  }

  // Probes of 1 to 16 in order; after the probes of 3 and 7 the select and read of every colour-bar and
  // logo indicator of that unit, in table order; nothing after the probes of the silent addresses.
  const std::vector<std::string> expected = PollRequestsForUnits3And7();
  ASSERT_EQ(expected.size(), 16u + 2 * 24u);
  std::vector<std::string> sent;
  for (auto& f : requests) sent.push_back(HexBytes(f.Bytes));
  EXPECT_EQ(sent, expected);

  // Every request to 3 or 7 had its reply; the silent addresses none.
  EXPECT_EQ(replies.size(), 2u + 2 * 24u);
  for (auto& f : replies) {
    ASSERT_GE(f.Bytes.size(), 4u);
    EXPECT_TRUE(f.Bytes[3] == 3 || f.Bytes[3] == 7) << f.Line;
  }

  EXPECT_EQ(ReadFileBytes(dir + "/COM.ini"), tty + "\r\n");
  EXPECT_EQ(StatusFiles(dir), (std::vector<std::string>{busy, "Status3.log", "Status7.log"}));
  EXPECT_EQ(ReadFileBytes(dir + "/Status3.log"), "");
  EXPECT_EQ(ReadFileBytes(dir + "/Status7.log"), "");
  // The simulator wrote its state at exit: both units, still there.
  const std::string state = ReadFileBytes(dir + "/units.txt");
  EXPECT_NE(state.find("unit 3"), std::string::npos) << state;
  EXPECT_NE(state.find("unit 7"), std::string::npos) << state;
}

TEST(EndToEnd, PortThatCannotBeOpenedLeavesTheProgramUpAndIdle) {
  // One program names a terminal that does not exist; the other names the simulator's terminal with a
  // NUL and more after it, which must not be cut short to the terminal's own path.
  TScratchDirectory missingDir;
  WriteFileBytes(missingDir.Path() + "/COM.ini", missingDir.Path() + "/no-such-tty\r\n");
  TScratchDirectory nulDir;
  const std::string tty = nulDir.Path() + "/tty";
  TChildProcess sim(Simulator(nulDir.Path()));
  ASSERT_TRUE(SimulatorUp(sim, tty));
  const std::string nulName = tty + std::string(1, '\0') + "junk\r\n";
  WriteFileBytes(nulDir.Path() + "/COM.ini", nulName);

  TChildProcess missing(Program(missingDir.Path()));
  TChildProcess nul(Program(nulDir.Path()));
  // Up for a while, showing its error and waiting for the operator; not spinning meanwhile.
  EXPECT_FALSE(WaitUntil([&] { return !missing.Running() || !nul.Running(); }, 1500ms));
  const double before[2] = {missing.CpuSeconds(), nul.CpuSeconds()};
  EXPECT_FALSE(WaitUntil([&] { return !missing.Running() || !nul.Running(); }, 1000ms));
  EXPECT_LT(missing.CpuSeconds() - before[0], 0.5);
  EXPECT_LT(nul.CpuSeconds() - before[1], 0.5);
  ASSERT_TRUE(missing.Running()) << missing.Describe() << "\n" << missing.Output();
  ASSERT_TRUE(nul.Running()) << nul.Describe() << "\n" << nul.Output();
  Terminate(missing);
  Terminate(nul);
  Terminate(sim);

  EXPECT_TRUE(ReadTrace(nulDir.Path() + "/trace.jsonl").empty()) << "the terminal was opened and used";
  EXPECT_EQ(ReadFileBytes(missingDir.Path() + "/COM.ini"), missingDir.Path() + "/no-such-tty\r\n");
  EXPECT_EQ(ReadFileBytes(nulDir.Path() + "/COM.ini"), nulName);
  EXPECT_TRUE(StatusFiles(missingDir.Path()).empty());
  EXPECT_TRUE(StatusFiles(nulDir.Path()).empty());
}

}  // namespace
