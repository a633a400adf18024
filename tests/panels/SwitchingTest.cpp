#include <gtest/gtest.h>

#include <QAction>
#include <array>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "link/RegisterMap.h"
#include "panels/Poll.h"
#include "settings/Form2.h"
#include "tests/panels/PanelRig.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/Exceptions.h"

namespace fs = std::filesystem;

namespace {

using TWords = std::vector<std::string>;

std::string Hex2(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

// An acted-on release: select, the read (select and read), then select and write.
TWords Five(int a, int code, int written) {
  const std::string sel = "sel " + std::to_string(a) + " " + Hex2(code);
  return {sel, sel, "rd " + std::to_string(a) + " 1", sel, "wr " + std::to_string(a) + " " + Hex2(written)};
}

// A release that is not acted on: the read goes out, nothing is written.
TWords Three(int a, int code) {
  const std::string sel = "sel " + std::to_string(a) + " " + Hex2(code);
  return {sel, sel, "rd " + std::to_string(a) + " 1"};
}

TWords Joined(std::initializer_list<TWords> parts) {
  TWords all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Fails the status file's rewrite part-way, as a full disk would, while it lives.
struct TFailingFileWrites {
  TFailingFileWrites() {
    AtomicFileBeforeRename = [](const std::string&) { throw EInOutError("No space left on device", 28); };
  }
  ~TFailingFileWrites() { AtomicFileBeforeRename = nullptr; }
};

void ExpectPacedEvery60Ms(const std::vector<TWireFrame>& frames) {
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].StartUs - frames[i - 1].StartUs, 60'000)
        << "between " << Describe(frames[i - 1]) << " and " << Describe(frames[i]);
}

TEST(IndicatorSwitching, ColourBarAndLogoClicksChangeOneBitAndClearTheHighBits) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  unit.SetRegister(0x6C, 0x01);  // K2: logo 1 on, logo 2 off
  unit.SetRegister(0x4E, 0xFF);  // K1 colour bars on, with high bits set
  unit.SetRegister(0x8E, 0xFC);  // K3 colour bars off, with high bits set
  rig.StartOnCom1();
  ASSERT_EQ(rig.Indicator(3, 10)->BrushColor(), clRed);
  ASSERT_EQ(rig.Indicator(3, 1)->BrushColor(), clLime);
  ASSERT_EQ(rig.Indicator(3, 3)->BrushColor(), clRed);

  // Busy while its five requests run, and the operator's again afterwards.
  std::vector<bool> enabledDuring;
  const int64_t start = rig.Tk.NowUs();
  for (int k = 1; k <= 4; ++k)
    rig.Tk.At(start + k * 60'000 + 30'000,
              [&] { enabledDuring.push_back(rig.Indicator(3, 10)->isEnabled()); });
  size_t mark = rig.Mark();
  EXPECT_EQ(rig.Click(3, 10), Five(3, 0x6C, 0x03));
  ExpectPacedEvery60Ms(rig.RequestsSince(mark));
  EXPECT_EQ(rig.Tk.NowUs() - start, 5 * 60'000);
  EXPECT_EQ(enabledDuring, (std::vector<bool>{false, false, false, false}));
  EXPECT_TRUE(rig.Indicator(3, 10)->isEnabled());
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clLime);
  EXPECT_EQ(rig.Unit(3).IndicatorOn[10], 1);
  EXPECT_EQ(unit.Register(0x6C), 0x03);
  EXPECT_EQ(rig.Indicator(3, 6)->BrushColor(), clLime);  // logo 1 of K2 untouched

  // Off again while the unit reports a high bit as well: only bit 1 goes, and the high bits are dropped.
  unit.SetRegister(0x6C, 0x07);
  mark = rig.Mark();
  EXPECT_EQ(rig.Click(3, 10), Five(3, 0x6C, 0x01));
  ExpectPacedEvery60Ms(rig.RequestsSince(mark));
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clRed);
  EXPECT_EQ(unit.Register(0x6C), 0x01);

