#include "tests/support/XSession.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;
using namespace std::string_literals;

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path && *path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

namespace {

std::string Required(const std::string& program) {
  const std::string path = FindOnPath(program);
  if (path.empty()) throw EXSession(program + " is not installed (scripts/setup.sh installs it)");
  return path;
}

// The number Xvfb writes on its own line once it listens; -1 until then.
int DisplayNumber(const std::string& output) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line.size() < 6 && line.find_first_not_of("0123456789") == std::string::npos)
      return std::stoi(line);
  return -1;
}

}  // namespace

TXSession::TXSession(const std::string& scratch, int width, int height) : scratch_(scratch) {
  const std::string xvfb = Required("Xvfb");
  Required("xdotool");
  // Qt wants a private runtime directory; the test's scratch directory serves.
  runtimeDir_ = scratch_ + "/xdg-runtime";
  ::mkdir(runtimeDir_.c_str(), 0700);
  // -displayfd lets the server take the first free display itself: no race with other sessions on the
  // machine choosing the same number.
  const std::string log = scratch_ + "/xvfb.out";
  server_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
      xvfb,
      {"-displayfd", "1", "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24",
       "-nolisten", "tcp"},
      scratch_,
      {},
      log});
  int number = -1;
  WaitUntil([&] { return (number = DisplayNumber(server_->Output())) >= 0 || !server_->Running(); }, 30s);
  if (number < 0) throw EXSession("Xvfb did not come up: " + server_->Describe() + "\n" + server_->Output());
  display_ = ":" + std::to_string(number);
}

TXSession::~TXSession() {
  if (!server_ || !server_->Running()) return;
  // Ended by SIGTERM, the server removes its lock file and socket.
  server_->Signal(SIGTERM);
  server_->WaitForExit(10s);
}

TChildProcess::TOptions TXSession::On(TChildProcess::TOptions options) const {
  for (const std::string& entry : {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"s, "XDG_RUNTIME_DIR=" + runtimeDir_}) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(options.Environment, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    options.Environment.push_back(entry);
  }
  return options;
}

std::unique_ptr<TChildProcess> TXSession::StartClient(const TChildProcess::TOptions& options,
                                                      const std::function<bool()>& up,
                                                      std::chrono::milliseconds limit) {
  for (int attempt = 1;; ++attempt) {
    auto client = std::make_unique<TChildProcess>(On(options));
    WaitUntil([&] { return up() || !client->Running(); }, limit);
    if (client->Running() || attempt == 3 || client->Output().find("could not connect to display") == std::string::npos)
      return client;
  }
}

std::string TXSession::Run(const std::string& program, const std::vector<std::string>& arguments) {
  const std::string output = scratch_ + "/x-client-" + std::to_string(++runs_) + ".out";
  TChildProcess client({Required(program), arguments, scratch_, {"DISPLAY=" + display_}, output});
  if (!client.WaitForExit(15s)) throw EXSession(program + " did not end on " + display_);
  const std::string text = client.Output();
  ::unlink(output.c_str());
  if (!client.Exited() || client.ExitCode() != 0) {
    std::string command = program;
    for (auto& a : arguments) command += " " + a;
    throw EXSession(command + ": " + client.Describe() + "\n" + text);
  }
  return text;
}

TXSession::TWindow TXSession::FindWindow(const std::string& title, std::chrono::milliseconds limit,
                                        const std::function<bool(const TGeometry&)>& accept) {
  TWindow found = 0;
  WaitUntil(
      [&] {
        for (const auto& [window, name] : VisibleWindows()) {
          if (name != title) continue;
          try {
            if (accept && !accept(Geometry(window))) continue;
          } catch (const EXSession&) {
            continue;  // gone meanwhile
          }
          found = window;
          return true;
        }
        return false;
      },
      limit);
  return found;
}

std::vector<std::pair<TXSession::TWindow, std::string>> TXSession::VisibleWindows() {
  std::vector<std::pair<TWindow, std::string>> windows;
  std::string ids;
  try {
    ids = Run("xdotool", {"search", "--onlyvisible", "--name", ".*"});
  } catch (const EXSession&) {
    return windows;  // xdotool fails when nothing matches
  }
  std::istringstream lines(ids);
  for (std::string id; std::getline(lines, id);) {
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) continue;
    try {
      std::string name = Run("xdotool", {"getwindowname", id});
      if (!name.empty() && name.back() == '\n') name.pop_back();
      windows.emplace_back(std::stoul(id), name);
    } catch (const EXSession&) {
      // gone meanwhile
    }
  }
  return windows;
}

