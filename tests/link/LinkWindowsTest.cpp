// The link inside the program's real windows: what the main window's activation and the settings window's
// step buttons have to do with an exchange.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "settings/Form2.h"
#include "tests/support/ProgramRig.h"

namespace {

TEST(LinkInTheProgram, ActivatingTheMainWindowEndsTheRegisterExchange) {
  TProgramRig rig;
  rig.AddUnit(1).SetRegister(0x4C, 0x03);
  LinkState.CurrentValue = 0x77;
  LinkState.RegisterMode = true;
  LinkState.Address = 1;
  LinkState.Register = 0x4C;
  LinkState.Value = 1;
  // The operator clicks the main window while the select's pacing wait runs.
  rig.Tk.At(30'000, [&] {
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&rig.Form1(), &activate);
  });
  ReadRegister();
  EXPECT_FALSE(LinkState.RegisterMode);
  // The rest of the exchange runs without it: the read asks for nothing and its reply is not stored.
  const auto requests = rig.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Data, (std::vector<uint8_t>{0x4C, 0, 0, 0}));
  EXPECT_EQ(requests[1].Hex(), HexBytes(BuildFrame(1, cmdRead, {0x00})));
  EXPECT_EQ(LinkState.CurrentValue, 0x77);
  EXPECT_TRUE(rig.MessageTexts().empty());
}

TEST(LinkInTheProgram, ActivationLeavesAnOperatorsOperationItsRegisterMode) {
  TProgramRig rig;
  rig.AddUnit(1).SetRegister(0x4C, 0x03);
  // The click that starts the exchange also brings the main window to the front.
  rig.Tk.At(30'000, [&] {
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&rig.Form1(), &activate);
  });
  RunLinkOperation([] {
    LinkState.RegisterMode = true;
    LinkState.Address = 1;
    LinkState.Register = 0x4C;
    LinkState.Value = 1;
    ReadRegister();
    EXPECT_TRUE(LinkState.RegisterMode);
    LinkState.RegisterMode = false;
  });
  const auto requests = rig.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Hex(), HexBytes(BuildFrame(1, cmdRead, {0x01})));
  EXPECT_EQ(LinkState.CurrentValue, 0x03);
  // Once the operation is over, activation clears what an abandoned exchange left set.
  LinkState.RegisterMode = true;
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&rig.Form1(), &activate);
  EXPECT_FALSE(LinkState.RegisterMode);
}

TEST(LinkInTheProgram, WriteReplyReenablesBothStepButtons) {
  TProgramRig rig;
  rig.AddUnit(1);
  auto& form2 = *rig.Windows->Form2;
  form2.ShowForUnit(1);
  form2.TreeView1->setCurrentItem(form2.NodeAt(11));  // K1 brightness: "+" and "-" can step it
  rig.Tk.RunUntilIdle();
  form2.BitBtn3->setEnabled(false);  // "-" was clicked
  ASSERT_TRUE(form2.BitBtn2->isEnabled());
  LinkState.StepPending = true;
  LinkState.RegisterMode = true;
  LinkState.Address = 1;
  LinkState.Register = 0x42;
  LinkState.WriteCount = 1;
  LinkState.Value = 0x7F;
  RunCommand(cmdSelect);
  SendCommand(cmdWrite);
  LinkState.RegisterMode = false;
  EXPECT_FALSE(form2.BitBtn3->isEnabled());
  rig.Tk.RunFor(100'000);
  EXPECT_TRUE(form2.BitBtn2->isEnabled());
  EXPECT_TRUE(form2.BitBtn3->isEnabled());
  EXPECT_FALSE(LinkState.StepPending);
  EXPECT_EQ(rig.Bus.FindUnit(1)->Register(0x42), 0x7F);
  EXPECT_TRUE(rig.MessageTexts().empty());
}

}  // namespace