  EXPECT_EQ(rig.Click(3, 1), Five(3, 0x4E, 0x02));
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clRed);
  EXPECT_EQ(rig.Unit(3).IndicatorOn[1], 0);
  EXPECT_EQ(rig.Click(3, 3), Five(3, 0x8E, 0x01));
  EXPECT_EQ(rig.Indicator(3, 3)->BrushColor(), clLime);
  EXPECT_EQ(unit.Register(0x8E), 0x01);

  EXPECT_EQ(ReadFileBytes("Status3.log"), "");  // these states live in the unit only
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(IndicatorSwitching, SelectionClicksRewriteTheStatusFileUnlessTheRowIsLocked) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  unit.SetRegister(0x94, 0xFD);
  unit.SetRegister(0x72, 0x02);
  rig.StartOnCom1();
  ASSERT_EQ(rig.Indicator(3, 15)->BrushColor(), clRed);

  // The register is written back with its own low two bits; the selection itself goes to the file.
  EXPECT_EQ(rig.Click(3, 15), Five(3, 0x94, 0x01));
  EXPECT_EQ(rig.Unit(3).StatusValues[2], 1);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "0 0 1 0 0 0 0 0 0 0 \r\n");
  EXPECT_EQ(rig.Indicator(3, 15)->BrushColor(), clLime);
  EXPECT_EQ(rig.Unit(3).IndicatorOn[15], 1);
  EXPECT_EQ(unit.Register(0x94), 0x01);
  EXPECT_EQ(rig.Click(3, 18), Five(3, 0x72, 0x02));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "0 0 1 0 0 1 0 0 0 0 \r\n");

  // Locked rows: the requests still go out, nothing the operator sees or the file holds changes.
  TitlesLocked = true;
  AuxLocked = true;
  EXPECT_EQ(rig.Click(3, 16), Five(3, 0xB4, 0x00));
  EXPECT_EQ(rig.Click(3, 15), Five(3, 0x94, 0x01));
  EXPECT_EQ(rig.Click(3, 18), Five(3, 0x72, 0x02));
  EXPECT_EQ(rig.Indicator(3, 16)->BrushColor(), clRed);
  EXPECT_EQ(rig.Indicator(3, 15)->BrushColor(), clLime);
  EXPECT_EQ(rig.Indicator(3, 18)->BrushColor(), clLime);
  EXPECT_EQ(rig.Unit(3).StatusValues, (TStatusValues{0, 0, 1, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "0 0 1 0 0 1 0 0 0 0 \r\n");
  EXPECT_TRUE(rig.Indicator(3, 16)->isEnabled());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(IndicatorSwitching, AReleaseWithoutPressIsActedOnOnlyOverAnIndicatorThatIsOn) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  unit.SetRegister(0x4E, 0x01);
  unit.SetRegister(0x6E, 0x00);
  rig.StartOnCom1();

  EXPECT_EQ(rig.Release(3, 1, Qt::RightButton), Five(3, 0x4E, 0x00));
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clRed);
  EXPECT_EQ(unit.Register(0x4E), 0x00);

  EXPECT_EQ(rig.Release(3, 2, Qt::RightButton), Three(3, 0x6E));
  EXPECT_EQ(rig.Indicator(3, 2)->BrushColor(), clRed);
  EXPECT_TRUE(rig.Indicator(3, 2)->isEnabled());
  EXPECT_FALSE(LinkState.RegisterMode);
  // The release that switched indicator 1 off used up its press.
  EXPECT_EQ(rig.Release(3, 1, Qt::RightButton), Three(3, 0x4E));
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clRed);
}

