// The port dialog and the address dialogs of the real program on a private X display, against
// orvel-unitsim on pseudo-terminals: the operator's clicks and typing through xdotool, what the program
// shows read off the screen, what it sent read from the simulators' wire traces.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <thread>

#include "link/Frame.h"
#include "link/Link.h"
#include "panels/Poll.h"
#include "tests/e2e/ScreenTest.h"
#include "unitsim/SimTrace.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// The texts as a message box shows them: one line each.
std::string Shown(std::string text) {
  std::erase(text, '\r');
  return text;
}

using DialogsEndToEnd = TScreenTest;

TEST_F(DialogsEndToEnd, AnUnaddressedUnitIsGivenAddressFiveAndGetsItsPanel) {
  TChildProcess sim(SimulatorNamed(dir, "", {"--units", "0"}));
  ASSERT_TRUE(SimulatorUp(sim, Tty()));
  WriteFileBytes(dir + "/COM.ini", Tty() + "\r\n");
  TChildProcess& program = StartProgram();

  // The poll finds nobody at 1 to 16, the unit at 0, and says so.
  auto message = screen->NextMessage();
  ASSERT_TRUE(message.Window) << program.Describe() << "\n" << program.Output();
  EXPECT_EQ(message.Caption, "Information");
  EXPECT_EQ(message.Text, Shown(TextAddressNotSet));
  EXPECT_FALSE(screen->AddressDialog(0ms)) << "the dialog comes after the message";
  screen->Acknowledge(message);

  const auto dialog = screen->AddressDialog();
  ASSERT_TRUE(dialog);
  screen->Retype(dialog, 104 + 60, 32 + 10, "5");
  screen->Click(dialog, 136 + 37, 72 + 10);  // "Записать"
  const auto confirmation = screen->Confirmation();
  ASSERT_TRUE(confirmation) << "no confirmation";
  EXPECT_TRUE(screen->Gone(dialog, 5s));
  const std::vector<std::string> sent = HostFrames(Trace());
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "E2 E4 05 00 FF 00 08 00 01 05 39 5C");
  EXPECT_EQ(sent.size(), 16u + 1 + 1) << "the poll's probes of 1 to 16, its probe of 0, then the new address";

  const ino_t before = Inode(dir + "/COM.ini");
  screen->Click(confirmation, 64 + 37, 48 + 12);  // OK
  EXPECT_TRUE(screen->Gone(confirmation, 5s));
  // The poll that finds the unit rewrites COM.ini as its last step.
  ASSERT_TRUE(screen->Await([&] { return Inode(dir + "/COM.ini") != before || !program.Running(); }));
  EXPECT_EQ(screen->MainWidth(), 80 + 91 + 7) << "one panel beside the row captions";
  EXPECT_FALSE(screen->NextMessage(1s).Window);
  EndProgram();
  Terminate(sim);

  // After the address: the probes of 1 to 16 again, 5 answering, with its reads in between.
  std::vector<TTracedFrame> afterAddress;
  bool addressed = false;
  for (auto& f : Trace()) {
    EXPECT_TRUE(WellFormed(f));
    if (addressed) afterAddress.push_back(f);
    addressed = addressed || (f.FromHost && f.Bytes[6] == cmdSetAddress);
  }
  ASSERT_FALSE(afterAddress.empty());
  EXPECT_FALSE(afterAddress[0].FromHost) << "the unit's reply to the new address";
  std::vector<std::string> answeredBy;
  for (auto& f : afterAddress)
    if (!f.FromHost) answeredBy.push_back(std::to_string(f.Bytes[3]));
  EXPECT_EQ(answeredBy.size(), 1u + 1 + 24) << "reply, probe of 5 and its 24 reads";
  EXPECT_EQ(std::count(answeredBy.begin() + 1, answeredBy.end(), "5"), 25);
  EXPECT_EQ(HostFrames(afterAddress).size(), 16u + 24);
  EXPECT_NE(ReadFileBytes(dir + "/units.txt").find("\nunit 5\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir + "/COM.ini"), Tty() + "\r\n");
}

TEST_F(DialogsEndToEnd, TheOperatorMovesFromASilentLineToOneWithUnits) {
  TChildProcess silent(SimulatorNamed(dir, "-silent", {"--units", "1", "--silent", "1"}));
  TChildProcess units(SimulatorNamed(dir, "-units",
                                     {"--units", "3,7", "--registers", SourceDir() + "/unitsim/demo-registers.txt"}));
  ASSERT_TRUE(SimulatorUp(silent, Tty("-silent")));
  ASSERT_TRUE(SimulatorUp(units, Tty("-units")));
  WriteFileBytes(dir + "/COM.ini", Tty("-silent") + "\r\n");
  TChildProcess& program = StartProgram();

  auto message = screen->NextMessage();
  ASSERT_TRUE(message.Window) << program.Describe() << "\n" << program.Output();
  EXPECT_EQ(message.Text, Shown(TextNoUnitAnswers));
  screen->Acknowledge(message);
  ASSERT_TRUE(screen->Gone(message.Window, 5s));
  EXPECT_EQ(screen->MainWidth(), 80);

  screen->MenuEntry(1);
  const auto dialog = screen->PortDialog();
  ASSERT_TRUE(dialog);
  screen->Retype(dialog, 64 + 30, 24 + 10, Tty("-units"));
  screen->Click(dialog, 64 + 37, 64 + 10);  // "Выбрать"
  ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(dir + "/COM.ini") == Tty("-units") + "\r\n"; }, 10s))
      << ReadFileBytes(dir + "/COM.ini");
  // The poll on the new line finds both units and closes the dialog.
  EXPECT_TRUE(screen->Await([&] { return screen->Gone(dialog, 0ms); }));
  EXPECT_TRUE(screen->Await([&] { return screen->MainWidth() == 80 + 2 * 91 + 7; }, 10s)) << screen->MainWidth();
  EXPECT_FALSE(screen->NextMessage(1s).Window);
  EndProgram();
  Terminate(silent);
  Terminate(units);

  EXPECT_EQ(HostFrames(Trace("-silent")).size(), 17u) << "only the start-up's poll on the silent line";
  const auto onUnits = Trace("-units");
  EXPECT_EQ(HostFrames(onUnits).size(), 16u + 2 * 24);
  for (auto& f : onUnits) EXPECT_TRUE(WellFormed(f));
}

