// The costs a later change to the link might shift: the checksum and the building of one frame, and a
// whole poll of two units in virtual time. Compare ratios within one run; absolute times say little on a
// shared machine.
#include <benchmark/benchmark.h>

#include "link/Frame.h"
#include "link/FrameCrc.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "tests/support/ProgramRig.h"

namespace {

// The largest frame the program sends: a select, 13 bytes before the checksum.
const std::vector<uint8_t> SelectFrame = BuildFrame(3, cmdSelect, {0x4E, 0, 0, 0});

void FrameChecksum(benchmark::State& state) {
  for (auto _ : state) {
    uint16_t crc = FrameCrc(SelectFrame.data(), SelectFrame.size() - 2);
    benchmark::DoNotOptimize(crc);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FrameChecksum);

// The same checksum the way the transmitter keeps it, a byte at a time over the two running bytes.
void FrameChecksumByteAtATime(benchmark::State& state) {
  for (auto _ : state) {
    uint8_t low = 0xFF, high = 0xFF;
    for (size_t i = 0; i + 2 < SelectFrame.size(); ++i) FrameCrc(SelectFrame[i], low, high);
    benchmark::DoNotOptimize(low);
    benchmark::DoNotOptimize(high);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FrameChecksumByteAtATime);

void FrameBuilding(benchmark::State& state) {
  uint8_t code = 0;
  for (auto _ : state) {
    auto frame = BuildFrame(3, cmdSelect, {code++, 0, 0, 0});
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FrameBuilding);

// The program's real windows and link against units 3 and 7 on the virtual clock: each iteration is one
// "Добавить устройство в систему", 16 probes and the 24 reads of each unit. Reports the virtual time of a
// poll beside the real time it took.
void PollOfTwoUnits(benchmark::State& state) {
  TProgramRig rig;
  rig.AddUnit(3).LoadFactoryDefaults();
  rig.AddUnit(7).LoadFactoryDefaults();
  WriteFileBytes("COM.ini", "COM1\r\n");
  rig.Start();
  if (FoundCount != 2) {
    state.SkipWithError("the first poll did not find both units");
    return;
  }
  int64_t virtualUs = 0;
  for (auto _ : state) {
    const int64_t start = rig.Tk.NowUs();
    RescanBus();
    rig.Tk.RunUntilIdle();
    virtualUs += rig.Tk.NowUs() - start;
    rig.Bus.ClearTrace();  // the trace would otherwise grow with every iteration
  }
  if (FoundCount != 2) state.SkipWithError("a poll did not find both units");
  state.counters["virtual_s_per_poll"] =
      benchmark::Counter(double(virtualUs) / 1e6, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PollOfTwoUnits)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
