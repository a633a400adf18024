#pragma once
// A private X display for end-to-end tests that drive the real windows as an operator would: Xvfb on a
// display number of its own, programs started on it, and the mouse and keyboard worked through xdotool.
// There is no window manager, so a top-level window stands at its own position without a frame, and a
// window's coordinates are those of its client area.
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"

class EXSession : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TXSession {
 public:
  using TWindow = unsigned long;
  struct TGeometry {
    int X = 0, Y = 0, Width = 0, Height = 0;
  };

  // Starts Xvfb on the first free display and waits until it takes connections; raises EXSession when
  // Xvfb or xdotool is missing or the server does not come up. `scratch`: where its files go (a
  // directory the test owns).
  explicit TXSession(const std::string& scratch, int width = 1280, int height = 800);
  // Ends the server (and thereby every client still on it).
  ~TXSession();
  TXSession(const TXSession&) = delete;
  TXSession& operator=(const TXSession&) = delete;

  const std::string& Display() const { return display_; }  // ":12"
  // `options` with the environment a Qt program needs to show its windows on this display (replacing a
  // platform or display it named).
  TChildProcess::TOptions On(TChildProcess::TOptions options) const;
  // Starts a client on this display and waits up to `limit` until `up` holds or the client has ended.
  // On a busy machine the server now and then refuses a client's first connection; the client then ends
  // at once saying it "could not connect to display", and is started again, three times at most.
  std::unique_ptr<TChildProcess> StartClient(const TChildProcess::TOptions& options, const std::function<bool()>& up,
                                             std::chrono::milliseconds limit = std::chrono::seconds(60));

  // The visible top-level window whose title is exactly `title` (and, when given, whose geometry `accept`
  // takes: windows without a caption of their own all carry the program's name); waits up to `limit`, 0
  // when none came.
  TWindow FindWindow(const std::string& title, std::chrono::milliseconds limit = std::chrono::seconds(10),
                     const std::function<bool(const TGeometry&)>& accept = nullptr);
  // The visible top-level windows of one process, whatever their titles.
  std::vector<TWindow> ProgramWindows(int pid);
  // Whether the window is a dialog (a message box, say) rather than a window of its own.
  bool IsDialog(TWindow window);
  // Of `windows`, the one a key pressed now reaches: a modal window blocks input to all others, so the
  // highest modal one in the stack, else the highest of all; 0 when none of them is still there.
  TWindow TakingInput(const std::vector<TWindow>& windows);
  // The visible windows with their titles (also for a failure message).
  std::vector<std::pair<TWindow, std::string>> VisibleWindows();
  TGeometry Geometry(TWindow window);

  // The pointer to a point of the window, then a press and release of `button` (1 left, 3 right).
  void Click(TWindow window, int x, int y, int button = 1);
  // Keyboard input goes to the window that has the focus.
  void Focus(TWindow window);
  void Type(const std::string& text);
  // Key names as xdotool knows them: "Down", "Return", "ctrl+a", several separated by blanks.
  void Keys(const std::string& keys);

  // A picture of the window, or of the whole screen when `window` is 0; false when it could not be taken.
  bool Screenshot(const std::string& file, TWindow window = 0);

  // Whether Xvfb and the X clients the session runs are installed.
  static bool Installed();

  // Runs an X client (found on PATH) on this display and returns its output; raises EXSession when it
  // fails or does not end within a few seconds.
  std::string Run(const std::string& program, const std::vector<std::string>& arguments);

 private:
  std::string scratch_;
  std::string display_;
  std::string runtimeDir_;
  std::unique_ptr<TChildProcess> server_;
  int runs_ = 0;
};

// The absolute path of a program on PATH; empty when there is none.
std::string FindOnPath(const std::string& program);
