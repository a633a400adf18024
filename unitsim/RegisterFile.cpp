#include "unitsim/RegisterFile.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// What separates words, and what a line is trimmed of: the same set for both, so a line made only of
// blanks always comes out empty and never reaches the word split with no word in it.
constexpr const char* kBlanks = " \t\n\v\f\r";

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> words;
  for (size_t at = s.find_first_not_of(kBlanks); at != std::string::npos; at = s.find_first_not_of(kBlanks, at)) {
    const size_t end = s.find_first_of(kBlanks, at);
    words.push_back(s.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

// Microseconds as milliseconds to the last digit ("1234.567", "2.5", "1"), so the file reads back exactly;
// a stream's default six significant digits would round them.
std::string Milliseconds(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(us / 1000),
                static_cast<long long>(us % 1000));
  std::string ms = text;
  ms.erase(ms.find_last_not_of('0') + 1);
  if (ms.back() == '.') ms.pop_back();
  return ms;
}

class TParser {
 public:
  TParser(const std::string& fileName) : fileName_(fileName) {}

  [[noreturn]] void Fail(const std::string& message) const {
    throw ERegisterFile(fileName_ + ":" + std::to_string(line_) + ": " + message);
  }

  // Decimal or 0x hex, nothing else.
  long Number(const std::string& text, long low, long high, const char* what) const {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    bool ok = !digits.empty() && digits.size() <= 8;
    for (char c : digits) ok = ok && (hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)));
    if (!ok) Fail(std::string(what) + " is not a number: \"" + text + "\"");
    const long value = std::stol(digits, nullptr, hex ? 16 : 10);
    if (value < low || value > high)
      Fail(std::string(what) + " out of range (" + std::to_string(low) + " to " + std::to_string(high) +
           "): " + text);
    return value;
  }

  std::vector<TUnitSetup> Parse(std::istream& in) {
    std::vector<TUnitSetup> units;
    std::map<int, int> firstLine;  // address -> line of its section
    for (std::string raw; std::getline(in, raw);) {
      ++line_;
      const std::string text = Trim(raw.substr(0, raw.find('#')));
      if (text.empty()) continue;
      std::string spaced;  // "0x4E=1" reads like "0x4E = 1"
      for (char c : text) spaced += c == '=' ? std::string(" = ") : std::string(1, c);
      const auto words = Words(spaced);
      if (words[0] == "unit") {
        if (words.size() != 2) Fail("'unit' takes one address, e.g. 'unit 3'");
        const int address = int(Number(words[1], 0, 255, "unit address"));
        if (firstLine.count(address))
          Fail("unit " + std::to_string(address) + " is given twice (first on line " +
               std::to_string(firstLine[address]) + ")");
        firstLine[address] = line_;
        if (!units.empty()) Check(units.back());
        units.push_back({});
        registerLines_.clear();
        units.back().Line = line_;
        units.back().Address = uint8_t(address);
        continue;
      }
      if (units.empty()) Fail("settings before the first 'unit ADDRESS' line");
      auto& unit = units.back();
      if (words[0] == "delay") {
        if (words.size() != 2) Fail("'delay' takes the reply delay in milliseconds, e.g. 'delay 1'");
        double ms = 0;
        std::istringstream number(words[1]);
        if (!(number >> ms) || !number.eof() || ms < 0 || ms > 10000)
          Fail("reply delay must be 0 to 10000 ms: \"" + words[1] + "\"");
        unit.ReplyDelayUs = int64_t(ms * 1000 + 0.5);
        continue;
      }
      if (words[0] == "descriptor") {
        if (words.size() != 7 || words[2] != "=")
          Fail("expected 'descriptor CODE = MINIMUM MAXIMUM DEFAULT STEP'");
        const auto code = uint8_t(Number(words[1], 0, 254, "descriptor code"));
        TSimDescriptor d;
        d.Minimum = uint8_t(Number(words[3], 0, 255, "minimum"));
        d.Maximum = uint8_t(Number(words[4], 0, 255, "maximum"));
        d.Default = uint8_t(Number(words[5], 0, 255, "default"));
        d.Step = uint8_t(Number(words[6], 0, 255, "step"));
        const std::string of = "descriptor of " + Hex2(code) + ": ";
        if (d.Minimum > d.Maximum)
          Fail(of + "minimum " + std::to_string(d.Minimum) + " is above maximum " + std::to_string(d.Maximum));
        if (d.Default < d.Minimum || d.Default > d.Maximum)
          Fail(of + "default " + std::to_string(d.Default) + " lies outside " + std::to_string(d.Minimum) +
               " to " + std::to_string(d.Maximum));
        if (d.Step == 0) Fail(of + "step must be at least 1");
        unit.Descriptors.push_back({code, d});
        continue;
      }
      if (words.size() == 3 && words[1] == "=") {
        const auto code = uint8_t(Number(words[0], 0, 255, "register code"));
        const auto value = uint8_t(Number(words[2], 0, 255, "register value"));
        unit.Registers.push_back({code, value});
        registerLines_.push_back(line_);
        continue;
      }
      Fail("not a register line: \"" + text + "\" (expected 'CODE = VALUE', 'descriptor ...', 'delay MS' or "
           "'unit ADDRESS')");
    }
    if (!units.empty()) Check(units.back());
    return units;
  }

 private:
  // A register line must not land where a descriptor is read: that byte is the descriptor's, not a register.
  void Check(const TUnitSetup& setup) {
    TSimUnit unit;
    setup.ApplyTo(unit);
    for (size_t i = 0; i < setup.Registers.size(); ++i)
      if (const uint8_t code = setup.Registers[i].first; unit.IsDescriptorCode(code)) {
        line_ = registerLines_[i];
        Fail("register " + Hex2(code) + " is where the descriptor of " + Hex2(code - 1) +
             " is read; set it with 'descriptor " + Hex2(code - 1) + " = ...'");
      }
  }

  std::string fileName_;
  int line_ = 0;
  std::vector<int> registerLines_;  // the line of each register of the current section
};

}  // namespace

