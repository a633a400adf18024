#pragma once
// Faults an operator's system meets, tried on the real programs (see ProgramSession.h): the simulator
// killed at a random moment of a poll or of a click, as a pulled adapter; the program killed at a
// random moment while it replaces "COM.ini", as a power cut. Each trial reports what it saw; the bench
// runs many (bench/fault-trials.sh) and counts, a test runs one of each.
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "tests/support/ProgramSession.h"

struct TLinkFaultTrial {
  bool Applied = false;       // the simulator went while the poll or the click was still talking to it
  bool StayedUp = false;      // the program is still running afterwards
  bool Reported = false;      // it showed a message box
  double IdleCpuShare = -1;   // CPU seconds per second while the report waited for the operator
  bool Recovered = false;     // with the simulator back, a rescan found the unit again
  std::string Note;           // what went wrong, for the output
};

// The session's simulator and program run, the program idle with its panels or in its start-up poll, and
// no message box shows. The session is left that way again for the next trial, restarting the program
// when it did not recover.
TLinkFaultTrial SimulatorKilledDuringPoll(TProgramSession& session, std::mt19937& random);
TLinkFaultTrial SimulatorKilledDuringClick(TProgramSession& session, std::mt19937& random);
// Brings a session whose simulator runs to that state: the program started and its poll over. Returns
// what went wrong, or nothing.
std::string StartProgramAndPoll(TProgramSession& session);

struct TReplaceFaultTrial {
  bool Applied = false;   // killed after the temporary file appeared and before the replacement ended
  bool BeforeRename = false;
  bool Torn = false;      // "COM.ini" was neither the old nor the new text
  bool Empty = false;
  bool LeftOver = false;  // a temporary file still there once the program had started again
  std::string Note;
};

// The session's simulator runs and no program does. The program is run under strace with every fsync
// and rename slowed down (so the replacement lasts long enough to be hit), killed at a random moment of
// the replacement that ends its poll (or `killAfterUs` after the temporary file appeared), and then
// started again.
TReplaceFaultTrial ProgramKilledWhileReplacingPortFile(TProgramSession& session, std::mt19937& random,
                                                       std::optional<int64_t> killAfterUs = std::nullopt);
