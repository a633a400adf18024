// The main window's start-up on the simulated ports: the port list, "COM.ini" read or created, the port
// opened, the width set and the poll run; and every way that can go wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PortFile.h"
#include "panels/Form3.h"
#include "panels/Poll.h"
#include "panels/UnitPanels.h"
#include "tests/support/ProgramRig.h"
#include "toolkit/AtomicFile.h"
#include "toolkit/Exceptions.h"

namespace {

const std::string OpenFailedNotFound = "Unable to open com port (win error code: 2)";

std::vector<std::string> PortList(TProgramRig& rig) {
  std::vector<std::string> names;
  auto* box = rig.Windows->Form8->ComboBox1;
  for (int i = 0; i < box->count(); ++i) names.push_back(box->itemText(i).toStdString());
  return names;
}

// Every file in the working directory other than the images.
std::vector<std::string> WorkingFiles() {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename() != "Bmp") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A start-up that stopped before the poll: the one error shown, nothing sent, the window at design width.
void ExpectStoppedBeforeThePoll(TProgramRig& rig, const std::string& error) {
  ASSERT_EQ(rig.Tk.Messages().size(), 1u) << ::testing::PrintToString(rig.MessageTexts());
  EXPECT_EQ(rig.Tk.Messages()[0].Text, error);
  EXPECT_EQ(rig.Tk.Messages()[0].Caption, "ORVEL Control");
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkError);
  EXPECT_FALSE(rig.Form1().ComPort1.Connected());
  EXPECT_TRUE(rig.Requests().empty());
  EXPECT_EQ(rig.Form1().Width(), TForm1::DesignWidth);
  EXPECT_EQ(FoundCount, 0);
  EXPECT_FALSE(PollActive());
  EXPECT_FALSE(rig.Windows->Form3->isVisible());
  // The operator can still choose another port.
  EXPECT_TRUE(rig.Form1().Com1->isEnabled());
  EXPECT_TRUE(rig.Form1().N3->isEnabled());
}

TEST(StartUp, WithoutPortFileTakesTheFirstListedPortAndRemembersIt) {
  TProgramRig rig;
  rig.Platform.AddPort("COM3");
  ASSERT_FALSE(FileExists("COM.ini"));
  rig.Start();

  EXPECT_EQ(PortList(rig), (std::vector<std::string>{"COM1", "COM3"}));
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");
  EXPECT_EQ(rig.Form1().ComPort1.Port(), "COM1");
  EXPECT_TRUE(rig.Form1().ComPort1.Connected());
  EXPECT_NE(rig.Platform.Device("COM1"), nullptr);
  EXPECT_EQ(rig.Platform.Device("COM3"), nullptr) << "probing a port must not leave it open";
  // Nothing answered: the poll ran on COM1 and left the window showing only the row captions.
  EXPECT_EQ(rig.Form1().Width(), 80);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, TextNoUnitAnswers);
  EXPECT_EQ(rig.Requests().size(), 17u) << "addresses 1 to 16 and the unaddressed unit";
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{"COM.ini"}));
}

TEST(StartUp, PortListHoldsCom1ToCom10InNumberOrderThenTheAdapters) {
  TProgramRig rig("COM10");
  for (const char* name : {"/dev/ttyUSB0", "COM2", "/dev/ttyACM0", "COM1", "COM9"})
    rig.Platform.AddPort(name);
  WriteFileBytes("COM.ini", "COM2\r\n");
  rig.Start();

  EXPECT_EQ(PortList(rig),
            (std::vector<std::string>{"COM1", "COM2", "COM9", "COM10", "/dev/ttyUSB0", "/dev/ttyACM0"}));
  for (const char* name : {"COM1", "COM9", "COM10", "/dev/ttyUSB0", "/dev/ttyACM0"})
    EXPECT_EQ(rig.Platform.Device(name), nullptr) << name;
  EXPECT_NE(rig.Platform.Device("COM2"), nullptr);
}

