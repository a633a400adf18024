// One trial of each fault the bench tries a hundred times (bench/fault-trials.sh): the real programs on a
// display of their own, the simulator killed during a poll and during a click, the program killed while
// it replaces "COM.ini".
#include <gtest/gtest.h>

#include <random>

#include "tests/support/FaultTrials.h"
#include "tests/support/TestEnvironment.h"

namespace {

// Below this a program waiting for its operator counts as idle, however busy the machine is.
constexpr double IdleShare = 0.05;

void ExpectSurvived(const TLinkFaultTrial& trial) {
  EXPECT_TRUE(trial.Applied) << "the simulator went only after the program had finished with it";
  EXPECT_TRUE(trial.StayedUp) << trial.Note;
  EXPECT_TRUE(trial.Reported);
  EXPECT_GE(trial.IdleCpuShare, 0.0);
  EXPECT_LT(trial.IdleCpuShare, IdleShare);
  EXPECT_TRUE(trial.Recovered) << trial.Note;
}

// One trial on a program started afresh, idle after its first poll.
void TrialOnAPolledProgram(TLinkFaultTrial (*trial)(TProgramSession&, std::mt19937&), unsigned seed) {
  TScratchDirectory scratch(false);
  TXSession display(scratch.Path());
  TProgramSession session(display, "3");
  session.StartSimulator();
  ASSERT_EQ(StartProgramAndPoll(session), "");
  std::mt19937 random(seed);
  ExpectSurvived(trial(session, random));
}

TEST(FaultTrial, SimulatorKilledDuringAPollIsReportedAndARescanFindsTheUnitAgain) {
  TrialOnAPolledProgram(SimulatorKilledDuringPoll, 11);
}

TEST(FaultTrial, SimulatorKilledDuringAClickIsReportedAndARescanFindsTheUnitAgain) {
  TrialOnAPolledProgram(SimulatorKilledDuringClick, 12);
}

TEST(FaultTrial, ProgramKilledWhileReplacingComIniLeavesNeitherATornFileNorItsTemporary) {
  TScratchDirectory scratch(false);
  TXSession display(scratch.Path());
  TProgramSession session(display, "3");
  session.StartSimulator();
  std::mt19937 random(13);
  // 100 ms in: inside the slowed fsync of the new file, before the rename; 500 ms in: inside the fsync of
  // the directory, after it.
  for (int64_t killAfterUs : {100'000, 500'000}) {
    SCOPED_TRACE(killAfterUs);
    const TReplaceFaultTrial trial = ProgramKilledWhileReplacingPortFile(session, random, killAfterUs);
    EXPECT_TRUE(trial.Applied) << trial.Note;
    EXPECT_FALSE(trial.Torn) << trial.Note;
    EXPECT_FALSE(trial.Empty) << trial.Note;
    EXPECT_FALSE(trial.LeftOver) << trial.Note;
  }
}

}  // namespace
