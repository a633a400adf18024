#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QImage>
#include <QScreen>
#include <QStyleOptionButton>
#include <algorithm>
#include <filesystem>
#include <optional>

#include "link/Frame.h"
#include "link/Link.h"
#include "panels/Form3.h"
#include "panels/PanelButton.h"
#include "panels/Poll.h"
#include "tests/panels/PanelRig.h"
#include "tests/support/TestApplication.h"

namespace fs = std::filesystem;

namespace {

void Append(std::vector<std::string>& to, const std::vector<std::string>& words) {
  to.insert(to.end(), words.begin(), words.end());
}

std::vector<int64_t> StartTimes(const std::vector<TWireFrame>& frames) {
  std::vector<int64_t> times;
  for (auto& f : frames) times.push_back(f.StartUs);
  return times;
}

TEST(Poll, UnitsAt3And7AreProbedReadAndGivenPanelsBesideTheRowCaptions) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.AddUnit(7);
  std::vector<int> progress;
  QObject::connect(rig.Windows->Form3->ProgressBar1, &QProgressBar::valueChanged,
                   [&](int value) { progress.push_back(value); });
  // In the middle of unit 7's reads the poll window is up and tells which port is polled.
  bool sampled = false;
  rig.Tk.At(7 * 250'000 + 24 * 60'000 + 30'000, [&] {
    sampled = true;
    EXPECT_TRUE(rig.Windows->Form3->isVisible());
    EXPECT_EQ(rig.Windows->Form3->ProgressBar1->value(), 7);
    EXPECT_EQ(rig.Windows->Form3->ProgressBar1->maximum(), 32);
    EXPECT_EQ(rig.Windows->Form3->StaticText1->text().toStdString(),
              "Подождите, идет опрос устройств, подключенных к COM1");
    EXPECT_TRUE(LinkState.Scanning);
    EXPECT_EQ(rig.Form1().Width(), 171 + 91 + 7);
  });
  rig.StartOnCom1();
  ASSERT_TRUE(sampled);

  std::vector<std::string> expected;
  for (int a = 1; a <= 16; ++a) {
    expected.push_back("id " + std::to_string(a));
    if (a == 3 || a == 7) Append(expected, PollReads(a));
  }
  const auto requests = rig.Bus.Requests();
  EXPECT_EQ(Describe(requests), expected);

  // Probes 250 ms apart, every unit command followed by its 60 ms pacing wait.
  const auto t = StartTimes(requests);
  ASSERT_EQ(t.size(), 16u + 48u);
  for (size_t i = 1; i < t.size(); ++i) {
    const bool afterProbe = requests[i - 1].Command == cmdIdentify;
    EXPECT_EQ(t[i] - t[i - 1], afterProbe ? 250'000 : 60'000)
        << "between " << Describe(requests[i - 1]) << " and " << Describe(requests[i]);
  }

  EXPECT_EQ(FoundCount, 2);
  EXPECT_EQ(FoundUnits[1], 3);
  EXPECT_EQ(FoundUnits[2], 7);
  ASSERT_TRUE(rig.Unit(3).Panel && rig.Unit(7).Panel);
  EXPECT_EQ(rig.Unit(3).Panel->geometry(), QRect(80, 15, 91, 278));
  EXPECT_EQ(rig.Unit(7).Panel->geometry(), QRect(171, 15, 91, 278));
  EXPECT_EQ(rig.Form1().Width(), 269);
  EXPECT_EQ(PanelsOnMainWindow(rig), 2);

  // Half the bar's range, one step per address, then back to the start.
  std::vector<int> steps;
  for (int a = 1; a <= 16; ++a) steps.push_back(a);
  steps.push_back(0);
  EXPECT_EQ(progress, steps);
  EXPECT_FALSE(rig.Windows->Form3->isVisible());
  EXPECT_FALSE(LinkState.Scanning);
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_FALSE(PollActive());
  EXPECT_TRUE(rig.Form1().N3->isEnabled());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(Poll, PanelsShowTheUnitsSwitchesWithTheirTagsColoursAndImages) {
  TPanelRig rig;
  auto& unit = rig.AddUnit(12);
  unit.SetRegister(0x4E, 0x01);  // K1 colour bars on
  unit.SetRegister(0x6E, 0xFE);  // only bit 0 counts: K2 off
  unit.SetRegister(0x8E, 0x00);
  unit.SetRegister(0xAE, 0x81);
  unit.SetRegister(0x4C, 0x02);  // K1: logo 1 off, logo 2 on
  unit.SetRegister(0x6C, 0x01);  // K2: logo 1 on, logo 2 off
  unit.SetRegister(0x8C, 0x03);
  unit.SetRegister(0xAC, 0xFC);
  WriteFileBytes("Status12.log", "0 1 0 0 0 0 0 1 0 0 \r\n");
  rig.StartOnCom1();

  const int on[21] = {0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  const int rowTop[6] = {0, 60, 92, 122, 152, 182};
  TUnitPanel& u = rig.Unit(12);
  for (int n = 1; n <= 20; ++n) {
    SCOPED_TRACE("indicator " + std::to_string(n));
    TIndicator* indicator = u.Indicators[n];
    ASSERT_NE(indicator, nullptr);
    EXPECT_EQ(indicator->parentWidget(), u.Panel.data());
    EXPECT_EQ(indicator->Tag, 12 * 21 + n);
    EXPECT_EQ(indicator->geometry(), QRect(2 + 22 * ((n - 1) % 4), rowTop[(n - 1) / 4 + 1], 22, 22));
    EXPECT_EQ(indicator->BrushColor(), on[n] ? clLime : clRed);
    EXPECT_EQ(u.IndicatorOn[n], on[n]);
    EXPECT_EQ(u.IndicatorPressed[n], on[n]);
    EXPECT_TRUE(indicator->isEnabled());
  }
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(u.ChannelLabels[k]->text().toStdString(), "K" + std::to_string(k));
    EXPECT_EQ(u.ChannelLabels[k]->pos(), QPoint(6 + 22 * (k - 1), 40));
    EXPECT_EQ(u.ChannelLabels[k]->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  }
  const int buttonTop[4] = {0, 211, 242, 4};
  const char* glyph[4] = {nullptr, "Bmp\\TitOff.bmp", "Bmp\\AuxOff.bmp", "BMP\\Button12.bmp"};
  for (int b = 1; b <= 3; ++b) {
    SCOPED_TRACE("button " + std::to_string(b));
    TPanelButton* button = u.Buttons[b];
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Tag, 12 * 10 + b);
    EXPECT_EQ(button->geometry(), QRect(4, buttonTop[b], 85, 30));
    EXPECT_EQ(button->GlyphFile(), glyph[b]);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_TRUE(button->text().isEmpty());
  }
  EXPECT_EQ(u.ButtonOn[pbTitles], 0);
  EXPECT_EQ(u.ButtonOn[pbAuxInput], 0);
}

