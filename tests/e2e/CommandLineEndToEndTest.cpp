// The real program's command line: --help and --version answer without a display and touch no file; an
// unknown argument is refused before anything happens; --user-data works in the per-user data folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/CommandLine.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// Everything under `root`, with each file's size and modification time, to tell whether anything was
// created, changed or removed.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> entries;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    ::lstat(entry.path().c_str(), &st);
    entries.push_back(entry.path().string() + " " + std::to_string(st.st_size) + " " +
                      std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The program with its home, its XDG folders and its working directory all in `dir`, and no display: a
// program that started its windows would fail.
TChildProcess::TOptions Program(const std::string& dir, std::vector<std::string> arguments,
                                std::vector<std::string> environment = {"QT_QPA_PLATFORM=xcb", "DISPLAY="}) {
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
    environment.push_back(std::string(name) + "=" + dir + "/" + name);
  environment.push_back("HOME=" + dir + "/home");
  return {BinDir() + "/orvel-control", arguments, dir + "/work", environment, dir + "/../program.out"};
}

struct ProgramCommandLine : ::testing::Test {
  TScratchDirectory outer{false};
  std::string dir = outer.Path() + "/run";
  void SetUp() override {
    for (const char* sub :
         {"work", "home", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
      fs::create_directories(dir + "/" + sub);
    WriteFileBytes(dir + "/work/COM.ini", "COM3\r\n");
    ::chmod((dir + "/XDG_RUNTIME_DIR").c_str(), 0700);
  }
  std::string Output() { return ReadFileBytes(outer.Path() + "/program.out"); }
  void RunToEnd(TChildProcess& program) {
    ASSERT_TRUE(program.WaitForExit(30s)) << program.Describe();
    ASSERT_TRUE(program.Exited()) << program.Describe() << "\n" << Output();
  }
};

TEST_F(ProgramCommandLine, HelpAndVersionPrintAndEndTouchingNoFile) {
  const auto before = Tree(dir);
  {
    TChildProcess help(Program(dir, {"--help"}));
    RunToEnd(help);
    EXPECT_EQ(help.ExitCode(), 0);
    EXPECT_EQ(Output(), HelpText);
  }
  {
    TChildProcess version(Program(dir, {"--version"}));
    RunToEnd(version);
    EXPECT_EQ(version.ExitCode(), 0);
    EXPECT_EQ(Output(), VersionText());
  }
  EXPECT_EQ(Tree(dir), before);
}

TEST_F(ProgramCommandLine, AnUnknownArgumentIsRefusedWithTheUsageLineBeforeAnythingHappens) {
  const auto before = Tree(dir);
  TChildProcess program(Program(dir, {"--user-data", "--bogus"}));
  RunToEnd(program);
  EXPECT_EQ(program.ExitCode(), 2);
  EXPECT_EQ(Output(), std::string("orvel-control: unknown argument '--bogus'\n") + UsageText);
  EXPECT_EQ(Tree(dir), before) << "not even the data folder was made";
}

TEST_F(ProgramCommandLine, TheDesktopEntrysOptionWorksInThePerUserDataFolderMadeForIt) {
  TChildProcess program(Program(dir, {"--user-data"}, {"QT_QPA_PLATFORM=offscreen"}));
  const std::string folder = dir + "/XDG_DATA_HOME/orvel-control";
  ASSERT_TRUE(WaitUntil([&] { return fs::is_directory(folder) || !program.Running(); }, 30s));
  ASSERT_TRUE(program.Running()) << program.Describe() << "\n" << Output();
  const std::string cwd = fs::read_symlink("/proc/" + std::to_string(program.Pid()) + "/cwd").string();
  EXPECT_EQ(cwd, folder);
  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForExit(10s));
  EXPECT_EQ(ReadFileBytes(dir + "/work/COM.ini"), "COM3\r\n") << "the folder it was started in is left alone";
}

}  // namespace
