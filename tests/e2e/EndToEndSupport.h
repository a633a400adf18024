#pragma once
// What the end-to-end tests share: the simulator and the program as processes, and the simulator's trace
// of the wire read back frame by frame.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TraceFile.h"

// A frame as the protocol lays it out: fixed header, N + 11 bytes, CRC-16/MODBUS low byte first.
::testing::AssertionResult WellFormed(const TTracedFrame& f);
// The requests of a poll that finds units 3 and 7: probes of 1 to 16, and after each found unit's probe
// the select and read of every colour-bar and logo indicator.
std::vector<std::string> PollRequestsForUnits3And7();
// Replies that ended later than the program's 60 ms wait after their request began: a simulator starved
// by a busy machine. The program then rightly reports registers it could not read.
int LateReplies(const std::vector<TTracedFrame>& trace);
// The requests the host sent, as hex.
std::vector<std::string> HostRequests(const std::string& tracePath);
std::vector<std::string> HostFrames(const std::vector<TTracedFrame>& trace);

// The file's inode: a file replaced by rename has a new one.
ino_t Inode(const std::string& path);
std::vector<std::string> StatusFiles(const std::string& dir);

// orvel-unitsim in `dir` with `args` saying which units answer: its link "tty<name>", trace
// "trace<name>.jsonl", state "units<name>.txt" and output "unitsim<name>.out".
TChildProcess::TOptions SimulatorNamed(const std::string& dir, const std::string& name,
                                       std::vector<std::string> args);
// orvel-unitsim with units 3 and 7 of the demo's registers, its link "tty", trace and state file in `dir`.
TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra = {});
// orvel-control in `dir`, offscreen unless `environment` says otherwise.
TChildProcess::TOptions Program(const std::string& dir, std::vector<std::string> environment = {});
// Waits for the simulator's link to its terminal; false (with the reason recorded) if it never came up.
::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link);
// SIGTERM, as a session manager ends a program; it must go within a few seconds and not by a crash.
void Terminate(TChildProcess& process);