TEST(StartUp, PortFileNamesThePortWhateverTheListHolds) {
  struct TCase {
    const char* PortFile;
    const char* Port;
  };
  // "com3" is not in the list (device names compare without regard to case), yet opens all the same.
  for (TCase c : {TCase{"COM3\r\n", "COM3"}, TCase{"com3\r\n", "com3"},
                  TCase{"/tmp/orvel-tty\r\n", "/tmp/orvel-tty"}}) {
    SCOPED_TRACE(c.Port);
    TProgramRig rig;
    rig.AddUnit(2);  // on COM1, which must stay untouched
    if (std::string(c.Port) == "/tmp/orvel-tty") rig.Platform.AddPort("COM3");
    rig.Platform.AddPort(c.Port).AddUnit(5).LoadFactoryDefaults();
    WriteFileBytes("COM.ini", c.PortFile);
    rig.Start();

    EXPECT_EQ(rig.Form1().ComPort1.Port(), c.Port);
    EXPECT_NE(rig.Platform.Device(c.Port), nullptr);
    EXPECT_EQ(rig.Platform.Device("COM1"), nullptr);
    EXPECT_TRUE(rig.Requests().empty()) << "nothing is sent on COM1";
    EXPECT_FALSE(rig.Platform.Bus(c.Port)->Requests().empty());
    EXPECT_EQ(FoundCount, 1);
    EXPECT_EQ(FoundUnits[1], 5);
    EXPECT_EQ(rig.Form1().Width(), 80 + 91 + 7);
    EXPECT_EQ(ReadFileBytes("COM.ini"), c.PortFile);
    EXPECT_TRUE(rig.Tk.Messages().empty()) << rig.MessageTexts()[0];
  }
}

TEST(StartUp, WindowEndsEightyWidePlusOnePanelPerAnsweringUnit) {
  for (const std::vector<int>& units : std::vector<std::vector<int>>{{}, {9}, {3, 7}, {1, 4, 16}}) {
    SCOPED_TRACE(::testing::PrintToString(units));
    TProgramRig rig("/tmp/orvel-tty");
    for (int a : units) rig.AddUnit(uint8_t(a)).LoadFactoryDefaults();
    WriteFileBytes("COM.ini", "/tmp/orvel-tty\r\n");
    rig.Start();

    EXPECT_TRUE(rig.Form1().ComPort1.Connected());
    EXPECT_EQ(FoundCount, int(units.size()));
    EXPECT_EQ(rig.Form1().Width(), units.empty() ? 80 : 80 + 91 * int(units.size()) + 7);
    EXPECT_FALSE(rig.Windows->Form3->isVisible());
    EXPECT_EQ(rig.Windows->Form3->ProgressBar1->value(), 0);
  }
}

TEST(StartUp, PortThatCannotBeOpenedIsReportedAndNothingElseHappens) {
  TProgramRig rig;
  rig.AddUnit(3).LoadFactoryDefaults();
  WriteFileBytes("COM.ini", "COM5\r\n");
  rig.Start();

  ExpectStoppedBeforeThePoll(rig, OpenFailedNotFound);
  EXPECT_EQ(rig.Form1().ComPort1.Port(), "COM5");
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM5\r\n");
  EXPECT_EQ(WorkingFiles(), (std::vector<std::string>{"COM.ini"})) << "no status file without a poll";
}

TEST(StartUp, PortHeldByAnotherProgramIsReportedWithTheSystemError) {
  TProgramRig rig;
  rig.AddUnit(3).LoadFactoryDefaults();
  TComPort other(&rig.Platform);
  other.Open();
  WriteFileBytes("COM.ini", "COM1\r\n");
  rig.Start();
  ExpectStoppedBeforeThePoll(rig, "Unable to open com port (win error code: 5)");
  other.Close();
}

