// What reaching the units through a serial device server costs: the program's real windows and link, in
// real time, polling units 3 and 7 of orvel-unitsim on its pseudo-terminal directly, through ser2net over
// RFC 2217 and through ser2net over raw TCP, all on loopback. The ratios to the local poll are the result;
// the poll itself is mostly its fixed waits, so a ratio near 1 says the network adds next to nothing.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/Application.h"
#include "link/LinkOperations.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Ser2net.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/QtToolkit.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void PollThroughSer2netAgainstTheLocalTerminal(benchmark::State& state) {
  if (!TSer2net::Installed()) {
    state.SkipWithError("ser2net is not installed (scripts/setup.sh installs it)");
    return;
  }
  EnsureApplication();
  TQtToolkit tk;
  SetToolkit(&tk);
  TScratchDirectory scratch;
  const std::string dir = scratch.Path();
  // Each way to the units has a bus of its own, so none waits for another to let its terminal go.
  std::vector<std::unique_ptr<TChildProcess>> sims;
  std::string ttys[3];
  for (int i = 0; i < 3; ++i) {
    const std::string own = dir + "/bus" + std::to_string(i);
    std::filesystem::create_directory(own);
    ttys[i] = own + "/tty";
    sims.push_back(std::make_unique<TChildProcess>(TChildProcess::TOptions{
        BinDir() + "/orvel-unitsim",
        {"--units", "3,7", "--registers", SourceDir() + "/unitsim/demo-registers.txt", "--link", ttys[i]},
        own,
        {},
        own + "/unitsim.out"}));
    if (!WaitUntil([&] { return FileExists(ttys[i]); }, 10s)) {
      state.SkipWithError("the simulator did not come up");
      SetToolkit(nullptr);
      return;
    }
  }
  TSer2net rfc2217(dir + "/bus1", ttys[1]), tcp(dir + "/bus2", ttys[2]);
  if (!rfc2217.Up() || !tcp.Up()) {
    state.SkipWithError("ser2net did not come up");
    SetToolkit(nullptr);
    return;
  }
  const std::string tty = ttys[0];
  WriteFileBytes(dir + "/COM.ini", tty + "\r\n");
  const ino_t written = Inode(dir + "/COM.ini");
  {
    TApplicationWindows windows;
    // Keeps the loop waking while the start-up runs on its own, and answers a box nobody else would: a
    // reply late on a machine that is too busy (counted, as that poll took longer for a reason of its own).
    int boxes = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ++boxes;
        dialog->done(0);
      }
    });
    tick.start(10);
    windows.Form1->show();
    const auto limit = Clock::now() + 120s;
    while (Inode(dir + "/COM.ini") == written && Clock::now() < limit) tk.ProcessMessages();

    const std::string names[3] = {tty, rfc2217.Rfc2217Name(), tcp.TcpName()};
    double seconds[3] = {};
    int polls = 0;
    bool allFound = FoundCount == 2;
    try {
      for (auto _ : state) {
        // Alternating the order cancels a drift of the machine's load.
        for (int k = 0; k < 3; ++k) {
          const int i = polls % 2 ? 2 - k : k;
          TComPort& port = windows.Form1->ComPort1;
          port.Close();
          port.SetPort(names[i]);
          port.Open();
          const auto start = Clock::now();
          RescanBus();
          seconds[i] += std::chrono::duration<double>(Clock::now() - start).count();
          allFound = allFound && FoundCount == 2;
        }
        ++polls;
      }
      windows.Form1->ComPort1.Close();
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      SetToolkit(nullptr);
      return;
    }
    if (!allFound) state.SkipWithError("a poll did not find both units");
    state.counters["message_boxes"] = boxes;
    state.counters["local_s"] = seconds[0] / polls;
    state.counters["rfc2217_s"] = seconds[1] / polls;
    state.counters["tcp_s"] = seconds[2] / polls;
    state.counters["rfc2217_ratio"] = seconds[1] / seconds[0];
    state.counters["tcp_ratio"] = seconds[2] / seconds[0];
    std::printf("Poll of units 3 and 7, %d each: local %.3f s, RFC 2217 %.3f s, raw TCP %.3f s\n", polls,
                seconds[0] / polls, seconds[1] / polls, seconds[2] / polls);
    std::printf("RFC 2217 / local terminal: %.4f    raw TCP / local terminal: %.4f    (%s)\n",
                seconds[1] / seconds[0], seconds[2] / seconds[0], TSer2net::Version(dir).c_str());
  }
  SetToolkit(nullptr);
}
BENCHMARK(PollThroughSer2netAgainstTheLocalTerminal)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
