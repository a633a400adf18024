#pragma once
// What the end-to-end tests share: the simulator and the program as processes, and the simulator's trace
// of the wire read back frame by frame.
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
// The requests of a poll that finds units 3 and 7: probes of 1 to 16, and after each found unit's probe
// the select and read of every colour-bar and logo indicator.
std::vector<std::string> PollRequestsForUnits3And7();

ino_t Inode(const std::string& path);
std::vector<std::string> StatusFiles(const std::string& dir);

// orvel-unitsim with units 3 and 7 on the terminal "tty" in `dir`, tracing to "trace.jsonl".
TChildProcess::TOptions Simulator(const std::string& dir, std::vector<std::string> extra = {});
// orvel-control in `dir`, offscreen unless `environment` says otherwise.
TChildProcess::TOptions Program(const std::string& dir, std::vector<std::string> environment = {});
// Waits for the simulator's link to its terminal.
::testing::AssertionResult SimulatorUp(TChildProcess& sim, const std::string& link);
// SIGTERM, as a session manager ends a program; it must go within a few seconds and not by a crash.
void Terminate(TChildProcess& process);
