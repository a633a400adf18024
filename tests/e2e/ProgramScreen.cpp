#include "tests/e2e/ProgramScreen.h"

#include <algorithm>
#include <sstream>
#include <thread>
#include <vector>

#include "panels/Poll.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/TestEnvironment.h"

using namespace std::chrono_literals;

namespace {
// Windows without a caption of their own carry the program's name; the main window stands at its design
// place, the dialogs have their design sizes.
const char* const ProgramTitle = "ORVEL Control";
constexpr int MainLeft = 242, MainTop = 99;

struct TSize {
  int Width, Height;
};
constexpr TSize AddressDialogSize{333, 115}, ConfirmationSize{202, 79}, PollWindowSize{446, 113};

// A window of the design's height and at least its width: where the fonts at hand make a text longer than
// the design's width holds, the window widens for it.
bool Is(const TXSession::TGeometry& g, TSize size) { return g.Width >= size.Width && g.Height == size.Height; }
bool IsMain(const TXSession::TGeometry& g) { return g.X == MainLeft && g.Y == MainTop; }
}  // namespace

TProgramScreen::TProgramScreen(TXSession& x, const std::string& dir)
    : x_(x), dir_(dir), styleSheet_(dir + "/selectable-messages.qss") {
  // 3: selectable by mouse and keyboard. Nothing else of the look changes.
  WriteFileBytes(styleSheet_, "QMessageBox { messagebox-text-interaction-flags: 3; }\n");
}

TChildProcess::TOptions TProgramScreen::Program() const {
  TChildProcess::TOptions options = ::Program(dir_);
  options.Arguments.push_back("-stylesheet=" + styleSheet_);
  return x_.On(options);
}

TProgramScreen::TWindow TProgramScreen::MainWindow(std::chrono::milliseconds limit) {
  return x_.FindWindow(ProgramTitle, limit, IsMain);
}

TProgramScreen::TWindow TProgramScreen::ProgramWindow(int width, int height, std::chrono::milliseconds limit) {
  return x_.FindWindow(ProgramTitle, limit, [&](const TXSession::TGeometry& g) {
    return !IsMain(g) && Is(g, {width, height});
  });
}

TProgramScreen::TWindow TProgramScreen::AddressDialog(std::chrono::milliseconds limit) {
  return ProgramWindow(AddressDialogSize.Width, AddressDialogSize.Height, limit);
}

TProgramScreen::TWindow TProgramScreen::Confirmation(std::chrono::milliseconds limit) {
  return ProgramWindow(ConfirmationSize.Width, ConfirmationSize.Height, limit);
}

TProgramScreen::TWindow TProgramScreen::PortDialog(std::chrono::milliseconds limit) {
  return x_.FindWindow("Выбор Com-порта", limit);
}

bool TProgramScreen::Gone(TWindow window, std::chrono::milliseconds limit) {
  return WaitUntil(
      [&] {
        try {
          const std::string ids = x_.Run("xdotool", {"search", "--onlyvisible", "--name", ".*"});
          return ids.find(std::to_string(window) + "\n") == std::string::npos;
        } catch (const EXSession&) {
          return true;  // nothing visible at all
        }
      },
      limit);
}

int TProgramScreen::MainWidth() { return x_.Geometry(MainWindow()).Width; }

TProgramScreen::TWindow TProgramScreen::TopMessageBox() { return ::TopMessageBox(x_); }

TXSession::TWindow TopMessageBox(TXSession& x) {
  // Boxes of the link carry "Information" or "Error", the error display the program's name; of the
  // program's windows only the boxes and the poll window, modal while it stands, are dialogs.
  std::string visible;
  try {
    visible = x.Run("xdotool", {"search", "--onlyvisible", "--name", "^(Information|Error|ORVEL Control)$"});
  } catch (const EXSession&) {
    return 0;  // none
  }
  std::vector<TXSession::TWindow> boxes;
  std::istringstream ids(visible);
  for (std::string id; std::getline(ids, id);) {
    try {
      const TXSession::TWindow window = std::stoul(id);
      if (x.IsDialog(window) && !Is(x.Geometry(window), PollWindowSize)) boxes.push_back(window);
    } catch (const std::exception&) {
      // gone meanwhile
    }
  }
  // A box opened while another is open stands on top of it and takes the input, unless the other is
  // modal and the new one is not (the notice of a lost port is not).
  return boxes.empty() ? 0 : x.TakingInput(boxes);
}

