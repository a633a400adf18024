// Replies that reached the port in time but whose event a busy machine delivered late, and how a caller
// tells a value read now from one an earlier read left behind.
#include <gtest/gtest.h>

#include "link/Frame.h"
#include "tests/link/LinkTestRig.h"

namespace {

TEST(LateDelivery, AReadReplyWaitingWhenThePacingTimerFiresIsStoredBeforeTheWaitEnds) {
  TWatchedLinkRig rig;
  rig.AddUnit(1).SetRegister(0x4C, 0x03);
  // The event thread is held up for as long as the pacing wait runs: the reply sits in the port.
  rig.HandOver = [&](int32_t) { return !rig.Timer4->Enabled(); };
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  const int64_t end = rig.Tk.NowUs();
  LinkState.RegisterMode = false;  // the caller's exchange ends here
  EXPECT_EQ(LinkState.CurrentValue, 0x03);
  EXPECT_TRUE(LinkState.ReadAnswered);
  ASSERT_EQ(rig.Requests().size(), 2u);
  EXPECT_EQ(end - rig.Requests()[1].StartUs, 60'000);  // the timing on the wire is unchanged
  rig.Tk.RunFor(500'000);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(LateDelivery, AProbeAnsweredInTimeCountsAsPresentThoughItsEventCameAfterTheReplyTimer) {
  TWatchedLinkRig rig;
  rig.AddUnit(4);
  LinkState.Scanning = true;
  rig.HandOver = [&](int32_t) { return !rig.Timer1->Enabled(); };
  ProbeDevice(4);
  EXPECT_FALSE(LinkState.ReplyTimedOut);
  EXPECT_EQ(LinkState.RxCount, 11);
  ProbeDevice(5);  // nobody there: a time-out as ever
  EXPECT_TRUE(LinkState.ReplyTimedOut);
  LinkState.Scanning = false;
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(ReadAnswered, TellsAReadThatGotItsReplyFromOneThatDidNot) {
  TWatchedLinkRig rig;
  auto& unit = rig.AddUnit(1);
  unit.SetRegister(0x4C, 0x02);
  unit.SetDescriptor(0x42, {0, 10, 5, 1});
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  EXPECT_TRUE(LinkState.ReadAnswered);
  rig.SetUpRead(1, 0x43, 4);
  ReadRegister();
  EXPECT_TRUE(LinkState.ReadAnswered);

  // Silent for reads: the value stays as the last read left it, and the flag says so.
  unit.AddFault(TSimFault::Silent().For(cmdRead));
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  EXPECT_FALSE(LinkState.ReadAnswered);
  EXPECT_EQ(LinkState.CurrentValue, 0x02);

  // A reply too short to hold the byte asked for stores nothing either.
  rig.Bus.Script = [](const TWireFrame& request) -> std::optional<TReplyPlan> {
    if (request.Command != cmdRead) return std::nullopt;
    TReplyPlan plan;
    plan.Bytes = {0xE2, 0xE4, 0x05, 0x01, 0xFF};
    return plan;
  };
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  EXPECT_FALSE(LinkState.ReadAnswered);
  LinkState.RegisterMode = false;
}

}  // namespace
