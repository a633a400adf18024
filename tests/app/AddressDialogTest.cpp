// Giving a new unit its bus address: the set-address dialog, the request on the wire, the confirmation
// and the poll its OK starts, on the real windows against simulated units in virtual time.
#include <gtest/gtest.h>

#include <QAction>

#include "app/Form7.h"
#include "app/Form9.h"
#include "link/Frame.h"
#include "link/Link.h"
#include "panels/Form3.h"
#include "panels/Poll.h"
#include "tests/app/DialogTestSupport.h"
#include "unitsim/SimFault.h"

namespace {

using TWords = std::vector<std::string>;

const std::string SetAddress5 = "E2 E4 05 00 FF 00 08 00 01 05 39 5C";

struct AddressDialog : ::testing::Test {
  TPanelRig rig;
  TForm7& form7 = *rig.Windows->Form7;
  TForm9& form9 = *rig.Windows->Form9;

  // Start-up on COM1 with the units given, to the end of its poll.
  void StartWith(const std::vector<int>& units) {
    for (int a : units) rig.AddUnit(uint8_t(a)).LoadFactoryDefaults();
    rig.StartOnCom1();
  }
  // The dialog as the operator gets it from the menu, with `text` typed in.
  void OpenAndType(const QString& text) {
    Activate(&rig.Form1());
    rig.Form1().N2->trigger();
    Activate(&form7);
    Type(form7.Edit1, text);
  }
  TWords Write() {
    const size_t mark = rig.Mark();
    Press(form7.BitBtn1);
    rig.Tk.RunUntilIdle();
    return rig.WordsSince(mark);
  }
};

TEST_F(AddressDialog, FiveTypedForAnUnaddressedUnitIsWrittenConfirmedAndPolledAtItsNewAddress) {
  StartWith({0});
  ASSERT_EQ(rig.MessageTexts(), TWords{std::string("Information: ") + TextAddressNotSet});
  ASSERT_TRUE(form7.isVisible()) << "the poll opens the dialog after its message";
  Activate(&form7);
  EXPECT_TRUE(form7.Edit1->text().isEmpty());
  Type(form7.Edit1, "5");

  const size_t mark = rig.Mark();
  Press(form7.BitBtn1);
  // The request went out, and the press was over as soon as the reply was in: no pacing wait.
  const auto sent = rig.RequestsSince(mark);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Hex(), SetAddress5);
  EXPECT_LT(rig.Tk.NowUs(), sent[0].EndUs + 60'000);
  EXPECT_EQ(LinkState.Address, 0);
  EXPECT_EQ(rig.Bus.Units()[0]->Address, 5);
  EXPECT_FALSE(form7.isVisible());
  EXPECT_TRUE(form9.isVisible());
  EXPECT_EQ(form9.Label1->text().toStdString(), "Новый адрес записан");

  // OK: the window closes before the poll's first probe is answered, and the poll finds the unit at 5.
  bool confirmationOpenDuringPoll = true, pollShowing = false, okEnabledDuringPoll = true;
  rig.Tk.After(100'000, [&] {
    confirmationOpenDuringPoll = form9.isVisible();
    pollShowing = rig.Windows->Form3->isVisible();
    okEnabledDuringPoll = form9.BitBtn1->isEnabled();
  });
  const size_t pollMark = rig.Mark();
  Press(form9.BitBtn1);
  rig.Tk.RunUntilIdle();
  EXPECT_FALSE(confirmationOpenDuringPoll);
  EXPECT_TRUE(pollShowing);
  EXPECT_FALSE(okEnabledDuringPoll);
  EXPECT_EQ(rig.WordsSince(pollMark), PollWords({5}));
  ASSERT_EQ(FoundCount, 1);
  EXPECT_EQ(FoundUnits[1], 5);
  ASSERT_TRUE(rig.Unit(5).Panel);
  EXPECT_TRUE(rig.Unit(5).Panel->isVisible());
  EXPECT_EQ(rig.Unit(5).Panel->x(), 80);
  EXPECT_EQ(rig.Indicator(5, 1)->Tag, 5 * 21 + 1);
  EXPECT_EQ(rig.Form1().Width(), 80 + 91 + 7);
  EXPECT_TRUE(FileExists("Status5.log"));
  EXPECT_EQ(ReadFileBytes("COM.ini"), "COM1\r\n");
  EXPECT_FALSE(form9.isVisible());
  EXPECT_TRUE(form9.BitBtn1->isEnabled());
  EXPECT_EQ(rig.MessageTexts().size(), 1u) << rig.MessageTexts().back();
}

