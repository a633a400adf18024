#pragma once
// What the end-to-end tests share: orvel-unitsim on a pseudo-terminal in a scratch directory, its wire
// trace read back, and the programs ended as a session manager ends them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/WireTraceFile.h"

// Replies that ended later than the program's 60 ms wait after their request began: a simulator starved
// by a busy machine. The program then rightly reports registers it could not read.
int LateReplies(const std::vector<TTraceLine>& trace);

// The requests the host sent, as hex (the trace itself: ReadWireTrace).
std::vector<std::string> HostRequests(const std::string& tracePath);

// orvel-unitsim with units 3 and 7 of the demo's registers, its link "tty", trace and state file in `dir`.
TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra = {});
// Waits for the simulator's link to its terminal; false (with the reason recorded) if it never came up.
::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link);
// SIGTERM; it must go within a few seconds and not by a crash.
void Terminate(TChildProcess& process);
