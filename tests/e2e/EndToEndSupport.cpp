#include "tests/e2e/EndToEndSupport.h"

#include <signal.h>

#include <filesystem>

#include "tests/support/TestEnvironment.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

int LateReplies(const std::vector<TTraceLine>& trace) {
  int late = 0;
  for (size_t i = 1; i < trace.size(); ++i)
    if (!trace[i].FromHost() && trace[i - 1].FromHost() && trace[i].EndUs - trace[i - 1].StartUs > 60'000) ++late;
  return late;
}

std::vector<std::string> HostRequests(const std::string& tracePath) {
  std::vector<std::string> sent;
  for (auto& f : ReadWireTrace(tracePath))
    if (f.FromHost()) sent.push_back(HexBytes(f.Bytes));
  return sent;
}

TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra) {
  std::vector<std::string> args{"--units", "3,7", "--registers", SourceDir() + "/unitsim/demo-registers.txt",
                                "--link", dir + "/tty", "--trace", dir + "/trace.jsonl", "--state",
                                dir + "/units.txt"};
  args.insert(args.end(), extra.begin(), extra.end());
  return {BinDir() + "/orvel-unitsim", args, dir, {}, dir + "/unitsim.out"};
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