TEST(IndicatorSwitching, AReadWithoutReplyWritesNothingKeepsTheColourAndTellsTheOperatorOnce) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  unit.SetRegister(0x6C, 0x01);
  unit.SetRegister(0x74, 0x00);
  rig.StartOnCom1();
  unit.AddFault(TSimFault::Silent().For(cmdRead).Times(2));
  for (int n : {10, 14}) {  // logo 2 on K2; the titles selection of K2
    SCOPED_TRACE(n);
    rig.Tk.ClearMessages();
    const auto before = rig.Indicator(3, n)->BrushColor();
    const uint8_t code = IndicatorRegisters[n];
    EXPECT_EQ(rig.Click(3, n), Three(3, code));
    EXPECT_EQ(rig.Indicator(3, n)->BrushColor(), before);
    EXPECT_TRUE(rig.Indicator(3, n)->isEnabled());
    ASSERT_EQ(rig.MessageTexts().size(), 1u);
    EXPECT_EQ(rig.MessageTexts()[0], "Information: Устройство не подключено");
    EXPECT_FALSE(LinkState.RegisterMode);
  }
  EXPECT_EQ(unit.Register(0x6C), 0x01);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "");  // the selection did not change either
  // Answered again: the click switches as ever.
  EXPECT_EQ(rig.Click(3, 10), Five(3, 0x6C, 0x03));
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clLime);
}

TEST(IndicatorSwitching, AClickOnAnUnknownIndicatorShowsWhatTheUnitHoldsAndSwitchesNothing) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  unit.SetRegister(0x8E, 0x01);
  rig.Bus.Script = [&](const TWireFrame& request) -> std::optional<TReplyPlan> {
    if (request.Command == cmdRead && unit.Pointer() == 0x8E) return TReplyPlan{};
    return std::nullopt;
  };
  rig.StartOnCom1();
  ASSERT_EQ(rig.Indicator(3, 3)->BrushColor(), clGray);
  rig.Bus.Script = nullptr;
  rig.Tk.ClearMessages();
  EXPECT_EQ(rig.Click(3, 3), Three(3, 0x8E));
  EXPECT_EQ(rig.Indicator(3, 3)->BrushColor(), clLime);
  EXPECT_EQ(rig.Unit(3).IndicatorOn[3], 1);
  EXPECT_EQ(unit.Register(0x8E), 0x01);
  EXPECT_TRUE(rig.MessageTexts().empty());
  // Now known, the next click switches it off.
  EXPECT_EQ(rig.Click(3, 3), Five(3, 0x8E, 0x00));
  EXPECT_EQ(rig.Indicator(3, 3)->BrushColor(), clRed);
}

