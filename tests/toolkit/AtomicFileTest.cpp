// Replacing files: the temporary file carries its writer's process id, so a later start can tell the
// files a killed writer left behind from those of a writer still at work, and from everything else.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Entries() {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(".")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFile, TheTemporaryFileNamesItsWriter) {
  TScratchDirectory scratch(false);
  std::string seen;
  AtomicFileBeforeRename = [&](const std::string& temporary) { seen = temporary; };
  WriteFileReplacing("COM.ini", "COM3\r\n");
  AtomicFileBeforeRename = nullptr;
  EXPECT_TRUE(std::regex_match(seen, std::regex("COM\\.ini\\.orvel-" + std::to_string(::getpid()) +
                                                "-[0-9a-f]{8}\\.tmp")))
      << seen;
  EXPECT_EQ(Entries(), std::vector<std::string>{"COM.ini"});
}

TEST(AtomicFile, StartUpRemovesOnlyTheTemporaryFilesOfWritersThatAreGone) {
  TScratchDirectory scratch(false);
  const std::string gone = std::to_string(EndedProcessId());
  const pid_t worker = ::fork();  // a writer still at work
  if (worker == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string alive = std::to_string(worker);
  const std::vector<std::string> stale = {
      "COM.ini.orvel-" + gone + "-0123abcd.tmp",
      "Status3.log.orvel-" + gone + "-ffffffff.tmp",
      // The same id as this process: left by an earlier one, since this one has not written yet.
      "Status12.log.orvel-" + std::to_string(::getpid()) + "-00000000.tmp",
  };
  const std::vector<std::string> kept = {
      "COM.ini",
      "Status3.log",
      "COM.ini.orvel-" + alive + "-0123abcd.tmp",  // its writer may still rename it
      "COM.ini.tmp",
      "COM.ini." + gone + ".0123abcd.tmp",           // not our pattern
      "COM.ini.orvel-" + gone + "-0123abc.tmp",      // seven digits
      "COM.ini.orvel-" + gone + "-0123ABCD.tmp",     // we write lower case
      "COM.ini.orvel-" + gone + "-0123abcd.tmp~",
      "COM.ini.orvel--0123abcd.tmp",
      "COM.ini.orvel-x" + gone + "-0123abcd.tmp",
      "notes.txt",
  };
  for (auto& name : stale) WriteFileBytes(name, "half a fi");
  for (auto& name : kept) WriteFileBytes(name, "keep");
  // A directory by that name is not a file we wrote.
  const std::string directory = "Status4.log.orvel-" + gone + "-0123abcd.tmp";
  fs::create_directory(directory);
  // Nor is a link, whatever it points at.
  const std::string link = "Status5.log.orvel-" + gone + "-0123abcd.tmp";
  fs::create_symlink("notes.txt", link);

  std::vector<std::string> removed = RemoveStaleTemporaryFiles(".");
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expectedRemoved = stale;
  std::sort(expectedRemoved.begin(), expectedRemoved.end());
  EXPECT_EQ(removed, expectedRemoved);

  std::vector<std::string> expectedLeft = kept;
  expectedLeft.push_back(directory);
  expectedLeft.push_back(link);
  std::sort(expectedLeft.begin(), expectedLeft.end());
  EXPECT_EQ(Entries(), expectedLeft);
  for (auto& name : kept) EXPECT_EQ(ReadFileBytes(name), "keep") << name;

  // Once the writer is killed, its file goes too, even before its parent has collected it.
  ::kill(worker, SIGKILL);
  siginfo_t ended{};
  ASSERT_EQ(::waitid(P_PID, id_t(worker), &ended, WEXITED | WNOWAIT), 0);  // a zombie now
  EXPECT_EQ(RemoveStaleTemporaryFiles("."), std::vector<std::string>{kept[2]});
  ::waitpid(worker, nullptr, 0);
  // A directory that cannot be read is passed over.
  EXPECT_TRUE(RemoveStaleTemporaryFiles("no-such-directory").empty());
}

}  // namespace
