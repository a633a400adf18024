#pragma once
// What the end-to-end tests share: the simulator and the program started as processes in a test's
// directory, and the simulator's wire trace read back.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

struct TTracedFrame {
  bool FromHost = false;
  std::string Kind;
  std::vector<uint8_t> Bytes;
  std::string Line;
};

std::vector<TTracedFrame> ReadTrace(const std::string& path);
// A frame as the protocol lays it out: fixed header, N + 11 bytes, CRC-16/MODBUS low byte first.
::testing::AssertionResult WellFormed(const TTracedFrame& f);
// The frames the host sent, as hex.
std::vector<std::string> HostFrames(const std::vector<TTracedFrame>& trace);

ino_t Inode(const std::string& path);

// orvel-unitsim serving in `dir`: its terminal's link at dir/tty<name>, trace at dir/trace<name>.jsonl,
// state at dir/units<name>.txt, with `args` saying which units answer.
TChildProcess::TOptions SimulatorNamed(const std::string& dir, const std::string& name,
                                       std::vector<std::string> args);
// The demo's units 3 and 7 from unitsim/demo-registers.txt, and `extra` options.
TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra = {});
// orvel-control in `dir` on the offscreen platform.
TChildProcess::TOptions Program(const std::string& dir);

// Waits for the simulator's link to its terminal; fails (with the reason) if it never came up.
::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link);
// SIGTERM, as a session manager ends a program; it must go within a few seconds and not by a crash.
void Terminate(TChildProcess& process);
