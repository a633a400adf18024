// The real program reaching the units through the real serial device server: orvel-control on an X
// screen of the test's own, driven with a real pointer and keyboard, against Debian's ser2net serving
// orvel-unitsim's pseudo-terminal over RFC 2217 or raw TCP on a loopback port.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "app/Form1.h"
#include "link/Frame.h"
#include "tests/e2e/OperatorSession.h"
#include "tests/support/Ser2net.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XSession.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

// The frames of a poll and a switch, over `scheme`.
void RunPollAndSwitch(const std::string& scheme, std::vector<TTracedFrame>& frames) {
  for (int attempt = 1; attempt <= Attempts; ++attempt) {
    TOperatorSession session(scheme);
    bool clean = false;
    ASSERT_NO_FATAL_FAILURE(session.Start(clean));
    if (clean) {
      ASSERT_NO_FATAL_FAILURE(session.ClickFirstIndicator(clean));
    }
    if (clean) {
      session.End();
      frames = ReadTrace(session.TracePath());
      return;
    }
    ReportLateReply(scheme, attempt);
  }
  FAIL() << "in every " << scheme << " session a reply came too late";
}

class NetEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!TSer2net::Installed() || !TXSession::Installed())
      GTEST_SKIP() << "ser2net, Xvfb or xdotool is missing: scripts/setup.sh installs them";
  }
};

TEST_P(NetEndToEnd, PollAndSwitchCarryExactlyTheFramesOfALocalSession) {
  std::vector<TTracedFrame> local, remote;
  ASSERT_NO_FATAL_FAILURE(RunPollAndSwitch("local", local));
  ASSERT_NO_FATAL_FAILURE(RunPollAndSwitch(GetParam(), remote));

  // The poll's requests, then the switch of unit 3's register, ending in its write.
  std::vector<std::vector<uint8_t>> requests;
  for (auto& f : remote) {
    EXPECT_TRUE(WellFormed(f));
    if (f.FromHost) requests.push_back(f.Bytes);
  }
  const std::vector<std::string> expected = PollRequestsForUnits3And7();
  ASSERT_GT(requests.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(HexBytes(requests[i]), expected[i]);
  for (size_t i = expected.size(); i < requests.size(); ++i) EXPECT_EQ(requests[i][3], 3);
  EXPECT_EQ(requests.back()[6], cmdWrite);
  // Byte for byte what the same session sends and gets on a local terminal, in the same order.
  EXPECT_EQ(Hex(remote), Hex(local));
}

INSTANTIATE_TEST_SUITE_P(Servers, NetEndToEnd, ::testing::Values("rfc2217", "tcp"),
                         [](const auto& info) { return info.param; });

TEST(NetEndToEndLoss, AServerStoppedMidPollIsShownWithoutSpinningAndARescanBringsThePanelsBack) {
  if (!TSer2net::Installed() || !TXSession::Installed())
    GTEST_SKIP() << "ser2net, Xvfb or xdotool is missing: scripts/setup.sh installs them";
  std::unique_ptr<TOperatorSession> started;
  ASSERT_NO_FATAL_FAILURE(StartSessionWithUnits("rfc2217", started));
  ASSERT_TRUE(started) << "no session's first poll found the units";
  TOperatorSession& session = *started;
  const size_t firstPoll = ReadTrace(session.TracePath()).size();

  // A rescan, and the server ends while unit 3's registers are being read.
  ASSERT_TRUE(session.RescanUntilReading(firstPoll));
  session.Server->Stop();

  // The operator is told, and the program waits without spinning.
  ASSERT_TRUE(WaitUntil([&] { return !session.MessageBoxes().empty(); }, 30s)) << "no error was shown";
  const double before = session.Program->CpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return !session.Program->Running(); }, 1000ms));
  EXPECT_LT(session.Program->CpuSeconds() - before, 0.5);
  session.Screen->Screenshot(session.Dir + "/error.png");
  EXPECT_GE(session.DismissUntilIdle(), 1);
  const double idle = session.Program->CpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return !session.Program->Running(); }, 1000ms));
  EXPECT_LT(session.Program->CpuSeconds() - idle, 0.5);

  // The server returns on the same port; a rescan connects again and finds both units. (A reply late on
  // a busy machine leaves an indicator grey and says so in a box, or, to a probe, leaves a unit out: the
  // operator then rescans.)
  ASSERT_TRUE(session.Server->Start()) << session.Server->Output();
  const ino_t before_rescan = Inode(session.Dir + "/COM.ini");
  constexpr int BothPanels = 80 + 2 * 91 + 7;
  for (int rescan = 1; rescan <= Attempts; ++rescan) {
    const size_t traced = ReadTrace(session.TracePath()).size();
    session.ChooseMenuItem(3);
    ASSERT_TRUE(WaitUntil([&] { return ReadTrace(session.TracePath()).size() > traced; }, 30s))
        << "the rescan sent nothing";
    const int late = session.DismissUntilIdle();
    if (late > 0) std::printf("%d box(es) in rescan %d after the server's return\n", late, rescan);
    if (session.Screen->Geometry(session.MainWindow).Width == BothPanels) break;
    std::printf("rescan %d after the server's return found one unit on this busy machine\n", rescan);
  }
  EXPECT_NE(Inode(session.Dir + "/COM.ini"), before_rescan)
      << "no poll found units again; trace:\n" << ReadFileBytes(session.TracePath());
  EXPECT_EQ(session.Screen->Geometry(session.MainWindow).Width, BothPanels)
      << "trace:\n" << ReadFileBytes(session.TracePath());
  EXPECT_EQ(ReadFileBytes(session.Dir + "/COM.ini"), session.Server->Rfc2217Name() + "\r\n");
}

}  // namespace