TEST(Poll, AUnitWithoutStatusFileGetsAnEmptyOneAndStartsFromItsRecord) {
  TPanelRig rig;
  rig.AddUnit(3);
  rig.StartOnCom1();
  ASSERT_TRUE(FileExists("Status3.log"));
  EXPECT_EQ(ReadFileBytes("Status3.log"), "");
  for (int n = 13; n <= 20; ++n) EXPECT_EQ(rig.Indicator(3, n)->BrushColor(), clRed) << n;
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  EXPECT_EQ(rig.Button(3, pbAuxInput)->GlyphFile(), "Bmp\\AuxOff.bmp");
  EXPECT_FALSE(FileExists("Status4.log"));  // only units that answer get one

  // Between polls memory is the authority: a file removed meanwhile is created again, and the unit
  // comes back with the selections and the titles state it held.
  rig.Unit(3).StatusValues = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0};
  fs::remove("Status3.log");
  const size_t mark = rig.Mark();
  rig.Form1().N3Click();
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(ReadFileBytes("Status3.log"), "");
  EXPECT_EQ(rig.Indicator(3, 14)->BrushColor(), clLime);
  EXPECT_EQ(rig.Indicator(3, 19)->BrushColor(), clLime);
  EXPECT_EQ(rig.Indicator(3, 13)->BrushColor(), clRed);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  const auto words = rig.WordsSince(mark);
  ASSERT_EQ(words.size(), 16u + 24u + 2u);
  EXPECT_EQ(words[3 + 24], "sel 3 74");
  EXPECT_EQ(words[3 + 25], "wr 3 01");
  EXPECT_EQ(words[3 + 26], "id 4");
}

