// Moving the program to another port with "Выбор Com-порта": the name remembered, the port opened and
// polled, the same name only reopened, names no port has, and a port whose adapter was pulled out; on the
// real windows against simulated ports in virtual time.
#include <gtest/gtest.h>

#include <QAction>
#include <utility>

#include "app/Form8.h"
#include "app/PortFile.h"
#include "link/Link.h"
#include "panels/Form3.h"
#include "panels/Poll.h"
#include "tests/app/DialogTestSupport.h"

namespace {

using TWords = std::vector<std::string>;

const std::string NotFound = "ORVEL Control: Unable to open com port (win error code: 2)";

struct TPortDialogProgram {
  TPanelRig rig;
  TForm8& form8 = *rig.Windows->Form8;
  TComPort& port = rig.Form1().ComPort1;
  int opened = 0, closed = 0;

  // The program started on COM1, its units polled, the dialog opened from the menu.
  void StartOnCom1(const std::vector<int>& units) {
    for (int a : units) rig.AddUnit(uint8_t(a)).LoadFactoryDefaults();
    rig.StartOnCom1();
    port.OnAfterOpen = [this](TCustomComPort*) { ++opened; };
    port.OnAfterClose = [this](TCustomComPort*) { ++closed; };
    rig.Form1().Com1->trigger();
    Activate(&form8);
  }
  void Choose(const QString& name) {
    form8.ComboBox1->setEditText(name);
    Press(form8.BitBtn1);
    rig.Tk.RunUntilIdle();
  }
  TWords WordsOn(const std::string& portName, size_t since = 0) {
    auto all = rig.Platform.Bus(portName)->Requests();
    return Describe(std::vector<TWireFrame>(all.begin() + std::min(since, all.size()), all.end()));
  }
};

struct PortDialog : ::testing::Test, TPortDialogProgram {};

TEST_F(PortDialog, TheSameNameReopensThePortAndDoesNothingElse) {
  StartOnCom1({3});
  WriteFileBytes("COM.ini", "COM1\n");  // a rewrite would end the line in CR LF
  QWidget* panel = rig.Unit(3).Panel;
  ASSERT_EQ(form8.ComboBox1->currentText(), "COM1");
  const size_t mark = rig.Mark();
  Choose("COM1");

  EXPECT_EQ(closed, 1);
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(rig.WordsSince(mark).empty()) << "no poll";
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\n");
  EXPECT_TRUE(form8.isVisible());
  EXPECT_TRUE(form8.BitBtn1->isEnabled());
  EXPECT_EQ(rig.Unit(3).Panel, panel);
  EXPECT_EQ(FoundCount, 1);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
  // The reopened port carries the switches' requests and their replies.
  EXPECT_EQ(rig.Click(3, 1), (TWords{"sel 3 4E", "sel 3 4E", "rd 3 1", "sel 3 4E", "wr 3 01"}));
  EXPECT_EQ(rig.Bus.Units()[0]->Register(0x4E), 0x01);
}

TEST_F(PortDialog, ANameDifferingOnlyInLetterCaseIsAnotherPortSavedOpenedAndPolled) {
  rig.Platform.AddPort("COM3").AddUnit(5).LoadFactoryDefaults();
  WriteFileBytes("COM.ini", "COM3\r\n");
  rig.Start();
  ASSERT_EQ(FoundCount, 1);
  rig.Form1().Com1->trigger();
  const size_t mark = rig.Platform.Bus("COM3")->Requests().size();
  Choose("com3");

  EXPECT_EQ(port.Port(), "com3");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "com3\r\n");
  EXPECT_EQ(WordsOn("COM3", mark), PollWords({5}));
  EXPECT_EQ(FoundCount, 1);
  EXPECT_TRUE(rig.Unit(5).Panel);
  EXPECT_FALSE(form8.isVisible()) << "a poll that found a unit closes the dialog";
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST_F(PortDialog, MovingToAPortWhereAUnitAnswersPollsItThereAndClosesTheDialog) {
  rig.Platform.AddPort("COM2").AddUnit(4).LoadFactoryDefaults();
  StartOnCom1({});  // nothing answers on COM1
  ASSERT_EQ(rig.MessageTexts(), TWords{std::string("Information: ") + TextNoUnitAnswers});
  rig.Tk.ClearMessages();
  const size_t onCom1 = rig.Mark();
  ASSERT_EQ(form8.ComboBox1->findText("COM2"), 1);
  form8.ComboBox1->setCurrentIndex(1);
  bool enabledDuringPoll = true, dialogUpDuringPoll = false;
  rig.Tk.After(100'000, [&] {
    enabledDuringPoll = form8.BitBtn1->isEnabled();
    dialogUpDuringPoll = form8.isVisible();
  });
  Press(form8.BitBtn1);
  rig.Tk.RunUntilIdle();

