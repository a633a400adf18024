// A lost device on the real windows in virtual time: the operator is told once in a notice that leaves the
// program free, nothing is sent while the device is gone, and when it comes back under the same name the
// port opens and the units are polled again without the operator; with or without a watch on the device.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <chrono>
#include <thread>

#include "app/PortReconnect.h"
#include "link/Frame.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "tests/support/ProgramRig.h"
#include "tests/support/TestEnvironment.h"

namespace {

constexpr int64_t Second = 1'000'000;

struct Reconnect : ::testing::Test {
  TProgramRig rig;
  TPortReconnect& reconnect = *rig.Windows->Reconnect;

  void SetUp() override {
    rig.AddUnit(2);
    rig.AddUnit(5);
    WriteFileBytes("COM.ini", "COM1\r\n");
    rig.Start();
    ASSERT_EQ(FoundCount, 2);
    rig.Bus.ClearTrace();
  }
  // Pulls the adapter at a moment the line is quiet and returns once the program has noticed: its port's
  // event thread reports the loss in real time, while the clock stands nearly still.
  int64_t Pull() {
    rig.Tk.RunFor(Second);
    rig.Platform.Unplug("COM1");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (reconnect.Awaited().empty() && std::chrono::steady_clock::now() < limit) {
      rig.Tk.RunFor(1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(reconnect.Awaited(), "COM1") << "the loss was never noticed";
    return rig.Tk.NowUs();
  }
  std::string Notice() const {
    return reconnect.Notice() && reconnect.Notice()->isVisible() ? reconnect.Notice()->text().toStdString() : "";
  }
  // The first request of the last poll, if any since the trace was cleared.
  int Probes() {
    int probes = 0;
    for (const auto& f : rig.Requests()) probes += f.Command == cmdIdentify;
    return probes;
  }
};

std::string Text(const char* text) { return QString::fromUtf8(text).arg("COM1").toStdString(); }

TEST_F(Reconnect, APulledAdapterIsToldOnceAndThePanelsComeBackByThemselvesWhenItIsPluggedIn) {
  QPointer<QWidget> panel = UnitPanels[2].Panel;
  const int64_t pulled = Pull();
  EXPECT_FALSE(rig.Form1().ComPort1.Connected());
  EXPECT_EQ(reconnect.Awaited(), "COM1");
  EXPECT_TRUE(reconnect.Watching());
  EXPECT_EQ(Notice(), Text(TextPortLost));
  EXPECT_EQ(reconnect.Notice()->windowModality(), Qt::NonModal);
  // A minute with the adapter out: no box, nothing sent, the notice as it was.
  rig.Tk.RunUntilTime(pulled + 60 * Second);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
  EXPECT_TRUE(rig.Requests().empty());
  EXPECT_EQ(Notice(), Text(TextPortLost));

  const int64_t plugged = rig.Tk.NowUs();
  rig.Platform.Replug("COM1");
  rig.Tk.RunUntilIdle();
  EXPECT_TRUE(rig.Form1().ComPort1.Connected());
  EXPECT_EQ(reconnect.Awaited(), "");
  EXPECT_FALSE(reconnect.Watching());
  EXPECT_EQ(Notice(), Text(TextPortBack));
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
  // A whole poll, started as soon as the device was back, rebuilt both panels.
  EXPECT_EQ(Probes(), 16);
  EXPECT_LT(rig.Requests().front().StartUs - plugged, Second / 10);
  EXPECT_EQ(FoundCount, 2);
  EXPECT_TRUE(panel.isNull()) << "the old panel is gone";
  EXPECT_FALSE(UnitPanels[2].Panel.isNull());
  EXPECT_FALSE(UnitPanels[5].Panel.isNull());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");

  // Pulled again: a new loss, told again.
  reconnect.Notice()->hide();
  Pull();
  EXPECT_EQ(Notice(), Text(TextPortLost));
}

TEST_F(Reconnect, ANameThePlatformCannotWatchIsTriedAgainAfterPausesThatDoubleUpToHalfAMinute) {
  rig.Platform.OffersWatches = false;
  const int64_t pulled = Pull();
  EXPECT_FALSE(reconnect.Watching());
  // Tries at 1, 3, 7, 15 and 31 s after the loss: plugged in at 20 s, the port opens at the try at 31 s.
  rig.Tk.At(pulled + 20 * Second, [this] { rig.Platform.Replug("COM1"); });
  rig.Tk.RunUntilTime(pulled + 30 * Second);
  EXPECT_FALSE(rig.Form1().ComPort1.Connected());
  EXPECT_TRUE(rig.Requests().empty());
  rig.Tk.RunUntilIdle();
  EXPECT_TRUE(rig.Form1().ComPort1.Connected());
  EXPECT_EQ(Probes(), 16);
  const int64_t polled = rig.Requests().front().StartUs - pulled;
  EXPECT_GE(polled, 31 * Second - 2000);  // the loss was seen within the last millisecond of Pull
  EXPECT_LT(polled, 32 * Second);
  EXPECT_EQ(FoundCount, 2);

  // Pauses stop growing at 30 s: tries at 1, 3, 7, 15, 31, 61, 91 ... s.
  const int64_t again = Pull();
  rig.Tk.At(again + 62 * Second, [this] { rig.Platform.Replug("COM1"); });
  rig.Tk.RunUntilTime(again + 90 * Second);
  EXPECT_FALSE(rig.Form1().ComPort1.Connected());
  rig.Tk.RunUntilTime(again + 92 * Second);
  EXPECT_TRUE(rig.Form1().ComPort1.Connected());
}

TEST_F(Reconnect, TheOperatorMovingToAnotherPortEndsTheWait) {
  TSimBus& other = rig.Platform.AddPort("COM2");
  Pull();
  auto& port = rig.Form1().ComPort1;
  port.SetPort("COM2");
  port.Open();
  rig.Platform.Replug("COM1");
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(reconnect.Awaited(), "");
  EXPECT_EQ(Notice(), "") << "the notice of the old port goes";
  EXPECT_EQ(port.Port(), "COM2");
  EXPECT_TRUE(rig.Requests().empty()) << "nothing polled the old port";
  EXPECT_TRUE(other.Requests().empty());
}

TEST_F(Reconnect, ALostSerialDeviceServerIsLeftToTheOperatorsRescan) {
  const std::string server = "tcp://192.0.2.1:4001";
  rig.Platform.AddPort(server);
  auto& port = rig.Form1().ComPort1;
  port.Close();
  port.SetPort(server);
  port.Open();
  rig.Tk.RunFor(Second);
  rig.Platform.Unplug(server);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (port.Connected() && std::chrono::steady_clock::now() < limit) {
    rig.Tk.RunFor(1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(port.Connected()) << "the loss was never noticed";
  rig.Platform.Replug(server);
  rig.Tk.RunFor(60 * Second);
  EXPECT_EQ(reconnect.Awaited(), "");
  EXPECT_EQ(Notice(), "");
  EXPECT_FALSE(port.Connected()) << "nothing but the operator opens it again";
}

}  // namespace
