#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <ctime>

#include "UnitSimTestSupport.h"
#include "unitsim/RegisterFile.h"
#include "unitsim/SimClock.h"
#include "unitsim/UnitSimOptions.h"

namespace {

std::vector<TUnitSetup> Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseRegisterFile(in, "units.txt");
}

std::string ErrorOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const ERegisterFile& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(RegisterFile, SectionsSetRegistersDescriptorsAndDelaysOverFactoryDefaults) {
  const auto setups = Parse(
      "# demo\n"
      "unit 3\n"
      "  0x4E = 1     # K1 colour bars\n"
      "descriptor 0x42 = 10 200 100 5\n"
      "0x42 = 0x6E\n"
      "delay 2.5\n"
      "\n"
      "unit 0\n"
      "0xAC=3\n");
  ASSERT_EQ(setups.size(), 2u);
  TSimUnit unit;
  setups[0].ApplyTo(unit);
  EXPECT_EQ(unit.Address, 3);
  EXPECT_EQ(unit.Register(0x4E), 1);
  EXPECT_EQ(unit.Register(0x42), 0x6E);
  EXPECT_EQ(unit.Descriptor(0x42), (TSimDescriptor{10, 200, 100, 5}));
  EXPECT_EQ(unit.Descriptor(0x44), (TSimDescriptor{0, 255, 128, 1}));
  EXPECT_EQ(unit.ReplyDelayUs, 2500);
  EXPECT_EQ(setups[1].Address, 0);
  EXPECT_EQ(setups[1].Registers, (std::vector<std::pair<uint8_t, uint8_t>>{{0xAC, 3}}));
}

TEST(RegisterFile, BadLinesAreReportedWithTheirFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"0x4E = 1\n", "units.txt:1: settings before the first 'unit ADDRESS' line"},
      {"unit 3\nunit 3\n", "units.txt:2: unit 3 is given twice (first on line 1)"},
      {"unit\n", "units.txt:1: 'unit' takes one address"},
      {"unit 256\n", "units.txt:1: unit address out of range (0 to 255): 256"},
      {"unit 3\n0x4E = 0x100\n", "units.txt:2: register value out of range (0 to 255): 0x100"},
      {"unit 3\n0x4G = 1\n", "units.txt:2: register code is not a number: \"0x4G\""},
      {"unit 3\n0x4E 1\n", "units.txt:2: not a register line: \"0x4E 1\""},
      {"unit 3\ndescriptor 0x42 = 0 255 128\n", "units.txt:2: expected 'descriptor CODE = MINIMUM"},
      {"unit 3\ndescriptor 0x42 = 9 8 8 1\n", "units.txt:2: descriptor of 0x42: minimum 9 is above maximum 8"},
      {"unit 3\ndescriptor 0x42 = 0 8 9 1\n", "units.txt:2: descriptor of 0x42: default 9 lies outside 0 to 8"},
      {"unit 3\ndescriptor 0x42 = 0 8 4 0\n", "units.txt:2: descriptor of 0x42: step must be at least 1"},
      {"unit 3\ndescriptor 0xFF = 0 8 4 1\n", "units.txt:2: descriptor code out of range (0 to 254)"},
      {"unit 3\ndelay -1\n", "units.txt:2: reply delay must be 0 to 10000 ms"},
      {"unit 3\ndelay 1ms\n", "units.txt:2: reply delay must be 0 to 10000 ms"},
      {"unit 3\n\n0x43 = 5\nunit 4\n", "units.txt:3: register 0x43 is where the descriptor of 0x42 is read"},
  };
  for (auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf(text).rfind(expected, 0), 0u) << ErrorOf(text);
  }
  EXPECT_THROW(LoadRegisterFile("/nonexistent/units.txt"), ERegisterFile);
}

