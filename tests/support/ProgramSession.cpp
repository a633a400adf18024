#include "tests/support/ProgramSession.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/TestEnvironment.h"

// Last: Xlib defines names (Status, None) that other headers use.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace fs = std::filesystem;

namespace {

constexpr char MainTitle[] = "ORVEL Control";
// The captions of the boxes: the error display's, and the link's own.
const std::vector<std::string> BoxTitles = {MainTitle, "Error", "Information"};
// The main window's client area at its design height; what it is taller by is the menu bar.
constexpr int ClientHeight = 294;
constexpr int PanelLeft = 80, PanelTop = 15, IndicatorSize = 22;
constexpr int RowTop[6] = {0, 60, 92, 122, 152, 182};

void Pause(int ms) { std::this_thread::sleep_for(TMilliseconds(ms)); }

}  // namespace

int64_t MonotonicUs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

TProgramSession::TProgramSession(TXSession& display, std::string units)
    : display_(display), units_(std::move(units)) {
  std::string pattern = (fs::temp_directory_path() / "orvel-session-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a working directory");
  directory_ = pattern;
  tty_ = directory_ + "/tty";
  fs::copy(fs::path(BinDir()) / "Bmp", fs::path(directory_) / "Bmp", fs::copy_options::recursive);
  WriteFileBytes(PortFile(), PortFileBytes());
}

TProgramSession::~TProgramSession() {
  if (connection_) XCloseDisplay(static_cast<Display*>(connection_));
  program_.reset();
  simulator_.reset();
  std::error_code ignored;
  if (!KeepScratch()) fs::remove_all(directory_, ignored);
}

std::string TProgramSession::TracePath() const {
  return directory_ + "/trace-" + std::to_string(simulatorRuns_) + ".jsonl";
}

