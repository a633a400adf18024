// The benchmark table, from real runs of orvel-control against orvel-unitsim on a display of their own:
// each poll's wall time against the protocol's floor for 1, 2 and 16 units, the program's CPU share during
// a poll and when idle, click release to the first byte on the wire, start-up to the window shown, and
// peak memory. Prints a Markdown table (bench/table.sh adds the torn-frame row and the machine).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FaultTrials.h"
#include "tests/support/TestEnvironment.h"

namespace {

// The poll's fixed waits: sixteen probes of 250 ms, then for each unit twelve select-and-read pairs with
// 60 ms after each request.
int64_t PollFloorUs(int units) { return 16 * 250'000 + int64_t(units) * 24 * 60'000; }

struct TPollFigures {
  double WallS = 0, FloorS = 0;
  double CpuShare = 0, IdleShare = 0;
  double WindowS = 0;
  long PeakKiB = 0;
};

std::string Addresses(int units) {
  if (units == 1) return "3";
  if (units == 2) return "3,7";
  std::string list;
  for (int a = 1; a <= units; ++a) list += (a > 1 ? "," : "") + std::to_string(a);
  return list;
}

// One start of the program and its poll; the session stays for more measurements when `keep` is given.
TPollFigures MeasurePoll(TXSession& display, int units, std::unique_ptr<TProgramSession>* keep = nullptr) {
  TPollFigures f;
  auto session = std::make_unique<TProgramSession>(display, Addresses(units));
  session->StartSimulator();
  session->MarkPortFile();
  const int64_t spawned = MonotonicUs();
  session->StartProgram();
  session->MainWindow();
  f.WindowS = (MonotonicUs() - spawned) / 1e6;
  WaitUntil([&] { return session->RequestsSent() > 0; }, TMilliseconds(30'000));
  const double cpu0 = session->ProgramCpuSeconds();
  const int64_t t0 = MonotonicUs();
  session->WaitForPortFileReplaced(TMilliseconds(120'000));
  f.CpuShare = (session->ProgramCpuSeconds() - cpu0) / ((MonotonicUs() - t0) / 1e6);
  std::vector<TTraceLine> requests;
  for (auto& line : session->Trace())
    if (line.FromHost() && line.Kind == "frame") requests.push_back(line);
  // From the first request's first bit to the end of the wait after the last one: a probe's 250 ms (the
  // poll ends with the probe of address 16 unless that unit answered) or a read's 60 ms.
  if (!requests.empty()) {
    const int64_t lastWaitUs = requests.back().Command == 9 ? 250'000 : 60'000;
    f.WallS = (requests.back().EndUs + lastWaitUs - requests.front().StartUs) / 1e6;
  }
  f.FloorS = PollFloorUs(units) / 1e6;
  f.IdleShare = session->ProgramCpuShare(TMilliseconds(5000));
  f.PeakKiB = session->ProgramPeakKiB();
  if (keep) *keep = std::move(session);
  return f;
}

}  // namespace

int main() {
  TScratchDirectory scratch(false);
  TXSession display(scratch.Path());
  std::vector<std::string> rows;
  char text[256];

  TPollFigures two;
  std::unique_ptr<TProgramSession> clicking;
  for (int units : {1, 2, 16}) {
    const TPollFigures f = units == 2 ? (two = MeasurePoll(display, units, &clicking)) : MeasurePoll(display, units);
    std::snprintf(text, sizeof text, "| poll of %d unit%s: wall time / protocol floor | %.3f (%.2f s / %.2f s) |",
                  units, units > 1 ? "s" : "", f.WallS / f.FloorS, f.WallS, f.FloorS);
    rows.push_back(text);
  }
  std::snprintf(text, sizeof text, "| program CPU during a poll of 2 units | %.1f %% of one core |", 100 * two.CpuShare);
  rows.push_back(text);
  std::snprintf(text, sizeof text, "| program CPU when idle (5 s after the poll) | %.2f %% of one core |",
                100 * two.IdleShare);
  rows.push_back(text);

  // Colour bars K1 of the first unit, on and off again, a second apart.
  std::vector<double> latenciesMs;
  for (int i = 0; i < 10 && clicking; ++i) {
    const size_t before = clicking->RequestsSent();
    const int64_t released = clicking->ClickIndicator(1, 1);
    if (WaitUntil([&] { return clicking->RequestsSent() > before; }, TMilliseconds(5000))) {
      std::vector<TTraceLine> requests;
      for (auto& line : clicking->Trace())
        if (line.FromHost() && line.Kind == "frame") requests.push_back(line);
      latenciesMs.push_back((requests[before].StartUs - released) / 1000.0);
    }
    std::this_thread::sleep_for(TMilliseconds(1000));
  }
  std::sort(latenciesMs.begin(), latenciesMs.end());
  if (!latenciesMs.empty()) {
    std::snprintf(text, sizeof text,
                  "| click release to first byte on the wire (%zu clicks; the release is stamped once the X "
                  "server confirms it, by when the program may have started to write) | median %.1f ms, fastest "
                  "%.1f ms, slowest %.1f ms |",
                  latenciesMs.size(), latenciesMs[latenciesMs.size() / 2], latenciesMs.front(),
                  latenciesMs.back());
    rows.push_back(text);
  }
  clicking.reset();
  std::snprintf(text, sizeof text, "| start-up to the main window shown (2 units) | %.0f ms |", 1000 * two.WindowS);
  rows.push_back(text);
  std::snprintf(text, sizeof text, "| peak memory (VmHWM) after a poll of 2 units | %.1f MiB |", two.PeakKiB / 1024.0);
  rows.push_back(text);

  std::printf("| measure | figure |\n|---|---|\n");
  for (auto& row : rows) std::printf("%s\n", row.c_str());
  return 0;
}