TProgramScreen::TMessage TProgramScreen::ReadMessage(TWindow window) {
  TMessage message;
  message.Window = window;
  try {
    message.Caption = x_.Run("xdotool", {"getwindowname", std::to_string(window)});
  } catch (const EXSession&) {
    return {};  // gone
  }
  if (!message.Caption.empty() && message.Caption.back() == '\n') message.Caption.pop_back();
  // The first line of the text begins right of the icon, at the same place in every box. The clipboard
  // is emptied first, so an earlier box's text is never taken for this one's.
  for (int attempt = 0; attempt < 3 && message.Text.empty(); ++attempt) {
    x_.Run("xclip", {"-selection", "clipboard", "-i", "/dev/null"});
    x_.Focus(window);
    x_.Click(window, 70, 20);
    x_.Keys("ctrl+a ctrl+c");
    try {
      message.Text = x_.Run("xclip", {"-o", "-selection", "clipboard"});
    } catch (const EXSession&) {
      std::this_thread::sleep_for(200ms);  // not copied yet
    }
  }
  message.Text.erase(std::remove(message.Text.begin(), message.Text.end(), '\r'), message.Text.end());
  return message;
}

bool TProgramScreen::IsLateReadReport(const TMessage& message) {
  return message.Caption == "Information" && (message.Text.rfind(TextUnitNotReadOne, 0) == 0 ||
                                              message.Text.rfind(TextUnitsNotReadMany, 0) == 0);
}

TProgramScreen::TMessage TProgramScreen::NextMessage(std::chrono::milliseconds limit) {
  TMessage message;
  WaitUntil(
      [&] {
        const TWindow window = TopMessageBox();
        if (!window) return false;
        message = ReadMessage(window);
        // Nothing read: another box came up on top meanwhile and took the input; that one is next.
        if (message.Text.empty()) return false;
        if (!IsLateReadReport(message)) return true;
        ++IncidentalReports;
        Acknowledge(message);
        Gone(window, 5s);
        message = {};
        return false;
      },
      limit);
  return message;
}

bool TProgramScreen::Await(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                           const std::function<bool(const TMessage&)>& incidental) {
  return WaitUntil(
      [&] {
        if (condition()) return true;
        const TWindow window = TopMessageBox();
        if (!window) return false;
        const TMessage message = ReadMessage(window);
        if (!message.Text.empty() && incidental(message)) {
          ++IncidentalReports;
          Acknowledge(message);
          Gone(window, 5s);
        }
        return false;
      },
      limit);
}

void TProgramScreen::Acknowledge(const TMessage& message) {
  x_.Focus(message.Window);
  x_.Keys("Return");
}

void TProgramScreen::MenuEntry(int entry) { ChooseMenuEntry(x_, MainWindow(), entry); }

void ChooseMenuEntry(TXSession& x, TXSession::TWindow main, int entry) {
  const int width = x.Geometry(main).Width;
  std::string keys;
  if (width < 150) {
    // Only the row captions show: the menu's title does not fit, and the menu bar's extension holds it.
    x.Click(main, width - 7, 8);
    keys = "Down Right";
    for (int i = 1; i < entry; ++i) keys += " Down";
  } else {
    x.Click(main, 60, 8);
    for (int i = 0; i < entry; ++i) keys += " Down";
  }
  std::this_thread::sleep_for(300ms);  // the popup opens
  x.Keys(keys + " Return");
}

void TProgramScreen::Click(TWindow window, int x, int y) { x_.Click(window, x, y); }

void TProgramScreen::Retype(TWindow window, int x, int y, const std::string& text) {
  x_.Focus(window);
  x_.Click(window, x, y);
  x_.Keys("ctrl+a BackSpace");
  if (!text.empty()) x_.Type(text);
}

void TProgramScreen::Screenshot(const std::string& file) { x_.Screenshot(file); }