TEST(Poll, SavedTitlesAndAuxInputAreReplayedBeforeTheNextProbe) {
  TPanelRig rig;
  auto& unit3 = rig.AddUnit(3);
  auto& unit7 = rig.AddUnit(7);
  // Any value but 0 turns a button on; a selection counts only when it is exactly 1.
  const std::string file3 = "0 1 0 1 0 0 0 0 2 0 \r\n";
  const std::string file7 = "2 0 0 0 1 0 0 0 0 7 \r\n";
  WriteFileBytes("Status3.log", file3);
  WriteFileBytes("Status7.log", file7);
  rig.StartOnCom1();

  std::vector<std::string> expected;
  for (int a = 1; a <= 16; ++a) {
    expected.push_back("id " + std::to_string(a));
    if (a == 3) {
      Append(expected, PollReads(3));
      Append(expected, {"sel 3 74", "wr 3 01", "sel 3 B4", "wr 3 01"});
    }
    if (a == 7) {
      Append(expected, PollReads(7));
      Append(expected, {"sel 7 52", "wr 7 01"});
    }
  }
  const auto requests = rig.Bus.Requests();
  ASSERT_EQ(Describe(requests), expected);

  // Each replayed command has its pacing wait, so the last reply is in before the next probe.
  const size_t firstReplay = 1 + 2 + 24;
  for (size_t i = firstReplay; i < firstReplay + 4; ++i)
    EXPECT_EQ(requests[i + 1].StartUs - requests[i].StartUs, 60'000) << Describe(requests[i]);
  int64_t lastReplyEnd = 0;
  for (auto& reply : rig.Bus.Replies())
    if (reply.StartUs > requests[firstReplay + 3].StartUs &&
        reply.StartUs < requests[firstReplay + 4].StartUs)
      lastReplyEnd = reply.EndUs;
  EXPECT_GT(lastReplyEnd, 0);
  EXPECT_LT(lastReplyEnd, requests[firstReplay + 4].StartUs);

  EXPECT_EQ(unit3.Register(0x74), 1);
  EXPECT_EQ(unit3.Register(0xB4), 1);
  EXPECT_EQ(unit7.Register(0x52), 1);
  EXPECT_EQ(unit7.Register(0x54), 0);
  EXPECT_EQ(rig.Unit(3).ButtonOn[pbTitles], 1);
  EXPECT_EQ(rig.Button(3, pbTitles)->GlyphFile(), "Bmp\\TitOn.bmp");
  EXPECT_EQ(rig.Unit(7).ButtonOn[pbTitles], 0);
  EXPECT_EQ(rig.Unit(7).ButtonOn[pbAuxInput], 1);
  EXPECT_EQ(rig.Button(7, pbAuxInput)->GlyphFile(), "Bmp\\AuxOn.bmp");
  EXPECT_EQ(rig.Indicator(7, 13)->BrushColor(), clRed);
  EXPECT_EQ(rig.Indicator(7, 17)->BrushColor(), clLime);
  EXPECT_EQ(rig.Unit(7).StatusValues, (TStatusValues{2, 0, 0, 0, 1, 0, 0, 0, 0, 7}));
  // Restored buttons do not lock their rows, and reading leaves the files alone.
  EXPECT_FALSE(TitlesLocked);
  EXPECT_FALSE(AuxLocked);
  EXPECT_EQ(ReadFileBytes("Status3.log"), file3);
  EXPECT_EQ(ReadFileBytes("Status7.log"), file7);
}

TEST(Poll, AUnitOnlyAtAddressZeroIsToldToGetAnAddressThenTheAddressDialogOpens) {
  TPanelRig rig;
  rig.AddUnit(0);
  bool dialogOpenDuringBox = true;
  rig.Tk.OnMessage = [&](const TVirtualToolkit::TMessageRecord&) {
    dialogOpenDuringBox = rig.Windows->Form7->isVisible();
  };
  WriteFileBytes("COM.ini", "COM1\n");
  rig.Start();

  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Адрес устройства не задан.\r\nЗадайте адрес устройства от 1 до 16.");
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkInformation);
  EXPECT_FALSE(dialogOpenDuringBox);
  EXPECT_TRUE(rig.Windows->Form7->isVisible());
  EXPECT_FALSE(rig.Windows->Form3->isVisible());
  const auto words = Describe(rig.Bus.Requests());
  ASSERT_EQ(words.size(), 17u);
  EXPECT_EQ(words.back(), "id 0");
  EXPECT_EQ(FoundCount, 0);
  EXPECT_EQ(PanelsOnMainWindow(rig), 0);
  EXPECT_EQ(rig.Form1().Width(), 80);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\n");
  EXPECT_FALSE(FileExists("Status0.log"));
}

