#include "tests/support/TestApplication.h"

#include <QApplication>
#include <QtGlobal>
#include <cstdlib>

void EnsureApplication() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The offscreen platform warns about window hints it does not implement; that says nothing about the
  // program.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("propagateSizeHints") || message.contains("XDG_RUNTIME_DIR")) return;
    qt_message_output(type, context, message);
  });
  static int argc = 1;
  static char name[] = "orvel-tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}