  EXPECT_EQ(port.Port(), "COM2");
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM2\r\n");
  EXPECT_EQ(rig.Platform.Device("COM1"), nullptr) << "the old port is closed";
  EXPECT_NE(rig.Platform.Device("COM2"), nullptr);
  EXPECT_TRUE(rig.WordsSince(onCom1).empty()) << "nothing more on the old port";
  EXPECT_EQ(WordsOn("COM2"), PollWords({4}));
  EXPECT_FALSE(enabledDuringPoll);
  EXPECT_TRUE(dialogUpDuringPoll);
  EXPECT_FALSE(form8.isVisible());
  EXPECT_TRUE(form8.BitBtn1->isEnabled());
  EXPECT_EQ(PanelsOnMainWindow(rig), 1);
  EXPECT_EQ(rig.Unit(4).Panel->x(), 80);
  EXPECT_EQ(rig.Form1().Width(), 80 + 91 + 7);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST_F(PortDialog, MovingToAPortWhereNothingAnswersKeepsTheDialogAndTheNewName) {
  rig.Platform.AddPort("COM2");
  StartOnCom1({3});
  ASSERT_EQ(PanelsOnMainWindow(rig), 1);
  Choose("COM2");

  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM2\r\n");
  TWords probes = PollWords({});
  probes.push_back("id 0");
  EXPECT_EQ(WordsOn("COM2"), probes);
  EXPECT_EQ(rig.MessageTexts(), TWords{std::string("Information: ") + TextNoUnitAnswers});
  EXPECT_TRUE(form8.isVisible());
  EXPECT_EQ(PanelsOnMainWindow(rig), 0);
  EXPECT_FALSE(rig.Unit(3).Panel);
  EXPECT_EQ(rig.Form1().Width(), 80);
}

TEST(PortDialogNames, NoPortHasThemSoTheyAreRememberedAsTypedAndReportedByTheOpen) {
  const std::vector<QString> names{" COM2", "COM2 ", "", QString("COM2") + QChar(0) + "x", QString(5000, 'C')};
  for (const QString& name : names) {
    SCOPED_TRACE(name.left(8).toStdString());
    TPortDialogProgram c;  // a fresh program each time
    c.rig.Platform.AddPort("COM2").AddUnit(4).LoadFactoryDefaults();
    c.StartOnCom1({3});
    const size_t mark = c.rig.Mark();
    c.Choose(name);

    const QByteArray typed = name.toLocal8Bit();
    EXPECT_EQ(c.port.Port(), typed.toStdString());
    EXPECT_EQ(ReadFileBytes("COM.ini"), typed.toStdString() + "\r\n");
    EXPECT_EQ(c.rig.MessageTexts(), TWords{NotFound});
    EXPECT_FALSE(c.port.Connected());
    EXPECT_TRUE(c.rig.Platform.Bus("COM2")->Requests().empty());
    EXPECT_TRUE(c.rig.WordsSince(mark).empty());
    EXPECT_TRUE(c.form8.isVisible());
    EXPECT_TRUE(c.rig.Unit(3).Panel) << "the old panels stay until the next poll";
    c.rig.Tk.ClearMessages();

    if (name.isEmpty()) {
      // Every later exchange reports the same opening error; then the operator picks a port that works.
      c.rig.Click(3, 1);
      EXPECT_EQ(c.rig.MessageTexts(), TWords{NotFound});
      c.rig.Tk.ClearMessages();
      c.Choose("COM2");
      EXPECT_EQ(ReadFileBytes("COM.ini"), "COM2\r\n");
      EXPECT_EQ(c.WordsOn("COM2"), PollWords({4}));
      EXPECT_FALSE(c.form8.isVisible());
      EXPECT_TRUE(c.rig.MessageTexts().empty()) << c.rig.MessageTexts()[0];
    }
  }
}

TEST_F(PortDialog, TheSameNameAfterTheAdapterWasPulledOpensItAgainAndPolls) {
  StartOnCom1({3, 7});
  rig.Platform.Unplug("COM1");
  rig.Click(3, 1);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u) << "the failed switch is reported";
  EXPECT_FALSE(port.Connected()) << "a port whose device has gone closes itself";
  rig.Tk.ClearMessages();

