#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TestEnvironment.h"
#include "toolkit/DataFiles.h"

namespace fs = std::filesystem;

namespace {

// Each case works in a fresh directory that it makes the working directory, as the program's is.
struct DataFilesTest : ::testing::Test {
  TScratchDirectory scratch{false};
  fs::path dir = scratch.Path();
  static void Touch(const fs::path& p) { std::ofstream(p) << "x"; }
};

#ifdef _WIN32
// The system itself separates with backslashes and ignores case: names are taken as they stand.
TEST_F(DataFilesTest, NamesStandAsWrittenAndOpenWhateverTheirCase) {
  fs::create_directory("Bmp");
  Touch("Bmp/TitOn.bmp");
  for (const char* name : {"Bmp\\TitOn.bmp", "BMP\\TITON.BMP", "bmp/titon.bmp"}) {
    EXPECT_EQ(ResolveDataFile(name), name);
    EXPECT_TRUE(std::ifstream(ResolveDataFile(name)).is_open()) << name;
  }
  EXPECT_FALSE(std::ifstream(ResolveDataFile("BMP\\Button9.bmp")).is_open());
}
#else
TEST_F(DataFilesTest, BackslashSeparatesAndDirectoriesMatchWithoutRegardToCase) {
  fs::create_directory("Bmp");
  Touch("Bmp/TitOn.bmp");
  Touch("Bmp/Button3.bmp");
  EXPECT_EQ(ResolveDataFile("Bmp\\TitOn.bmp"), "Bmp/TitOn.bmp");
  EXPECT_EQ(ResolveDataFile("BMP\\Button3.bmp"), "Bmp/Button3.bmp");
  EXPECT_EQ(ResolveDataFile("bmp/button3.BMP"), "Bmp/Button3.bmp");
  EXPECT_EQ(ResolveDataFile((dir / "BMP\\TitOn.bmp").string()), (dir / "Bmp/TitOn.bmp").string());
  EXPECT_EQ(ResolveDataFile("COM.ini"), "COM.ini");
}

TEST_F(DataFilesTest, TheExactNameIsPreferredAndOnlyDirectoriesServeAsDirectories) {
  fs::create_directory("Bmp");
  for (const char* variant : {"titon.bmp", "tItOn.bmp", "TitOn.bmp", "TitoN.bmp"})
    Touch(fs::path("Bmp") / variant);
  Touch("BMP");  // a plain file whose name differs from the directory only in case
  Touch("status3.log");
  EXPECT_EQ(ResolveDataFile("Bmp\\TitOn.bmp"), "Bmp/TitOn.bmp");
  EXPECT_EQ(ResolveDataFile("Bmp\\titon.bmp"), "Bmp/titon.bmp");
  EXPECT_EQ(ResolveDataFile("BMP\\TitOn.bmp"), "Bmp/TitOn.bmp");
  EXPECT_EQ(ResolveDataFile("Bmp\\TITON.BMP"), "Bmp/TitOn.bmp");  // of several, the first in byte order
  EXPECT_EQ(ResolveDataFile("Status3.log"), "status3.log");
}

TEST_F(DataFilesTest, ANameThatMatchesNothingStaysAsWritten) {
  fs::create_directory("Bmp");
  EXPECT_EQ(ResolveDataFile("BMP\\Button9.bmp"), "Bmp/Button9.bmp");  // a new file goes into the directory
  EXPECT_EQ(ResolveDataFile("Nowhere\\Sub\\File.bmp"), "Nowhere/Sub/File.bmp");
  EXPECT_EQ(ResolveDataFile("Status5.log"), "Status5.log");
  EXPECT_FALSE(std::ifstream(ResolveDataFile("BMP\\Button9.bmp")).is_open());
}
#endif

}  // namespace
