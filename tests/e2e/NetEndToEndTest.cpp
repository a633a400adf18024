// The real program reaching the units through the real serial device server: orvel-control on an X
// screen of the test's own, driven with a real pointer and keyboard, against Debian's ser2net serving
// orvel-unitsim's pseudo-terminal over RFC 2217 or raw TCP on a loopback port.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "app/Form1.h"
#include "link/Frame.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/Ser2net.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XSession.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

// Unit 3's panel is the first: its K1 colour-bar indicator's centre, in the main window's client area.
constexpr int FirstIndicatorX = 80 + 2 + 11;
constexpr int FirstIndicatorY = 15 + 60 + 11;

std::vector<std::string> Hex(const std::vector<TTracedFrame>& frames) {
  std::vector<std::string> out;
  for (auto& f : frames) out.push_back((f.FromHost ? "host " : "units ") + HexBytes(f.Bytes));
  return out;
}

bool EndsWithWriteReply(const std::string& trace, uint8_t address) {
  const auto frames = ReadTrace(trace);
  if (frames.empty()) return false;
  const auto& last = frames.back();
  return !last.FromHost && last.Bytes.size() > 6 && last.Bytes[3] == address && last.Bytes[6] == cmdWrite;
}

// One operator session: the simulator with units 3 and 7, ser2net in front of it unless `scheme` is
// "local", and the program on an X screen; it polls, then the operator clicks unit 3's K1 colour-bar
// indicator. Everything is ended in order before the trace is read.
class TSession {
 public:
  explicit TSession(const std::string& scheme) : scheme_(scheme) {}
  ~TSession() { End(); }

  TScratchDirectory Scratch;
  const std::string Dir = Scratch.Path();
  std::unique_ptr<TChildProcess> Sim, Program;
  std::unique_ptr<TSer2net> Server;
  std::unique_ptr<TXSession> Screen;
  TXSession::TWindow MainWindow = 0;
  int MenuHeight = 0;

  std::string TracePath() const { return Dir + "/trace.jsonl"; }

  // Up to the end of the first poll. `clean` is false, without a failure, when a message box came up
  // instead: on a machine too busy for the link's fixed waits a reply comes too late, and the program
  // says so. Fatal failures say what did not come up at all.
  void Start(bool& clean) {
    clean = false;
    Sim = std::make_unique<TChildProcess>(Simulator(Dir));
    ASSERT_TRUE(SimulatorUp(*Sim, Dir + "/tty"));
    std::string name = Dir + "/tty";
    if (scheme_ != "local") {
      Server = std::make_unique<TSer2net>(Dir, Dir + "/tty");
      ASSERT_TRUE(Server->Up()) << Server->Output();
      name = scheme_ == "rfc2217" ? Server->Rfc2217Name() : Server->TcpName();
    }
    Screen = std::make_unique<TXSession>(Dir);
    WriteFileBytes(Dir + "/COM.ini", name + "\r\n");
    const ino_t written = Inode(Dir + "/COM.ini");
    Program = std::make_unique<TChildProcess>(Screen->On(::Program(Dir)));
    // The poll that found units replaces COM.ini as its last step; a box during the poll means something
    // went wrong on the way.
    const bool polled = WaitUntil(
        [&] {
          return Inode(Dir + "/COM.ini") != written || !Program->Running() || !Sim->Running() ||
                 !MessageBoxes().empty();
        },
        120s);
    ASSERT_TRUE(Program->Running()) << Program->Describe() << "\n" << Program->Output();
    if (!MessageBoxes().empty()) return;
    ASSERT_TRUE(polled) << "the poll did not finish; trace so far:\n" << ReadFileBytes(TracePath());
    const auto windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    MainWindow = windows[0];
    MenuHeight = Screen->Geometry(MainWindow).Height - TForm1::DesignHeight;
    clean = true;
  }

  // The switch, up to its write's reply; `clean` as for Start.
  void ClickFirstIndicator(bool& clean) {
    Screen->Click(MainWindow, FirstIndicatorX, MenuHeight + FirstIndicatorY);
    const bool switched =
        WaitUntil([&] { return EndsWithWriteReply(TracePath(), 3) || !MessageBoxes().empty(); }, 30s);
    clean = MessageBoxes().empty();
    if (!clean) return;
    ASSERT_TRUE(switched) << "the switch did not finish; trace:\n" << ReadFileBytes(TracePath());
  }

  // "Общие настройки" → item `index` (1 to 3) of the main menu, by pointer and keyboard. A window too
  // narrow for the menu's title keeps it behind the menu bar's extension button.
  void ChooseMenuItem(int index) {
    const auto g = Screen->Geometry(MainWindow);
    std::string keys;
    if (g.Width >= 150) {
      Screen->Click(MainWindow, 40, MenuHeight / 2);
    } else {
      Screen->Click(MainWindow, g.Width - 7, MenuHeight / 2);
      keys = "Down Right ";  // the submenu opens on its first item
      --index;
    }
    for (int i = 0; i < index; ++i) keys += "Down ";
    keys += "Return";
    Screen->Keys(keys);
  }