// A line is split into words on every kind of blank, so every kind of blank must also make a line empty:
// a form feed or vertical tab alone on a line once left no word to look at.
TEST(RegisterFile, LinesOfAnyKindOfBlankAreEmptyAndBlanksOfAnyKindSeparateWords) {
  const auto setups = Parse(
      "\f\n"
      "\v\n"
      " \t\f\v\r\n"
      "\funit\v3\f\n"
      "\v0x4E\f=\v1\t\f\r\n"
      "\f# comment after a form feed\n");
  ASSERT_EQ(setups.size(), 1u);
  EXPECT_EQ(setups[0].Address, 3);
  EXPECT_EQ(setups[0].Line, 4);
  EXPECT_EQ(setups[0].Registers, (std::vector<std::pair<uint8_t, uint8_t>>{{0x4E, 1}}));
  EXPECT_EQ(ErrorOf("unit 3\n\f\n\v\n0x4E\f1\n"), "units.txt:4: not a register line: \"0x4E\f1\" (expected "
            "'CODE = VALUE', 'descriptor ...', 'delay MS' or 'unit ADDRESS')");
}

TEST(RegisterFile, TheStateFileReadsBackToTheSameUnits) {
  TSimUnit a(3), b(0);
  a.SetRegister(0x6C, 0x03);
  a.SetRegister(0xF0, 0x99);
  a.SetDescriptor(0x0C, {0, 200, 40, 4});
  a.ReplyDelayUs = 1'234'567;  // to the microsecond: 1234.567 ms
  b.ReplyDelayUs = 10;
  std::ostringstream out;
  WriteUnitState(out, {&a, &b});
  EXPECT_NE(out.str().find("0x6C = 0x03  # K2 logo enable\n"), std::string::npos);

  const auto setups = Parse(out.str());
  ASSERT_EQ(setups.size(), 2u);
  TSimUnit a2, b2;
  setups[0].ApplyTo(a2);
  setups[1].ApplyTo(b2);
  EXPECT_EQ(a2.Address, 3);
  EXPECT_EQ(a2.Registers(), a.Registers());
  EXPECT_EQ(a2.Descriptors(), a.Descriptors());
  EXPECT_EQ(a2.ReplyDelayUs, 1'234'567);
  EXPECT_EQ(b2.ReplyDelayUs, 10);
  EXPECT_EQ(b2.Registers(), b.Registers());
}

TEST(RegisterFile, TheDemoFileDescribesEveryAdjustableValueOfUnits3And7) {
  const auto setups = LoadRegisterFile(SourceDir() + "/unitsim/demo-registers.txt");
  ASSERT_EQ(setups.size(), 2u);
  EXPECT_EQ(setups[0].Address, 3);
  EXPECT_EQ(setups[1].Address, 7);
  for (auto& setup : setups) {
    std::vector<uint8_t> described;
    for (auto& [code, d] : setup.Descriptors) {
      described.push_back(code);
      EXPECT_EQ((d.Default - d.Minimum) % d.Step, 0) << int(code);
    }
    std::vector<uint8_t> expected = {0x08, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0x14};
    for (uint8_t base : TSimUnit::ChannelBases)
      for (uint8_t offset : {0, 2, 4, 6}) expected.push_back(uint8_t(base + offset));
    std::sort(described.begin(), described.end());
    EXPECT_EQ(described, expected);
    TSimUnit unit;
    setup.ApplyTo(unit);
    // The settings window finds every value on its scale and every switch on or off.
    for (auto& [code, d] : setup.Descriptors) {
      const int value = unit.Register(code);
      EXPECT_TRUE(value >= d.Minimum && value <= d.Maximum && (value - d.Minimum) % d.Step == 0) << int(code);
    }
    for (uint8_t base : TSimUnit::ChannelBases)
      for (uint8_t offset : {0x08, 0x0A, 0x10}) EXPECT_LE(unit.Register(uint8_t(base + offset)), 1);
    int barsOrLogos = 0;
    for (uint8_t base : TSimUnit::ChannelBases)
      barsOrLogos += (unit.Register(uint8_t(base + 0x0C)) & 3) + (unit.Register(uint8_t(base + 0x0E)) & 1);
    EXPECT_GE(barsOrLogos, 2);
  }
}

