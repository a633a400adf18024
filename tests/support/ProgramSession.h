#pragma once
// The programs as an operator meets them, for the fault trials and the benchmark table: orvel-control on
// a display of its own (Xvfb) against orvel-unitsim on a pseudo-terminal, in a working directory of their
// own, driven with xdotool and watched from outside only: the windows on the display, the simulator's
// wire trace, the files, and the processes' CPU time and memory.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/WireTraceFile.h"

using TMilliseconds = std::chrono::milliseconds;

// The system's monotonic clock in microseconds: the simulator's trace times with --monotonic-times.
int64_t MonotonicUs();

// A program found on PATH, as an absolute path; empty when there is none.
std::string FindOnPath(const std::string& name);

// An X server of its own (Xvfb) on a free display number.
class TXDisplay {
 public:
  TXDisplay();
  ~TXDisplay();
  TXDisplay(const TXDisplay&) = delete;
  TXDisplay& operator=(const TXDisplay&) = delete;

  std::string Environment() const { return "DISPLAY=" + name_; }
  // Runs xdotool; returns what it printed on standard output, one entry per line.
  std::vector<std::string> XDoTool(const std::vector<std::string>& arguments) const;
  // Presses and releases the left button at (x, y) on the screen, straight through the server's XTEST
  // extension; returns MonotonicUs() once the server has taken the release.
  int64_t Click(int x, int y);

 private:
  std::string name_;
  std::unique_ptr<TChildProcess> server_;
  void* connection_ = nullptr;  // the Xlib Display, opened at the first click
};

class TProgramSession {
 public:
  // `units`: the simulator's addresses, e.g. "3" or "3,7". Without a display the program runs on the
  // offscreen platform and nothing can be clicked.
  TProgramSession(TXDisplay* display, std::string units);
  ~TProgramSession();
  TProgramSession(const TProgramSession&) = delete;
  TProgramSession& operator=(const TProgramSession&) = delete;

  const std::string& Directory() const { return directory_; }
  std::string PortFile() const { return directory_ + "/COM.ini"; }
  std::string PortFileBytes() const { return tty_ + "\r\n"; }

  // The simulator; each start writes a trace of its own, in times of MonotonicUs().
  void StartSimulator();
  void KillSimulator();
  bool SimulatorRunning();
  std::vector<TTraceLine> Trace() const;
  // Frames the program sent so far to the simulator running now.
  size_t RequestsSent() const;

  // The program; `wrapper` runs it under another program (strace, say) and ProgramPid() is then the
  // program's own process, found as the wrapper's child.
  void StartProgram(std::vector<std::string> wrapper = {});
  void KillProgram();
  bool ProgramRunning();
  pid_t ProgramPid();
  TChildProcess& ProgramProcess() { return *program_; }
  double ProgramCpuSeconds();
  // The most memory the program has held, in KiB (VmHWM).
  long ProgramPeakKiB();

  // Its windows on the display.
  std::string MainWindow(TMilliseconds limit = TMilliseconds(20'000));
  std::vector<std::string> MessageBoxes();
  bool WaitForMessageBox(TMilliseconds limit);
  void DismissMessageBoxes();
  // "Добавить устройство в систему" from the menu, as an operator picks it; true once the poll has
  // started (or a message has come up instead).
  bool Rescan();
  // A left click on the indicator of `row` (1 colour bars .. 5 auxiliary input) and channel 1..4 of the
  // first panel; returns MonotonicUs() once the button is released.
  int64_t ClickIndicator(int row, int channel);

  // A poll has ended once it has replaced "COM.ini" (it does when it found a unit): mark, then wait.
  void MarkPortFile();
  bool WaitForPortFileReplaced(TMilliseconds limit);

  // The CPU the program uses over `span`, as seconds of CPU per second.
  double ProgramCpuShare(TMilliseconds span);

 private:
  std::string TracePath() const;
  void PickRescanFromTheMenu();

  TXDisplay* display_;
  std::string units_;
  std::string directory_;
  std::string tty_;
  int simulatorRuns_ = 0;
  unsigned long portFileMark_ = 0;
  std::unique_ptr<TChildProcess> simulator_;
  std::unique_ptr<TChildProcess> program_;
  bool wrapped_ = false;
  std::string mainWindow_;
};
