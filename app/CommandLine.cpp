#include "app/CommandLine.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#ifndef ORVEL_VERSION
#define ORVEL_VERSION "unknown"
#endif

const char* const UsageText = "Usage: orvel-control [--data-dir DIR | --user-data] [--help] [--version]\n";

const char* const HelpText =
    "Usage: orvel-control [--data-dir DIR | --user-data] [--help] [--version]\n"
    "\n"
    "ORVEL Control: switches and settings of ORVEL video-processing units on one serial line.\n"
    "\n"
    "The program keeps the port it uses in COM.ini and each unit's titles and auxiliary-input state in\n"
    "Status<n>.log, in the folder it works in. It finds its button images in that folder's Bmp folder,\n"
    "or, when there is none, among its installed files.\n"
    "\n"
    "  --data-dir DIR   work in DIR (created when missing) instead of the current directory\n"
    "  --user-data      work in the per-user data folder, $XDG_DATA_HOME/orvel-control\n"
    "                   (~/.local/share/orvel-control when XDG_DATA_HOME is not set); the desktop\n"
    "                   entry starts the program this way\n"
    "  --help           show this text and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Port names: COM1 to COM256 stand for /dev/ttyS0 to /dev/ttyS255; a name beginning with / is a\n"
    "device path, such as /dev/ttyUSB0 or /dev/serial/by-id/usb-...\n";

std::string VersionText() { return std::string("orvel-control ") + ORVEL_VERSION + "\n"; }

std::string UserDataDirectory(const char* (*environment)(const char*)) {
  const char* data = environment("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/orvel-control";
  const char* home = environment("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/orvel-control";
}

TCommandLine ParseCommandLine(int argc, const char* const* argv, const char* (*environment)(const char*)) {
  TCommandLine line;
  auto refuse = [&line](const std::string& why) {
    line.Action = TCommandAction::caRefuse;
    line.Error = why;
    return line;
  };
  bool placed = false;  // a data folder was named already
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      line.Action = TCommandAction::caHelp;
      return line;
    }
    if (argument == "--version") {
      line.Action = TCommandAction::caVersion;
      return line;
    }
    std::string directory;
    if (argument == "--user-data") {
      directory = UserDataDirectory(environment);
    } else if (argument == "--data-dir") {
      if (i + 1 >= argc) return refuse("option --data-dir needs a folder");
      directory = argv[++i];
    } else if (argument.rfind("--data-dir=", 0) == 0) {
      directory = argument.substr(11);
    } else {
      return refuse("unknown argument '" + argument + "'");
    }
    if (directory.empty()) return refuse("option --data-dir needs a folder");
    if (placed) return refuse("only one of --data-dir and --user-data may be given");
    placed = true;
    line.DataDirectory = directory;
  }
  return line;
}

bool EnterDataDirectory(const std::string& directory, std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(directory, code);
  if (code) {
    error = directory + ": " + code.message();
    return false;
  }
#ifdef _WIN32
  const int result = _chdir(directory.c_str());
#else
  const int result = chdir(directory.c_str());
#endif
  if (result != 0) {
    error = directory + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
