#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Desktop.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/QtToolkit.h"

int main(int argc, char** argv) {
  // Before anything else: asking for help or the version, or a mistyped argument, touches nothing.
  const TCommandLine command = ParseCommandLine(argc, argv, [](const char* name) -> const char* {
    return std::getenv(name);
  });
  switch (command.Action) {
    case TCommandAction::caHelp:
      std::fputs(HelpText, stdout);
      return 0;
    case TCommandAction::caVersion:
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    case TCommandAction::caRefuse:
      std::fprintf(stderr, "orvel-control: %s\n%s", command.Error.c_str(), UsageText);
      return 2;
    case TCommandAction::caRun:
      break;
  }

  QApplication application(argc, argv);
  application.setApplicationName("ORVEL Control");
  SetUpDesktop(application);
  if (!command.DataDirectory.empty()) {
    std::string error;
    if (!EnterDataDirectory(command.DataDirectory, error)) {
      QMessageBox::critical(nullptr, "ORVEL Control",
                            QString::fromUtf8("Не удалось открыть папку данных программы:\n") +
                                QString::fromLocal8Bit(error.c_str()));
      return 1;
    }
  }
  TQtToolkit toolkit;
  SetToolkit(&toolkit);
  // An earlier run killed while it replaced "COM.ini" or a status file left its temporary file here.
  RemoveStaleTemporaryFiles(".");
  int result;
  {
    TApplicationWindows windows;
    // The main window appears once the message loop runs, after every window exists.
    QTimer::singleShot(0, windows.Form1.get(), [&] { windows.Form1->show(); });
    result = application.exec();
  }
  SetToolkit(nullptr);
  return result;
}
