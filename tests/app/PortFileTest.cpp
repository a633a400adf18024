// "COM.ini" byte for byte: what SavePortName writes, what LoadPortName takes, and what a failed write
// leaves behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "app/PortFile.h"
#include "serial/ComPort.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/Exceptions.h"

namespace {

std::vector<std::string> DirectoryEntries() {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator("."))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST(PortFile, SaveWritesTheNameAndCrLfOnlyReplacingWhateverWasThere) {
  TScratchDirectory scratch(false);
  TComPort port;
  EXPECT_FALSE(PortFileExists());

  port.SetPort("COM7");
  SavePortName(port);
  EXPECT_TRUE(PortFileExists());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM7\r\n");

  WriteFileBytes("COM.ini", "COM10\r\nsomething else\r\nand more");
  port.SetPort("COM2");
  SavePortName(port);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM2\r\n");

  // Single-byte characters go out as they are.
  port.SetPort("/dev/tty\xC0\xFF");
  SavePortName(port);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "/dev/tty\xC0\xFF\r\n");
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"COM.ini"});
}

TEST(PortFile, LoadTakesWhatSaveWroteAndOnlyTheFirstLine) {
  TScratchDirectory scratch(false);
  TComPort saved, loaded;
  for (const std::string name : {"COM1", "COM10", "/tmp/orvel-tty", "com3"}) {
    saved.SetPort(name);
    SavePortName(saved);
    loaded.SetPort("other");
    LoadPortName(loaded);
    EXPECT_EQ(loaded.Port(), name);
  }
  WriteFileBytes("COM.ini", "COM4\r\nCOM5\r\n");
  LoadPortName(loaded);
  EXPECT_EQ(loaded.Port(), "COM4");
}

TEST(PortFile, MissingFileFailsToLoadAndLeavesThePortAlone) {
  TScratchDirectory scratch(false);
  TComPort port;
  port.SetPort("COM6");
  try {
    LoadPortName(port);
    FAIL() << "loaded a file that is not there";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("COM.ini"), std::string::npos) << e.what();
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
  EXPECT_EQ(port.Port(), "COM6");
}

TEST(PortFile, FailedSaveLeavesTheOldFileIntactAndNoTemporaryBehind) {
  TScratchDirectory scratch(false);
  TComPort port;
  WriteFileBytes("COM.ini", "COM3\r\n");
  port.SetPort("COM9");
  // The disk fills up after the new content was written, before it replaces the old file.
  std::string temporary;
  AtomicFileBeforeRename = [&](const std::string& path) {
    temporary = path;
    throw EInOutError("COM.ini: No space left on device", ENOSPC);
  };
  EXPECT_THROW(SavePortName(port), EInOutError);
  AtomicFileBeforeRename = nullptr;
  EXPECT_FALSE(temporary.empty());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM3\r\n");
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"COM.ini"});

  // A directory where the file should be cannot be replaced either; it stays and the error says why.
  std::filesystem::remove("COM.ini");
  std::filesystem::create_directory("COM.ini");
  try {
    SavePortName(port);
    FAIL() << "saved over a directory";
  } catch (const EInOutError& e) {
#ifdef _WIN32
    EXPECT_STREQ(e.what(), "COM.ini: Permission denied");
    EXPECT_EQ(e.ErrorCode, EACCES);
#else
    EXPECT_STREQ(e.what(), "COM.ini: Is a directory");
    EXPECT_EQ(e.ErrorCode, EISDIR);
#endif
  }
  EXPECT_TRUE(std::filesystem::is_directory("COM.ini"));
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"COM.ini"});
}

}  // namespace
