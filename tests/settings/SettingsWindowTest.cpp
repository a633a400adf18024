// The settings window in virtual time against simulated units: what goes on the wire for every action
// (frames, order, pacing) and what the operator sees afterwards.
#include <gtest/gtest.h>

#include <QTest>

#include "link/Frame.h"
#include "link/LinkState.h"
#include "tests/settings/SettingsRig.h"

namespace {

constexpr int K2Brightness = 19, K2Contrast = 20, K2Saturation = 21, K2Agc = 22, K2Vtr = 23, K2Substitution = 24;
constexpr int K1Brightness = 11;

TEST(SettingsWindow, TreeAndControlsStandAsDesigned) {
  TSettingsRig rig;
  TForm2& f = rig.Settings();
  EXPECT_EQ(f.windowTitle().toStdString(), "Settings — № 3");
  EXPECT_EQ(f.pos(), QPoint(79, 5));
  EXPECT_EQ(f.size(), QSize(623, 341));
  // 41 nodes in depth-first order, headings at the top level and collapsed on show.
  for (int i = 0; i < TForm2::NodeCount; ++i) {
    const bool heading = i == 0 || i == 4 || i == 8 || (i >= 9 && (i - 9) % 8 == 0);
    EXPECT_EQ(f.NodeAt(i)->parent() == nullptr, heading) << i;
    EXPECT_FALSE(heading && f.NodeAt(i)->isExpanded()) << i;
    EXPECT_EQ(f.AbsoluteIndex(f.NodeAt(i)), i);
  }
  EXPECT_EQ(f.NodeAt(8)->text(0).toStdString(), "Задержка по строке");
  EXPECT_EQ(f.NodeAt(33)->text(0).toStdString(), "Настройки канала 4");
  EXPECT_EQ(f.NodeAt(40)->text(0).toStdString(), "Замещение");
  EXPECT_EQ(f.TreeView1->indentation(), 19);
  EXPECT_EQ(f.TreeView1->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(f.TreeView1->palette().color(QPalette::Inactive, QPalette::Highlight),
            f.TreeView1->palette().color(QPalette::Active, QPalette::Highlight));
  EXPECT_EQ(f.TrackBar1->tickPosition(), QSlider::TicksBelow);
  EXPECT_EQ(f.TrackBar1->singleStep(), 0);
  EXPECT_EQ(f.TrackBar1->pageStep(), 2);
  EXPECT_EQ(f.TrackBar1->geometry(), QRect(71, 80, 241, 40));
  EXPECT_TRUE(f.Edit6->isReadOnly());
  EXPECT_FALSE(f.Edit6->isEnabled());
  EXPECT_TRUE(f.BitBtn2->font().bold());
  EXPECT_EQ(f.BitBtn2->font().pixelSize(), 16);
  EXPECT_EQ(f.Button2->geometry(), QRect(136, 152, 129, 20));
  EXPECT_EQ(rig.Screen(), "");

  // A right click selects as a left one does; the keyboard walks the tree, each node read as reached.
  rig.Sim(3).SetRegister(0x08, 5);
  f.TreeView1->expandAll();
  QTest::mouseClick(f.TreeView1->viewport(), Qt::RightButton, {},
                    f.TreeView1->visualItemRect(f.NodeAt(3)).center());
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(f.TreeView1->currentItem(), f.NodeAt(3));
  EXPECT_EQ(rig.Screen(), "Выбор логотипа [5] - 0..7@5 + default");
  const size_t mark = rig.Mark();
  QTest::keyClick(f.TreeView1, Qt::Key_Down);
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(rig.WordsSince(mark), TWords{});  // "Логотип2", a heading
  EXPECT_EQ(rig.Screen(), "");
}

TEST(SettingsWindow, AValueNodeShowsItsScaleAndPlusHoldsAtTheHighestValue) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 6, {0, 10, 4, 2});
  size_t mark = rig.Mark();
  EXPECT_EQ(rig.Select(K2Brightness), ValueRead(3, 0x62));
  EXPECT_EQ(rig.Gaps(mark), (std::vector<int>{60, 60, 60}));
  EXPECT_EQ(rig.Screen(), "Яркость [6] - 0..5@3 + default");
  EXPECT_FALSE(LinkState.RegisterMode);

