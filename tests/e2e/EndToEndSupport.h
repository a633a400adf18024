#pragma once
// What the end-to-end tests share: orvel-unitsim on a pseudo-terminal in a scratch directory, its wire
// trace read back, and the programs ended as a session manager ends them.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

struct TTracedFrame {
  bool FromHost = false;
  std::string Kind;
  std::vector<uint8_t> Bytes;
  int64_t StartUs = 0, EndUs = 0;
  std::string Line;
};

// Replies that ended later than the program's 60 ms wait after their request began: a simulator starved
// by a busy machine. The program then rightly reports registers it could not read.
int LateReplies(const std::vector<TTracedFrame>& trace);

std::vector<TTracedFrame> ReadTrace(const std::string& path);
// The requests the host sent, as hex.
std::vector<std::string> HostRequests(const std::string& tracePath);
std::vector<std::string> HostFrames(const std::vector<TTracedFrame>& trace);
// A frame as the protocol lays it out: fixed header, N + 11 bytes, CRC-16/MODBUS low byte first. A reply
// carries its status at byte 7.
::testing::AssertionResult WellFormed(const TTracedFrame& f);

// The file's inode: a file replaced by rename has a new one.
ino_t Inode(const std::string& path);

// orvel-unitsim in `dir` with `args` saying which units answer: its link "tty<name>", trace
// "trace<name>.jsonl", state "units<name>.txt" and output "unitsim<name>.out".
TChildProcess::TOptions SimulatorNamed(const std::string& dir, const std::string& name,
                                       std::vector<std::string> args);
// orvel-unitsim with units 3 and 7 of the demo's registers, its link "tty", trace and state file in `dir`.
TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra = {});
// Waits for the simulator's link to its terminal; false (with the reason recorded) if it never came up.
::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link);
// SIGTERM; it must go within a few seconds and not by a crash.
void Terminate(TChildProcess& process);
