#include <QApplication>
#include <QTimer>

#include "app/Application.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/QtToolkit.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName("ORVEL Control");
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
