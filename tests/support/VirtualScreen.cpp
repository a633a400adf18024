#include "tests/support/VirtualScreen.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include <sstream>

#include "tests/support/TestEnvironment.h"

using namespace std::chrono_literals;

TVirtualScreen::TVirtualScreen(const std::string& directory) : directory_(directory) {
  // Xvfb chooses a free display and writes its number to descriptor 3: no two runs take the same one.
  const std::string numberFile = directory + "/display";
  server_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
      "/bin/sh",
      {"-c", "exec Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>'" + numberFile + "'"},
      directory,
      {},
      directory + "/xvfb.out"});
  std::string number;
  WaitUntil(
      [&] {
        number = FileExists(numberFile) ? ReadFileBytes(numberFile) : "";
        return number.find('\n') != std::string::npos || !server_->Running();
      },
      10s);
  if (number.find('\n') != std::string::npos && server_->Running())
    display_ = ":" + number.substr(0, number.find('\n'));
}

TVirtualScreen::~TVirtualScreen() {
  server_->Signal(SIGTERM);
  server_->WaitForExit(5s);
}

bool TVirtualScreen::Installed() {
  return access("/usr/bin/Xvfb", X_OK) == 0 && access("/usr/bin/xdotool", X_OK) == 0 &&
         access("/usr/bin/xprop", X_OK) == 0;
}

std::vector<std::string> TVirtualScreen::ProgramEnvironment() const {
  return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display_, "XDG_RUNTIME_DIR=" + directory_};
}

std::string TVirtualScreen::Run(const std::string& program, const std::vector<std::string>& arguments) {
  const std::string output = directory_ + "/tool" + std::to_string(++runs_ % 4) + ".out";
  TChildProcess tool({"/usr/bin/" + program, arguments, directory_, {"DISPLAY=" + display_}, output});
  if (!tool.WaitForExit(20s)) return {};
  return tool.Output();
}

std::vector<std::string> TVirtualScreen::ProgramWindows(int pid) {
  std::istringstream ids(Run("xdotool", {"search", "--onlyvisible", "--pid", std::to_string(pid)}));
  std::vector<std::string> windows;
  for (std::string id; ids >> id;) windows.push_back(id);
  return windows;
}

TVirtualScreen::TGeometry TVirtualScreen::Geometry(const std::string& window) {
  // "X=..", "Y=..", "WIDTH=..", "HEIGHT=.." lines.
  std::istringstream lines(Run("xdotool", {"getwindowgeometry", "--shell", window}));
  TGeometry g;
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (name == "X") g.X = value;
    if (name == "Y") g.Y = value;
    if (name == "WIDTH") g.Width = value;
    if (name == "HEIGHT") g.Height = value;
  }
  return g;
}

bool TVirtualScreen::IsDialog(const std::string& window) {
  return Run("xprop", {"-id", window, "_NET_WM_WINDOW_TYPE"}).find("_NET_WM_WINDOW_TYPE_DIALOG") !=
         std::string::npos;
}

void TVirtualScreen::Click(const std::string& window, int x, int y) {
  Run("xdotool", {"mousemove", "--sync", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
}

void TVirtualScreen::Keys(const std::vector<std::string>& keys) {
  std::vector<std::string> arguments{"key", "--delay", "50"};
  arguments.insert(arguments.end(), keys.begin(), keys.end());
  Run("xdotool", arguments);
}

void TVirtualScreen::KeysTo(const std::string& window, const std::vector<std::string>& keys) {
  Run("xdotool", {"windowfocus", "--sync", window});
  Keys(keys);
}

void TVirtualScreen::Screenshot(const std::string& path) { Run("import", {"-window", "root", path}); }