  // The program's windows on the screen, whatever their titles, oldest first.
  std::vector<TXSession::TWindow> ProgramWindows() { return Screen->ProgramWindows(Program->Pid()); }

  std::vector<TXSession::TWindow> MessageBoxes() {
    std::vector<TXSession::TWindow> boxes;
    for (auto& w : ProgramWindows())
      if (Screen->IsDialog(w)) boxes.push_back(w);
    return boxes;
  }

  // Presses OK on every box until the program is back to its main window alone (the poll window is
  // up while a poll runs) and stays so for a while; how many boxes there were.
  int DismissUntilIdle() {
    int dismissed = 0;
    const auto limit = std::chrono::steady_clock::now() + 120s;
    while (std::chrono::steady_clock::now() < limit) {
      std::vector<TXSession::TWindow> boxes;
      if (!WaitUntil([&] { return !(boxes = MessageBoxes()).empty() || ProgramWindows().size() > 1; }, 2s))
        return dismissed;
      if (boxes.empty()) {
        WaitUntil([] { return false; }, 200ms);
        continue;
      }
      Screen->Focus(boxes.front());
      Screen->Keys("Return");
      ++dismissed;
    }
    ADD_FAILURE() << "the program did not come to rest";
    return dismissed;
  }

  void End() {
    if (Program && Program->Running()) Terminate(*Program);
    if (Server) Server->Stop();
    if (Sim && Sim->Running()) Terminate(*Sim);
    Program.reset();
    Server.reset();
    Sim.reset();
    Screen.reset();
  }

 private:
  std::string scheme_;
};

// A session whose reply came too late (see TSession::Start) is run again, fresh, this often at most; each
// retry is reported.
constexpr int Attempts = 3;

void ReportLateReply(const std::string& scheme, int attempt) {
  std::printf("%s session, attempt %d: a reply came too late on this busy machine; starting afresh\n",
              scheme.c_str(), attempt);
}

// The frames of a poll and a switch, over `scheme`.
void RunPollAndSwitch(const std::string& scheme, std::vector<TTracedFrame>& frames) {
  for (int attempt = 1; attempt <= Attempts; ++attempt) {
    TSession session(scheme);
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
  std::unique_ptr<TSession> started;
  for (int attempt = 1; attempt <= Attempts && !started; ++attempt) {
    auto fresh = std::make_unique<TSession>("rfc2217");
    bool clean = false;
    ASSERT_NO_FATAL_FAILURE(fresh->Start(clean));
    if (clean)
      started = std::move(fresh);
    else
      ReportLateReply("rfc2217", attempt);
  }
  ASSERT_TRUE(started) << "in every session a reply came too late";
  TSession& session = *started;
  const size_t firstPoll = ReadTrace(session.TracePath()).size();

  // A rescan, and the server ends while unit 3's registers are being read.
  session.ChooseMenuItem(3);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto frames = ReadTrace(session.TracePath());
        return frames.size() > firstPoll + 8 && frames.back().Bytes.size() > 6 && frames.back().Bytes[6] == cmdRead;
      },
      30s))
      << ReadFileBytes(session.TracePath());
  session.Server->Stop();

  // The operator is told, and the program waits without spinning.
  ASSERT_TRUE(WaitUntil([&] { return !session.MessageBoxes().empty(); }, 30s)) << "no error was shown";
  const double before = session.Program->CpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return !session.Program->Running(); }, 1000ms));
  EXPECT_LT(session.Program->CpuSeconds() - before, 0.5);
  session.Screen->Screenshot(session.Dir + "/error.png");
  EXPECT_GE(session.DismissUntilIdle(), 1);
  const size_t tracedBefore = ReadTrace(session.TracePath()).size();
  const double idle = session.Program->CpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return !session.Program->Running(); }, 1000ms));
  EXPECT_LT(session.Program->CpuSeconds() - idle, 0.5);

  // The server returns on the same port; a rescan connects again and finds both units. (A reply late on
  // a busy machine leaves an indicator grey and says so in a box; the panels are back all the same.)
  ASSERT_TRUE(session.Server->Start()) << session.Server->Output();
  const ino_t before_rescan = Inode(session.Dir + "/COM.ini");
  session.ChooseMenuItem(3);
  ASSERT_TRUE(WaitUntil([&] { return ReadTrace(session.TracePath()).size() > tracedBefore; }, 30s))
      << "the rescan sent nothing";
  const int late = session.DismissUntilIdle();
  if (late > 0) std::printf("%d box(es) in the rescan after the server's return\n", late);
  EXPECT_NE(Inode(session.Dir + "/COM.ini"), before_rescan)
      << "no poll found units again; trace:\n" << ReadFileBytes(session.TracePath());
  EXPECT_EQ(session.Screen->Geometry(session.MainWindow).Width, 80 + 2 * 91 + 7);  // both panels
  EXPECT_EQ(ReadFileBytes(session.Dir + "/COM.ini"), session.Server->Rfc2217Name() + "\r\n");
}

}  // namespace
