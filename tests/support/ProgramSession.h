#pragma once
// The programs as an operator meets them, for the fault trials and the benchmark table: orvel-control on
// a display of its own (TXSession) against orvel-unitsim on a pseudo-terminal, in a working directory of
// their own, and watched from outside only: the windows on the display, the simulator's wire trace, the
// files, and the processes' CPU time and memory.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/WireTraceFile.h"
#include "tests/support/XSession.h"

using TMilliseconds = std::chrono::milliseconds;

// The system's monotonic clock in microseconds: the simulator's trace times with --monotonic-times.
int64_t MonotonicUs();

class TProgramSession {
 public:
  // `units`: the simulator's addresses, e.g. "3" or "3,7".
  TProgramSession(TXSession& display, std::string units);
  ~TProgramSession();
  TProgramSession(const TProgramSession&) = delete;
  TProgramSession& operator=(const TProgramSession&) = delete;

  const std::string& Directory() const { return directory_; }
  TXSession& XDisplay() { return display_; }
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
  // What each of the program's threads is doing: their stacks where gdb is installed, else their states;
  // for the failure text of a program that does not get on.
  std::string ProgramThreads();

  // Its windows on the display.
  // A minute: Qt's start on a display can take that long when both cores are overloaded.
  TXSession::TWindow MainWindow(TMilliseconds limit = TMilliseconds(60'000));
  std::vector<TXSession::TWindow> MessageBoxes();
  bool WaitForMessageBox(TMilliseconds limit);
  void DismissMessageBoxes();
  // Whether a box shows, looking no more than four times a second (going by `lastLookUs`); and the same,
  // answering the boxes with OK.
  bool LookForMessageBoxes(int64_t* lastLookUs);
  bool AcknowledgeMessageBoxes(int64_t* lastLookUs);
  // "Добавить устройство в систему" from the menu, as an operator picks it; true once the poll has
  // started (or a message has come up instead).
  bool Rescan();
  // A left click on the indicator of `row` (1 colour bars .. 5 auxiliary input) and channel 1..4 of the
  // first panel, straight through the X server's XTEST extension; returns MonotonicUs() once the server
  // has taken the release.
  int64_t ClickIndicator(int row, int channel);

  // A poll has ended once it has replaced "COM.ini" (it does when it found a unit): mark, then wait.
  // With `acknowledge`, the boxes that come up meanwhile are answered with OK as an operator would (a
  // simulator starved by a busy machine leaves registers unread, and the poll ends only once that report
  // is acknowledged); `acknowledged` then counts them.
  void MarkPortFile();
  bool WaitForPortFileReplaced(TMilliseconds limit, bool acknowledge = false, int* acknowledged = nullptr);

  // The CPU the program uses over `span`, as seconds of CPU per second.
  double ProgramCpuShare(TMilliseconds span);

 private:
  std::string TracePath() const;
  void PickRescanFromTheMenu();
  void* Connection();  // the Xlib Display, opened at the first use

  TXSession& display_;
  void* connection_ = nullptr;
  std::string units_;
  std::string directory_;
  std::string tty_;
  int simulatorRuns_ = 0;
  unsigned long portFileMark_ = 0;
  std::unique_ptr<TChildProcess> simulator_;
  std::unique_ptr<TChildProcess> program_;
  bool wrapped_ = false;
  pid_t wrappedPid_ = -1;  // the program under the wrapper, once it has started
  TXSession::TWindow mainWindow_ = 0;
};
