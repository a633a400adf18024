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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

int64_t MonotonicUs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return {};
}

TXDisplay::TXDisplay() {
  const std::string xvfb = FindOnPath("Xvfb");
  if (xvfb.empty()) throw std::runtime_error("Xvfb is not installed");
  // Spread over the numbers so that sessions started side by side rarely try the same one.
  for (int n = 100 + int(::getpid() % 400), tries = 0; tries < 50; ++n, ++tries) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
    name_ = ":" + std::to_string(n);
    server_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
        xvfb, {name_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "", {}, ""});
    if (WaitUntil([&] { return fs::exists(socket) || !server_->Running(); }, TMilliseconds(10'000)) &&
        server_->Running())
      return;
    server_.reset();
  }
  throw std::runtime_error("no X display could be started");
}

TXDisplay::~TXDisplay() {
  if (connection_) XCloseDisplay(static_cast<Display*>(connection_));
  if (server_) {
    server_->Signal(SIGTERM);
    server_->WaitForExit(TMilliseconds(5000));
  }
}

int64_t TXDisplay::Click(int x, int y) {
  if (!connection_) connection_ = XOpenDisplay(name_.c_str());
  auto* display = static_cast<Display*>(connection_);
  if (!display) throw std::runtime_error("cannot connect to the X display " + name_);
  XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
  XSync(display, False);
  // Apart, as a hand would: a press and release in one instant may reach the program as one event.
  std::this_thread::sleep_for(TMilliseconds(50));
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XSync(display, False);
  std::this_thread::sleep_for(TMilliseconds(50));
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XSync(display, False);
  return MonotonicUs();
}

std::vector<std::string> TXDisplay::XDoTool(const std::vector<std::string>& arguments) const {
  static const std::string xdotool = FindOnPath("xdotool");
  if (xdotool.empty()) throw std::runtime_error("xdotool is not installed");
  char name[] = "/tmp/orvel-xdotool-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd >= 0) ::close(fd);
  std::vector<std::string> lines;
  {
    TChildProcess run({xdotool, arguments, "", {Environment()}, name});
    run.WaitForExit(TMilliseconds(20'000));
    // What it writes about X errors goes to the same file; only its answers are numbers or KEY=VALUE.
    for (auto& line : Lines(run.Output()))
      if (line.find("rror") == std::string::npos) lines.push_back(line);
  }
  ::unlink(name);
  return lines;
}

TProgramSession::TProgramSession(TXDisplay* display, std::string units)
    : display_(display), units_(std::move(units)) {
  std::string pattern = (fs::temp_directory_path() / "orvel-session-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a working directory");
  directory_ = pattern;
  tty_ = directory_ + "/tty";
  fs::copy(fs::path(BinDir()) / "Bmp", fs::path(directory_) / "Bmp", fs::copy_options::recursive);
  WriteFileBytes(PortFile(), PortFileBytes());
}

TProgramSession::~TProgramSession() {
  program_.reset();
  simulator_.reset();
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
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
  if (!simulator_) return;
  simulator_->Signal(SIGKILL);
  simulator_->WaitForExit(TMilliseconds(5000));
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
  std::vector<std::string> environment;
  if (display_)
    environment = {display_->Environment(), "QT_QPA_PLATFORM=xcb"};
  else
    environment = {"QT_QPA_PLATFORM=offscreen"};
  std::string program = BinDir() + "/orvel-control";
  std::vector<std::string> arguments;
  if (!wrapper.empty()) {
    arguments.assign(wrapper.begin() + 1, wrapper.end());
    arguments.push_back(program);
    program = wrapper.front();
  }
  mainWindow_.clear();
  program_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
      program, arguments, directory_, environment, directory_ + "/program-" + std::to_string(runs) + ".out"});
  wrapped_ = !wrapper.empty();
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
  // Under a wrapper, the program is the wrapper's child.
  const std::string children = "/proc/" + std::to_string(program_->Pid()) + "/task/" +
                               std::to_string(program_->Pid()) + "/children";
  pid_t pid = -1;
  WaitUntil([&] {
    std::ifstream in(children);
    return bool(in >> pid);
  }, TMilliseconds(5000));
  return pid;
}

double TProgramSession::ProgramCpuSeconds() { return ProcessCpuSeconds(ProgramPid()); }

