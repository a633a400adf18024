#pragma once
// An operator at the real program: orvel-control on a private X display, worked with the pointer and the
// keyboard, against orvel-unitsim on a pseudo-terminal, directly or through ser2net.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/Ser2net.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XSession.h"

// Unit 3's panel is the first: its K1 colour-bar indicator's centre, in the main window's client area.
constexpr int FirstIndicatorX = 80 + 2 + 11;
constexpr int FirstIndicatorY = 15 + 60 + 11;

// Frames as "host …" / "units …" lines, for comparing sessions.
std::vector<std::string> Hex(const std::vector<TTracedFrame>& frames);

// Whether the trace ends with a unit's reply to a write from `address`.
bool EndsWithWriteReply(const std::string& trace, uint8_t address);

// One operator session: the simulator with units 3 and 7, ser2net in front of it unless `scheme` is
// "local" (the program then opens the simulator's terminal itself), and the program on an X screen; it polls, then the operator clicks unit 3's K1 colour-bar
// indicator. Everything is ended in order before the trace is read.
class TOperatorSession {
 public:
  explicit TOperatorSession(const std::string& scheme) : scheme_(scheme) {}
  ~TOperatorSession() { End(); }

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
  void Start(bool& clean);
  // Up to the end of a first poll that found units, acknowledging the boxes late replies bring on a busy
  // machine (their indicators stay grey). `found` is false, without a failure, when the poll found none.
  void StartWithUnits(bool& found);

  // The switch, up to its write's reply; `clean` as for Start.
  void ClickFirstIndicator(bool& clean);

  // "Общие настройки" → item `index` (1 to 3) of the main menu, by pointer and keyboard. A window too
  // narrow for the menu's title keeps it behind the menu bar's extension button.
  void ChooseMenuItem(int index);
  // A rescan from the menu, up to the moment unit registers are being read (past the first `from` frames).
  ::testing::AssertionResult RescanUntilReading(size_t from);

  // The program's windows on the screen, whatever their titles, oldest first.
  std::vector<TXSession::TWindow> ProgramWindows() { return Screen->ProgramWindows(Program->Pid()); }

  std::vector<TXSession::TWindow> MessageBoxes();

  // Presses OK on every box, the one on top first, until the program is back to its main window alone
  // (the poll window is up while a poll runs) and stays so for a while; how many boxes there were.
  int DismissUntilIdle();

  void End();

 private:
  void FindMainWindow();

  std::string scheme_;
  ino_t comIniAtStart_ = 0;
};

// A session whose reply came too late (see TOperatorSession::Start) is run again, fresh, this often at most; each
// retry is reported. With both cores overloaded three sessions in a row now and then had a late reply.
constexpr int Attempts = 5;

void ReportLateReply(const std::string& scheme, int attempt);

// A session over `scheme` whose first poll found the units, started afresh up to Attempts times (each miss
// reported); `session` stays null when none found them.
void StartSessionWithUnits(const std::string& scheme, std::unique_ptr<TOperatorSession>& session);
