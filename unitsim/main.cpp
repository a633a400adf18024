// orvel-unitsim: simulated units served over a pseudo-terminal, for the demo and the end-to-end tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "unitsim/PtyTransport.h"
#include "unitsim/RegisterFile.h"
#include "unitsim/SimBus.h"
#include "unitsim/UnitSimOptions.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  const char code = char(signal);
  (void)!write(gSignalPipe[1], &code, 1);
  errno = saved;
}

bool InstallSignals() {
  if (pipe(gSignalPipe) != 0) return false;
  for (int fd : gSignalPipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGUSR1})
    if (sigaction(s, &action, nullptr) != 0) return false;
  signal(SIGPIPE, SIG_IGN);
  return true;
}

void BuildUnits(const TUnitSimOptions& options, TSimBus& bus) {
  std::vector<TUnitSetup> setups;
  if (!options.Registers.empty()) setups = LoadRegisterFile(options.Registers);
  auto setupFor = [&](uint8_t address) -> const TUnitSetup* {
    for (auto& s : setups)
      if (s.Address == address) return &s;
    return nullptr;
  };
  if (!options.Units.empty()) {
    for (auto& s : setups) {
      bool listed = false;
      for (auto a : options.Units) listed = listed || a == s.Address;
      if (!listed)
        throw EUsage(options.Registers + ":" + std::to_string(s.Line) + ": sets up unit " +
                     std::to_string(s.Address) + ", which --units leaves out");
    }
    for (auto address : options.Units) {
      auto& unit = bus.AddUnit(address);
      if (auto* s = setupFor(address)) s->ApplyTo(unit);
    }
  } else if (!setups.empty()) {
    for (auto& s : setups) s.ApplyTo(bus.AddUnit(s.Address));
  } else {
    bus.AddUnit(1);
  }
  if (options.DropGapUs) bus.SetDropGapUs(*options.DropGapUs);
  if (options.DelayUs)
    for (auto* unit : bus.Units()) unit->ReplyDelayUs = *options.DelayUs;
  for (auto& f : options.Faults) {
    auto* unit = bus.FindUnit(f.Address);
    if (!unit) throw EUsage(f.Text + ": there is no unit at address " + std::to_string(f.Address));
    unit->AddFault(f.Fault);
  }
}

// Written beside the target and renamed over it, so a reader never sees half a file.
bool WriteState(const std::string& path, TSimBus& bus) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    auto lock = bus.Lock();
    const auto all = bus.Units();
    WriteUnitState(out, std::vector<const TSimUnit*>(all.begin(), all.end()));
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

class TPtyHost : public TSimHost {
 public:
  explicit TPtyHost(TPtyTransport& pty) : pty_(pty) {}
  void HostReceive(uint8_t byte, int64_t) override {
    if (!pty_.Write(byte) && !warned_) {
      std::fprintf(stderr, "orvel-unitsim: the terminal's buffer is full; reply bytes are lost\n");
      warned_ = true;
    }
  }

 private:
  TPtyTransport& pty_;
  bool warned_ = false;
};

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "orvel-unitsim: %s\n", message.c_str());
  if (code == 2) std::fprintf(stderr, "Try 'orvel-unitsim --help'.\n");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  TUnitSimOptions options;
  try {
    options = ParseUnitSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsage& e) {
    return Fail(2, e.what());
  }
  if (options.Help) {
    std::fputs(UnitSimHelp().c_str(), stdout);
    return 0;
  }

  TSimBus bus;
  TSimSteadyClock clock(options.MonotonicTimes);
  bus.SetClock(&clock);
  try {
    BuildUnits(options, bus);
  } catch (const ERegisterFile& e) {
    return Fail(2, e.what());
  } catch (const EUsage& e) {
    return Fail(2, e.what());
  }

  std::FILE* trace = nullptr;
  if (!options.Trace.empty()) {
    trace = std::fopen(options.Trace.c_str(), "w");
    if (!trace) return Fail(2, "cannot write the trace file " + options.Trace + ": " + std::strerror(errno));
    bus.OnTrace = [trace](const TWireFrame& frame) {
      std::fputs(WireFrameJson(frame).c_str(), trace);
      std::fputc('\n', trace);
      std::fflush(trace);
    };
  }
  if (!InstallSignals()) return Fail(1, std::string("cannot install the signal handlers: ") + std::strerror(errno));

  int exitCode = 0;
  try {
    TPtyTransport pty;
    if (!options.Link.empty()) {
      try {
        pty.CreateLink(options.Link);
      } catch (const EPty& e) {
        return Fail(2, e.what());
      }
    }
    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);

    TPtyHost host(pty);
    bus.AttachHost(&host);
    std::vector<uint8_t> buffer(4096);
    bool running = true;
    while (running) {
      bus.RunDue(clock.NowUs());
      const int64_t next = bus.NextDueUs();
      timespec timeout{};
      timespec* wait = nullptr;
      if (next >= 0) {
        const int64_t us = std::max<int64_t>(0, next - clock.NowUs());
        timeout.tv_sec = us / 1'000'000;
        timeout.tv_nsec = long(us % 1'000'000) * 1000;
        wait = &timeout;
      }
      pollfd fds[2] = {{pty.MasterFd(), POLLIN, 0}, {gSignalPipe[0], POLLIN, 0}};
      if (ppoll(fds, 2, wait, nullptr) < 0) {
        if (errno == EINTR) continue;
        throw EPty(std::string("poll: ") + std::strerror(errno));
      }
      if (fds[1].revents & POLLIN) {
        char code;
        while (read(gSignalPipe[0], &code, 1) == 1) {
          if (code == SIGUSR1 && !options.State.empty() && !WriteState(options.State, bus))
            std::fprintf(stderr, "orvel-unitsim: cannot write the state file %s\n", options.State.c_str());
          if (code == SIGINT || code == SIGTERM) running = false;
        }
      }
      if (fds[0].revents & POLLIN) {
        const size_t n = pty.Read(buffer.data(), buffer.size());
        if (n) bus.HostWrite(buffer.data(), n, !pty.LineMatches());
      } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Our own slave descriptor keeps the terminal up, so this is a real failure, not a closed port.
        throw EPty("the pseudo-terminal hung up");
      }
    }
    bus.DetachHost(&host);
  } catch (const EPty& e) {
    exitCode = Fail(1, e.what());
  }
  if (!options.State.empty() && !WriteState(options.State, bus))
    std::fprintf(stderr, "orvel-unitsim: cannot write the state file %s\n", options.State.c_str());
  if (trace) std::fclose(trace);
  return exitCode;
}