TEST(TitlesButton, SwitchesTitlesOnAndOffOnTheSelectedChannels) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  WriteFileBytes("Status3.log", "1 0 1 0 0 0 0 0 0 0 \r\n");
  rig.StartOnCom1();

  size_t mark = rig.Mark();
  EXPECT_EQ(rig.ClickButton(3, pbTitles), (TWords{"sel 3 54", "wr 3 01", "sel 3 94", "wr 3 01"}));
  ExpectPacedEvery60Ms(rig.RequestsSince(mark));
  EXPECT_EQ(rig.Unit(3).StatusValues[8], 1);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 0 1 0 0 0 0 0 1 0 \r\n");
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOn.bmp");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  EXPECT_TRUE(TitlesLocked);
  EXPECT_EQ(unit.Register(0x54), 1);
  EXPECT_EQ(unit.Register(0x94), 1);
  EXPECT_EQ(unit.Register(0x74), 0);
  EXPECT_TRUE(rig.Button(3, pbTitles)->isEnabled());
  EXPECT_FALSE(LinkState.RegisterMode);

  EXPECT_EQ(rig.ClickButton(3, pbTitles), (TWords{"sel 3 54", "wr 3 00", "sel 3 94", "wr 3 00"}));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 0 1 0 0 0 0 0 0 0 \r\n");
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 0);
  EXPECT_FALSE(TitlesLocked);
  EXPECT_EQ(unit.Register(0x54), 0);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(TitlesButton, TheWriteToK4HasNoPacingWaitSoASilentUnitIsReported) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  WriteFileBytes("Status3.log", "0 0 0 1 0 0 0 0 0 0 \r\n");
  rig.StartOnCom1();
  unit.AddFault(TSimFault::Silent().For(cmdWrite));

  const size_t mark = rig.Mark();
  // Right after the write went out: the button is the operator's again and register mode is over, so the
  // time-out that follows is reported.
  bool enabledAfterWrite = false, registerModeAfterWrite = true;
  rig.Tk.At(rig.Tk.NowUs() + 61'000, [&] {
    enabledAfterWrite = rig.Button(3, pbTitles)->isEnabled();
    registerModeAfterWrite = LinkState.RegisterMode;
  });
  rig.Button(3, pbTitles)->click();
  // The operation is over for the queue only once the write's time-out has run.
  const int64_t doneAt = rig.Tk.NowUs();
  rig.Tk.RunUntilIdle();
  EXPECT_TRUE(enabledAfterWrite);
  EXPECT_FALSE(registerModeAfterWrite);

  const auto frames = rig.RequestsSince(mark);
  ASSERT_EQ(Describe(frames), (TWords{"sel 3 B4", "wr 3 01"}));
  EXPECT_EQ(frames[1].StartUs - frames[0].StartUs, 60'000);
  EXPECT_EQ(doneAt, frames[1].StartUs + 250'000);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Устройство не подключено");
  EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, frames[1].StartUs + 250'000);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
}

TEST(TitlesButton, WithNoChannelSelectedSendsNothingButSwitchesTheButton) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.StartOnCom1();
  EXPECT_EQ(rig.ClickButton(3, pbTitles), TWords{});
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOn.bmp");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  EXPECT_TRUE(TitlesLocked);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "0 0 0 0 0 0 0 0 1 0 \r\n");
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(TitlesButton, DoesNothingWhileTheUnitsAuxiliaryInputIsOn) {
  TPanelRig rig;
  rig.AddUnit(3);
  const std::string saved = "1 0 0 0 1 0 0 0 0 1 \r\n";
  WriteFileBytes("Status3.log", saved);
  rig.StartOnCom1();
  ASSERT_EQ(rig.Unit(3).ButtonOn[pbAuxInput], 1);

  EXPECT_EQ(rig.ClickButton(3, pbTitles), TWords{});
  EXPECT_EQ(ReadFileBytes("Status3.log"), saved);
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 0);
  EXPECT_FALSE(TitlesLocked);
  EXPECT_TRUE(rig.Button(3, pbTitles)->isEnabled());
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(AuxInputButton, SwitchingOnTurnsTitlesOffFirstThenOffAgain) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  WriteFileBytes("Status3.log", "1 1 0 1 0 0 1 1 1 0 \r\n");
  rig.StartOnCom1();
  ASSERT_EQ(unit.Register(0x54), 1);  // replayed by the poll
  TitlesLocked = true;                // as if titles had just been switched on here

  size_t mark = rig.Mark();
  EXPECT_EQ(rig.ClickButton(3, pbAuxInput),
            (TWords{"sel 3 54", "wr 3 00", "sel 3 74", "wr 3 00", "sel 3 B4", "wr 3 00", "sel 3 92",
                    "wr 3 01", "sel 3 B2", "wr 3 01"}));
  // Written by this button, the titles' K4 write keeps its wait like every other.
  ExpectPacedEvery60Ms(rig.RequestsSince(mark));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 1 0 1 0 0 1 1 0 1 \r\n");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 0);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbAuxInput], 1);
  EXPECT_FALSE(TitlesLocked);
  EXPECT_TRUE(AuxLocked);
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_EQ(rig.Button(3, pbAuxInput)->GlyphFile(), "Bmp\\AuxOn.bmp");
  EXPECT_EQ(unit.Register(0xB4), 0);
  EXPECT_EQ(unit.Register(0x92), 1);
  EXPECT_EQ(unit.Register(0xB2), 1);
  EXPECT_FALSE(LinkState.RegisterMode);

  EXPECT_EQ(rig.ClickButton(3, pbAuxInput), (TWords{"sel 3 92", "wr 3 00", "sel 3 B2", "wr 3 00"}));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 1 0 1 0 0 1 1 0 0 \r\n");
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbAuxInput], 0);
  EXPECT_FALSE(AuxLocked);
  EXPECT_EQ(rig.Button(3, pbAuxInput)->GlyphFile(), "Bmp\\AuxOff.bmp");
  EXPECT_EQ(unit.Register(0x92), 0);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(PanelButtons, TheLocksFollowTheLastSwitchOfAnyUnit) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.AddUnit(7);
  WriteFileBytes("Status3.log", "1 0 0 0 0 0 0 0 0 0 \r\n");
  WriteFileBytes("Status7.log", "0 0 0 0 1 0 0 0 0 0 \r\n");
  rig.StartOnCom1();

  rig.ClickButton(3, pbTitles);
  ASSERT_TRUE(TitlesLocked);
  EXPECT_EQ(rig.Click(7, 14), Five(7, 0x74, 0x00));  // another unit's titles row is frozen too
  EXPECT_EQ(rig.Indicator(7, 14)->BrushColor(), clRed);
  EXPECT_EQ(ReadFileBytes("Status7.log"), "0 0 0 0 1 0 0 0 0 0 \r\n");

  EXPECT_EQ(rig.ClickButton(7, pbAuxInput), (TWords{"sel 7 52", "wr 7 01"}));
  EXPECT_FALSE(TitlesLocked);
  EXPECT_TRUE(AuxLocked);
  // Unit 3's titles are still on, yet its selection can change now; its auxiliary-input row cannot.
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  rig.Click(3, 14);
  EXPECT_EQ(rig.Indicator(3, 14)->BrushColor(), clLime);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 1 0 0 0 0 0 0 1 0 \r\n");
  rig.Click(3, 18);
  EXPECT_EQ(rig.Indicator(3, 18)->BrushColor(), clRed);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 1 0 0 0 0 0 0 1 0 \r\n");
}