void TUnitSetup::ApplyTo(TSimUnit& unit) const {
  unit.LoadFactoryDefaults();
  unit.Address = Address;
  for (auto& [code, d] : Descriptors) unit.SetDescriptor(code, d);
  for (auto& [code, value] : Registers) unit.SetRegister(code, value);
  if (ReplyDelayUs) unit.ReplyDelayUs = *ReplyDelayUs;
}

std::vector<TUnitSetup> ParseRegisterFile(std::istream& in, const std::string& fileName) {
  return TParser(fileName).Parse(in);
}

std::vector<TUnitSetup> LoadRegisterFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ERegisterFile(path + ": cannot open the register file");
  return ParseRegisterFile(in, path);
}

std::string RegisterName(uint8_t code) {
  static const std::map<uint8_t, std::string> unitWide = {
      {0x08, "logo 1 choice"},         {0x0A, "logo 2 choice"}, {0x0C, "logo 1 horizontal position"},
      {0x0E, "logo 1 vertical position"}, {0x10, "logo 2 horizontal position"},
      {0x12, "logo 2 vertical position"}, {0x14, "line delay"}};
  static const std::map<uint8_t, std::string> channel = {
      {0x00, "luma/chroma delay"}, {0x02, "brightness"},   {0x04, "contrast"},   {0x06, "saturation"},
      {0x08, "AGC"},               {0x0A, "VTR"},          {0x0C, "logo enable"}, {0x0E, "colour bars"},
      {0x10, "substitution"},      {0x12, "auxiliary input"}, {0x14, "titles"}};
  if (auto it = unitWide.find(code); it != unitWide.end()) return it->second;
  for (int k = 0; k < 4; ++k) {
    const int offset = code - TSimUnit::ChannelBases[k];
    if (offset >= 0 && offset < 0x20)
      if (auto it = channel.find(uint8_t(offset)); it != channel.end())
        return "K" + std::to_string(k + 1) + " " + it->second;
  }
  return {};
}

void WriteUnitState(std::ostream& out, const std::vector<const TSimUnit*>& units) {
  out << "# Registers of the simulated units; this file can be read back with --registers.\n";
  for (const auto* unit : units) {
    out << "\nunit " << int(unit->Address) << "\n";
    out << "# register pointer " << Hex2(unit->Pointer()) << "\n";
    out << "delay " << Milliseconds(unit->ReplyDelayUs) << "\n";
    for (auto& [code, d] : unit->Descriptors()) {
      out << "descriptor " << Hex2(code) << " = " << int(d.Minimum) << ' ' << int(d.Maximum) << ' '
          << int(d.Default) << ' ' << int(d.Step);
      const auto name = RegisterName(code);
      if (!name.empty()) out << "  # " << name;
      out << "\n";
    }
    for (int code = 0; code < 256; ++code) {
      if (unit->IsDescriptorCode(uint8_t(code))) continue;
      out << Hex2(code) << " = " << Hex2(unit->Register(uint8_t(code)));
      const auto name = RegisterName(uint8_t(code));
      if (!name.empty()) out << "  # " << name;
      out << "\n";
    }
  }
}
