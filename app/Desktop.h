#pragma once
// What makes the program at home on a desktop: Qt's own texts (context menus, standard buttons) in
// Russian like the program's, its icon on every window, the desktop entry it belongs to, and its installed
// data, where the images come from when the working directory has none.
#include <QIcon>
#include <QString>
#include <string>
#include <vector>

class QApplication;

// Loads and installs Qt's Russian translations; false when they are not installed.
bool LoadQtTranslations(QApplication& application);

QIcon ProgramIcon();

// The folders that stand in for a working directory without "Bmp": the program's own folder (the build
// tree keeps the images beside the program) and the data folder of an installed program
// (<prefix>/share/orvel-control beside <prefix>/bin).
std::vector<std::string> InstalledDataDirectories(const std::string& programDirectory);

// All of the above, for the running program.
void SetUpDesktop(QApplication& application);