TEST(SettingsButton, ShowsTheWindowAndOnlyChangesTheAddressWhileItIsOpen) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.AddUnit(7);
  rig.StartOnCom1();
  TForm2& settings = *rig.Windows->Form2;
  ASSERT_FALSE(settings.isVisible());

  EXPECT_EQ(rig.ClickButton(3, pbSettings), TWords{});
  EXPECT_TRUE(settings.isVisible());
  EXPECT_EQ(LinkState.Address, 3);

  LinkState.Register = 0x42;
  const std::string file3 = ReadFileBytes("Status3.log"), file7 = ReadFileBytes("Status7.log");
  EXPECT_EQ(rig.ClickButton(7, pbSettings), TWords{});
  EXPECT_EQ(LinkState.Address, 7);
  EXPECT_EQ(LinkState.Register, 0x42);
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_TRUE(settings.isVisible());
  EXPECT_EQ(ReadFileBytes("Status3.log"), file3);
  EXPECT_EQ(ReadFileBytes("Status7.log"), file7);
  EXPECT_TRUE(rig.Tk.Messages().empty());

  // Clicked while an exchange waits: the window is up at once, the exchange keeps its unit, and the
  // address is the new one when it is done.
  bool shownAtOnce = false;
  rig.Tk.At(rig.Tk.NowUs() + 90'000, [&] {
    settings.hide();
    rig.Button(7, pbSettings)->click();
    shownAtOnce = settings.isVisible();
  });
  LinkState.Address = 0;
  EXPECT_EQ(rig.Click(3, 1), Five(3, 0x4E, 0x01));
  EXPECT_TRUE(shownAtOnce);
  EXPECT_EQ(LinkState.Address, 7);
}

