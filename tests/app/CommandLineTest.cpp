// The command line, the per-user data folder, and what makes the program at home on a desktop: Qt's own
// texts in Russian, the icon, the installed data standing in for a missing Bmp folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <filesystem>
#include <map>

#include "app/CommandLine.h"
#include "app/Desktop.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/DataFiles.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> environment;
const char* Lookup(const char* name) {
  auto found = environment.find(name);
  return found == environment.end() ? nullptr : found->second.c_str();
}

TCommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "orvel-control");
  return ParseCommandLine(int(arguments.size()), arguments.data(), Lookup);
}

TEST(CommandLine, NoArgumentRunsInTheWorkingDirectory) {
  const TCommandLine line = Parse({});
  EXPECT_EQ(line.Action, TCommandAction::caRun);
  EXPECT_EQ(line.DataDirectory, "");
}

TEST(CommandLine, HelpAndVersionWinWhereverTheyStand) {
  EXPECT_EQ(Parse({"--help"}).Action, TCommandAction::caHelp);
  EXPECT_EQ(Parse({"-h"}).Action, TCommandAction::caHelp);
  EXPECT_EQ(Parse({"--data-dir", "/tmp/x", "--version"}).Action, TCommandAction::caVersion);
  EXPECT_EQ(VersionText().rfind("orvel-control ", 0), 0u);
  EXPECT_EQ(std::string(HelpText).rfind(UsageText, 0), 0u) << "the help begins with the usage line";
}

TEST(CommandLine, AFolderByNameOrThePerUserOne) {
  EXPECT_EQ(Parse({"--data-dir", "/srv/orvel"}).DataDirectory, "/srv/orvel");
  EXPECT_EQ(Parse({"--data-dir=/srv/orvel"}).DataDirectory, "/srv/orvel");
  environment = {{"HOME", "/home/op"}};
  EXPECT_EQ(Parse({"--user-data"}).DataDirectory, "/home/op/.local/share/orvel-control");
  environment = {{"HOME", "/home/op"}, {"XDG_DATA_HOME", "/data/op"}};
  EXPECT_EQ(Parse({"--user-data"}).DataDirectory, "/data/op/orvel-control");
  // A relative XDG_DATA_HOME is to be ignored.
  environment = {{"HOME", "/home/op"}, {"XDG_DATA_HOME", "data"}};
  EXPECT_EQ(UserDataDirectory(Lookup), "/home/op/.local/share/orvel-control");
  environment.clear();
}

TEST(CommandLine, AnythingElseIsRefusedWithTheReason) {
  for (auto arguments : std::vector<std::vector<const char*>>{
           {"--bogus"}, {"COM3"}, {"-platform", "offscreen"}, {"--data-dir"}, {"--data-dir="},
           {"--data-dir", ""}, {"--data-dir", "/a", "--user-data"}, {"--user-data", "--user-data"}}) {
    const TCommandLine line = Parse(arguments);
    EXPECT_EQ(line.Action, TCommandAction::caRefuse) << arguments[0];
    EXPECT_FALSE(line.Error.empty());
  }
  EXPECT_EQ(Parse({"--bogus"}).Error, "unknown argument '--bogus'");
}

TEST(DataFolder, IsCreatedWithItsParentsAndBecomesTheWorkingDirectory) {
  TScratchDirectory scratch(false);
  const std::string folder = scratch.Path() + "/xdg/orvel-control";
  std::string error;
  ASSERT_TRUE(EnterDataDirectory(folder, error)) << error;
  EXPECT_EQ(fs::current_path(), fs::path(folder));
  ASSERT_TRUE(EnterDataDirectory(folder, error)) << "an existing folder is fine: " << error;
  WriteFileBytes(scratch.Path() + "/file", "x");
  EXPECT_FALSE(EnterDataDirectory(scratch.Path() + "/file/sub", error));
  EXPECT_NE(error.find(scratch.Path() + "/file/sub"), std::string::npos) << error;
}

TEST(Desktop, ImagesComeFromTheInstalledDataWhenTheWorkingDirectoryHasNoBmp) {
  TScratchDirectory installed(false);
  fs::create_directories(installed.Path() + "/bin");
  fs::create_directories(installed.Path() + "/share/orvel-control/Bmp");
  WriteFileBytes(installed.Path() + "/share/orvel-control/Bmp/TitOn.bmp", "BM");
  const auto directories = InstalledDataDirectories(installed.Path() + "/bin");
  EXPECT_EQ(directories, (std::vector<std::string>{installed.Path() + "/bin",
                                                   installed.Path() + "/share/orvel-control"}));
  TScratchDirectory working(false);
  SetDataFileFallbacks(directories);
  EXPECT_EQ(ResolveDataFile("Bmp\\TitOn.bmp"), installed.Path() + "/share/orvel-control/Bmp/TitOn.bmp");
  EXPECT_EQ(ResolveDataFile("BMP\\Button3.bmp"), installed.Path() + "/share/orvel-control/Bmp/Button3.bmp");
  EXPECT_EQ(ResolveDataFile("COM.ini"), "COM.ini") << "the program's own files stay where it works";
  EXPECT_EQ(ResolveDataFile("Status3.log"), "Status3.log");
  // A Bmp folder of its own wins, even one that lacks the file asked for.
  fs::create_directory("bmp");
  EXPECT_EQ(ResolveDataFile("Bmp\\TitOn.bmp"), "bmp/TitOn.bmp");
  SetDataFileFallbacks({});
}

TEST(Desktop, QtsOwnTextsAreRussianAndTheProgramHasItsIcon) {
  EnsureApplication();
  ASSERT_TRUE(LoadQtTranslations(*qApp)) << "Qt's Russian translations are not installed";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Отмена");
  EXPECT_EQ(QCoreApplication::translate("QWidgetTextControl", "&Copy").toStdString(), "&Копировать");
  const QIcon icon = ProgramIcon();
  for (int size : {16, 32, 48, 256}) EXPECT_EQ(icon.pixmap(size, size).width(), size);
}

}  // namespace
