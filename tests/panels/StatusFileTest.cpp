#include <gtest/gtest.h>

#include "tests/support/TestEnvironment.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "panels/StatusFile.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/Exceptions.h"

namespace fs = std::filesystem;

namespace {

constexpr TStatusValues Sevens = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7};

TStatusValues Parsed(std::string_view text, TStatusValues values = Sevens) {
  ParseStatusText(text, values);
  return values;
}

std::string InvalidTextError(std::string_view text) {
  TStatusValues values = Sevens;
  try {
    ParseStatusText(text, values);
  } catch (const EInOutError& e) {
    EXPECT_EQ(values, Sevens) << "values changed by a failed read of \"" << text << "\"";
    return e.what();
  }
  return "no error";
}

TEST(StatusFileName, IsStatusAddressLog) {
  EXPECT_EQ(StatusFileName(3), "Status3.log");
  EXPECT_EQ(StatusFileName(16), "Status16.log");
}

TEST(StatusReading, ValuesGoToTheirPositionsAndTheRestKeepTheirs) {
  EXPECT_EQ(Parsed(""), Sevens);
  EXPECT_EQ(Parsed("1 1"), (TStatusValues{1, 1, 7, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(Parsed("1 "), (TStatusValues{1, 0, 7, 7, 7, 7, 7, 7, 7, 7}));  // the blanks give one more 0
  EXPECT_EQ(Parsed("1 \r\n"), (TStatusValues{1, 0, 7, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(Parsed("   \r\n"), (TStatusValues{0, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(Parsed("1 0 1 0 0 0 0 0 1 0 \r\n"), (TStatusValues{1, 0, 1, 0, 0, 0, 0, 0, 1, 0}));
  // Whatever integer the file holds is taken over; what it means is the panel's business.
  const TStatusValues twos = Parsed("2 0 0 0 0 0 0 0 2 0 ");
  EXPECT_EQ(twos[StatusIndex(spTitlesK1)], 2);
  EXPECT_EQ(twos[StatusIndex(spTitlesButton)], 2);
  EXPECT_EQ(StatusIndex(StatusPositionOfIndicator(20)), StatusIndex(spAuxK4));
}

TEST(StatusReading, SignsExtremesAndEveryLowByteAsSeparator) {
  EXPECT_EQ(Parsed("-1 +2 -2147483648 2147483647 -0 0007"),
            (TStatusValues{-1, 2, INT32_MIN, INT32_MAX, 0, 7, 7, 7, 7, 7}));
  std::string text = "1";
  for (int c = 0; c <= 0x20; ++c) text += char(c);
  text += "2\t\t3\r\n\r\n4\x1a";
  EXPECT_EQ(Parsed(text), (TStatusValues{1, 2, 3, 4, 0, 7, 7, 7, 7, 7}));
}

TEST(StatusReading, OnlyTheFirstTenValuesAreRead) {
  std::ostringstream many;
  for (int i = 1; i <= 5000; ++i) many << i << ' ';
  EXPECT_EQ(Parsed(many.str()), (TStatusValues{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Parsed("1 2 3 4 5 6 7 8 9 10 not-a-number 99999999999999"),
            (TStatusValues{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(StatusReading, ATokenThatIsNotA32BitIntegerFailsAndChangesNothing) {
  for (std::string_view bad : {"x", "1 2 3 abc", "1-", "-", "+", "--1", "12a", "0x10", "1.5", "1,0", "$10",
                               "2147483648", "-2147483649", "4294967296", "99999999999999999999",
                               "\xd0\x9a", "1 \x80", "\xff\xfe"})
    EXPECT_EQ(InvalidTextError(bad), "Invalid numeric input") << bad;
}

TEST(StatusReading, ATokenLongerThan32CharactersFails) {
  const std::string zeros31(31, '0');
  EXPECT_EQ(Parsed(zeros31 + "5 " + "-" + std::string(30, '0') + "1")[0], 5);
  EXPECT_EQ(Parsed("-" + std::string(30, '0') + "1")[0], -1);
  // Reading 32 characters and then the rest as another value would invent values the file does not hold.
  EXPECT_EQ(InvalidTextError(std::string(32, '0') + "1"), "Invalid numeric input");
  EXPECT_EQ(InvalidTextError(std::string(40, '1')), "Invalid numeric input");
}

// Each case works in a fresh directory that it makes the working directory, as the program's is.
struct StatusFileTest : ::testing::Test {
  TScratchDirectory scratch{false};
  fs::path dir = scratch.Path();

  void TearDown() override { AtomicFileBeforeRename = nullptr; }

  static void Put(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  static std::string Get(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(StatusFileTest, WritingGivesTenValuesEachWithASpaceThenCrLf) {
  SaveStatusValues(3, {1, 0, 1, 0, 0, 0, 0, 0, 1, 0});
  EXPECT_EQ(Get("Status3.log"), "1 0 1 0 0 0 0 0 1 0 \r\n");
  // A longer old content is replaced whole, with no tail left over.
  Put("Status4.log", std::string(500, '9') + "\r\n");
  const TStatusValues odd = {-1, INT32_MIN, INT32_MAX, 0, 2, 0, 0, 0, 0, 12};
  SaveStatusValues(4, odd);
  EXPECT_EQ(Get("Status4.log"), "-1 -2147483648 2147483647 0 2 0 0 0 0 12 \r\n");
  TStatusValues back{};
  LoadStatusValues(4, back);
  EXPECT_EQ(back, odd);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Status3.log", "Status4.log"}));
}

TEST_F(StatusFileTest, LoadingAMissingFileCreatesItEmptyAndKeepsTheValues) {
  TStatusValues values = Sevens;
  LoadStatusValues(5, values);
  EXPECT_EQ(values, Sevens);
  ASSERT_TRUE(fs::exists("Status5.log"));
  EXPECT_EQ(fs::file_size("Status5.log"), 0u);

  Put("Status6.log", "1 1");
  LoadStatusValues(6, values);
  EXPECT_EQ(values, (TStatusValues{1, 1, 7, 7, 7, 7, 7, 7, 7, 7}));
  // Creating never truncates a file that is already there.
  CreateStatusFileIfMissing("Status6.log");
  EXPECT_EQ(Get("Status6.log"), "1 1");
}

TEST_F(StatusFileTest, FilesThatCannotBeReadOrCreatedFailWithTheSystemsReason) {
  TStatusValues values = Sevens;
  Put("Status7.log", "1 0 junk 1");
  try {
    LoadStatusValues(7, values);
    ADD_FAILURE() << "garbage was read";
  } catch (const EInOutError& e) {
    // The operator is told which of the files to look at.
    EXPECT_STREQ(e.what(), "Status7.log: Invalid numeric input");
    EXPECT_EQ(e.ErrorCode, 0);
  }
  EXPECT_EQ(values, Sevens);
  // The file found without regard to case is named as it is on the disk (Windows opens it by the name
  // asked for, and names that).
  fs::rename("Status7.log", "STATUS7.LOG");
  try {
    LoadStatusValues(7, values);
    ADD_FAILURE() << "garbage was read";
  } catch (const EInOutError& e) {
#ifdef _WIN32
    EXPECT_STREQ(e.what(), "Status7.log: Invalid numeric input");
#else
    EXPECT_STREQ(e.what(), "STATUS7.LOG: Invalid numeric input");
#endif
  }

  Put("binary.log", std::string("\x00\x01\x02\x7f\x00", 5));
  try {
    ReadStatusFile("binary.log", values);
    ADD_FAILURE() << "binary bytes were read";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "binary.log: Invalid numeric input");
  }

  try {
    ReadStatusFile("Status8.log", values);
    ADD_FAILURE() << "a missing file was read";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Status8.log: No such file or directory");
  }
  fs::create_directory("Status9.log");
  EXPECT_THROW(LoadStatusValues(9, values), EInOutError);
  try {
    CreateStatusFileIfMissing("missing/Status1.log");
    ADD_FAILURE() << "created in a missing directory";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "missing/Status1.log: No such file or directory");
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
  EXPECT_EQ(values, Sevens);
}

TEST_F(StatusFileTest, AWriteThatFailsPartWayLeavesTheOldFileAndNoTemporary) {
  const std::string old = "1 0 0 1 0 0 0 0 1 0 \r\n";
  Put("Status3.log", old);
  const TStatusValues fresh = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};

  // The new file is complete but something goes wrong before it takes the old one's place.
  std::string temporary;
  AtomicFileBeforeRename = [&](const std::string& path) {
    temporary = path;
    EXPECT_EQ(Get(path), FormatStatusLine(fresh));
    throw EInOutError("Status3.log: No space left on device", ENOSPC);
  };
  try {
    SaveStatusValues(3, fresh);
    ADD_FAILURE() << "the failure was not reported";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Status3.log: No space left on device");
  }
  EXPECT_FALSE(temporary.empty());
  EXPECT_EQ(Get("Status3.log"), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Status3.log"});
  AtomicFileBeforeRename = nullptr;

#ifndef _WIN32
  // A real short write: the system refuses to let the new file grow past a few bytes, as a full disk would.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 8;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  std::string message;
  try {
    SaveStatusValues(3, fresh);
  } catch (const EInOutError& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(message, "Status3.log: File too large");
  EXPECT_EQ(Get("Status3.log"), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Status3.log"});
#endif

  try {
    WriteStatusFile("missing/Status3.log", fresh);
    ADD_FAILURE() << "written into a missing directory";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "missing/Status3.log: No such file or directory");
  }
}

}  // namespace
