// An adapter pulled and plugged back, as the real program meets it: the simulator behind the program's
// pseudo-terminal is killed in the middle of a poll, and a new one comes up on the same path. The program
// must say so, rest without spinning, and find the units again with "Добавить устройство в систему",
// without a restart.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "link/Frame.h"
#include "tests/e2e/OperatorSession.h"

using namespace std::chrono_literals;

namespace {

TEST(ReplugEndToEnd, ASimulatorKilledMidPollAndStartedAgainIsFoundByARescan) {
  if (!TXSession::Installed()) GTEST_SKIP() << "Xvfb or xdotool is missing: scripts/setup.sh installs them";
  std::unique_ptr<TOperatorSession> started;
  ASSERT_NO_FATAL_FAILURE(StartSessionWithUnits("local", started));
  ASSERT_TRUE(started) << "no session's first poll found the units";
  TOperatorSession& session = *started;
  const size_t firstPoll = ReadTrace(session.TracePath()).size();

  // A rescan, and the adapter goes while unit 3's registers are being read.
  ASSERT_TRUE(session.RescanUntilReading(firstPoll));
  PullSimulator(*session.Sim, session.Dir + "/tty");
  ASSERT_FALSE(session.Sim->Running());

  // The operator is told, and the program rests.
  ASSERT_TRUE(WaitUntil([&] { return !session.MessageBoxes().empty(); }, 30s)) << "no error was shown";
  session.Screen->Screenshot(session.Dir + "/error.png");
  EXPECT_GE(session.DismissUntilIdle(), 1);
  const double idle = session.Program->CpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return !session.Program->Running(); }, 1000ms));
  EXPECT_LT(session.Program->CpuSeconds() - idle, 0.5);

  // A new simulator on the same path (a new terminal behind it, as a replugged adapter gets a new device);
  // the old trace is kept apart so that what follows is the new terminal's alone.
  std::filesystem::rename(session.TracePath(), session.Dir + "/trace-before.jsonl");
  session.Sim = std::make_unique<TChildProcess>(Simulator(session.Dir));
  ASSERT_TRUE(SimulatorUp(*session.Sim, session.Dir + "/tty"));
  const ino_t beforeRescan = Inode(session.Dir + "/COM.ini");
  session.ChooseMenuItem(3);
  ASSERT_TRUE(WaitUntil([&] { return !ReadTrace(session.TracePath()).empty(); }, 30s))
      << "the rescan sent nothing to the new terminal";
  const int late = session.DismissUntilIdle();
  if (late > 0) std::printf("%d box(es) in the rescan after the simulator's return\n", late);
  EXPECT_NE(Inode(session.Dir + "/COM.ini"), beforeRescan)
      << "no poll found units again; trace:\n" << ReadFileBytes(session.TracePath());
  EXPECT_EQ(session.Screen->Geometry(session.MainWindow).Width, 80 + 2 * 91 + 7);  // both panels
  EXPECT_EQ(ReadFileBytes(session.Dir + "/COM.ini"), session.Dir + "/tty\r\n");
  for (const auto& f : ReadTrace(session.TracePath())) EXPECT_TRUE(WellFormed(f));
}

}  // namespace