TEST_F(DialogsEndToEnd, APulledAdapterIsReportedAndTheSamePortBringsThePanelsBack) {
  auto sim = std::make_unique<TChildProcess>(Simulator(dir));
  ASSERT_TRUE(SimulatorUp(*sim, Tty()));
  WriteFileBytes(dir + "/COM.ini", Tty() + "\r\n");
  TChildProcess& program = StartProgram();

  // The terminal goes away in the middle of the poll, while unit 3's switches are read.
  ASSERT_TRUE(WaitUntil([&] { return HostFrames(Trace()).size() >= 6 || !program.Running(); }, 60s));
  PullSimulator(*sim, Tty());
  ASSERT_FALSE(sim->Running());
  // The port's error, as the failed transfers report it (the receiver's read and the poll's next
  // request may each have their say), and the reply timer of the last request, which ran out meanwhile.
  // A box that opens while another is open stands on top of it: each is answered as it comes up.
  int reports = 0, portErrors = 0;
  for (auto message = screen->NextMessage(); message.Window; message = screen->NextMessage(1500ms)) {
    ASSERT_LT(++reports, 8) << "the program keeps reporting";
    // The port's error with the system's reason, or the notice that the device went and will be taken
    // back by itself when it returns.
    const bool portError = message.Caption == "ORVEL Control" &&
                           (message.Text.find("(errno: ") != std::string::npos ||
                            message.Text.find("(win error code: ") != std::string::npos ||
                            message.Text.find("потеряна") != std::string::npos);
    const bool noReply = message.Caption == "Information" && message.Text == TextNotConnected;
    EXPECT_TRUE(portError || noReply) << message.Caption << ": " << message.Text;
    portErrors += portError;
    screen->Acknowledge(message);
    screen->Gone(message.Window, 2s);
  }
  ASSERT_GE(portErrors, 1) << program.Describe() << "\n" << program.Output();
  // Idle meanwhile: waiting for the operator costs no CPU.
  const double before = program.CpuSeconds();
  std::this_thread::sleep_for(1000ms);
  EXPECT_LT(program.CpuSeconds() - before, 0.5);
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << program.Output();

  // The adapter is back under the same name; the operator chooses it again (the program also watches for
  // it and takes it back by itself: whichever comes first opens the port and polls, once).
  sim = std::make_unique<TChildProcess>(Simulator(dir));
  ASSERT_TRUE(SimulatorUp(*sim, Tty()));
  screen->MenuEntry(1);
  const auto dialog = screen->PortDialog();
  ASSERT_TRUE(dialog);
  screen->Click(dialog, 64 + 37, 64 + 10);  // "Выбрать", with the name it shows
  EXPECT_TRUE(screen->Await([&] { return screen->Gone(dialog, 0ms); }));
  EXPECT_TRUE(screen->Await([&] { return screen->MainWidth() == 80 + 2 * 91 + 7; }, 10s)) << screen->MainWidth();
  // The program may have found the device back by itself before the press; then it says so, once.
  if (auto back = screen->NextMessage(1s); back.Window) {
    EXPECT_NE(back.Text.find("снова доступен"), std::string::npos) << back.Caption << ": " << back.Text;
    screen->Acknowledge(back);
    EXPECT_FALSE(screen->NextMessage(1s).Window);
  }
  EndProgram();
  Terminate(*sim);
  // The second simulator's trace: a whole poll finding 3 and 7.
  EXPECT_EQ(HostFrames(Trace()).size(), 16u + 2 * 24);
  EXPECT_EQ(ReadFileBytes(dir + "/COM.ini"), Tty() + "\r\n");
}

}  // namespace
