// Fault trials on the real programs: the simulator killed at a random moment of a poll and of a click,
// and the program killed at a random moment while it replaces "COM.ini". Prints what each trial saw and
// the counts; not a pass/fail test (tests/e2e runs one trial of each).
//
//   orvel-fault-trials [--trials N] [--seed S] [poll] [click] [replace]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/FaultTrials.h"
#include "tests/support/TestEnvironment.h"

namespace {

// Below this the program counts as idle: a blocked wait costs next to nothing.
constexpr double IdleShare = 0.02;

void LinkTrials(const char* what, int trials, std::mt19937& random,
                TLinkFaultTrial (*trial)(TProgramSession&, std::mt19937&)) {
  TScratchDirectory scratch(false);
  TXSession display(scratch.Path());
  TProgramSession session(display, "3");
  session.StartSimulator();
  if (const std::string failed = StartProgramAndPoll(session); !failed.empty()) {
    std::printf("%s: %s\n", what, failed.c_str());
    return;
  }
  int applied = 0, up = 0, reported = 0, idle = 0, recovered = 0;
  double worstIdle = 0;
  for (int i = 1; i <= trials; ++i) {
    const TLinkFaultTrial t = trial(session, random);
    applied += t.Applied;
    up += t.StayedUp;
    reported += t.Reported;
    idle += t.IdleCpuShare >= 0 && t.IdleCpuShare < IdleShare;
    recovered += t.Recovered;
    if (t.IdleCpuShare > worstIdle) worstIdle = t.IdleCpuShare;
    std::printf("  %s %3d: %s, %s, %s, idle CPU %.1f %%, %s%s%s\n", what, i, t.Applied ? "in time" : "too late",
                t.StayedUp ? "up" : "DOWN", t.Reported ? "reported" : "NOT REPORTED", 100 * t.IdleCpuShare,
                t.Recovered ? "recovered" : "NOT RECOVERED", t.Note.empty() ? "" : ": ", t.Note.c_str());
    std::fflush(stdout);
  }
  std::printf("%s: %d trials, %d while it was still talking to the units; stayed up %d, reported the fault "
              "%d, idle (under %.0f %% CPU) %d (worst %.1f %%), recovered by a rescan %d\n\n",
              what, trials, applied, up, reported, 100 * IdleShare, idle, 100 * worstIdle, recovered);
}

void ReplaceTrials(int trials, std::mt19937& random) {
  TScratchDirectory scratch(false);
  TXSession display(scratch.Path());
  TProgramSession session(display, "3");
  session.StartSimulator();
  int applied = 0, beforeRename = 0, torn = 0, empty = 0, leftOver = 0;
  for (int i = 1; i <= trials; ++i) {
    const TReplaceFaultTrial t = ProgramKilledWhileReplacingPortFile(session, random);
    applied += t.Applied;
    beforeRename += t.BeforeRename;
    torn += t.Torn;
    empty += t.Empty;
    leftOver += t.LeftOver;
    std::printf("  replace %3d: %s, %s%s%s\n", i, t.Applied ? "during the replacement" : "after it",
                t.BeforeRename ? "before the rename" : "after the rename", t.Note.empty() ? "" : ": ",
                t.Note.c_str());
    std::fflush(stdout);
  }
  std::printf("program killed while replacing COM.ini: %d trials, %d during the replacement (%d before the "
              "rename); torn %d, empty %d, temporary file left after the next start %d\n\n",
              trials, applied, beforeRename, torn, empty, leftOver);
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 100;
  unsigned seed = std::random_device{}();
  std::vector<std::string> kinds;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--trials") && i + 1 < argc) {
      trials = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) {
      seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
    } else if (!std::strcmp(argv[i], "poll") || !std::strcmp(argv[i], "click") || !std::strcmp(argv[i], "replace")) {
      kinds.push_back(argv[i]);
    } else {
      std::fprintf(stderr, "usage: %s [--trials N] [--seed S] [poll] [click] [replace]\n", argv[0]);
      return 2;
    }
  }
  if (kinds.empty()) kinds = {"poll", "click", "replace"};
  std::printf("fault trials, seed %u\n\n", seed);
  std::mt19937 random(seed);
  for (auto& kind : kinds) {
    if (kind == "poll") LinkTrials("simulator killed during a poll", trials, random, SimulatorKilledDuringPoll);
    if (kind == "click") LinkTrials("simulator killed during a click", trials, random, SimulatorKilledDuringClick);
    if (kind == "replace") ReplaceTrials(trials, random);
  }
  return 0;
}
