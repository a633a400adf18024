#pragma once
// An X server of the test's own (Xvfb, on a display it picks itself) for a program that the test drives
// as an operator would: a real pointer and keyboard through xdotool, pictures through import.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

class TVirtualScreen {
 public:
  explicit TVirtualScreen(const std::string& directory);
  ~TVirtualScreen();

  bool Up() const { return !display_.empty(); }
  std::string Display() const { return display_; }  // ":N"
  // The environment a Qt program needs to show its windows here.
  std::vector<std::string> ProgramEnvironment() const;

  struct TGeometry {
    int X = 0, Y = 0, Width = 0, Height = 0;
  };
  // The windows of a process that are on the screen, oldest first.
  std::vector<std::string> ProgramWindows(int pid);
  TGeometry Geometry(const std::string& window);
  // Whether the window is a dialog (a message box, say) rather than a window of its own.
  bool IsDialog(const std::string& window);
  // A click of the left button at a point of the window.
  void Click(const std::string& window, int x, int y);
  // Key presses (xdotool key names) to whatever has the focus, or to `window` after focusing it.
  void Keys(const std::vector<std::string>& keys);
  void KeysTo(const std::string& window, const std::vector<std::string>& keys);
  void Screenshot(const std::string& path);

  // Runs a tool of the X display (xdotool, import) and returns what it printed.
  std::string Run(const std::string& program, const std::vector<std::string>& arguments);
  static bool Installed();

 private:
  std::string directory_;
  std::string display_;
  std::unique_ptr<TChildProcess> server_;
  int runs_ = 0;
};