TEST(StartUp, PortFileContentsAreTakenUpToTheFirstLineEndWhateverTheyHold) {
  struct TCase {
    const char* What;
    std::string PortFile;
    std::string Port;  // what the port is set to
    bool Opens;        // COM1 and COM3 exist
  };
  const std::string longLine(100'000, 'C');
  const std::vector<TCase> cases{
      {"empty", "", "", false},
      {"only a line end", "\r\n", "", false},
      {"a line end first", "\nCOM1\r\n", "", false},
      {"no line end", "COM3", "COM3", true},
      {"a lone CR", "COM3\rCOM1\r\n", "COM3", true},
      {"a lone LF", "COM3\nCOM1", "COM3", true},
      {"no trimming", " COM1 \r\n", " COM1 ", false},
      {"a NUL inside the name", std::string("COM1\0COM3\r\n", 11), std::string("COM1\0COM3", 9), false},
      {"only NULs", std::string(4, '\0'), std::string(4, '\0'), false},
      {"high bytes", "\x01\xFE\xFF\x7F\r\n", "\x01\xFE\xFF\x7F", false},
      {"a very long line", longLine + "\r\n", "", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TProgramRig rig;
    rig.Platform.AddPort("COM3");
    WriteFileBytes("COM.ini", c.PortFile);
    rig.Start();

    if (c.Opens) {
      EXPECT_EQ(rig.Form1().ComPort1.Port(), c.Port);
      EXPECT_TRUE(rig.Form1().ComPort1.Connected());
      EXPECT_NE(rig.Platform.Device(c.Port), nullptr);
      continue;
    }
    ExpectStoppedBeforeThePoll(rig, OpenFailedNotFound);
    if (c.PortFile == longLine + "\r\n") {
      const std::string& port = rig.Form1().ComPort1.Port();
      EXPECT_GE(port.size(), 1000u);
      EXPECT_EQ(port, longLine.substr(0, port.size()));
    } else {
      EXPECT_EQ(rig.Form1().ComPort1.Port(), c.Port);
    }
    EXPECT_EQ(rig.Platform.Device("COM1"), nullptr);
    EXPECT_EQ(rig.Platform.Device("COM3"), nullptr);
    EXPECT_EQ(ReadFileBytes("COM.ini"), c.PortFile) << "an unusable file is left as it is";
  }
}

TEST(StartUp, NoPortAndNoPortFileSaysSoAndWritesNoEmptyName) {
  TProgramRig rig;
  rig.Platform.Unplug("COM1");
  rig.Start();

  ExpectStoppedBeforeThePoll(rig, TextNoPortFound);
  EXPECT_TRUE(PortList(rig).empty());
  EXPECT_FALSE(FileExists("COM.ini"));
  EXPECT_TRUE(WorkingFiles().empty());
}

TEST(StartUp, PortFileThatCannotBeWrittenOrReadStopsTheStartUp) {
  {
    TProgramRig rig;
    struct TDiskFull {
      TDiskFull() {
        AtomicFileBeforeRename = [](const std::string&) {
          throw EInOutError("COM.ini: No space left on device", ENOSPC);
        };
      }
      ~TDiskFull() { AtomicFileBeforeRename = nullptr; }
    } full;
    rig.Start();
    ExpectStoppedBeforeThePoll(rig, "COM.ini: No space left on device");
    EXPECT_TRUE(WorkingFiles().empty()) << "neither the file nor its temporary";
  }
  {
    // Something that exists under the name but cannot be read as a file.
    TProgramRig rig;
    std::filesystem::create_directory("COM.ini");
    rig.Start();
    ASSERT_EQ(rig.Tk.Messages().size(), 1u);
    EXPECT_NE(rig.Tk.Messages()[0].Text.find("COM.ini"), std::string::npos) << rig.Tk.Messages()[0].Text;
    EXPECT_FALSE(rig.Form1().ComPort1.Connected());
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(rig.Form1().Width(), TForm1::DesignWidth);
  }
}

TEST(MenuCommands, PortDialogShowsThePortInUseAndAddressDialogOpensBesideIt) {
  TProgramRig rig;
  rig.Platform.AddPort("COM3");
  WriteFileBytes("COM.ini", "com3\r\n");
  rig.Start();
  TForm8& f8 = *rig.Windows->Form8;
  ASSERT_FALSE(f8.isVisible());

  rig.Form1().Com1->trigger();
  EXPECT_TRUE(f8.isVisible());
  EXPECT_EQ(f8.ComboBox1->currentText().toStdString(), "com3");
  EXPECT_EQ(PortList(rig), (std::vector<std::string>{"COM1", "COM3"})) << "showing the name adds nothing";

  rig.Form1().N2->trigger();
  EXPECT_TRUE(rig.Windows->Form7->isVisible());
  EXPECT_TRUE(f8.isVisible()) << "neither dialog is modal";
  EXPECT_EQ(rig.Tk.Messages().size(), 1u) << "only the poll's own message";
}

TEST(MenuCommands, DialogsOpenDuringThePollAndAFoundUnitClosesThePortDialog) {
  TProgramRig rig;
  rig.AddUnit(4).LoadFactoryDefaults();
  WriteFileBytes("COM.ini", "COM1\r\n");
  bool polling[2] = {false, false};
  // Inside the waits of the first probes.
  rig.Tk.At(100'000, [&] {
    polling[0] = rig.Windows->Form3->isVisible();
    rig.Form1().Com1->trigger();
  });
  rig.Tk.At(700'000, [&] {
    polling[1] = rig.Windows->Form3->isVisible();
    rig.Form1().N2->trigger();
  });
  rig.Start();

  EXPECT_TRUE(polling[0] && polling[1]);
  EXPECT_EQ(FoundCount, 1);
  EXPECT_FALSE(rig.Windows->Form8->isVisible()) << "closed by the poll that found a unit";
  EXPECT_TRUE(rig.Windows->Form7->isVisible());
  EXPECT_EQ(rig.Windows->Form8->ComboBox1->currentText().toStdString(), "COM1");
}

}  // namespace
