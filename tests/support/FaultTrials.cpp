#include "tests/support/FaultTrials.h"

#include <filesystem>
#include <thread>

#include "tests/support/TestEnvironment.h"

namespace fs = std::filesystem;

namespace {

// Until the last request goes out: the poll's sixteen probes of 250 ms and, for each unit found, twelve
// reads of two requests with 60 ms after each but the last; a switch's select, select and read, select
// and write, 60 ms apart. Later, nothing is left to fail.
int64_t PollTalksUs(int units) { return 16 * 250'000 + int64_t(units) * 24 * 60'000 - 60'000; }
constexpr int64_t ClickTalksUs = 4 * 60'000;
const TMilliseconds ReportLimit(6000), PollLimit(60'000);

void SleepUntil(int64_t monotonicUs) {
  const int64_t left = monotonicUs - MonotonicUs();
  if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
}

int64_t Uniform(std::mt19937& random, int64_t high) {
  return std::uniform_int_distribution<int64_t>(0, high)(random);
}

// After the fault: is the program up, does it say so, and does it wait without using the CPU.
void Observe(TProgramSession& session, TLinkFaultTrial& trial) {
  trial.Reported = session.WaitForMessageBox(ReportLimit);
  trial.StayedUp = session.ProgramRunning();
  if (trial.StayedUp) trial.IdleCpuShare = session.ProgramCpuShare(TMilliseconds(2000));
  if (!trial.StayedUp) trial.Note = "the program ended: " + session.ProgramProcess().Describe();
}

// The simulator back, the operator acknowledges what is shown and asks for a rescan; recovered when the
// poll that follows finds the unit (a report of registers a starved simulator answered late is
// acknowledged, and noted).
void Recover(TProgramSession& session, TLinkFaultTrial& trial) {
  if (!trial.StayedUp) return;
  session.DismissMessageBoxes();
  session.StartSimulator();
  session.MarkPortFile();
  const size_t before = session.RequestsSent();
  const bool started = session.Rescan();
  int acknowledged = 0;
  trial.Recovered = started && session.WaitForPortFileReplaced(PollLimit, true, &acknowledged);
  // Which step failed, so that a fault of the program is told from one of the trial's own clicking.
  std::string note;
  if (!started)
    note = "the rescan could not be picked from the menu";
  else if (!trial.Recovered)
    note = "the poll after the rescan did not replace COM.ini within a minute (" +
           std::to_string(session.RequestsSent() - before) + " requests)";
  if (acknowledged) note += std::string(note.empty() ? "" : "; ") + std::to_string(acknowledged) +
                            " message(s) acknowledged during the poll";
  if (trial.Note.empty()) trial.Note = note;
}

// The next trial starts from a program that runs, idle with its panels.
void Reset(TProgramSession& session, const TLinkFaultTrial& trial) {
  if (trial.Recovered) return;
  session.KillProgram();
  if (!session.SimulatorRunning()) session.StartSimulator();
  StartProgramAndPoll(session);
}

}  // namespace

std::string StartProgramAndPoll(TProgramSession& session) {
  session.MarkPortFile();
  session.StartProgram();
  if (!session.MainWindow()) {
    std::string seen;
    for (const auto& [window, title] : session.XDisplay().VisibleWindows()) {
      seen += (seen.empty() ? "" : ", ") + ("\"" + title + "\"");
      try {
        const TXSession::TGeometry g = session.XDisplay().Geometry(window);
        seen += " " + std::to_string(g.Width) + "x" + std::to_string(g.Height);
      } catch (const EXSession&) {
      }
    }
    return "the main window did not appear: " + session.ProgramProcess().Describe() + " (" +
           std::to_string(session.ProgramCpuSeconds()) + " s of CPU); on the display: " +
           (seen.empty() ? "nothing" : seen) + "; its threads:\n" + session.ProgramThreads();
  }
  if (!session.WaitForPortFileReplaced(PollLimit, true))
    return "the poll did not end within a minute (" + std::to_string(session.RequestsSent()) + " requests)";
  return {};
}

TLinkFaultTrial SimulatorKilledDuringPoll(TProgramSession& session, std::mt19937& random) {
  TLinkFaultTrial trial;
  session.MarkPortFile();
  if (!session.Rescan() || session.RequestsSent() == 0) {
    trial.Note = "the rescan did not start a poll";
    Reset(session, trial);
    return trial;
  }
  const int64_t start = session.Trace().front().StartUs;
  SleepUntil(start + Uniform(random, PollTalksUs(1)));
  session.KillSimulator();
  trial.Applied = !session.WaitForPortFileReplaced(TMilliseconds(0));
  Observe(session, trial);
  Recover(session, trial);
  Reset(session, trial);
  return trial;
}

TLinkFaultTrial SimulatorKilledDuringClick(TProgramSession& session, std::mt19937& random) {
  TLinkFaultTrial trial;
  const size_t before = session.RequestsSent();
  const int64_t released = session.ClickIndicator(1, 1);
  SleepUntil(released + Uniform(random, ClickTalksUs));
  const size_t sent = session.RequestsSent() - before;
  session.KillSimulator();
  trial.Applied = sent < 5;
  Observe(session, trial);
  Recover(session, trial);
  Reset(session, trial);
  return trial;
}

TReplaceFaultTrial ProgramKilledWhileReplacingPortFile(TProgramSession& session, std::mt19937& random,
                                                       std::optional<int64_t> killAfterUs) {
  TReplaceFaultTrial trial;
  const std::string strace = FindOnPath("strace");
  if (strace.empty()) {
    trial.Note = "strace is not installed";
    return trial;
  }
  // 200 ms in each fsync and rename: the replacement (fsync of the new file, rename, fsync of the
  // directory) then takes 600 ms instead of a few hundred microseconds.
  constexpr int64_t SlowedUs = 200'000, ReplacementUs = 3 * SlowedUs;
  const std::string old = ReadFileBytes(session.PortFile());
  session.StartProgram({strace, "-f", "--seccomp-bpf", "-qq", "-o", "/dev/null", "-e", "trace=fsync,rename",
                        "-e", "inject=fsync:delay_enter=" + std::to_string(SlowedUs), "-e",
                        "inject=rename:delay_enter=" + std::to_string(SlowedUs)});
  auto temporaries = [&] {
    std::vector<std::string> names;
    std::error_code e;
    for (auto& entry : fs::directory_iterator(session.Directory(), e))
      if (entry.path().filename().string().find(".orvel-") != std::string::npos)
        names.push_back(entry.path().filename().string());
    return names;
  };
  int64_t appeared = 0;
  int acknowledged = 0;
  int64_t lastLook = 0;
  const size_t before = session.RequestsSent();
  WaitUntil([&] {
    if (!temporaries().empty()) appeared = MonotonicUs();
    // A report of registers a starved simulator answered late holds the replacement until it is answered.
    if (!appeared && session.AcknowledgeMessageBoxes(&lastLook)) ++acknowledged;
    return appeared != 0 || !session.ProgramRunning();
  }, PollLimit);
  if (!appeared) {
    trial.Note = "the program never replaced COM.ini (" + std::to_string(session.RequestsSent() - before) +
                 " requests, " + std::to_string(acknowledged) + " message(s) acknowledged, " +
                 (session.ProgramRunning() ? "still running" : session.ProgramProcess().Describe()) + ")";
    session.KillProgram();
    return trial;
  }
  SleepUntil(appeared + killAfterUs.value_or(Uniform(random, ReplacementUs + 100'000)));
  trial.BeforeRename = !temporaries().empty();
  const int64_t killedAt = MonotonicUs();
  session.KillProgram();
  trial.Applied = trial.BeforeRename || killedAt - appeared < ReplacementUs;

  const std::string now = ReadFileBytes(session.PortFile());
  trial.Empty = now.empty();
  trial.Torn = !trial.Empty && now != old && now != session.PortFileBytes();
  if (trial.Empty || trial.Torn) trial.Note = "COM.ini holds \"" + now + "\"";
  // The next start clears what the killed one left, before its windows appear.
  session.StartProgram();
  session.MainWindow();
  trial.LeftOver = !temporaries().empty();
  if (trial.LeftOver) trial.Note = "left over: " + temporaries().front();
  session.KillProgram();
  // A start killed that early leaves nothing, but a trial must not count another's leftovers.
  for (auto& name : temporaries()) fs::remove(fs::path(session.Directory()) / name);
  return trial;
}
