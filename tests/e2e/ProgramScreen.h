#pragma once
// orvel-control on a private X display, worked as the operator works it: windows found by their caption
// and design size, the menu opened with the mouse and the keyboard, buttons clicked, text typed, and
// message boxes read. The program runs with Qt's own -stylesheet option making message-box text
// selectable, so a box's text is read the way an operator copies it: select all, copy, paste elsewhere.
#include <chrono>
#include <functional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/XSession.h"

class TProgramScreen {
 public:
  using TWindow = TXSession::TWindow;
  static constexpr std::chrono::seconds Patience{60};

  // `dir`: the program's working directory, where the style sheet is written.
  TProgramScreen(TXSession& x, const std::string& dir);
  TChildProcess::TOptions Program() const;

  TWindow MainWindow(std::chrono::milliseconds limit = Patience);
  TWindow AddressDialog(std::chrono::milliseconds limit = Patience);
  TWindow Confirmation(std::chrono::milliseconds limit = Patience);
  TWindow PortDialog(std::chrono::milliseconds limit = Patience);
  // True once `window` is no longer on the screen.
  bool Gone(TWindow window, std::chrono::milliseconds limit = Patience);
  int MainWidth();

  struct TMessage {
    TWindow Window = 0;
    std::string Caption;
    std::string Text;  // lines separated by LF
  };
  // The next message box on the screen and what it says; Window is 0 when none came within `limit`.
  // A poll's report that some units' switches could not be read is acknowledged and counted instead: on
  // a machine too busy to keep the line's 60 ms timing, a reply may come after its wait, and the program
  // rightly says so; that is not what these tests look at.
  TMessage NextMessage(std::chrono::milliseconds limit = Patience);
  static bool IsLateReadReport(const TMessage& message);
  // Waits until `condition` holds, acknowledging meanwhile such reports, or every box that `incidental`
  // takes for one.
  bool Await(const std::function<bool()>& condition, std::chrono::milliseconds limit = Patience,
             const std::function<bool(const TMessage&)>& incidental = IsLateReadReport);
  // The boxes acknowledged so, for the test's record.
  int IncidentalReports = 0;
  // The message box that takes the input now, or 0: of boxes opened one over another, only the last
  // answers the keyboard.
  TWindow TopMessageBox();
  // Its OK, from the keyboard.
  void Acknowledge(const TMessage& message);

  // An entry of the main window's only menu, "Общие настройки": 1 "Выбор Com-порта", 2 "Задать адрес
  // устройства", 3 "Добавить устройство в систему".
  void MenuEntry(int entry);
  // A click at a point of a window's client area.
  void Click(TWindow window, int x, int y);
  // Replaces the text of the field that takes a click at (x, y) by `text`.
  void Retype(TWindow window, int x, int y, const std::string& text);

  // A picture of the whole screen into `file`; for a failure's record.
  void Screenshot(const std::string& file);

 private:
  TWindow ProgramWindow(int width, int height, std::chrono::milliseconds limit);
  TMessage ReadMessage(TWindow window);

  TXSession& x_;
  std::string dir_;
  std::string styleSheet_;
};

// The two things any test on the program's screen needs, also without a TProgramScreen: the message box
// that takes the input now (0 when none), and an entry of the main window's menu as TProgramScreen's
// MenuEntry chooses it.
TXSession::TWindow TopMessageBox(TXSession& x);
void ChooseMenuEntry(TXSession& x, TXSession::TWindow main, int entry);