  // 11 / 2 = 5.5 rounds to 6, whose 12 lies above the highest value: "+" holds at 11.
  rig.SetValue(3, 0x64, 10, {0, 11, 0, 2});
  rig.Select(K2Contrast);
  EXPECT_EQ(rig.Screen(), "Контрастность [10] - 0..6@5 + default");
  mark = rig.Mark();
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn2), (TWords{"sel 3 64", "wr 3 0B"}));
  EXPECT_EQ(rig.Gaps(mark), std::vector<int>{60});
  EXPECT_EQ(rig.Screen(), "Контрастность [11] - 0..6@6 + default");
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn2), TWords{"wr 3 0B"});
  EXPECT_EQ(rig.Sim(3).Register(0x64), 11);

  rig.SetValue(3, 0x66, 9, {0, 9, 0, 2});  // 4.5 rounds to 4
  rig.Select(K2Saturation);
  EXPECT_EQ(rig.Screen(), "Цветовая насыщенность [9] - 0..4@4 + default");

  // 250 + 2 × 3 would wrap to 0 in a byte.
  rig.SetValue(3, 0x42, 253, {250, 255, 250, 3});
  rig.Select(K1Brightness);
  EXPECT_EQ(rig.Screen(), "Яркость [253] - 0..2@1 + default");
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn2), (TWords{"sel 3 42", "wr 3 FF"}));
  EXPECT_EQ(rig.Screen(), "Яркость [255] - 0..2@2 + default");
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(SettingsWindow, StepButtonsWaitForTheWriteReplyAndMinusAtZeroWritesTheValueAgain) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 0, {0, 10, 0, 2});
  rig.Select(K2Brightness);
  TForm2& f = rig.Settings();
  // Straight after the reading the unit's pointer stands at the descriptor, where the simulated unit
  // refuses writes: the refusal is told and "-" waits for another answered write.
  EXPECT_EQ(rig.Press(f.BitBtn3), TWords{"wr 3 00"});
  EXPECT_EQ(rig.MessageTexts(), TWords{"Information: Команда не поддерживается"});
  EXPECT_EQ(rig.Screen(), "Яркость [0] ~- 0..5@0 + default");
  rig.Tk.ClearMessages();
  rig.Press(f.Button2);
  EXPECT_EQ(rig.Press(f.BitBtn3), TWords{"wr 3 00"});  // at the register the default's select left
  EXPECT_EQ(rig.Screen(), "Яркость [0] - 0..5@0 + default");

  // "+" is disabled from its click to the reply of its write, which comes late; "-" clicked meanwhile
  // waits for the line to be quiet, not for a pacing time after the bare write.
  rig.Sim(3).AddFault(TSimFault::Delay(100'000).For(cmdWrite).Times(1));
  const size_t mark = rig.Mark();
  const int64_t start = rig.Tk.NowUs();
  std::vector<bool> plusEnabled;
  rig.Tk.At(start + 10'000, [&] { plusEnabled.push_back(f.BitBtn2->isEnabled()); });
  rig.Tk.At(start + 20'000, [&] { QTest::mouseClick(f.BitBtn3, Qt::LeftButton); });
  rig.Tk.At(start + 150'000, [&] { plusEnabled.push_back(f.BitBtn2->isEnabled()); });
  bool minusEnabled = true;
  rig.Tk.At(start + 180'000, [&] {
    plusEnabled.push_back(f.BitBtn2->isEnabled());
    minusEnabled = f.BitBtn3->isEnabled();  // its own write is not out yet, though "+"'s reply came
  });
  EXPECT_EQ(rig.Press(f.BitBtn2), (TWords{"sel 3 62", "wr 3 02", "sel 3 62", "wr 3 00"}));
  EXPECT_EQ(plusEnabled, (std::vector<bool>{false, false, true}));
  EXPECT_FALSE(minusEnabled);
  const auto gaps = rig.Gaps(mark);
  EXPECT_EQ(gaps[0], 60);
  EXPECT_GE(gaps[1], 100);
  EXPECT_LT(gaps[1], 110);
  EXPECT_EQ(rig.Screen(), "Яркость [0] - 0..5@0 + default");

  // A write nobody answers: told once, and the button stays disabled until another write is answered.
  rig.Sim(3).AddFault(TSimFault::Silent().For(cmdWrite).Times(1));
  EXPECT_EQ(rig.Press(f.BitBtn2), (TWords{"sel 3 62", "wr 3 02"}));
  EXPECT_EQ(rig.MessageTexts(), TWords{"Information: Устройство не подключено"});
  EXPECT_EQ(rig.Screen(), "Яркость [2] - 0..5@1 ~+ default");
  EXPECT_EQ(rig.Press(f.Button2), (TWords{"sel 3 62", "wr 3 00"}));
  EXPECT_EQ(rig.Screen(), "Яркость [0] - 0..5@0 + default");
}

TEST(SettingsWindow, TheDefaultAndTheSliderSetWhereTheNextStepStarts) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 8, {0, 10, 4, 2});
  rig.Select(K2Brightness);
  TForm2& f = rig.Settings();
  size_t mark = rig.Mark();
  EXPECT_EQ(rig.Press(f.Button2), (TWords{"sel 3 62", "wr 3 04"}));
  EXPECT_EQ(rig.Gaps(mark), std::vector<int>{60});
  EXPECT_EQ(rig.Screen(), "Яркость [4] - 0..5@2 + default");
  EXPECT_EQ(rig.Press(f.BitBtn3), (TWords{"sel 3 62", "wr 3 02"}));
  EXPECT_EQ(rig.Screen(), "Яркость [2] - 0..5@1 + default");

  // Moving the slider sends nothing and leaves the value; "+" then steps from where it stands.
  mark = rig.Mark();
  QTest::keyClick(f.TrackBar1, Qt::Key_PageUp);
  QTest::keyClick(f.TrackBar1, Qt::Key_Right);  // line size 0: the arrows do not move it
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(rig.WordsSince(mark), TWords{});
  EXPECT_EQ(rig.Screen(), "Яркость [2] - 0..5@3 + default");
  EXPECT_EQ(rig.Press(f.BitBtn2), (TWords{"sel 3 62", "wr 3 08"}));
  EXPECT_EQ(rig.Sim(3).Register(0x62), 8);
}

TEST(SettingsWindow, SwitchesAreReadAndAStateThatChangesTheBoxIsWrittenBack) {
  TSettingsRig rig;
  rig.Sim(3).SetRegister(0x68, 1);
  rig.Sim(3).SetRegister(0x6A, 2);
  rig.Sim(3).SetRegister(0x70, 0);
  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.Select(K2Agc), SwitchRead(3, 0x68) + TWords({"sel 3 68", "wr 3 01"}));
  EXPECT_EQ(rig.Gaps(mark), (std::vector<int>{60, 60, 60, 60}));
  EXPECT_EQ(rig.Screen(), "[x] АРУ");
  EXPECT_EQ(rig.Select(K2Vtr), SwitchRead(3, 0x6A));  // 2: the box stays as it was
  EXPECT_EQ(rig.Screen(), "[x] VTR");
  EXPECT_EQ(rig.Select(K2Substitution), SwitchRead(3, 0x70) + TWords({"sel 3 70", "wr 3 00"}));
  EXPECT_EQ(rig.Screen(), "[ ] Замещение explained");
  EXPECT_EQ(rig.Press(rig.Settings().CheckBox1), (TWords{"sel 3 70", "wr 3 01"}));
  EXPECT_EQ(rig.Screen(), "[x] Замещение explained");
  EXPECT_EQ(rig.Sim(3).Register(0x70), 1);
  EXPECT_EQ(rig.Select(K2Agc), SwitchRead(3, 0x68));  // 1 with the box ticked: nothing to write
  EXPECT_EQ(rig.Sim(3).Register(0x6A), 2);

  EXPECT_EQ(rig.Select(25), TWords{});  // "Настройки канала 3"
  EXPECT_EQ(rig.Screen(), "");
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(SettingsWindow, AnotherUnitsSettingsButtonRereadsTheNodeAndOnlyThatButtonChangesTheUnit) {
  TSettingsRig rig({3, 7});
  rig.SetValue(3, 0x62, 6, {0, 10, 4, 2});
  rig.SetValue(7, 0x62, 2, {0, 10, 4, 2});
  rig.Select(K2Brightness);
  EXPECT_EQ(rig.OpenSettings(7), ValueRead(7, 0x62));
  EXPECT_EQ(rig.Settings().windowTitle().toStdString(), "Settings — № 7");
  EXPECT_EQ(rig.Screen(), "Яркость [2] - 0..5@1 + default");
  // An indicator of unit 3 reads and selects other registers in between; the window's step still goes to
  // its own unit and register.
  rig.Click(3, 1);
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn2), (TWords{"sel 7 62", "wr 7 04"}));
  EXPECT_EQ(rig.Sim(3).Register(0x62), 6);
}

