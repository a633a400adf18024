#pragma once
// A program of the build run as a separate process in a directory of its own, its output kept in files,
// so a test can watch it from outside as the operator's system would: alive, busy or idle, ended how.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TChildProcess {
 public:
  struct TOptions {
    std::string Program;
    std::vector<std::string> Arguments;
    std::string WorkingDirectory;
    std::vector<std::string> Environment;  // NAME=VALUE added to (or replacing in) the test's own
    std::string OutputFile;                // standard output and error; /dev/null when empty
  };

  explicit TChildProcess(const TOptions& options);
  // Kills a process that is still running, so a failed test leaves nothing behind.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }
  // True while it has not ended; reaps it when it has.
  bool Running();
  void Signal(int signal);
  // Waits up to `limit` for the end; false if it is still running then.
  bool WaitForExit(std::chrono::milliseconds limit);

  // How it ended (valid once Running() is false).
  bool Exited() const;
  int ExitCode() const;
  bool Signalled() const;
  int TermSignal() const;
  std::string Describe() const;

  // User plus system CPU time used so far, in seconds.
  double CpuSeconds() const;
  std::string Output() const;

 private:
  TOptions options_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

// Checks `condition` every few milliseconds until it holds or `limit` has passed; true if it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Ends a unit simulator as an adapter is pulled out: at once (SIGKILL), and with the link to its terminal,
// as the system removes a pulled adapter's device. Left behind, the link would lead a program that waits
// for its port back to whatever terminal next gets that number, another test's, say.
void PullSimulator(TChildProcess& simulator, const std::string& link);

// User plus system CPU time a process has used so far, in seconds; 0 once it is gone.
double ProcessCpuSeconds(pid_t pid);

// The id of a process that has ended and been reaped, so it names no running process (until the system
// hands it out again, which takes a while).
pid_t EndedProcessId();
