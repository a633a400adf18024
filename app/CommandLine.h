#pragma once
// The program's command line. With no argument it starts in its working directory, as it always has. The
// desktop entry starts it with --user-data, so it keeps its files in the per-user data folder. --help and
// --version print and end, touching no file and no port; anything else is refused with the usage line.
#include <string>

enum class TCommandAction { caRun, caHelp, caVersion, caRefuse };

struct TCommandLine {
  TCommandAction Action = TCommandAction::caRun;
  // Where to work; empty: the working directory as it is.
  std::string DataDirectory;
  // Why the line was refused.
  std::string Error;
};

// `environment` looks up a variable (XDG_DATA_HOME, HOME); null when it is not set.
TCommandLine ParseCommandLine(int argc, const char* const* argv, const char* (*environment)(const char*));

// The per-user data folder: $XDG_DATA_HOME/orvel-control, or ~/.local/share/orvel-control when that is not
// set (or not an absolute path: a relative one would depend on where the program happens to start).
std::string UserDataDirectory(const char* (*environment)(const char*));

// Creates `directory` (and its parents) when missing and makes it the working directory; false with the
// system's reason in `error` when it cannot.
bool EnterDataDirectory(const std::string& directory, std::string& error);

extern const char* const UsageText;
extern const char* const HelpText;
std::string VersionText();
