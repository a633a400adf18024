// The simulator's register-file parser against any text: it either takes the file or refuses it with an
// error that names the file and a line the file has; and what it takes, written back as the state file,
// reads back to the very same units.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "unitsim/RegisterFile.h"

namespace {

std::vector<TSimUnit> Build(const std::vector<TUnitSetup>& setups) {
  std::vector<TSimUnit> units(setups.size());
  for (size_t i = 0; i < setups.size(); ++i) setups[i].ApplyTo(units[i]);
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<TUnitSetup> setups;
  try {
    std::istringstream in(text);
    setups = ParseRegisterFile(in, "units.txt");
  } catch (const ERegisterFile& e) {
    const std::string message = e.what();
    int lines = 0;
    std::istringstream count(text);
    for (std::string line; std::getline(count, line);) ++lines;
    FUZZ_CHECK(message.rfind("units.txt:", 0) == 0, "the error does not name the file: " << message);
    const int line = std::atoi(message.c_str() + 10);
    FUZZ_CHECK(line >= 1 && line <= lines && message.find(": ", 10) != std::string::npos,
               "the error names line " << line << " of " << lines << ": " << message);
    return 0;
  }

  const auto units = Build(setups);
  std::vector<const TSimUnit*> pointers;
  for (size_t i = 0; i < units.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      FUZZ_CHECK(units[i].Address != units[j].Address, "unit " << int(units[i].Address) << " taken twice");
    pointers.push_back(&units[i]);
  }
  std::ostringstream state;
  WriteUnitState(state, pointers);
  std::vector<TUnitSetup> again;
  try {
    std::istringstream in(state.str());
    again = ParseRegisterFile(in, "state.txt");
  } catch (const ERegisterFile& e) {
    FUZZ_CHECK(false, "the state file does not read back: " << e.what());
  }
  const auto back = Build(again);
  FUZZ_CHECK(back.size() == units.size(), "the state file holds " << back.size() << " units, not " << units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const std::string which = "unit " + std::to_string(units[i].Address);
    FUZZ_CHECK(back[i].Address == units[i].Address, which << " came back as " << int(back[i].Address));
    FUZZ_CHECK(back[i].Registers() == units[i].Registers(), which << ": the registers changed");
    FUZZ_CHECK(back[i].Descriptors() == units[i].Descriptors(), which << ": the descriptors changed");
    FUZZ_CHECK(back[i].ReplyDelayUs == units[i].ReplyDelayUs,
               which << ": delay " << units[i].ReplyDelayUs << " us came back as " << back[i].ReplyDelayUs);
  }
  return 0;
}
