#pragma once
// The command line of orvel-unitsim.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "unitsim/SimFault.h"

// A bad command line: the message says what is wrong; the program exits with code 2.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TFaultOption {
  uint8_t Address = 0;
  TSimFault Fault;
  std::string Text;  // the option as given, for messages
};

struct TUnitSimOptions {
  bool Help = false;
  std::vector<uint8_t> Units;  // empty: only those of the register file (unit 1 when there is none)
  std::string Link;
  std::string Registers;
  std::string Trace;
  std::string State;
  bool MonotonicTimes = false;  // trace times from the system's monotonic clock's zero, not from the start
  std::optional<int64_t> DelayUs;
  std::optional<int64_t> DropGapUs;
  std::vector<TFaultOption> Faults;
};

TUnitSimOptions ParseUnitSimOptions(const std::vector<std::string>& args);
std::string UnitSimHelp();

// "select", "write", "read", "setaddress", "identify" or a number; throws EUsage.
uint8_t ParseCommandName(const std::string& text);