TEST(Poll, NoUnitAnsweringGivesTheFourLineMessageAndLeavesTheRememberedPortAlone) {
  TPanelRig rig;
  rig.AddUnit(20);  // beyond the polled addresses: never found
  WriteFileBytes("COM.ini", "COM1\nan old second line");
  rig.Start();

  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text,
            "Ни одно устройство не отвечает, проверьте соединительные\r\n"
            "кабеля и наличие питания.\r\n"
            "Если устройство подключено, то для продолжения\r\n"
            "работы выберите нужный COM-порт.");
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkInformation);
  std::vector<std::string> probes;
  for (int a = 1; a <= 16; ++a) probes.push_back("id " + std::to_string(a));
  probes.push_back("id 0");
  EXPECT_EQ(Describe(rig.Bus.Requests()), probes);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\nan old second line");
  EXPECT_FALSE(rig.Windows->Form7->isVisible());
  EXPECT_EQ(FoundCount, 0);
  EXPECT_FALSE(FileExists("Status20.log"));
  EXPECT_FALSE(LinkState.Scanning);
}

TEST(Poll, AUnitFoundRewritesTheRememberedPortAndClosesThePortDialog) {
  TPanelRig rig;
  rig.AddUnit(16);
  WriteFileBytes("COM.ini", "COM1\nan old second line");
  rig.Windows->Form8->show();
  bool portDialogOpenAtLastProbe = false;
  rig.Tk.At(15 * 250'000 + 1'000, [&] { portDialogOpenAtLastProbe = rig.Windows->Form8->isVisible(); });
  rig.Start();
  EXPECT_TRUE(portDialogOpenAtLastProbe);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");
  EXPECT_FALSE(rig.Windows->Form8->isVisible());
  EXPECT_EQ(FoundCount, 1);
  EXPECT_EQ(FoundUnits[1], 16);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(Poll, RescanFromTheMenuDestroysThePanelsAndBuildsThemAgain) {
  TPanelRig rig;
  rig.AddUnit(2);
  auto& unit5 = rig.AddUnit(5);
  auto& unit9 = rig.AddUnit(9);
  rig.StartOnCom1();
  ASSERT_EQ(FoundCount, 3);
  QPointer<QWidget> oldPanels[3] = {rig.Unit(2).Panel, rig.Unit(5).Panel, rig.Unit(9).Panel};
  QPointer<TIndicator> oldIndicator = rig.Indicator(5, 1);
  QPointer<TPanelButton> oldButton = rig.Button(9, pbSettings);
  EXPECT_EQ(rig.Indicator(5, 1)->BrushColor(), clRed);

  unit5.SetRegister(0x4E, 0x01);
  const size_t mark = rig.Mark();
  rig.Form1().N3->trigger();
  rig.Tk.RunUntilIdle();

  for (auto& panel : oldPanels) EXPECT_TRUE(panel.isNull());
  EXPECT_TRUE(oldIndicator.isNull());
  EXPECT_TRUE(oldButton.isNull());
  ASSERT_EQ(FoundCount, 3);
  EXPECT_EQ(rig.Unit(2).Panel->x(), 80);
  EXPECT_EQ(rig.Unit(5).Panel->x(), 171);
  EXPECT_EQ(rig.Unit(9).Panel->x(), 262);
  EXPECT_EQ(rig.Form1().Width(), 360);
  EXPECT_EQ(PanelsOnMainWindow(rig), 3);
  EXPECT_EQ(rig.Indicator(5, 1)->BrushColor(), clLime);
  EXPECT_EQ(rig.WordsSince(mark).size(), 16u + 3 * 24u);

  // A unit that no longer answers loses its panel; the others move up.
  unit9.Address = 21;
  rig.Form1().N3Click();
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(FoundCount, 2);
  EXPECT_TRUE(rig.Unit(9).Panel.isNull());
  EXPECT_EQ(PanelsOnMainWindow(rig), 2);
  EXPECT_EQ(rig.Form1().Width(), 269);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(Poll, AnIndicatorWhoseReadGetsNoReplyShowsItIsUnknownAndTheOperatorIsToldOnceAfterThePoll) {
  TPanelRig rig;
  auto& unit3 = rig.AddUnit(3);
  auto& unit7 = rig.AddUnit(7);
  unit3.SetRegister(0x4E, 0x01);
  unit3.SetRegister(0x6E, 0x01);
  unit3.SetRegister(0x8E, 0x00);
  unit7.SetRegister(0x4C, 0x03);
  // Unit 3 does not answer the read of K2's colour bars, unit 7 that of K1's logos (indicators 5 and 9).
  rig.Bus.Script = [&](const TWireFrame& request) -> std::optional<TReplyPlan> {
    if (request.Command != cmdRead) return std::nullopt;
    if ((request.Address == 3 && unit3.Pointer() == 0x6E) || (request.Address == 7 && unit7.Pointer() == 0x4C))
      return TReplyPlan{};  // silence
    return std::nullopt;
  };
  rig.StartOnCom1();
  EXPECT_EQ(rig.Indicator(3, 1)->BrushColor(), clLime);
  // Not K1's bit, which the last answered read left behind: unknown.
  EXPECT_EQ(rig.Indicator(3, 2)->BrushColor(), clGray);
  EXPECT_EQ(rig.Indicator(3, 2)->toolTip().toStdString(),
            std::string("№ 3, K2, ГЦП: неизвестно\n") + TextStateUnknown);
  EXPECT_EQ(rig.Indicator(3, 3)->BrushColor(), clRed);
  EXPECT_EQ(rig.Indicator(3, 3)->toolTip().toStdString(), "№ 3, K3, ГЦП: выкл");
  EXPECT_EQ(rig.Unit(3).IndicatorOn[2], 0);
  EXPECT_EQ(rig.Unit(3).IndicatorUnknown[2], 1);
  for (int n : {5, 9}) EXPECT_EQ(rig.Indicator(7, n)->BrushColor(), clGray) << n;
  EXPECT_EQ(rig.Indicator(7, 6)->BrushColor(), clRed);
  EXPECT_EQ(rig.Bus.Requests().size(), 16u + 2 * 24u);
  ASSERT_EQ(rig.MessageTexts().size(), 1u);
  EXPECT_EQ(rig.MessageTexts()[0],
            "Information: Не удалось прочитать состояние устройств № 3, № 7.\r\n"
            "Индикаторы, состояние которых неизвестно, показаны серым.\r\n"
            "Повторите опрос: «Добавить устройство в систему».");
  EXPECT_GT(rig.Tk.Messages()[0].TimeUs, rig.Bus.Requests().back().EndUs);  // after the poll

  // A rescan that reads everything brings the indicator back to what the unit holds.
  rig.Bus.Script = nullptr;
  rig.Tk.ClearMessages();
  rig.Form1().N3->trigger();
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(rig.Indicator(3, 2)->BrushColor(), clLime);
  EXPECT_EQ(rig.Indicator(3, 2)->toolTip().toStdString(), "№ 3, K2, ГЦП: вкл");
  EXPECT_EQ(rig.Unit(3).IndicatorUnknown[2], 0);
  EXPECT_TRUE(rig.MessageTexts().empty());
}

TEST(Poll, ASecondPollIsRefusedWhileOneRuns) {
  TPanelRig rig;
  rig.AddUnit(4);
  bool checked = false;
  rig.Tk.At(1'000'000, [&] {
    checked = true;
    EXPECT_TRUE(PollActive());
    EXPECT_FALSE(rig.Form1().N3->isEnabled());
    EXPECT_FALSE(rig.Windows->Form8->BitBtn1->isEnabled());
    EXPECT_FALSE(rig.Windows->Form9->BitBtn1->isEnabled());
    rig.Form1().N3Click();
    RescanBus();
  });
  rig.StartOnCom1();
  ASSERT_TRUE(checked);
  EXPECT_EQ(rig.Bus.Requests().size(), 16u + 24u);
  EXPECT_EQ(FoundCount, 1);
  EXPECT_EQ(PanelsOnMainWindow(rig), 1);
  EXPECT_TRUE(rig.Unit(4).Panel);
  EXPECT_TRUE(rig.Form1().N3->isEnabled());
  EXPECT_TRUE(rig.Windows->Form8->BitBtn1->isEnabled());
  EXPECT_TRUE(rig.Windows->Form9->BitBtn1->isEnabled());
}

TEST(Poll, AMissingImageAndAGarbledStatusFileAreReportedOnceAfterThePoll) {
  TPanelRig rig;
  rig.AddUnit(3);
  auto& unit7 = rig.AddUnit(7);
  fs::remove("Bmp/AuxOff.bmp");
  WriteFileBytes("Status7.log", "1 x 0 0 0 0 0 0 1 0 \r\n");
  std::vector<bool> pollWindowUp;
  rig.Tk.OnMessage = [&](const TVirtualToolkit::TMessageRecord&) {
    pollWindowUp.push_back(rig.Windows->Form3->isVisible());
  };
  rig.StartOnCom1();

  // Both units lack the picture; the operator hears of it once.
  EXPECT_EQ(rig.MessageTexts(),
            (std::vector<std::string>{
                "ORVEL Control: Cannot open file \"Bmp\\AuxOff.bmp\". No such file or directory",
                "ORVEL Control: Status7.log: Invalid numeric input"}));
  EXPECT_EQ(pollWindowUp, (std::vector<bool>{false, false}));
  for (auto& m : rig.Tk.Messages()) EXPECT_EQ(m.Kind, TMessageKind::mkError);
  EXPECT_FALSE(LinkState.Scanning);
  EXPECT_FALSE(PollActive());
  EXPECT_EQ(rig.Windows->Form3->ProgressBar1->value(), 0);
  EXPECT_EQ(Describe(rig.Bus.Requests()).size(), 16u + 48u);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");

  // Unit 7 keeps its panel with the values it had (none at start), and the file as it was.
  ASSERT_TRUE(rig.Unit(7).Panel);
  EXPECT_EQ(rig.Unit(7).StatusValues, TStatusValues{});
  EXPECT_EQ(rig.Indicator(7, 13)->BrushColor(), clRed);
  EXPECT_EQ(rig.Unit(7).ButtonOn[pbTitles], 0);
  EXPECT_EQ(ReadFileBytes("Status7.log"), "1 x 0 0 0 0 0 0 1 0 \r\n");
  for (int a : {3, 7}) {
    TPanelButton* aux = rig.Button(a, pbAuxInput);
    EXPECT_EQ(aux->text().toStdString(), "Доп.вход: выкл");
    EXPECT_TRUE(aux->icon().isNull());
    EXPECT_EQ(rig.Button(a, pbTitles)->GlyphFile(), "Bmp\\TitOff.bmp");
  }

  // The panels work: a selection on unit 7 goes to its file, which then holds good values again.
  rig.Tk.ClearMessages();
  EXPECT_EQ(rig.Click(7, 13),
            (std::vector<std::string>{"sel 7 54", "sel 7 54", "rd 7 1", "sel 7 54", "wr 7 00"}));
  EXPECT_EQ(rig.Indicator(7, 13)->BrushColor(), clLime);
  EXPECT_EQ(ReadFileBytes("Status7.log"), "1 0 0 0 0 0 0 0 0 0 \r\n");
  EXPECT_EQ(rig.Click(7, 1),
            (std::vector<std::string>{"sel 7 4E", "sel 7 4E", "rd 7 1", "sel 7 4E", "wr 7 01"}));
  EXPECT_EQ(unit7.Register(0x4E), 0x01);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST(Poll, ALinkFailureEndsThePollCleanly) {
  TPanelRig rig;
  rig.AddUnit(2);
  bool pollWindowUpAtError = true;
  rig.Tk.OnMessage = [&](const TVirtualToolkit::TMessageRecord&) {
    pollWindowUpAtError = rig.Windows->Form3->isVisible();
  };
  // The adapter is pulled out in the middle of unit 2's reads.
  rig.Tk.At(250'000 + 5 * 60'000 + 10'000, [&] { rig.Platform.Unplug("COM1"); });
  WriteFileBytes("COM.ini", "COM1\n");
  rig.Start();

  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkError);
  EXPECT_FALSE(rig.Tk.Messages()[0].Text.empty());
  EXPECT_FALSE(pollWindowUpAtError);
  EXPECT_FALSE(rig.Windows->Form3->isVisible());
  EXPECT_EQ(rig.Windows->Form3->ProgressBar1->value(), 0);
  EXPECT_FALSE(LinkState.Scanning);
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_FALSE(PollActive());
  EXPECT_TRUE(rig.Form1().N3->isEnabled());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\n");
  EXPECT_LE(rig.Bus.Requests().size(), 2u + 6u);
}

TEST(Poll, AnAdapterPulledMidPollAndPluggedBackIsUsedByTheNextRescanWithoutARestart) {
  TPanelRig rig;
  rig.AddUnit(2);
  rig.AddUnit(5);
  rig.Tk.At(250'000 + 5 * 60'000 + 10'000, [&] { rig.Platform.Unplug("COM1"); });
  WriteFileBytes("COM.ini", "COM1\r\n");
  rig.Start();
  // Whichever notices first, the event thread's failed wait or the next write, the port closes itself on
  // the dead device and the operator is told once.
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  const std::string& told = rig.Tk.Messages()[0].Text;
  EXPECT_TRUE(told.rfind("WriteFile function failed", 0) == 0 || told.rfind("Unable to open com port", 0) == 0)
      << told;
  EXPECT_FALSE(rig.Form1().ComPort1.Connected());

  // Still gone: the rescan says so and sends nothing.
  rig.Tk.ClearMessages();
  rig.Bus.ClearTrace();
  rig.Form1().N3->trigger();
  rig.Tk.RunUntilIdle();
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text.rfind("Unable to open com port", 0), 0u) << rig.Tk.Messages()[0].Text;
  EXPECT_TRUE(rig.Bus.Requests().empty());

  // Back: the next rescan opens the device anew and finds both units.
  rig.Platform.Replug("COM1");
  rig.Tk.ClearMessages();
  rig.Form1().N3->trigger();
  rig.Tk.RunUntilIdle();
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
  EXPECT_TRUE(rig.Form1().ComPort1.Connected());
  EXPECT_EQ(FoundCount, 2);
  EXPECT_EQ(rig.Bus.Requests().size(), 16u + 2 * 24u);
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");
}

TEST(Poll, AReplyStillOnItsWayIsNotTakenForTheNextAddresssAnswer) {
  TPanelRig rig;
  rig.AddUnit(3).AddFault(TSimFault::Delay(100'000).For(cmdRead));  // slower than the pacing wait
  rig.StartOnCom1();
  EXPECT_EQ(FoundCount, 1);
  EXPECT_EQ(FoundUnits[1], 3);
  EXPECT_FALSE(FileExists("Status4.log"));
  const auto requests = rig.Requests();
  // The probe of 4 goes out once unit 3's last late reply is in.
  const auto probe4 = std::find_if(requests.begin(), requests.end(),
                                   [](const TWireFrame& f) { return Describe(f) == "id 4"; });
  ASSERT_NE(probe4, requests.end());
  const auto& lastRead = *(probe4 - 1);
  ASSERT_EQ(Describe(lastRead), "rd 3 1");
  EXPECT_GE(probe4->StartUs, lastRead.EndUs + 100'000);
  // Every read was late, so unit 3's colour bars and logos are unknown, and the operator is told.
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(rig.Indicator(3, n)->BrushColor(), clGray) << n;
  ASSERT_EQ(rig.MessageTexts().size(), 1u);
  EXPECT_NE(rig.MessageTexts()[0].find("№ 3."), std::string::npos) << rig.MessageTexts()[0];
}

TEST(Poll, AnotherUnitsReplyTooLateForItsOwnProbeMakesNoPhantomOfTheNextAddress) {
  TPanelRig rig;
  rig.AddUnit(3).AddFault(TSimFault::Delay(300'000).For(cmdIdentify));  // later than the probe waits
  rig.StartOnCom1();
  // Unit 3's answer came during the probe of 4: neither counts as found.
  EXPECT_EQ(FoundCount, 0);
  EXPECT_FALSE(FileExists("Status3.log"));
  EXPECT_FALSE(FileExists("Status4.log"));
  for (const auto& f : rig.Requests()) EXPECT_NE(Describe(f).rfind("sel 4", 0), 0u) << "read a phantom unit 4";
}

}  // namespace

TEST(PollWindow, ItsLineReadsWholeWithALongPortNameAndTheWindowReturnsToItsWidthAfterwards) {
  EnsureApplication();
  TForm3 form;
  QLabel& line = *form.StaticText1;
  const auto shows = [&](const std::string& port) {
    line.setText(QString::fromUtf8(TextPolling) + QString::fromStdString(port));
    form.FitText();
  };
  const auto readsWhole = [&] {
    return line.width() >= line.fontMetrics().horizontalAdvance(line.text()) &&
           line.geometry().right() < form.width() - line.x() + 1;  // the same margin on either side
  };
  shows("COM1");
  EXPECT_TRUE(readsWhole());
  const QSize shortName = form.size();
  // The design width, or the few pixels more that the substituted font needs.
  EXPECT_GE(shortName.width(), TForm3::DesignWidth);
  EXPECT_LE(shortName.width(), TForm3::DesignWidth + 20);
  EXPECT_EQ(shortName.height(), TForm3::DesignHeight);
  const int barMargin = form.width() - form.ProgressBar1->geometry().right();

  // A stable adapter name: the window grows for it, the bar with it.
  const std::string stable = "/dev/serial/by-id/usb-FTDI_A50285BI-if00";
  shows(stable);
  ASSERT_LE(line.fontMetrics().horizontalAdvance(line.text()) + 2 * line.x(),
            form.screen()->availableGeometry().width())
      << "the test's screen must hold the name";
  EXPECT_TRUE(line.text().endsWith(QString::fromStdString(stable)));
  EXPECT_TRUE(readsWhole());
  EXPECT_GT(form.width(), shortName.width());
  EXPECT_EQ(form.height(), TForm3::DesignHeight);
  EXPECT_EQ(form.width() - form.ProgressBar1->geometry().right(), barMargin);
  const QRect screen = form.screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(form.geometry())) << "moved left where it would run off the screen";
  EXPECT_EQ(form.y(), TForm3::DesignPosition.y());

  // Longer than the screen: the window stops at the screen's width, and the whole name is in the tooltip.
  const std::string endless = "/tmp/" + std::string(300, 'x') + "/orvel-tty";
  shows(endless);
  EXPECT_TRUE(screen.contains(form.geometry()));
  EXPECT_TRUE(readsWhole());
  EXPECT_TRUE(line.toolTip().endsWith(QString::fromStdString(endless)));
  EXPECT_TRUE(line.text().endsWith("orvel-tty"));

  // The next poll on a short name is back to the first size, with no stale tooltip.
  shows("COM1");
  EXPECT_EQ(form.size(), shortName);
  EXPECT_EQ(form.pos(), TForm3::DesignPosition);
  EXPECT_TRUE(line.toolTip().isEmpty());
}

TEST(PanelButtonCaption, AMissingImagesCaptionReadsWholeOnTheButtonAndAnImageBringsTheFontBack) {
  EnsureApplication();
  TScratchDirectory scratch(false);
  QWidget panel;
  TPanelButton button(&panel);
  button.setGeometry(4, 0, 85, 30);
  const QFont usual = button.font();
  const auto readsWhole = [&] {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const QRect face = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    return button.fontMetrics().horizontalAdvance(button.text()) <= face.width();
  };
  button.Tag = 3 * 10 + pbAuxInput;
  // The longest caption a missing image leaves.
  EXPECT_FALSE(ShowSwitchButton(button, pbAuxInput, false).empty());
  EXPECT_EQ(button.text().toStdString(), "Доп.вход: выкл");
  EXPECT_TRUE(readsWhole()) << QFontInfo(button.font()).pixelSize();
  EXPECT_GE(QFontInfo(button.font()).pixelSize(), 7);

  // A short caption keeps the usual font.
  EXPECT_FALSE(ShowSettingsButton(button, 3).empty());
  EXPECT_EQ(button.text().toStdString(), "Настройки");
  EXPECT_TRUE(readsWhole());
  EXPECT_EQ(button.font(), usual);

  // Once the image is there, the picture replaces the caption and the font is the usual one.
  ASSERT_TRUE(fs::create_directory("Bmp"));
  QImage image(79, 24, QImage::Format_RGB32);
  image.fill(Qt::darkGray);
  ASSERT_TRUE(image.save("Bmp/AuxOff.bmp", "BMP"));
  EXPECT_EQ(ShowSwitchButton(button, pbAuxInput, false), "");
  EXPECT_TRUE(button.text().isEmpty());
  EXPECT_EQ(button.font(), usual);
}
