// The settings window of the real orvel-control, shown on a private X display and worked with the mouse
// and keyboard, against orvel-unitsim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "app/Form1.h"
#include "link/Frame.h"
#include "tests/e2e/ScreenTest.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

std::string Request(uint8_t command, std::vector<uint8_t> data) { return HexBytes(BuildFrame(3, command, data)); }

std::string Titles(TXSession& x) {
  std::string titles = "windows on the screen:";
  for (auto& [window, title] : x.VisibleWindows()) titles += " \"" + title + "\"";
  return titles;
}

// Design positions: the main window's client area lies under its menu; the settings window has none.
constexpr int GroupBoxLeft = 248, GroupBoxTop = 8;

using EndToEndSettings = TScreenTest;

TEST_F(EndToEndSettings, PlusAndDefaultOnUnit3sChannel2BrightnessReachTheUnit) {
  TChildProcess sim(Simulator(dir));
  ASSERT_TRUE(SimulatorUp(sim, Tty()));
  WriteFileBytes(dir + "/COM.ini", Tty() + "\r\n");
  const ino_t written = Inode(dir + "/COM.ini");
  TChildProcess& program = StartProgram();

  // On a starved machine a unit's reply can come too late for its request, and the poll says so in a box
  // at its end; the operator acknowledges whatever it says, since the poll is not what this test is about.
  ASSERT_TRUE(screen->Await([&] { return Inode(dir + "/COM.ini") != written || !program.Running(); }, 120s,
                            [](const TProgramScreen::TMessage&) { return true; }))
      << "the poll did not finish";
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();
  const auto main = screen->MainWindow();
  ASSERT_NE(main, 0u) << Titles(*x);
  const int menu = x->Geometry(main).Height - TForm1::DesignHeight;
  screen->Click(main, 80 + 4 + 42, menu + 15 + 4 + 15);  // the first panel's settings button, "№ 3"
  const auto settings = x->FindWindow("Settings — № 3");
  ASSERT_NE(settings, 0u) << Titles(*x);

  // A frame on the line, from either side, after the first `from` frames of the trace.
  auto traced = [&](size_t from, const std::string& frame, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
          const auto frames = Trace();
          for (size_t i = from; i < frames.size(); ++i)
            if (HexBytes(frames[i].Bytes) == frame) return true;
          return false;
        },
        limit);
  };
  auto keysRead = [&](const std::string& keys) {
    const size_t from = Trace().size();
    x->Focus(settings);
    x->Keys(keys);
    // The descriptor's reply on the line, and no box saying a reading went without its value.
    return traced(from, HexBytes(BuildFrame(3, cmdRead, {0, 255, 128, 1})), 10s) &&
           !x->FindWindow("Information", 1500ms);
  };
  // To "Яркость" under "Настройки канала 2" by keyboard, each node read as it is reached: "Left" and
  // "Right" collapse and expand the channel's heading, so the way is the same from wherever it starts.
  const std::string toBrightness = "Home Down Down Down Down Left Right Down Down";
  bool read = keysRead(toBrightness);
  // On a starved machine the unit's reply to a select can come after the pacing time and pass for the
  // read's; the window then shows nothing and says so in a box (which takes the keys meant for the tree),
  // and the operator acknowledges it and goes to the node again.
  for (int again = 0; !read && again < 3; ++again) {
    if (const auto box = screen->NextMessage(5s); box.Window) screen->Acknowledge(box);
    read = keysRead(toBrightness);
  }
  ASSERT_TRUE(read) << "the brightness was not read";
  // Each button is clicked again if its write does not come: a click that reached the button before the
  // screen was filled from the reading finds it disabled.
  auto press = [&](int left, int top, int width, int height, uint8_t written) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::this_thread::sleep_for(1s);
      const size_t from = Trace().size();
      screen->Click(settings, GroupBoxLeft + left + width / 2, GroupBoxTop + top + height / 2);
      if (traced(from, Request(cmdWrite, {written}), 10s)) return true;
    }
    return false;
  };
  ASSERT_TRUE(press(312, 80, 25, 25, 125)) << "\"+\" wrote nothing";
  ASSERT_TRUE(press(136, 152, 129, 20, 128)) << "\"Значение по умолчанию\" wrote nothing";

  EndProgram();
  Terminate(sim);  // writes its state file
  const auto requests = HostRequests(dir + "/trace.jsonl");
  const std::vector<std::string> tail = {
      Request(cmdSelect, {0x62, 0, 0, 0}), Request(cmdRead, {1}), Request(cmdSelect, {0x63, 0, 0, 0}),
      Request(cmdRead, {4}), Request(cmdSelect, {0x62, 0, 0, 0}), Request(cmdWrite, {125}),
      Request(cmdSelect, {0x62, 0, 0, 0}), Request(cmdWrite, {128})};
  ASSERT_GE(requests.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(requests.end() - tail.size(), requests.end()), tail);
  const std::string state = ReadFileBytes(dir + "/units.txt");
  const auto unit7 = state.find("unit 7");
  ASSERT_NE(unit7, std::string::npos) << state;
  EXPECT_NE(state.substr(0, unit7).find("0x62 = 0x80  # K2 brightness"), std::string::npos) << state;
  EXPECT_NE(state.substr(unit7).find("0x62 = 0x64  # K2 brightness"), std::string::npos) << state;
}

}  // namespace
