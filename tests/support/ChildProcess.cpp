#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

TChildProcess::TChildProcess(const TOptions& options) : options_(options) {
  // Everything the child needs is prepared before the fork: after it, only calls that are safe in a
  // copy of a threaded process.
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (auto& extra : options.Environment) replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) environment.push_back(entry);
  }
  for (auto& extra : options.Environment) environment.push_back(extra);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> arguments{options.Program};
  arguments.insert(arguments.end(), options.Arguments.begin(), options.Arguments.end());
  std::vector<char*> argv;
  for (auto& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  const std::string output = options.OutputFile.empty() ? "/dev/null" : options.OutputFile;
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot create " + output + ": " + std::strerror(errno));
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (!options.WorkingDirectory.empty() && ::chdir(options.WorkingDirectory.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(in);
  if (pid_ < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
}

TChildProcess::~TChildProcess() {
  if (pid_ > 0 && Running()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
  }
}

bool TChildProcess::Running() {
  if (ended_) return false;
  const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
  if (r == pid_) ended_ = true;
  return !ended_;
}

void TChildProcess::Signal(int signal) {
  if (!ended_) ::kill(pid_, signal);
}

bool TChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  return WaitUntil([this] { return !Running(); }, limit);
}

bool TChildProcess::Exited() const { return ended_ && WIFEXITED(status_); }
int TChildProcess::ExitCode() const { return WEXITSTATUS(status_); }
bool TChildProcess::Signalled() const { return ended_ && WIFSIGNALED(status_); }
int TChildProcess::TermSignal() const { return WTERMSIG(status_); }

std::string TChildProcess::Describe() const {
  std::string program = options_.Program.substr(options_.Program.find_last_of('/') + 1);
  if (!ended_) return program + " is still running";
  if (Exited()) return program + " exited with status " + std::to_string(ExitCode());
  return program + " ended by signal " + std::to_string(TermSignal()) + " (" + strsignal(TermSignal()) + ")";
}

void PullSimulator(TChildProcess& simulator, const std::string& link) {
  simulator.Signal(SIGKILL);
  simulator.WaitForExit(std::chrono::seconds(10));
  ::unlink(link.c_str());
}

double TChildProcess::CpuSeconds() const { return ProcessCpuSeconds(pid_); }

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields counted here follow its closing parenthesis.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int n = 3; fields >> field; ++n) {
    if (n == 14) utime = std::stoull(field);
    if (n == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

std::string TChildProcess::Output() const {
  std::ifstream in(options_.OutputFile, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

pid_t EndedProcessId() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}
