// The inotify watch for a device coming back: it speaks up when the device's name appears, changes its
// mode or goes, also where the folders on the way do not exist yet (as /dev/serial/by-id before the first
// adapter), and keeps quiet about the folder's other files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "serial/platform/posix/PosixComPlatform.h"
#include "serial/platform/posix/PosixDeviceWatch.h"
#include "tests/serial/PtyPair.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TCounter {
 public:
  void Add() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  // Waits until more than `seen` calls came; the count then.
  int WaitBeyond(int seen, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return count_ > seen; });
    return count_;
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

TEST(PosixDeviceWatch, SpeaksUpWhenTheDeviceComesChangesOrGoesEvenBelowFoldersStillMissing) {
  TScratchDirectory scratch(false);
  TPtyPair pty;
  ASSERT_TRUE(pty.Valid());
  const std::string dev = scratch.Path() + "/dev";
  const std::string stable = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  fs::create_directories(dev);
  TCounter calls;
  TPosixDeviceWatch watch(stable, [&] { calls.Add(); });
  ASSERT_TRUE(watch.Valid());

  // The folders on the way appear one after the other, then the adapter's link.
  fs::create_directories(dev + "/serial");
  int seen = calls.WaitBeyond(0);
  EXPECT_GT(seen, 0) << "the watch must move on to the new folder";
  fs::create_directories(dev + "/serial/by-id");
  seen = calls.WaitBeyond(seen);
  WriteFileBytes(dev + "/ttyUSB0", "");  // the device file the link will lead to, as udev makes it
  fs::create_symlink("../../ttyUSB0", stable);
  seen = calls.WaitBeyond(seen);
  EXPECT_TRUE(fs::is_symlink(stable));
  // udev gives the device its group and mode after making the link.
  ASSERT_EQ(::chmod((dev + "/ttyUSB0").c_str(), 0660), 0);
  seen = calls.WaitBeyond(seen);
  const int afterMode = seen;
  EXPECT_GT(afterMode, 0);

  // Other files in the watched folders say nothing.
  WriteFileBytes(dev + "/serial/by-id/usb-Other_Adapter-if00", "");
  WriteFileBytes(dev + "/ttyUSB1", "");
  EXPECT_EQ(calls.WaitBeyond(seen, 300ms), seen);

  // The adapter goes, and with it the folder: still watched, from the folder above.
  fs::remove_all(dev + "/serial");
  seen = calls.WaitBeyond(seen);
  fs::create_directories(dev + "/serial/by-id");
  seen = calls.WaitBeyond(seen);
  fs::create_symlink("../../ttyUSB0", stable);
  EXPECT_GT(calls.WaitBeyond(seen), seen);
}

TEST(PosixDeviceWatch, ThePlatformWatchesDeviceNamesAndNothingElse) {
  TScratchDirectory scratch(false);
  TPosixComPlatform platform({scratch.Path(), scratch.Path() + "/sys"});
  TCounter calls;
  auto com = platform.WatchDevice("\\\\.\\COM3", [&] { calls.Add(); });  // <dev>/ttyS2
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(platform.WatchDevice("\\\\.\\tcp://server:4001", [] {}), nullptr);
  EXPECT_EQ(platform.WatchDevice("\\\\.\\LPT1", [] {}), nullptr);
  WriteFileBytes(scratch.Path() + "/ttyS1", "");
  EXPECT_EQ(calls.WaitBeyond(0, 300ms), 0);
  WriteFileBytes(scratch.Path() + "/ttyS2", "");
  EXPECT_GT(calls.WaitBeyond(0), 0);
  com.reset();  // ends its thread
  // So does the program's own platform, which also serves device servers.
  EXPECT_NE(SystemComPlatform().WatchDevice("\\\\.\\" + scratch.Path() + "/ttyUSB0", [] {}), nullptr);
  EXPECT_EQ(SystemComPlatform().WatchDevice("\\\\.\\tcp://server:4001", [] {}), nullptr);
}

}  // namespace