std::vector<TXSession::TWindow> TXSession::ProgramWindows(int pid) {
  std::vector<TWindow> windows;
  std::string ids;
  try {
    ids = Run("xdotool", {"search", "--onlyvisible", "--pid", std::to_string(pid)});
  } catch (const EXSession&) {
    return windows;  // xdotool fails when nothing matches
  }
  std::istringstream lines(ids);
  for (std::string id; lines >> id;)
    if (id.find_first_not_of("0123456789") == std::string::npos) windows.push_back(std::stoul(id));
  return windows;
}

bool TXSession::IsDialog(TWindow window) {
  try {
    return Run("xprop", {"-id", std::to_string(window), "_NET_WM_WINDOW_TYPE"}).find("_NET_WM_WINDOW_TYPE_DIALOG") !=
           std::string::npos;
  } catch (const EXSession&) {
    return false;  // gone meanwhile
  }
}

TXSession::TWindow TXSession::TakingInput(const std::vector<TWindow>& windows) {
  // Without a window manager the windows are the root's children, which xwininfo lists from the top of
  // the stack down.
  std::vector<TWindow> stack;
  std::istringstream lines(Run("xwininfo", {"-root", "-children"}));
  for (std::string line; std::getline(lines, line);) {
    const auto id = line.find("0x");
    if (id == std::string::npos || line.find('"', id) == std::string::npos) continue;
    const TWindow window = std::stoul(line.substr(id), nullptr, 16);
    if (std::find(windows.begin(), windows.end(), window) != windows.end()) stack.push_back(window);
  }
  for (TWindow window : stack) {
    try {
      if (Run("xprop", {"-id", std::to_string(window), "_NET_WM_STATE"}).find("_NET_WM_STATE_MODAL") != std::string::npos)
        return window;
    } catch (const EXSession&) {
      // gone meanwhile
    }
  }
  return stack.empty() ? 0 : stack.front();
}

bool TXSession::Installed() {
  return !FindOnPath("Xvfb").empty() && !FindOnPath("xdotool").empty() && !FindOnPath("xprop").empty();
}

TXSession::TGeometry TXSession::Geometry(TWindow window) {
  std::istringstream lines(Run("xdotool", {"getwindowgeometry", "--shell", std::to_string(window)}));
  TGeometry g;
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") g.X = value;
    if (key == "Y") g.Y = value;
    if (key == "WIDTH") g.Width = value;
    if (key == "HEIGHT") g.Height = value;
  }
  return g;
}

void TXSession::Click(TWindow window, int x, int y, int button) {
  // The pointer arrives first and rests a moment, as a hand would: a widget takes a press only once it
  // knows the pointer is over it.
  Run("xdotool", {"mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y),
                  "sleep", "0.2", "click", std::to_string(button)});
}

void TXSession::Focus(TWindow window) { Run("xdotool", {"windowfocus", "--sync", std::to_string(window)}); }

void TXSession::Type(const std::string& text) { Run("xdotool", {"type", "--delay", "50", text}); }

void TXSession::Keys(const std::string& keys) {
  std::vector<std::string> arguments{"key", "--delay", "100"};
  std::istringstream words(keys);
  for (std::string key; words >> key;) arguments.push_back(key);
  Run("xdotool", arguments);
}

bool TXSession::Screenshot(const std::string& file, TWindow window) {
  try {
    Run("import", {"-window", window ? std::to_string(window) : "root", file});
    return true;
  } catch (const EXSession&) {
    return false;
  }
}