TEST_F(AddressDialog, OnlyOneToSixteenIsSentAndTextThatIsNoNumberIsReported) {
  StartWith({0});
  rig.Tk.ClearMessages();
  const std::string outOfRange = std::string("Information: ") + TextAddressOutOfRange;
  struct TCase {
    QString Typed;
    std::string Message;
  };
  const std::vector<TCase> refused{
      {"0", outOfRange},
      {"-1", outOfRange},
      {"17", outOfRange},
      {"32", outOfRange},
      {"2147483647", outOfRange},
      {"", "ORVEL Control: '' is not a valid integer value"},
      {"abc", "ORVEL Control: 'abc' is not a valid integer value"},
      {"5x", "ORVEL Control: '5x' is not a valid integer value"},
      {"1.5", "ORVEL Control: '1.5' is not a valid integer value"},
      {"0x05", "ORVEL Control: '0x05' is not a valid integer value"},
      {"99999999999", "ORVEL Control: '99999999999' is not a valid integer value"},
      {"Пять", "ORVEL Control: 'Пять' is not a valid integer value"},
  };
  for (const TCase& c : refused) {
    SCOPED_TRACE(c.Typed.toStdString());
    OpenAndType(c.Typed);
    EXPECT_TRUE(Write().empty());
    ASSERT_EQ(rig.MessageTexts(), TWords{c.Message});
    EXPECT_EQ(rig.Tk.Messages()[0].Kind,
              c.Message == outOfRange ? TMessageKind::mkInformation : TMessageKind::mkError);
    rig.Tk.ClearMessages();
    EXPECT_TRUE(form7.isVisible());
    EXPECT_EQ(form7.Edit1->text(), c.Typed) << "what was typed stays for the operator to correct";
    EXPECT_FALSE(form9.isVisible());
  }
  EXPECT_EQ(rig.Bus.Units()[0]->Address, 0);

  // The ends of the range, with blanks around the number.
  for (QString typed : {" 1", "16 "}) {
    SCOPED_TRACE(typed.toStdString());
    rig.Bus.Units()[0]->Address = 0;
    form9.hide();
    OpenAndType(typed);
    EXPECT_EQ(Write(), TWords{"addr 0 " + typed.trimmed().toStdString()});
    EXPECT_TRUE(form9.isVisible());
    EXPECT_EQ(rig.Bus.Units()[0]->Address, typed.trimmed().toInt());
  }
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

TEST_F(AddressDialog, TheFieldIsEmptyEveryTimeTheDialogBecomesActive) {
  StartWith({3});
  OpenAndType("7");
  EXPECT_EQ(form7.Edit1->text(), "7");
  form7.close();
  rig.Form1().N2->trigger();
  Activate(&rig.Form1());
  Activate(&form7);
  EXPECT_TRUE(form7.isVisible());
  EXPECT_TRUE(form7.Edit1->text().isEmpty());
  Type(form7.Edit1, "9");
  Activate(&rig.Form1());
  Activate(&form7);
  EXPECT_TRUE(form7.Edit1->text().isEmpty());
}

TEST_F(AddressDialog, NoAnswerAndRefusalsLeaveTheDialogOpenWithTheirMessages) {
  struct TCase {
    const char* What;
    std::optional<uint8_t> Status;  // the unit at 0 refuses with this; none: there is no unit at 0
    std::string Message;
  };
  for (const TCase& c : {TCase{"no unit", std::nullopt, std::string("Information: ") + TextNotConnected},
                         TCase{"not supported", statusNotSupported, std::string("Information: ") + TextNotSupported},
                         TCase{"device fault", statusDeviceFault, std::string("Error: ") + TextDeviceFault}}) {
    SCOPED_TRACE(c.What);
    TPanelRig rig;
    if (c.Status) rig.AddUnit(0).AddFault(TSimFault::WithStatus(*c.Status).For(cmdSetAddress));
    rig.StartOnCom1();
    rig.Tk.ClearMessages();
    TForm7& form7 = *rig.Windows->Form7;
    rig.Form1().N2->trigger();
    Activate(&form7);
    Type(form7.Edit1, "5");
    const size_t mark = rig.Mark();
    Press(form7.BitBtn1);
    rig.Tk.RunUntilIdle();

    const auto sent = rig.RequestsSince(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Hex(), SetAddress5);
    ASSERT_EQ(rig.MessageTexts(), TWords{c.Message});
    // The reply time-out runs from the moment the request was written.
    if (!c.Status) {
      EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, sent[0].StartUs + 250'000);
    }
    EXPECT_TRUE(form7.isVisible());
    EXPECT_FALSE(rig.Windows->Form9->isVisible());
    if (c.Status) {
      EXPECT_EQ(rig.Bus.Units()[0]->Address, 0);
    }
    EXPECT_EQ(FoundCount, 0);
  }
}

TEST_F(AddressDialog, ASecondPressWaitsForTheFirstRequestToBeAnsweredOrToTimeOut) {
  // A slow unit: the second press comes before its reply, which hides the dialog; the waiting press is
  // then no longer wanted.
  auto& unit = rig.AddUnit(0);
  unit.ReplyDelayUs = 100'000;
  rig.StartOnCom1();
  rig.Tk.ClearMessages();
  OpenAndType("5");
  rig.Tk.After(20'000, [&] { Press(form7.BitBtn1); });
  EXPECT_EQ(Write(), TWords{"addr 0 5"});
  EXPECT_TRUE(form9.isVisible());
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];

  // No unit: the request goes out again once the first has timed out, never on top of it.
  unit.Address = 9;
  form9.hide();
  OpenAndType("6");
  rig.Tk.After(20'000, [&] { Press(form7.BitBtn1); });
  const size_t mark = rig.Mark();
  EXPECT_EQ(Write(), (TWords{"addr 0 6", "addr 0 6"}));
  const auto sent = rig.RequestsSince(mark);
  EXPECT_GE(sent[1].StartUs, sent[0].StartUs + 250'000);
  const std::string notConnected = std::string("Information: ") + TextNotConnected;
  EXPECT_EQ(rig.MessageTexts(), (TWords{notConnected, notConnected}));
  EXPECT_TRUE(form7.isVisible());
}

TEST_F(AddressDialog, WrittenDuringAPollTheRequestWaitsForThePollAndTheConfirmationPollsBoth) {
  StartWith({3});
  rig.AddUnit(0).LoadFactoryDefaults();  // a new unit joins the line
  ASSERT_EQ(FoundCount, 1);
  bool pollRunningAfterPress = false;
  rig.Tk.After(300'000, [&] {
    OpenAndType("5");
    Press(form7.BitBtn1);
    pollRunningAfterPress = rig.Windows->Form3->isVisible();
  });
  const size_t mark = rig.Mark();
  rig.Form1().N3->trigger();
  rig.Tk.RunUntilIdle();

  EXPECT_TRUE(pollRunningAfterPress) << "the press must not wait inside the poll";
  TWords expected = PollWords({3});
  expected.push_back("addr 0 5");
  EXPECT_EQ(rig.WordsSince(mark), expected);
  EXPECT_TRUE(form9.isVisible());

  const size_t pollMark = rig.Mark();
  Press(form9.BitBtn1);
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(rig.WordsSince(pollMark), PollWords({3, 5}));
  EXPECT_EQ(FoundCount, 2);
  EXPECT_EQ(PanelsOnMainWindow(rig), 2);
  EXPECT_EQ(rig.Unit(5).Panel->x(), 80 + 91);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

}  // namespace