void TProgramSession::StartSimulator() {
  ++simulatorRuns_;
  simulator_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
      BinDir() + "/orvel-unitsim",
      {"--units", units_, "--link", tty_, "--trace", TracePath(), "--monotonic-times"},
      directory_,
      {},
      directory_ + "/simulator-" + std::to_string(simulatorRuns_) + ".out"});
  // Up once its link points at the new terminal.
  const auto linked = [&] {
    std::error_code e;
    return fs::is_symlink(tty_, e) && fs::exists(TracePath(), e);
  };
  if (!WaitUntil([&] { return linked() || !simulator_->Running(); }, TMilliseconds(10'000)) || !linked())
    throw std::runtime_error("the simulator did not come up: " + simulator_->Describe() + "\n" + simulator_->Output());
}

void TProgramSession::KillSimulator() {
  if (simulator_) PullSimulator(*simulator_, tty_);
}

bool TProgramSession::SimulatorRunning() { return simulator_ && simulator_->Running(); }

std::vector<TTraceLine> TProgramSession::Trace() const {
  return simulatorRuns_ ? ReadWireTrace(TracePath()) : std::vector<TTraceLine>{};
}

size_t TProgramSession::RequestsSent() const {
  size_t n = 0;
  for (auto& line : Trace()) n += line.FromHost() && line.Kind == "frame";
  return n;
}

void TProgramSession::StartProgram(std::vector<std::string> wrapper) {
  static int runs = 0;
  ++runs;
  std::string program = BinDir() + "/orvel-control";
  std::vector<std::string> arguments;
  if (!wrapper.empty()) {
    arguments.assign(wrapper.begin() + 1, wrapper.end());
    arguments.push_back(program);
    program = wrapper.front();
  }
  mainWindow_ = 0;
  wrapped_ = !wrapper.empty();
  wrappedPid_ = -1;
  program_ = display_.StartClient({program, arguments, directory_, {}, directory_ + "/program-" + std::to_string(runs) + ".out"},
                                  [&] { return MainWindow(TMilliseconds(0)) != 0; });
}

void TProgramSession::KillProgram() {
  if (!program_) return;
  const pid_t own = ProgramPid();
  if (own > 0) ::kill(own, SIGKILL);
  program_->Signal(SIGKILL);
  program_->WaitForExit(TMilliseconds(5000));
  // Under a wrapper the program is reaped by whoever inherits it; until then its id still names it.
  if (own > 0) WaitUntil([&] { return ::kill(own, 0) != 0; }, TMilliseconds(5000));
}

bool TProgramSession::ProgramRunning() {
  if (!program_) return false;
  if (!wrapped_) return program_->Running();
  const pid_t own = ProgramPid();
  return own > 0 && ::kill(own, 0) == 0 && program_->Running();
}

pid_t TProgramSession::ProgramPid() {
  if (!program_) return -1;
  if (!wrapped_) return program_->Pid();
  if (wrappedPid_ > 0) return wrappedPid_;
  // Under a wrapper, the program is the wrapper's child, which on an overloaded machine may be a while
  // coming.
  const std::string children = "/proc/" + std::to_string(program_->Pid()) + "/task/" +
                               std::to_string(program_->Pid()) + "/children";
  WaitUntil([&] {
    std::ifstream in(children);
    pid_t pid = -1;
    if (in >> pid) wrappedPid_ = pid;
    return wrappedPid_ > 0 || !program_->Running();
  }, TMilliseconds(30'000));
  return wrappedPid_;
}

double TProgramSession::ProgramCpuSeconds() { return ProcessCpuSeconds(ProgramPid()); }

long TProgramSession::ProgramPeakKiB() {
  std::ifstream in("/proc/" + std::to_string(ProgramPid()) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string TProgramSession::ProgramThreads() {
  const pid_t pid = ProgramPid();
  if (pid <= 0) return "no program";
  const std::string gdb = FindOnPath("gdb");
  if (!gdb.empty()) {
    TChildProcess attach({gdb, {"-p", std::to_string(pid), "-batch", "-ex", "thread apply all bt 15"}, directory_, {},
                          directory_ + "/program-threads.out"});
    if (attach.WaitForExit(TMilliseconds(60'000))) {
      // Only the stacks: gdb's own chatter about symbols and the attach goes.
      std::istringstream lines(attach.Output());
      std::string stacks;
      for (std::string line; std::getline(lines, line);)
        if (line.rfind("Thread ", 0) == 0 || line.rfind("#", 0) == 0) stacks += line + "\n";
      if (!stacks.empty()) return stacks;
    }
  }
  std::string states;
  std::error_code e;
  for (auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", e)) {
    std::ifstream stat(task.path() / "stat"), wchan(task.path() / "wchan");
    std::string line, channel;
    std::getline(stat, line);
    std::getline(wchan, channel);
    states += line.substr(0, line.find(')') + 4) + " in " + channel + "\n";
  }
  return states;
}

double TProgramSession::ProgramCpuShare(TMilliseconds span) {
  const double before = ProgramCpuSeconds();
  const int64_t start = MonotonicUs();
  std::this_thread::sleep_for(span);
  return (ProgramCpuSeconds() - before) / ((MonotonicUs() - start) / 1e6);
}

TXSession::TWindow TProgramSession::MainWindow(TMilliseconds limit) {
  // Boxes carry the program's name too; the main window is the tall one.
  if (!mainWindow_)
    mainWindow_ = display_.FindWindow(MainTitle, limit, [](const TXSession::TGeometry& g) { return g.Height > 200; });
  return mainWindow_;
}

void* TProgramSession::Connection() {
  if (!connection_) {
    connection_ = XOpenDisplay(display_.Display().c_str());
    if (!connection_) throw EXSession("cannot connect to the X display " + display_.Display());
  }
  return connection_;
}

std::vector<TXSession::TWindow> TProgramSession::MessageBoxes() {
  std::vector<TXSession::TWindow> boxes;
  const TXSession::TWindow main = MainWindow(TMilliseconds(0));
  // The poll's progress window carries the program's name too, but it is no dialog and waits for nobody.
  for (auto& [window, title] : display_.VisibleWindows())
    if (window != main && std::find(BoxTitles.begin(), BoxTitles.end(), title) != BoxTitles.end() &&
        display_.IsDialog(window))
      boxes.push_back(window);
  return boxes;
}

bool TProgramSession::WaitForMessageBox(TMilliseconds limit) {
  int64_t lastLook = 0;
  return WaitUntil([&] { return LookForMessageBoxes(&lastLook); }, limit);
}

void TProgramSession::DismissMessageBoxes() {
  // One after the other: pressing OK on one may bring up the next. A modal box blocks the others, so
  // the one that takes the keys goes first.
  for (int round = 0; round < 20; ++round) {
    const auto boxes = MessageBoxes();
    if (boxes.empty()) return;
    try {
      const TXSession::TWindow box = display_.TakingInput(boxes);
      if (!box) continue;
      display_.Focus(box);
      display_.Keys("Return");
    } catch (const EXSession&) {
      // gone meanwhile
    }
    Pause(200);
  }
}

bool TProgramSession::Rescan() {
  // A busy machine may open the menu after the keys have gone elsewhere: try again until the poll starts.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const size_t before = RequestsSent();
    PickRescanFromTheMenu();
    int64_t lastLook = 0;
    if (WaitUntil([&] { return RequestsSent() > before || LookForMessageBoxes(&lastLook); }, TMilliseconds(3000)))
      return true;
    display_.Keys("Escape Escape");
  }
  return false;
}

void TProgramSession::PickRescanFromTheMenu() {
  const TXSession::TWindow main = MainWindow();
  const TXSession::TGeometry g = display_.Geometry(main);
  // At 80 pixels the menu bar has folded its only menu behind an extension button.
  if (g.Width < 100) {
    display_.Click(main, g.Width - 7, 8);
    Pause(300);
    display_.Keys("Down Right");
    Pause(300);
  } else {
    display_.Click(main, 60, 8);
    Pause(300);
  }
  display_.Keys("Up Return");  // the last entry
}

int64_t TProgramSession::ClickIndicator(int row, int channel) {
  const TXSession::TGeometry g = display_.Geometry(MainWindow());
  const int x = g.X + PanelLeft + 2 + IndicatorSize * (channel - 1) + IndicatorSize / 2;
  const int y = g.Y + (g.Height - ClientHeight) + PanelTop + RowTop[row] + IndicatorSize / 2;
  auto* display = static_cast<Display*>(Connection());
  XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
  XSync(display, False);
  // Apart, as a hand would: the widget takes a press only once it knows the pointer is over it.
  Pause(200);
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XSync(display, False);
  Pause(50);
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XSync(display, False);
  return MonotonicUs();
}

void TProgramSession::MarkPortFile() {
  struct stat st {};
  portFileMark_ = ::stat(PortFile().c_str(), &st) == 0 ? st.st_ino : 0;
}

bool TProgramSession::LookForMessageBoxes(int64_t* lastLookUs) {
  // A look runs xdotool once per window: four times a second is plenty, and leaves the CPU to the programs.
  const int64_t now = MonotonicUs();
  if (now - *lastLookUs < 250'000) return false;
  *lastLookUs = now;
  return !MessageBoxes().empty();
}

bool TProgramSession::AcknowledgeMessageBoxes(int64_t* lastLookUs) {
  if (!LookForMessageBoxes(lastLookUs)) return false;
  DismissMessageBoxes();
  return true;
}

bool TProgramSession::WaitForPortFileReplaced(TMilliseconds limit, bool acknowledge, int* acknowledged) {
  int64_t lastLook = 0;
  return WaitUntil([&] {
    struct stat st {};
    if ((::stat(PortFile().c_str(), &st) == 0 && st.st_ino != portFileMark_) || !ProgramRunning()) return true;
    if (acknowledge && AcknowledgeMessageBoxes(&lastLook) && acknowledged) ++*acknowledged;
    return false;
  }, limit) && ProgramRunning();
}
