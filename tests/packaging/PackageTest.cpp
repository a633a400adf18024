// What `cmake --install` puts where, and the Debian package CPack makes of it: the programs, the images
// the program falls back on, the desktop entry with the per-user data option, the icon in the sizes desktops
// use, the manual pages, and the Qt 6 runtime the package depends on.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "app/Desktop.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

struct TRun {
  int ExitCode = -1;
  std::string Output;
};

TRun RunCommand(const std::string& program, std::vector<std::string> arguments, const std::string& scratch) {
  const std::string output = scratch + "/command.out";
  TChildProcess child({program, arguments, scratch, {}, output});
  TRun run;
  if (!child.WaitForExit(600s) || !child.Exited()) {
    run.Output = child.Describe();
    return run;
  }
  run.ExitCode = child.ExitCode();
  run.Output = ReadFileBytes(output);
  return run;
}

std::vector<std::string> Files(const std::string& root) {
  std::vector<std::string> files;
  for (auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

const char* const IconSizes[] = {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"};

std::vector<std::string> ExpectedFiles() {
  std::vector<std::string> files{"bin/orvel-control",
                                 "bin/orvel-unitsim",
                                 "share/applications/orvel-control.desktop",
                                 "share/icons/hicolor/scalable/apps/orvel-control.svg",
                                 "share/man/man1/orvel-control.1.gz",
                                 "share/man/man1/orvel-unitsim.1.gz"};
  for (const char* size : IconSizes)
    files.push_back(std::string("share/icons/hicolor/") + size + "/apps/orvel-control.png");
  for (const char* image : {"TitOn", "TitOff", "AuxOn", "AuxOff"})
    files.push_back(std::string("share/orvel-control/Bmp/") + image + ".bmp");
  for (int address = 1; address <= 16; ++address)
    files.push_back("share/orvel-control/Bmp/Button" + std::to_string(address) + ".bmp");
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Package, TheInstallTreeHoldsTheProgramsTheirDataTheEntryTheIconAndTheManualPages) {
  TScratchDirectory scratch(false);
  const std::string prefix = scratch.Path() + "/prefix";
  const TRun install =
      RunCommand(ORVEL_CMAKE_COMMAND, {"--install", ORVEL_BUILD_DIR, "--prefix", prefix}, scratch.Path());
  ASSERT_EQ(install.ExitCode, 0) << install.Output;
  EXPECT_EQ(Files(prefix), ExpectedFiles());

  // The installed program runs, and finds its images in its installed data wherever it is started.
  const TRun version = RunCommand(prefix + "/bin/orvel-control", {"--version"}, scratch.Path());
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Output, "orvel-control " ORVEL_VERSION "\n");
  bool found = false;
  for (const auto& directory : InstalledDataDirectories(prefix + "/bin"))
    found = found || fs::exists(directory + "/Bmp/TitOn.bmp");
  EXPECT_TRUE(found);

  // The entry is valid and starts the program in the per-user data folder.
  const std::string entry = prefix + "/share/applications/orvel-control.desktop";
  const TRun validate = RunCommand("/usr/bin/desktop-file-validate", {entry}, scratch.Path());
  EXPECT_EQ(validate.ExitCode, 0) << validate.Output;
  const std::string text = ReadFileBytes(entry);
  EXPECT_NE(text.find("\nExec=orvel-control --user-data\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nIcon=orvel-control\n"), std::string::npos) << text;

  for (const char* size : IconSizes) {
    const std::string file = prefix + "/share/icons/hicolor/" + size + "/apps/orvel-control.png";
    const QImage icon(QString::fromStdString(file));
    EXPECT_EQ(QString("%1x%2").arg(icon.width()).arg(icon.height()).toStdString(), size);
    EXPECT_TRUE(icon.hasAlphaChannel());
  }
  const TRun man =
      RunCommand("/bin/gzip", {"-dc", prefix + "/share/man/man1/orvel-control.1.gz"}, scratch.Path());
  EXPECT_EQ(man.Output.rfind(".TH ORVEL-CONTROL 1 \"2026\" \"ORVEL Control " ORVEL_VERSION "\"", 0), 0u)
      << man.Output;
  EXPECT_NE(man.Output.find("\\-\\-user\\-data"), std::string::npos);
}

TEST(Package, TheDebianPackageHoldsTheTreeUnderUsrAndDependsOnTheQt6Runtime) {
  TScratchDirectory scratch(false);
  const TRun pack = RunCommand(ORVEL_CPACK_COMMAND,
                        {"-G", "DEB", "-B", scratch.Path(), "--config", ORVEL_BUILD_DIR "/CPackConfig.cmake"},
                        scratch.Path());
  ASSERT_EQ(pack.ExitCode, 0) << pack.Output;
  std::string deb;
  for (auto& entry : fs::directory_iterator(scratch.Path()))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_FALSE(deb.empty()) << pack.Output;
  EXPECT_EQ(fs::path(deb).filename().string().rfind("orvel-control_" ORVEL_VERSION "_", 0), 0u) << deb;

  const TRun contents = RunCommand("/usr/bin/dpkg-deb", {"-c", deb}, scratch.Path());
  ASSERT_EQ(contents.ExitCode, 0) << contents.Output;
  for (const auto& file : ExpectedFiles())
    EXPECT_NE(contents.Output.find(" ./usr/" + file + "\n"), std::string::npos)
        << file << "\n"
        << contents.Output;
  EXPECT_EQ(contents.Output.find("tests/"), std::string::npos) << "no test program goes into the package";

  const TRun depends = RunCommand("/usr/bin/dpkg-deb", {"-f", deb, "Depends"}, scratch.Path());
  for (const char* package :
       {"libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins", "libc6", "libstdc++6"})
    EXPECT_NE(depends.Output.find(package), std::string::npos) << package << " missing from " << depends.Output;
  const TRun recommends = RunCommand("/usr/bin/dpkg-deb", {"-f", deb, "Recommends"}, scratch.Path());
  EXPECT_NE(recommends.Output.find("qt6-translations-l10n"), std::string::npos) << recommends.Output;
}

}  // namespace
