#pragma once
// The register file of orvel-unitsim: the initial registers and descriptors of the units, and the state
// written back at exit, in one commented text format:
//
//   # a comment; blank lines are ignored
//   unit 3                            a unit at address 3 (0: one without an address), factory defaults
//   0x4E = 1                          register 0x4E holds 1
//   descriptor 0x42 = 0 255 128 1     the value at 0x42 ranges 0..255, default 128, step 1 (read at 0x43)
//   delay 2.5                         the unit answers 2.5 ms after a request
//
// Numbers are decimal or 0x hexadecimal. Every error names the file and line.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "unitsim/SimUnit.h"

class ERegisterFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TUnitSetup {
  int Line = 0;  // where its section starts
  uint8_t Address = 0;
  std::vector<std::pair<uint8_t, uint8_t>> Registers;
  std::vector<std::pair<uint8_t, TSimDescriptor>> Descriptors;
  std::optional<int64_t> ReplyDelayUs;

  // Factory defaults first, then what the section says.
  void ApplyTo(TSimUnit& unit) const;
};

std::vector<TUnitSetup> ParseRegisterFile(std::istream& in, const std::string& fileName);
std::vector<TUnitSetup> LoadRegisterFile(const std::string& path);

// Every register and descriptor of the units, in the same format, each known register named.
void WriteUnitState(std::ostream& out, const std::vector<const TSimUnit*>& units);

// "K3 brightness", "logo 1 choice" ...; empty for codes the register map does not use.
std::string RegisterName(uint8_t code);