long TProgramSession::ProgramPeakKiB() {
  std::ifstream in("/proc/" + std::to_string(ProgramPid()) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

double TProgramSession::ProgramCpuShare(TMilliseconds span) {
  const double before = ProgramCpuSeconds();
  const int64_t start = MonotonicUs();
  std::this_thread::sleep_for(span);
  return (ProgramCpuSeconds() - before) / ((MonotonicUs() - start) / 1e6);
}

std::string TProgramSession::MainWindow(TMilliseconds limit) {
  if (!mainWindow_.empty() || !display_) return mainWindow_;
  WaitUntil([&] {
    auto ids = display_->XDoTool({"search", "--onlyvisible", "--pid", std::to_string(ProgramPid()), "--name",
                                  std::string("^") + MainTitle + "$"});
    if (!ids.empty()) mainWindow_ = ids.front();
    return !mainWindow_.empty() || !ProgramRunning();
  }, limit);
  return mainWindow_;
}

std::vector<std::string> TProgramSession::MessageBoxes() {
  std::vector<std::string> boxes;
  if (!display_) return boxes;
  const std::string main = MainWindow();
  for (auto& id : display_->XDoTool({"search", "--onlyvisible", "--pid", std::to_string(ProgramPid()), "--name", "."})) {
    if (id == main) continue;
    const auto title = display_->XDoTool({"getwindowname", id});
    if (!title.empty() && std::find(BoxTitles.begin(), BoxTitles.end(), title.front()) != BoxTitles.end())
      boxes.push_back(id);
  }
  return boxes;
}

bool TProgramSession::WaitForMessageBox(TMilliseconds limit) {
  return WaitUntil([&] { return !MessageBoxes().empty(); }, limit);
}

void TProgramSession::DismissMessageBoxes() {
  // One after the other: pressing OK on one may bring up the next.
  for (int round = 0; round < 20; ++round) {
    const auto boxes = MessageBoxes();
    if (boxes.empty()) return;
    for (auto& box : boxes) display_->XDoTool({"key", "--window", box, "Return"});
    Pause(200);
  }
}

bool TProgramSession::Rescan() {
  // A busy machine may open the menu after the keys have gone elsewhere: try again until the poll starts.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const size_t before = RequestsSent();
    PickRescanFromTheMenu();
    if (WaitUntil([&] { return RequestsSent() > before || !MessageBoxes().empty(); }, TMilliseconds(3000)))
      return true;
    display_->XDoTool({"key", "Escape"});
    display_->XDoTool({"key", "Escape"});
  }
  return false;
}

void TProgramSession::PickRescanFromTheMenu() {
  const std::string main = MainWindow();
  int x = 0, y = 0, width = 0;
  for (auto& line : display_->XDoTool({"getwindowgeometry", "--shell", main})) {
    if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
    if (line.rfind("WIDTH=", 0) == 0) width = std::atoi(line.c_str() + 6);
  }
  // At 80 pixels the menu bar has folded its only menu behind an extension button.
  const bool folded = width < 100;
  const int clickX = folded ? x + width - 7 : x + 60;
  display_->XDoTool({"mousemove", "--sync", std::to_string(clickX), std::to_string(y + 8), "click", "1"});
  Pause(300);
  if (folded) {
    display_->XDoTool({"key", "Down"});
    Pause(100);
    display_->XDoTool({"key", "Right"});
    Pause(300);
  }
  display_->XDoTool({"key", "Up"});  // the last entry
  Pause(100);
  display_->XDoTool({"key", "Return"});
}

int64_t TProgramSession::ClickIndicator(int row, int channel) {
  const std::string main = MainWindow();
  int x = 0, y = 0, height = 0;
  for (auto& line : display_->XDoTool({"getwindowgeometry", "--shell", main})) {
    if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
    if (line.rfind("HEIGHT=", 0) == 0) height = std::atoi(line.c_str() + 7);
  }
  const int centreX = x + PanelLeft + 2 + IndicatorSize * (channel - 1) + IndicatorSize / 2;
  const int centreY = y + (height - ClientHeight) + PanelTop + RowTop[row] + IndicatorSize / 2;
  return display_->Click(centreX, centreY);
}

void TProgramSession::MarkPortFile() {
  struct stat st {};
  portFileMark_ = ::stat(PortFile().c_str(), &st) == 0 ? st.st_ino : 0;
}

bool TProgramSession::WaitForPortFileReplaced(TMilliseconds limit) {
  return WaitUntil([&] {
    struct stat st {};
    return (::stat(PortFile().c_str(), &st) == 0 && st.st_ino != portFileMark_) || !ProgramRunning();
  }, limit) && ProgramRunning();
}
