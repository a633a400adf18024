// The link as the program runs it, in real time: the system's serial backend on the pseudo-terminal of
// orvel-unitsim, the port's event thread, and the Qt binding with real timers.
#include <gtest/gtest.h>

#include <signal.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/Link.h"
#include "serial/ComPort.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TraceFile.h"
#include "toolkit/QtToolkit.h"
#include "unitsim/SimTrace.h"

namespace {

TEST(LinkOverAPseudoTerminal, ProbesAndReadsARegisterOfASimulatedUnit) {
  TScratchDirectory scratch(false);
  const std::string link = scratch.Path() + "/tty", trace = scratch.Path() + "/trace.jsonl";
  TChildProcess sim({BinDir() + "/orvel-unitsim", {"--units", "3", "--link", link, "--trace", trace}, "", {},
                     scratch.Path() + "/output.txt"});
  ASSERT_TRUE(sim.Running());
  ASSERT_TRUE(WaitUntil([&] { return FileExists(link); }, std::chrono::seconds(10))) << sim.Output();

  EnsureApplication();
  TQtToolkit tk;
  SetToolkit(&tk);
  ResetLinkState();
  // Nobody would press OK on a box in this test; one that opens is closed and counts as a failure.
  std::vector<std::string> boxes;
  QTimer watchdog;
  watchdog.setInterval(50);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      boxes.push_back(dialog->windowTitle().toStdString());
      dialog->done(0);
    }
  });
  watchdog.start();

  bool present3 = false, present4 = true;
  uint8_t value = 0;
  // How long the probe and the read waited, on this side of the line.
  using Clock = std::chrono::steady_clock;
  Clock::duration probeWait{}, readWait{};
  {
    TComPort port;  // the system's own backend
    ApplyUnitLineSettings(port);
    port.SetPort(link);
    auto timer1 = tk.CreateTimer(), timer2 = tk.CreateTimer(), timer4 = tk.CreateTimer();
    BindLink(port, *timer1, *timer2, *timer4);
    port.Open();
    LinkState.Scanning = true;
    auto start = Clock::now();
    ProbeDevice(3);
    probeWait = Clock::now() - start;
    present3 = !LinkState.ReplyTimedOut;
    ProbeDevice(4);
    present4 = !LinkState.ReplyTimedOut;
    LinkState.Scanning = false;
    LinkState.RegisterMode = true;
    LinkState.Address = 3;
    LinkState.Register = 0xAE;  // K4 colour bars, 0x80 as the unit is delivered
    LinkState.Value = 1;
    LinkState.CurrentValue = 0x77;
    start = Clock::now();
    ReadRegister();
    readWait = Clock::now() - start;
    LinkState.RegisterMode = false;
    value = LinkState.CurrentValue;
    port.Close();
    UnbindLink();
  }
  watchdog.stop();
  SetToolkit(nullptr);
  sim.Signal(SIGTERM);
  ASSERT_TRUE(sim.WaitForExit(std::chrono::seconds(10))) << sim.Describe();

  // A simulator starved by a busy machine answers after the program has stopped waiting; the program is
  // right to take that as no answer, and this exchange shows nothing then.
  const auto lines = ReadTrace(trace);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].FromHost || !lines[i - 1].FromHost || lines[i].Bytes.size() <= size_t(FrameCommandOffset)) continue;
    const int64_t limitUs = lines[i].Bytes[FrameCommandOffset] == cmdIdentify ? 250'000 : 60'000;
    if (lines[i].EndUs - lines[i - 1].StartUs > limitUs)
      GTEST_SKIP() << "the simulator answered later than the program waits, on this busy machine: " << lines[i].Line;
  }

  EXPECT_TRUE(present3);
  EXPECT_FALSE(present4);
  EXPECT_EQ(value, 0x80);
  EXPECT_TRUE(boxes.empty()) << boxes.front();

  std::vector<std::string> wire;
  for (const auto& l : lines) wire.push_back(l.Wire());
  const std::vector<std::string> expected = {
      "host frame " + HexBytes(BuildFrame(3, cmdIdentify, {})),
      "units frame " + HexBytes(BuildFrame(3, cmdIdentify, {})),
      "host frame " + HexBytes(BuildFrame(4, cmdIdentify, {})),
      "host frame " + HexBytes(BuildFrame(3, cmdSelect, {0xAE, 0, 0, 0})),
      "units frame " + HexBytes(BuildFrame(3, cmdSelect, {})),
      "host frame " + HexBytes(BuildFrame(3, cmdRead, {1})),
      "units frame " + HexBytes(BuildFrame(3, cmdRead, {0x80})),
  };
  ASSERT_EQ(wire, expected);
  EXPECT_EQ(lines[6].Data, "80");
  // The waits really wait: the probe's 250 ms and the two 60 ms pacing waits of the read. Measured here,
  // since the simulator stamps bytes as it gets round to reading them, late on a busy machine.
  EXPECT_GE(probeWait, std::chrono::milliseconds(245));
  EXPECT_GE(readWait, std::chrono::milliseconds(115));
}

}  // namespace