TEST(UnitSimOptions, FaultsAndUnitsParse) {
  const auto o = ParseUnitSimOptions({"--units", "3,7", "--link=/tmp/l", "--delay", "0.5", "--status",
                                      "3:0x84,cmd=setaddress,times=1", "--split", "7:3/20",
                                      "--stray-after", "3:AA55/5", "--oversize", "7", "--drop-gap", "1.5"});
  EXPECT_EQ(o.Units, (std::vector<uint8_t>{3, 7}));
  EXPECT_EQ(o.DropGapUs, 1'500);
  EXPECT_EQ(o.Link, "/tmp/l");
  EXPECT_EQ(o.DelayUs, 500);
  ASSERT_EQ(o.Faults.size(), 4u);
  EXPECT_EQ(o.Faults[0].Fault.Kind, TFaultKind::fkStatus);
  EXPECT_EQ(o.Faults[0].Fault.Status, 0x84);
  EXPECT_EQ(o.Faults[0].Fault.Command, 8);
  EXPECT_EQ(o.Faults[0].Fault.Remaining, 1);
  EXPECT_EQ(o.Faults[1].Address, 7);
  EXPECT_EQ(o.Faults[1].Fault.SplitAfter, 3u);
  EXPECT_EQ(o.Faults[1].Fault.PauseUs, 20'000);
  EXPECT_EQ(o.Faults[2].Fault.Stray, (std::vector<uint8_t>{0xAA, 0x55}));
  EXPECT_EQ(o.Faults[2].Fault.GapUs, 5'000);
  EXPECT_EQ(o.Faults[3].Fault.Length, 70u);
  EXPECT_FALSE(o.MonotonicTimes);
  EXPECT_TRUE(ParseUnitSimOptions({"--monotonic-times"}).MonotonicTimes);
}

TEST(UnitSimOptions, MonotonicTimesLineUpWithTheSystemsMonotonicClock) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t systemUs = int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
  TSimSteadyClock fromZero(true), fromStart;
  EXPECT_NEAR(double(fromZero.NowUs()), double(systemUs), 1e6);
  EXPECT_LT(fromStart.NowUs(), 1'000'000);
}

TEST(UnitSimOptions, BadCommandLinesSayWhatIsWrong) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--frobnicate"}, "unknown option \"--frobnicate\""},
      {{"--units"}, "--units needs a value"},
      {{"--units", "3,x"}, "--units: not a number: \"x\""},
      {{"--units", "3,3"}, "--units: address 3 is given twice"},
      {{"--units", "300"}, "--units: 300 is out of range (0 to 255)"},
      {{"--delay", "fast"}, "--delay: \"fast\" is not a time in milliseconds"},
      {{"--drop-gap", "-1"}, "--drop-gap: \"-1\" is not a time in milliseconds"},
      {{"--status", "3"}, "--status 3: expected --status ADDRESS:STATUS"},
      {{"--silent", "3:1"}, "--silent 3:1: --silent takes only an address"},
      {{"--split", "3:3"}, "--split 3:3: expected --split ADDRESS:BYTES/MS"},
      {{"--stray-after", "3:A"}, "--stray-after 3:A: odd number of hex digits"},
      {{"--late", "3:10,cmd=poke"}, "unknown command \"poke\""},
      {{"--late", "3:10,often"}, "--late 3:10,often: unknown qualifier \"often\""},
      {{"--oversize", "3:60"}, "--oversize 3:60: length: 60 is out of range (70 to 255)"},
      {{"--monotonic-times=yes"}, "--monotonic-times takes no value"},
  };
  for (auto& [args, expected] : cases) {
    SCOPED_TRACE(expected);
    try {
      ParseUnitSimOptions(args);
      ADD_FAILURE() << "accepted";
    } catch (const EUsage& e) {
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
    }
  }
}

}  // namespace
