#include "app/Desktop.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <filesystem>

#include "toolkit/DataFiles.h"

bool LoadQtTranslations(QApplication& application) {
  // The program speaks Russian whatever the session's language, so Qt's own texts must too.
  auto* translator = new QTranslator(&application);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load("qt_ru", folder) && !translator->load("qtbase_ru", folder)) {
    delete translator;
    return false;
  }
  QApplication::installTranslator(translator);
  return true;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/icons/%1x%1/apps/orvel-control.png").arg(size), QSize(size, size));
  return icon;
}

std::vector<std::string> InstalledDataDirectories(const std::string& programDirectory) {
  namespace fs = std::filesystem;
  const fs::path program(programDirectory);
  return {program.lexically_normal().string(),
          (program / ".." / "share" / "orvel-control").lexically_normal().string()};
}

void SetUpDesktop(QApplication& application) {
  LoadQtTranslations(application);
  QApplication::setWindowIcon(ProgramIcon());
  // Lets the desktop match the windows to the entry, and so to its icon and name.
  QGuiApplication::setDesktopFileName("orvel-control");
  SetDataFileFallbacks(InstalledDataDirectories(QCoreApplication::applicationDirPath().toStdString()));
}