  // Still pulled out: the open says so, and nothing else happens.
  Choose("COM1");
  EXPECT_EQ(rig.MessageTexts(), TWords{NotFound});
  EXPECT_TRUE(form8.isVisible());
  EXPECT_EQ(FoundCount, 2);
  rig.Tk.ClearMessages();

  // Plugged in again: the same name opens it, and the poll brings the panels back.
  rig.Platform.Replug("COM1");
  const size_t mark = rig.Mark();
  Choose("COM1");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(rig.WordsSince(mark), PollWords({3, 7}));
  EXPECT_EQ(PanelsOnMainWindow(rig), 2);
  EXPECT_FALSE(form8.isVisible());
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST_F(PortDialog, AnAdapterPulledAndPluggedInWhileTheLineWasQuietIsOpenedAgainAndPolled) {
  StartOnCom1({3});
  rig.Platform.Unplug("COM1");
  rig.Tk.RunUntilIdle();
  rig.Platform.Replug("COM1");
  const size_t mark = rig.Mark();
  Choose("COM1");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(rig.WordsSince(mark), PollWords({3}));
  EXPECT_EQ(PanelsOnMainWindow(rig), 1);
  EXPECT_FALSE(form8.isVisible());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST_F(PortDialog, ACloseThatReportsItsDeviceRefusedThePurgeStillReopensAndPolls) {
  StartOnCom1({3});
  // The close completes, then says the device refused to be purged: a device that has gone away.
  bool refuse = true;
  port.OnAfterClose = [&](TCustomComPort*) {
    if (std::exchange(refuse, false)) throw EComPort(CError_PurgeFailed, 22);
  };
  const size_t mark = rig.Mark();
  Choose("COM1");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(rig.WordsSince(mark), PollWords({3}));
  // What the close of a dead device has to say is no news once the port works again.
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
  port.OnAfterClose = nullptr;  // it captures this test's locals, and the rig closes the port later
}

TEST_F(PortDialog, APressDuringASwitchWaitsUntilTheSwitchIsOver) {
  rig.Platform.AddPort("COM2").AddUnit(4).LoadFactoryDefaults();
  StartOnCom1({3});
  form8.ComboBox1->setEditText("COM2");
  rig.Tk.After(30'000, [&] { Press(form8.BitBtn1); });
  // The switch's five requests all went out on COM1, the poll only afterwards on COM2.
  EXPECT_EQ(rig.Click(3, 1), (TWords{"sel 3 4E", "sel 3 4E", "rd 3 1", "sel 3 4E", "wr 3 01"}));
  EXPECT_EQ(rig.Bus.Units()[0]->Register(0x4E), 0x01);
  const auto com1 = rig.Requests();
  const auto com2 = rig.Platform.Bus("COM2")->Requests();
  ASSERT_FALSE(com2.empty());
  EXPECT_GT(com2.front().StartUs, com1.back().EndUs);
  EXPECT_EQ(Describe(com2), PollWords({4}));
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM2\r\n");
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

}  // namespace
