// The panels on the keyboard, on the real widgets in virtual time: Tab reaches every indicator and button,
// the arrows move within a panel, Space and Enter switch the indicator with the focus as a click does and
// leave the focus on it, the focus shows, and every switch says what it is.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QTest>

#include "panels/Indicator.h"
#include "panels/PanelButton.h"
#include "tests/panels/PanelRig.h"

namespace {

using TWords = std::vector<std::string>;

struct Keyboard : ::testing::Test {
  TPanelRig rig;
  void SetUp() override {
    rig.AddUnit(3).SetRegister(0x6C, 0x01);  // K2: logo 1 on, logo 2 off
    rig.AddUnit(7);
    rig.StartOnCom1();
    QApplication::setActiveWindow(&rig.Form1());
    rig.Indicator(3, 1)->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), rig.Indicator(3, 1));
  }
  // A key on the widget with the focus, then the program runs until nothing is left to do; the requests.
  TWords Key(int key, bool autoRepeat = false) {
    const size_t mark = rig.Mark();
    QWidget* target = QApplication::focusWidget();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(target, &release);
    rig.Tk.RunUntilIdle();
    return rig.WordsSince(mark);
  }
};

TEST_F(Keyboard, TabReachesEveryIndicatorThenThePanelsButtonsPanelByPanel) {
  std::vector<QWidget*> expected;
  for (int a : {3, 7}) {
    for (int n = 1; n <= 20; ++n) expected.push_back(rig.Indicator(a, n));
    for (int b = 1; b <= 3; ++b) expected.push_back(rig.Button(a, b));
  }
  std::vector<QWidget*> reached{QApplication::focusWidget()};
  for (size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    reached.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(reached, expected);
}

TEST_F(Keyboard, ArrowsMoveWithinThePanelAndStopAtItsEdges) {
  auto press = [](int key) { QTest::keyClick(QApplication::focusWidget(), Qt::Key(key)); };
  press(Qt::Key_Right);
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 2));
  press(Qt::Key_Down);
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 6));
  for (int i = 0; i < 4; ++i) press(Qt::Key_Down);
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 18)) << "the bottom row, not the buttons below it";
  press(Qt::Key_Right);
  press(Qt::Key_Right);
  press(Qt::Key_Right);
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 20)) << "not into the next unit's panel";
  press(Qt::Key_Up);
  press(Qt::Key_Left);
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 15));
}

TEST_F(Keyboard, SpaceAndEnterSwitchTheIndicatorAsAClickDoesAndTheFocusStaysOnIt) {
  rig.Indicator(3, 10)->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(rig.Indicator(3, 10)->accessibleName().toStdString(), "№ 3, K2, Лого2: выкл");
  EXPECT_EQ(Key(Qt::Key_Space), (TWords{"sel 3 6C", "sel 3 6C", "rd 3 1", "sel 3 6C", "wr 3 03"}));
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clLime);
  EXPECT_EQ(rig.Indicator(3, 10)->accessibleName().toStdString(), "№ 3, K2, Лого2: вкл");
  EXPECT_EQ(rig.Indicator(3, 10)->toolTip().toStdString(), "№ 3, K2, Лого2: вкл");
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 10)) << "the focus came back when it was done";

  EXPECT_EQ(Key(Qt::Key_Return), (TWords{"sel 3 6C", "sel 3 6C", "rd 3 1", "sel 3 6C", "wr 3 01"}));
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clRed);
  EXPECT_EQ(Key(Qt::Key_Enter).size(), 5u);
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clLime);
  // A held key repeats; the repeats switch nothing.
  EXPECT_TRUE(Key(Qt::Key_Space, true).empty());
  EXPECT_EQ(rig.Indicator(3, 10)->BrushColor(), clLime);
  // Other keys do nothing to it.
  EXPECT_TRUE(Key(Qt::Key_A).empty());
  EXPECT_EQ(QApplication::focusWidget(), rig.Indicator(3, 10));
}

TEST_F(Keyboard, TheFocusShowsOnTheIndicatorWhateverItsColour) {
  TIndicator* indicator = rig.Indicator(3, 6);  // lime
  indicator->clearFocus();
  const QImage plain = indicator->grab().toImage();
  indicator->setFocus(Qt::TabFocusReason);
  const QImage focused = indicator->grab().toImage();
  ASSERT_EQ(plain.size(), focused.size());
  // The centre keeps the state's colour; a ring inside the edge turns white.
  const QPoint centre(plain.width() / 2, plain.height() / 2), ring(plain.width() / 2, 2);
  EXPECT_EQ(focused.pixelColor(centre), plain.pixelColor(centre));
  EXPECT_EQ(focused.pixelColor(ring), QColor(Qt::white)) << "on lime";
  rig.Indicator(3, 5)->setFocus(Qt::TabFocusReason);  // red
  EXPECT_EQ(rig.Indicator(3, 5)->grab().toImage().pixelColor(ring), QColor(Qt::white)) << "on red";
}

TEST_F(Keyboard, TheButtonsSayWhatTheyAreAndTheMenuHasMnemonics) {
  EXPECT_EQ(rig.Button(3, 1)->toolTip().toStdString(), "№ 3, Титры: выкл");
  EXPECT_EQ(rig.Button(3, 2)->accessibleName().toStdString(), "№ 3, Доп.вход: выкл");
  EXPECT_EQ(rig.Button(7, 3)->accessibleName().toStdString(), "№ 7, Настройки прибора");
  rig.Button(3, 1)->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Space);  // titles on, from the keyboard
  EXPECT_EQ(rig.Button(3, 1)->toolTip().toStdString(), "№ 3, Титры: вкл");
  EXPECT_EQ(QApplication::focusWidget(), rig.Button(3, 1));

  for (QAction* action : {rig.Form1().menuBar()->actions()[0], rig.Form1().Com1, rig.Form1().N2, rig.Form1().N3})
    EXPECT_EQ(action->text()[0], QChar('&')) << action->text().toStdString();
}

}  // namespace