TEST(PanelState, ARestartRestoresTheSelectionsAndButtonsFromTheFiles) {
  std::string saved;
  std::array<uint8_t, 256> registers{};
  {
    TPanelRig first;
    auto& unit = first.AddUnit(3);
    first.StartOnCom1();
    first.Click(3, 14);
    first.Click(3, 20);
    first.Click(3, 1);
    first.ClickButton(3, pbTitles);
    saved = ReadFileBytes("Status3.log");
    registers = unit.Registers();
  }
  EXPECT_EQ(saved, "0 1 0 0 0 0 0 1 1 0 \r\n");

  TPanelRig second;
  auto& unit = second.AddUnit(3);
  for (int code = 0; code < 256; ++code) unit.SetRegister(uint8_t(code), registers[code]);
  WriteFileBytes("Status3.log", saved);
  second.StartOnCom1();
  for (int n : {1, 14, 20}) EXPECT_EQ(second.Indicator(3, n)->BrushColor(), clLime) << n;
  for (int n : {2, 13, 15, 16, 17}) EXPECT_EQ(second.Indicator(3, n)->BrushColor(), clRed) << n;
  EXPECT_EQ(second.Unit(3).ButtonOn[pbTitles], 1);
  EXPECT_EQ(second.Unit(3).ButtonOn[pbAuxInput], 0);
  EXPECT_EQ(second.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOn.bmp");
  const auto words = Describe(second.Bus.Requests());
  ASSERT_EQ(words.size(), 16u + 24u + 2u);
  EXPECT_EQ(words[3 + 24], "sel 3 74");
  EXPECT_EQ(words[3 + 25], "wr 3 01");
  // Restored as on, the titles do not lock their row until the button is used.
  EXPECT_FALSE(TitlesLocked);
  second.Click(3, 13);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 1 0 0 0 0 0 1 1 0 \r\n");
}

TEST(LinkOperations, ABurstOfClicksDuringAWaitRunsOneAfterAnotherInClickOrder) {
  TPanelRig rig;
  auto& unit3 = rig.AddUnit(3);
  auto& unit7 = rig.AddUnit(7);
  WriteFileBytes("Status7.log", "1 0 0 0 0 0 0 0 0 0 \r\n");
  rig.StartOnCom1();
  ASSERT_EQ(rig.Indicator(7, 5)->BrushColor(), clLime);  // 0x4C holds 0x01 as delivered

  const int64_t t0 = rig.Tk.NowUs();
  std::vector<bool> waitingDisabled;
  rig.Tk.At(t0 + 30'000, [&] { TPanelRig::PressAndRelease(rig.Indicator(7, 5)); });
  rig.Tk.At(t0 + 100'000, [&] { TPanelRig::PressAndRelease(rig.Indicator(3, 2)); });
  rig.Tk.At(t0 + 200'000, [&] { rig.Button(7, pbTitles)->click(); });
  rig.Tk.At(t0 + 250'000, [&] { TPanelRig::PressAndRelease(rig.Indicator(7, 9)); });
  rig.Tk.At(t0 + 260'000, [&] {
    EXPECT_EQ(QueuedLinkOperations(), 4);
    waitingDisabled = {rig.Indicator(7, 5)->isEnabled(), rig.Indicator(3, 2)->isEnabled(),
                       rig.Button(7, pbTitles)->isEnabled(), rig.Indicator(7, 9)->isEnabled()};
  });
  const size_t mark = rig.Mark();
  const TWords words = rig.Click(3, 1);

  // Logo 2 of K1 on unit 7 reads what the queued logo 1 click before it left in the register.
  EXPECT_EQ(words, Joined({Five(3, 0x4E, 0x01),
                           Five(7, 0x4C, 0x00),
                           Five(3, 0x6E, 0x01),
                           {"sel 7 54", "wr 7 01"},
                           Five(7, 0x4C, 0x02)}));
  ExpectPacedEvery60Ms(rig.RequestsSince(mark));
  EXPECT_EQ(waitingDisabled, (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(unit3.Register(0x4E), 0x01);
  EXPECT_EQ(unit3.Register(0x6E), 0x01);
  EXPECT_EQ(unit7.Register(0x4C), 0x02);
  EXPECT_EQ(unit7.Register(0x54), 0x01);
  for (auto [a, n, colour] : {std::tuple{3, 1, clLime}, {7, 5, clRed}, {3, 2, clLime}, {7, 9, clLime}}) {
    EXPECT_EQ(rig.Indicator(a, n)->BrushColor(), colour) << a << "/" << n;
    EXPECT_TRUE(rig.Indicator(a, n)->isEnabled()) << a << "/" << n;
  }
  EXPECT_EQ(rig.Unit(7).ButtonOn[pbTitles], 1);
  EXPECT_TRUE(rig.Button(7, pbTitles)->isEnabled());
  EXPECT_FALSE(LinkOperationRunning());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(LinkOperations, APollAskedForDuringAClickRunsAfterItAndDropsReleasesOfTheOldPanels) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.AddUnit(7);
  rig.StartOnCom1();

  const int64_t t0 = rig.Tk.NowUs();
  bool menuDisabled = false;
  rig.Tk.At(t0 + 30'000, [&] {
    rig.Form1().N3->trigger();
    menuDisabled = !rig.Form1().N3->isEnabled();
  });
  rig.Tk.At(t0 + 90'000, [&] { TPanelRig::PressAndRelease(rig.Indicator(7, 1)); });
  const TWords words = rig.Click(3, 1);

  TWords expected = Five(3, 0x4E, 0x01);
  for (int a = 1; a <= 16; ++a) {
    expected.push_back("id " + std::to_string(a));
    if (a == 3 || a == 7) {
      const TWords reads = PollReads(a);
      expected.insert(expected.end(), reads.begin(), reads.end());
    }
  }
  EXPECT_EQ(words, expected);
  EXPECT_TRUE(menuDisabled);
  EXPECT_TRUE(rig.Form1().N3->isEnabled());
  EXPECT_EQ(FoundCount, 2);
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clLime);  // read back from the unit by the new poll
  EXPECT_EQ(rig.Indicator(7, 1)->BrushColor(), clRed);
  EXPECT_TRUE(rig.Indicator(7, 1)->isEnabled());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

// The reply the unit sent to `request`: the first frame from the units after it.
TWireFrame ReplyTo(TPanelRig& rig, const TWireFrame& request) {
  for (const auto& f : rig.Bus.Trace())
    if (f.Direction == TTraceDirection::tdUnitsToHost && f.StartUs >= request.EndUs) return f;
  ADD_FAILURE() << "no reply to " << Describe(request);
  return {};
}

TEST(LinkOperations, ARescanAskedForDuringATitlesSwitchWaitsForTheLastWritesReplyAndFindsNoPhantom) {
  TPanelRig rig;
  rig.AddUnit(3);
  WriteFileBytes("Status3.log", "0 0 0 1 0 0 0 0 0 0 \r\n");  // titles selected on K4 only
  rig.StartOnCom1();
  const size_t mark = rig.Mark();
  // The rescan is asked for while the select to K4 waits; the bare write follows it.
  rig.Tk.At(rig.Tk.NowUs() + 30'000, [&] { rig.Form1().N3->trigger(); });
  rig.Button(3, pbTitles)->click();
  rig.Tk.RunUntilIdle();

  const auto frames = rig.RequestsSince(mark);
  TWords expected{"sel 3 B4", "wr 3 01"};
  for (int a = 1; a <= 16; ++a) {
    expected.push_back("id " + std::to_string(a));
    if (a == 3) {
      const TWords reads = PollReads(3);
      expected.insert(expected.end(), reads.begin(), reads.end());
      expected.insert(expected.end(), {"sel 3 B4", "wr 3 01"});  // titles are on: the poll replays them
    }
  }
  ASSERT_EQ(Describe(frames), expected);
  // The first probe goes out only once the write's reply is complete: that reply cannot pass for unit 1.
  EXPECT_GE(frames[2].StartUs, ReplyTo(rig, frames[1]).EndUs);
  EXPECT_LT(frames[2].StartUs - ReplyTo(rig, frames[1]).EndUs, 1'000);
  EXPECT_EQ(FoundCount, 1);
  EXPECT_EQ(FoundUnits[1], 3);
  EXPECT_FALSE(FileExists("Status1.log"));
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(LinkOperations, AClickQueuedBehindAnUnansweredBareWriteWaitsForItsTimeOutWhichIsReported) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  WriteFileBytes("Status3.log", "0 0 0 1 0 0 0 0 0 0 \r\n");
  rig.StartOnCom1();
  unit.AddFault(TSimFault::Silent().For(cmdWrite).Times(1));
  const size_t mark = rig.Mark();
  rig.Tk.At(rig.Tk.NowUs() + 30'000, [&] { TPanelRig::PressAndRelease(rig.Indicator(3, 1)); });
  rig.Button(3, pbTitles)->click();
  rig.Tk.RunUntilIdle();

  const auto frames = rig.RequestsSince(mark);
  ASSERT_EQ(Describe(frames), Joined({{"sel 3 B4", "wr 3 01"}, Five(3, 0x4E, 0x01)}));
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Устройство не подключено");
  EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, frames[1].StartUs + 250'000);
  // Nothing went out on top of the awaited reply: the click starts once the time-out has run.
  EXPECT_GE(frames[2].StartUs, frames[1].StartUs + 250'000);
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clLime);
}

TEST(FailedFileWrites, AnIndicatorKeepsItsStateAndNothingIsWrittenToTheUnit) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.StartOnCom1();
  fs::remove("Status3.log");
  fs::create_directory("Status3.log");  // cannot be replaced by a file

  EXPECT_EQ(rig.Click(3, 15), Three(3, 0x94));
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkError);
  EXPECT_EQ(rig.Indicator(3, 15)->BrushColor(), clRed);
  EXPECT_EQ(rig.Unit(3).IndicatorOn[15], 0);
  EXPECT_EQ(rig.Unit(3).StatusValues, TStatusValues{});
  EXPECT_TRUE(rig.Indicator(3, 15)->isEnabled());
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_FALSE(LinkOperationRunning());

  // Once the file can be written again, the same click goes through.
  fs::remove("Status3.log");
  EXPECT_EQ(rig.Click(3, 15), Five(3, 0x94, 0x00));
  EXPECT_EQ(rig.Indicator(3, 15)->BrushColor(), clLime);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "0 0 1 0 0 0 0 0 0 0 \r\n");
}

TEST(FailedFileWrites, TheButtonsKeepTheScreenMemoryAndFileAsTheyWere) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  const std::string saved = "1 0 0 0 1 0 0 0 0 0 \r\n";
  WriteFileBytes("Status3.log", saved);
  rig.StartOnCom1();
  const TStatusValues values = rig.Unit(3).StatusValues;

  TFailingFileWrites full;
  EXPECT_EQ(rig.ClickButton(3, pbTitles), TWords{});
  EXPECT_EQ(rig.ClickButton(3, pbAuxInput), TWords{});
  ASSERT_EQ(rig.Tk.Messages().size(), 2u);
  for (auto& m : rig.Tk.Messages()) EXPECT_EQ(m.Kind, TMessageKind::mkError);
  EXPECT_EQ(ReadFileBytes("Status3.log"), saved);
  EXPECT_EQ(rig.Unit(3).StatusValues, values);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 0);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbAuxInput], 0);
  EXPECT_FALSE(TitlesLocked);
  EXPECT_FALSE(AuxLocked);
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_EQ(rig.Button(3, pbAuxInput)->GlyphFile(), "Bmp\\AuxOff.bmp");
  EXPECT_TRUE(rig.Button(3, pbTitles)->isEnabled());
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_EQ(unit.Register(0x54), 0);
  EXPECT_EQ(unit.Register(0x52), 0);
}

TEST(MissingImages, ATitlesClickStillSwitchesTheUnitAndTheFileAndShowsACaption) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(3);
  WriteFileBytes("Status3.log", "1 0 0 0 0 0 0 0 0 0 \r\n");
  rig.StartOnCom1();
  fs::remove("Bmp/TitOn.bmp");

  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.ClickButton(3, pbTitles), (TWords{"sel 3 54", "wr 3 01"}));
  TPanelButton* titles = rig.Button(3, pbTitles);
  EXPECT_EQ(titles->text().toStdString(), "Титры: вкл");
  EXPECT_TRUE(titles->icon().isNull());
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  EXPECT_TRUE(TitlesLocked);
  EXPECT_EQ(unit.Register(0x54), 1);
  EXPECT_EQ(ReadFileBytes("Status3.log"), "1 0 0 0 0 0 0 0 1 0 \r\n");
  EXPECT_TRUE(titles->isEnabled());
  EXPECT_FALSE(LinkState.RegisterMode);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Cannot open file \"Bmp\\TitOn.bmp\". No such file or directory");
  EXPECT_GE(rig.Tk.Messages()[0].TimeUs, rig.RequestsSince(mark).back().StartUs + 60'000);

  // The picture that is there comes back with the next switch.
  rig.Tk.ClearMessages();
  rig.ClickButton(3, pbTitles);
  EXPECT_TRUE(titles->text().isEmpty());
  EXPECT_EQ(titles->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

}  // namespace
