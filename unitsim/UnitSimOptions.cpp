#include "unitsim/UnitSimOptions.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "link/Frame.h"
#include "unitsim/SimTrace.h"

namespace {

long Integer(const std::string& text, long low, long high, const std::string& what) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  bool ok = !digits.empty() && digits.size() <= 8;
  for (char c : digits)
    ok = ok && (hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)));
  if (!ok) throw EUsage(what + ": not a number: \"" + text + "\"");
  const long value = std::stol(digits, nullptr, hex ? 16 : 10);
  if (value < low || value > high)
    throw EUsage(what + ": " + text + " is out of range (" + std::to_string(low) + " to " +
                 std::to_string(high) + ")");
  return value;
}

int64_t Milliseconds(const std::string& text, const std::string& what) {
  double ms = 0;
  std::istringstream in(text);
  if (text.empty() || !(in >> ms) || !in.eof() || ms < 0 || ms > 60000)
    throw EUsage(what + ": \"" + text + "\" is not a time in milliseconds (0 to 60000)");
  return int64_t(ms * 1000 + 0.5);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back({});
  return parts;
}

// ADDR[:ARG][,cmd=COMMAND][,times=N]
TFaultOption ParseFault(const std::string& option, const std::string& value) {
  const std::string what = option + " " + value;
  auto parts = Split(value, ',');
  if (parts.empty() || parts[0].empty()) throw EUsage(what + ": expected ADDRESS first");
  const auto colon = parts[0].find(':');
  const std::string address = parts[0].substr(0, colon);
  const bool hasArg = colon != std::string::npos;
  const std::string arg = hasArg ? parts[0].substr(colon + 1) : std::string();

  TFaultOption f;
  f.Text = what;
  f.Address = uint8_t(Integer(address, 0, 255, what + ": address"));
  auto needArg = [&](const char* form) {
    if (!hasArg || arg.empty()) throw EUsage(what + ": expected " + option + " " + form);
  };
  auto noArg = [&] {
    if (hasArg) throw EUsage(what + ": " + option + " takes only an address");
  };
  if (option == "--silent") {
    noArg();
    f.Fault = TSimFault::Silent();
  } else if (option == "--status") {
    needArg("ADDRESS:STATUS");
    f.Fault = TSimFault::WithStatus(uint8_t(Integer(arg, 0, 255, what + ": status")));
  } else if (option == "--split") {
    needArg("ADDRESS:BYTES/MS");
    auto slash = arg.find('/');
    if (slash == std::string::npos) throw EUsage(what + ": expected " + option + " ADDRESS:BYTES/MS");
    f.Fault = TSimFault::Split(size_t(Integer(arg.substr(0, slash), 1, 254, what + ": bytes")),
                               Milliseconds(arg.substr(slash + 1), what + ": pause"));
  } else if (option == "--stray-before" || option == "--stray-after") {
    needArg("ADDRESS:HEXBYTES");
    auto slash = arg.find('/');
    std::vector<uint8_t> bytes;
    try {
      bytes = ParseHexBytes(arg.substr(0, slash));
    } catch (const std::invalid_argument& e) {
      throw EUsage(what + ": " + e.what());
    }
    if (bytes.empty()) throw EUsage(what + ": no stray bytes given");
    if (option == "--stray-before") {
      if (slash != std::string::npos) throw EUsage(what + ": stray bytes before a reply take no pause");
      f.Fault = TSimFault::StrayBefore(bytes);
    } else {
      const int64_t gap = slash == std::string::npos ? 0 : Milliseconds(arg.substr(slash + 1), what + ": gap");
      f.Fault = TSimFault::StrayAfter(bytes, gap);
    }
  } else if (option == "--oversize") {
    f.Fault = TSimFault::Oversize(hasArg ? size_t(Integer(arg, 70, 255, what + ": length")) : 70);
  } else if (option == "--bad-crc") {
    noArg();
    f.Fault = TSimFault::BadChecksum();
  } else if (option == "--single-byte") {
    noArg();
    f.Fault = TSimFault::SingleByte();
  } else if (option == "--late") {
    needArg("ADDRESS:MS");
    f.Fault = TSimFault::Delay(Milliseconds(arg, what + ": delay"));
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    const auto& p = parts[i];
    if (p.rfind("cmd=", 0) == 0)
      f.Fault.Command = ParseCommandName(p.substr(4));
    else if (p.rfind("times=", 0) == 0)
      f.Fault.Remaining = int(Integer(p.substr(6), 1, 1'000'000, what + ": times"));
    else
      throw EUsage(what + ": unknown qualifier \"" + p + "\" (expected cmd=COMMAND or times=N)");
  }
  return f;
}

const char* const kFaultOptions[] = {"--silent",   "--status",  "--split",       "--stray-before", "--stray-after",
                                     "--oversize", "--bad-crc", "--single-byte", "--late"};

}  // namespace

uint8_t ParseCommandName(const std::string& text) {
  if (text == "select") return cmdSelect;
  if (text == "write") return cmdWrite;
  if (text == "read") return cmdRead;
  if (text == "setaddress" || text == "set-address") return cmdSetAddress;
  if (text == "identify") return cmdIdentify;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
    return uint8_t(Integer(text, 0, 255, "command"));
  throw EUsage("unknown command \"" + text + "\" (select, write, read, setaddress, identify or a code)");
}