TEST(SettingsWindow, ActionsWaitTheirTurnAndOnlyTheLastSelectionIsRead) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 6, {0, 10, 4, 2});
  rig.SetValue(3, 0x64, 8, {0, 10, 4, 2});
  rig.Select(K2Brightness);
  TForm2& f = rig.Settings();
  // "+" clicked while an indicator's five requests run, then the operator arrows down two nodes.
  const int64_t start = rig.Tk.NowUs();
  std::string during;
  rig.Tk.At(start + 30'000, [&] { QTest::mouseClick(f.BitBtn2, Qt::LeftButton); });
  rig.Tk.At(start + 40'000, [&] { f.TreeView1->setCurrentItem(f.NodeAt(K2Contrast)); });
  rig.Tk.At(start + 50'000, [&] { f.TreeView1->setCurrentItem(f.NodeAt(K2Saturation)); });
  rig.Tk.At(start + 60'000, [&] { f.TreeView1->setCurrentItem(f.NodeAt(K2Contrast)); });
  rig.Tk.At(start + 200'000, [&] { during = rig.Screen(); });
  const auto words = rig.Click(3, 1);
  EXPECT_EQ(words, TWords({"sel 3 4E", "sel 3 4E", "rd 3 1", "sel 3 4E", "wr 3 01", "sel 3 62", "wr 3 08"}) +
                       ValueRead(3, 0x64));
  EXPECT_EQ(during, "Контрастность [] ~- ~0..0@0 ~+ ~default");
  EXPECT_EQ(rig.Screen(), "Контрастность [8] - 0..5@4 + default");

  // A selection made during a reading: the first reading's value is never shown for the second node.
  rig.Tk.At(rig.Tk.NowUs() + 30'000, [&] { f.TreeView1->setCurrentItem(f.NodeAt(K2Brightness)); });
  rig.Tk.At(rig.Tk.NowUs() + 250'000, [&] { during = rig.Screen(); });
  EXPECT_EQ(rig.Select(K2Saturation), ValueRead(3, 0x66) + ValueRead(3, 0x62));
  EXPECT_EQ(during, "Яркость [] ~- ~0..0@0 ~+ ~default");
  EXPECT_EQ(rig.Screen(), "Яркость [8] - 0..5@4 + default");
}

TEST(SettingsWindow, AReadingWithoutItsValueLeavesTheControlsEmptyAndSaysSoOnce) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 6, {0, 10, 4, 2});
  rig.Select(K2Brightness);
  TForm2& f = rig.Settings();
  rig.Sim(3).AddFault(TSimFault::Silent().For(cmdRead).Times(1));
  const int64_t start = rig.Tk.NowUs();
  EXPECT_EQ(rig.Select(K2Contrast), (TWords{"sel 3 64", "rd 3 1"}));
  EXPECT_EQ(rig.Screen(), "Контрастность [] ~- ~0..0@0 ~+ ~default");
  ASSERT_EQ(rig.MessageTexts(), TWords{"Information: Устройство не подключено"});
  EXPECT_EQ(rig.Tk.Messages()[0].TimeUs - start, 60'000 + 250'000);  // the read's reply time-out

  // The value came, its descriptor did not: the value shows, nothing can be changed.
  rig.Tk.ClearMessages();
  rig.Tk.At(rig.Tk.NowUs() + 100'000, [&] { rig.Sim(3).AddFault(TSimFault::Silent().For(cmdRead).Times(1)); });
  EXPECT_EQ(rig.Select(K2Brightness), ValueRead(3, 0x62));
  EXPECT_EQ(rig.Screen(), "Яркость [6] ~- ~0..0@0 ~+ ~default");
  EXPECT_EQ(rig.MessageTexts(), TWords{"Information: Устройство не подключено"});

  // A switch: the box is neither ticked from another node nor usable.
  rig.Tk.ClearMessages();
  rig.Sim(3).SetRegister(0x68, 1);
  rig.Select(K2Agc);
  rig.Sim(3).AddFault(TSimFault::WithStatus(0x83).For(cmdRead).Times(1));
  EXPECT_EQ(rig.Select(K2Vtr), SwitchRead(3, 0x6A));
  EXPECT_EQ(rig.Screen(), "~[ ] VTR");
  EXPECT_EQ(rig.MessageTexts(), TWords{"Error: Устройство неисправно"});
  EXPECT_FALSE(f.CheckBox1->isEnabled());
}

TEST(SettingsWindow, DescriptorsOfAnyFourBytesLeaveTheWindowUsableAndWrapNothing) {
  struct TCase {
    TSimDescriptor Descriptor;
    uint8_t Value;
    std::string Screen;
    TWords DefaultWrites;
  };
  const TCase cases[] = {
      {{0, 0, 0, 0}, 0, "Яркость [0] ~- ~0..0@0 ~+ default", {"sel 3 62", "wr 3 00"}},
      {{0xFF, 0x00, 0x80, 0x00}, 0x80, "Яркость [128] ~- ~0..0@0 ~+ default", {"sel 3 62", "wr 3 80"}},
      {{10, 5, 7, 1}, 7, "Яркость [7] ~- ~0..0@0 ~+ default", {"sel 3 62", "wr 3 07"}},
      {{0, 10, 20, 2}, 200, "Яркость [200] - 0..5@5 + default", {"sel 3 62", "wr 3 14"}},
  };
  for (const auto& c : cases) {
    TSettingsRig rig;
    rig.SetValue(3, 0x62, c.Value, c.Descriptor);
    EXPECT_EQ(rig.Select(K2Brightness), ValueRead(3, 0x62));
    EXPECT_EQ(rig.Screen(), c.Screen);
    EXPECT_EQ(rig.Press(rig.Settings().Button2), c.DefaultWrites);
    EXPECT_TRUE(rig.Tk.Messages().empty()) << rig.MessageTexts()[0];
  }
  // A value above its range: "+" writes it back unchanged, "-" steps down onto the scale.
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 200, {0, 10, 4, 2});
  rig.Select(K2Brightness);
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn2), TWords{"wr 3 C8"});
  EXPECT_EQ(rig.Press(rig.Settings().BitBtn3), (TWords{"sel 3 62", "wr 3 08"}));
}

TEST(SettingsWindow, RepliesOfTheWrongLengthOrStatusShowWhatTheyCarried) {
  TSettingsRig rig;
  rig.SetValue(3, 0x62, 6, {0, 10, 4, 2});
  // Four bytes for a one-byte read: the first is the value.
  rig.Sim(3).AddFault(TSimFault::Oversize(4).For(cmdRead).Times(1));
  EXPECT_EQ(rig.Select(K2Brightness), ValueRead(3, 0x62));
  EXPECT_EQ(rig.Screen(), "Яркость [6] - 0..5@3 + default");
  // No data byte at all: its checksum is not taken for the value.
  rig.Sim(3).AddFault(TSimFault::Oversize(0).For(cmdRead).Times(1));
  EXPECT_EQ(rig.Select(K2Contrast), (TWords{"sel 3 64", "rd 3 1"}));
  EXPECT_EQ(rig.Screen(), "Контрастность [] ~- ~0..0@0 ~+ ~default");
  EXPECT_EQ(rig.MessageTexts(), TWords{"Information: Устройство не подключено"});
  // A one-byte answer to the descriptor's read.
  rig.Tk.ClearMessages();
  rig.Tk.At(rig.Tk.NowUs() + 100'000, [&] { rig.Sim(3).AddFault(TSimFault::Oversize(1).For(cmdRead).Times(1)); });
  EXPECT_EQ(rig.Select(K2Brightness), ValueRead(3, 0x62));
  EXPECT_EQ(rig.Screen(), "Яркость [6] ~- ~0..0@0 ~+ ~default");
  EXPECT_EQ(rig.MessageTexts(), TWords{"Information: Устройство не подключено"});
  EXPECT_EQ(rig.Sim(3).Register(0x62), 6);
  EXPECT_EQ(rig.Sim(3).Register(0x64), 128);
}

TEST(SettingsWindow, ClosingDuringAReadingLeavesItsRegisterModeAndShowingAgainShowsOnlyTheTree) {
  TSettingsRig rig;
  TForm2& f = rig.Settings();
  rig.Tk.At(rig.Tk.NowUs() + 90'000, [&] { f.close(); });
  rig.Tk.At(rig.Tk.NowUs() + 150'000, [&] { rig.Button(3, 3)->click(); });  // and open again
  rig.Sim(3).SetRegister(0x68, 1);
  EXPECT_EQ(rig.Select(K2Agc), SwitchRead(3, 0x68));  // whole, and not written back: the box is not shown
  EXPECT_EQ(rig.Screen(), "");  // shown anew: only the tree
  LinkState.RegisterMode = true;  // as an abandoned exchange leaves it
  f.close();
  EXPECT_FALSE(LinkState.RegisterMode);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

}  // namespace
