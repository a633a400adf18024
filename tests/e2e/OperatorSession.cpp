#include "tests/e2e/OperatorSession.h"

#include <algorithm>
#include <cstdio>

#include "app/Form1.h"
#include "link/Frame.h"
#include "tests/e2e/ProgramScreen.h"
#include "toolkit/Toolkit.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

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

void ReportLateReply(const std::string& scheme, int attempt) {
  std::printf("%s session, attempt %d: a reply came too late on this busy machine; starting afresh\n",
              scheme.c_str(), attempt);
}

void TOperatorSession::Start(bool& clean) {
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
  const ino_t written = comIniAtStart_ = Inode(Dir + "/COM.ini");
  // The display is the session's own: any window of the program's name is the program's.
  Program = Screen->StartClient(::Program(Dir), [&] { return Screen->FindWindow(ApplicationTitle, 0ms) != 0; });
  // The poll that found units replaces COM.ini as its last step; a box during the poll means something
  // went wrong on the way.
  const bool polled = WaitUntil(
      [&] {
        return Inode(Dir + "/COM.ini") != written || !Program->Running() || !Sim->Running() ||
               !MessageBoxes().empty();
      },
      120s);
  ASSERT_TRUE(Program->Running()) << Program->Describe() << "\n" << Program->Output();
  if (!MessageBoxes().empty()) {
    Screen->Screenshot(Dir + "/box-during-first-poll.png");
    return;
  }
  ASSERT_TRUE(polled) << "the poll did not finish; trace so far:\n" << ReadFileBytes(TracePath());
  ASSERT_NO_FATAL_FAILURE(FindMainWindow());
  clean = true;
}

void TOperatorSession::StartWithUnits(bool& found) {
  found = false;
  bool clean = false;
  ASSERT_NO_FATAL_FAILURE(Start(clean));
  if (!clean) {
    // COM.ini is rewritten after the poll's boxes have been acknowledged, when it found a unit.
    DismissUntilIdle();
    if (Inode(Dir + "/COM.ini") == comIniAtStart_) return;
    ASSERT_NO_FATAL_FAILURE(FindMainWindow());
  }
  found = true;
}

void TOperatorSession::FindMainWindow() {
  const auto windows = ProgramWindows();
  ASSERT_EQ(windows.size(), 1u);
  MainWindow = windows[0];
  MenuHeight = Screen->Geometry(MainWindow).Height - TForm1::DesignHeight;
}

void TOperatorSession::ClickFirstIndicator(bool& clean) {
  Screen->Click(MainWindow, FirstIndicatorX, MenuHeight + FirstIndicatorY);
  const bool switched =
      WaitUntil([&] { return EndsWithWriteReply(TracePath(), 3) || !MessageBoxes().empty(); }, 30s);
  clean = MessageBoxes().empty();
  if (!clean) return;
  ASSERT_TRUE(switched) << "the switch did not finish; trace:\n" << ReadFileBytes(TracePath());
}

void TOperatorSession::ChooseMenuItem(int index) { ChooseMenuEntry(*Screen, MainWindow, index); }

std::vector<TXSession::TWindow> TOperatorSession::MessageBoxes() {
  std::vector<TXSession::TWindow> boxes;
  for (auto& w : ProgramWindows())
    if (Screen->IsDialog(w)) boxes.push_back(w);
  return boxes;
}

int TOperatorSession::DismissUntilIdle() {
  int dismissed = 0;
  const auto limit = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < limit) {
    TXSession::TWindow box = 0;
    if (!WaitUntil([&] { return (box = TopMessageBox(*Screen)) || ProgramWindows().size() > 1; }, 2s))
      return dismissed;
    if (!box) {
      WaitUntil([] { return false; }, 200ms);
      continue;
    }
    // The one on top: a box raised over another takes the keyboard from it.
    Screen->Focus(box);
    Screen->Keys("Return");
    ++dismissed;
  }
  // What was on the screen, and the picture in the test's working directory, where it outlives the scratch.
  std::string windows;
  const auto mine = ProgramWindows();
  for (auto& [window, title] : Screen->VisibleWindows()) {
    windows += "\n  " + std::to_string(window) + " \"" + title + "\"";
    if (std::find(mine.begin(), mine.end(), window) != mine.end()) windows += " (the program's)";
    if (Screen->IsDialog(window)) windows += " (a dialog)";
  }
  Screen->Screenshot("restless-" + std::to_string(Program->Pid()) + ".png");
  ADD_FAILURE() << "the program did not come to rest after " << dismissed << " box(es); windows on the screen:"
                << windows;
  return dismissed;
}

void TOperatorSession::End() {
  if (Program && Program->Running()) Terminate(*Program);
  if (Server) Server->Stop();
  if (Sim && Sim->Running()) Terminate(*Sim);
  Program.reset();
  Server.reset();
  Sim.reset();
  Screen.reset();
}

void StartSessionWithUnits(const std::string& scheme, std::unique_ptr<TOperatorSession>& session) {
  session.reset();
  for (int attempt = 1; attempt <= Attempts; ++attempt) {
    auto fresh = std::make_unique<TOperatorSession>(scheme);
    bool found = false;
    ASSERT_NO_FATAL_FAILURE(fresh->StartWithUnits(found));
    if (found) {
      session = std::move(fresh);
      return;
    }
    std::printf("%s session, attempt %d: the first poll found no unit on this busy machine\n", scheme.c_str(),
                attempt);
  }
}

::testing::AssertionResult TOperatorSession::RescanUntilReading(size_t from) {
  ChooseMenuItem(3);
  if (WaitUntil(
          [&] {
            const auto frames = ReadTrace(TracePath());
            return frames.size() > from + 8 && frames.back().Bytes.size() > 6 && frames.back().Bytes[6] == cmdRead;
          },
          30s))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << ReadFileBytes(TracePath());
}