TUnitSimOptions ParseUnitSimOptions(const std::vector<std::string>& args) {
  TUnitSimOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i], value;
    bool inlineValue = false;
    if (auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = option.substr(eq + 1);
      option = option.substr(0, eq);
      inlineValue = true;
    }
    auto takeValue = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= args.size()) throw EUsage(option + " needs a value");
      return args[++i];
    };
    if (option == "--help" || option == "-h") {
      o.Help = true;
    } else if (option == "--units") {
      const std::string list = takeValue();
      if (list.empty()) throw EUsage("--units: expected addresses, e.g. --units 3,7");
      for (const auto& a : Split(list, ',')) {
        const auto address = uint8_t(Integer(a, 0, 255, "--units"));
        for (auto u : o.Units)
          if (u == address) throw EUsage("--units: address " + std::to_string(address) + " is given twice");
        o.Units.push_back(address);
      }
    } else if (option == "--link") {
      o.Link = takeValue();
      if (o.Link.empty()) throw EUsage("--link needs a path");
    } else if (option == "--registers") {
      o.Registers = takeValue();
    } else if (option == "--delay") {
      o.DelayUs = Milliseconds(takeValue(), "--delay");
    } else if (option == "--drop-gap") {
      o.DropGapUs = Milliseconds(takeValue(), "--drop-gap");
    } else if (option == "--trace") {
      o.Trace = takeValue();
    } else if (option == "--state") {
      o.State = takeValue();
    } else if (option == "--monotonic-times") {
      if (inlineValue) throw EUsage("--monotonic-times takes no value");
      o.MonotonicTimes = true;
    } else if (std::find(std::begin(kFaultOptions), std::end(kFaultOptions), option) != std::end(kFaultOptions)) {
      o.Faults.push_back(ParseFault(option, takeValue()));
    } else {
      throw EUsage("unknown option \"" + args[i] + "\"");
    }
  }
  return o;
}

std::string UnitSimHelp() {
  return R"(Usage: orvel-unitsim [OPTION]...
Simulated ORVEL units on a pseudo-terminal. The program (or any serial tool) opens the terminal as its
serial port; the units answer at 38400 baud, 8N1, with the timing of a real line. The first line on
standard output is the terminal's path. Stop with Ctrl+C (SIGINT) or SIGTERM; SIGUSR1 writes the state.

Units and line:
  --units LIST           addresses that answer, e.g. 3,7; 0 is a unit without an address. The register
                         file may then set up only these. Without this option the units of the
                         register file answer, or unit 1 when there is no file.
  --registers FILE       initial registers and descriptors (format below)
  --delay MS             reply delay of every unit, milliseconds (default 1; fractions allowed)
  --drop-gap MS          the longest pause inside a request frame; after a longer one the units drop
                         what came of the frame (default 10; 1 checks the sender strictly)
  --link PATH            also make PATH a symbolic link to the terminal (a symbolic link already there
                         is replaced; any other file is left alone and the program stops); removed at
                         exit
  --trace FILE           every frame on the line as JSON, one object per line, written as it happens
  --state FILE           the registers of every unit, written at exit and on SIGUSR1 (register-file
                         format, so it can be read back with --registers)
  --monotonic-times      trace times count from the zero of the system's monotonic clock (as
                         clock_gettime(CLOCK_MONOTONIC) gives it) instead of from the start, so other
                         programs' times can be set beside them
  -h, --help             this text

Faults, per unit; each may be repeated and combined:
  --silent ADDR          the unit does not answer (and does not act on the request)
  --status ADDR:CODE     replies carry status CODE, e.g. 0x83 (device fault) or 0x84 (not supported);
                         a refused command is not carried out
  --split ADDR:BYTES/MS  the reply pauses MS milliseconds after its first BYTES bytes
  --stray-before ADDR:HEX        bytes (hex, e.g. AA55) sent just before each reply
  --stray-after ADDR:HEX[/MS]    bytes sent after each reply, MS milliseconds after it (default 0)
  --oversize ADDR[:N]    replies carry N data bytes (70 to 255, default 70): more than 80 bytes in all
  --bad-crc ADDR         replies have a wrong checksum
  --single-byte ADDR     only the first byte of each reply is sent
  --late ADDR:MS         replies start MS milliseconds later than the reply delay
Append ,cmd=COMMAND to spoil only replies to select, write, read, setaddress or identify, and ,times=N
to spoil only the next N of them, e.g. --status 3:0x84,cmd=setaddress,times=1

Register file:
  # comment                         blank lines and text after # are ignored
  unit 3                            starts unit 3 with factory defaults
  0x4E = 1                          register 0x4E (K1 colour bars) holds 1
  descriptor 0x42 = 0 255 128 1     value 0x42: minimum, maximum, default, step (read at 0x43)
  delay 2.5                         this unit's reply delay in milliseconds
Numbers are decimal or 0x hexadecimal.

Exit status: 0 after a signal, 1 when the terminal fails, 2 for a bad command line or register file.
)";
}
