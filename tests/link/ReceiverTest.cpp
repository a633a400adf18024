// Receiving: where a reply ends, what it is used for, error statuses, time-outs, late, split and stray
// bytes, and bytes that do not fit the receive buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "link/Frame.h"
#include "tests/link/LinkTestRig.h"

namespace {

// The settings window's way to write: select and wait, then a bare write, and the exchange ends at once,
// so the write's reply is received with RegisterMode clear.
void BareWrite(TWatchedLinkRig& rig, uint8_t address, uint8_t code, uint8_t value) {
  LinkState.StepPending = true;
  rig.SetUpWrite(address, code, value);
  RunCommand(cmdSelect);
  SendCommand(cmdWrite);
  LinkState.RegisterMode = false;
  rig.Tk.RunFor(100'000);
}

TEST(Receiver, ReplyEndsByItsLengthByteWhateverItsHeaderAndChecksum) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  // Header bytes the program does not look at, and a wrong checksum.
  rig.Bus.Script = [](const TWireFrame& request) -> std::optional<TReplyPlan> {
    if (request.Command != cmdRead) return std::nullopt;
    TReplyPlan plan;
    plan.Bytes = BuildFrame(0x5A, 0x77, {0x10, 0x20, 0x30, 0x40});
    for (int i = 0; i < 7; ++i) plan.Bytes[i] = 0x00;
    plan.Bytes[13] ^= 0xFF;
    return plan;
  };
  LinkState.Minimum = 0x99;
  rig.SetUpRead(1, 0x43, 4);
  ReadRegister();
  EXPECT_EQ(rig.RxCountWhenMinimumBecame(0x10), 15);
  EXPECT_EQ(LinkState.Minimum, 0x10);
  EXPECT_EQ(LinkState.Maximum, 0x20);
  EXPECT_EQ(LinkState.Default, 0x30);
  EXPECT_EQ(LinkState.Step, 0x40);

  // N = 0: the write's reply is complete after 11 bytes.
  rig.SetUpWrite(1, 0x42, 0x20);
  LinkState.StepPending = true;
  WriteRegister();
  ASSERT_EQ(rig.StepCalls.size(), 1u);
  EXPECT_EQ(rig.StepCalls[0].RxCount, 11);
  EXPECT_EQ(rig.StepCalls[0].TimeUs, rig.Bus.Replies().back().EndUs);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(Receiver, ReplySplitOverSeveralEventsIsHandledAsOneDeliveredWhole) {
  struct TOutcome {
    uint8_t Minimum, Maximum, Default, Step;
    int32_t RxCount, RxRemaining;
    std::vector<int32_t> ReadCounts;  // what each event of the read reply handed over
    bool operator==(const TOutcome&) const = default;
  };
  // Hands the read reply to the receiver once `thresholds` bytes of it have come; byte by byte if empty.
  auto run = [](std::vector<int32_t> thresholds, std::optional<TSimFault> fault) {
    TWatchedLinkRig rig;
    auto& unit = rig.AddUnit(2);
    unit.SetDescriptor(0x42, {5, 200, 100, 5});
    if (fault) unit.AddFault(*fault);
    size_t next = 0;
    int32_t handed = 0;
    rig.HandOver = [&](int32_t waiting) {
      if (LinkState.Command != cmdRead || thresholds.empty()) return true;
      if (next < thresholds.size() && handed + waiting < thresholds[next]) return false;
      ++next;
      handed += waiting;
      return true;
    };
    rig.SetUpRead(2, 0x43, 4);
    ReadRegister();
    const auto& s = LinkState;
    TOutcome out{s.Minimum, s.Maximum, s.Default, s.Step, s.RxCount, s.RxRemaining, {}};
    for (const auto& e : rig.Events)
      if (e.TimeUs >= 60'000) out.ReadCounts.push_back(e.Count);
    // The fields took the reply as its last byte came in, whichever way it came.
    EXPECT_EQ(rig.RxCountWhenMinimumBecame(5), 15);
    EXPECT_EQ(rig.Bus.Replies().at(1).EndUs, rig.Events.back().TimeUs);
    EXPECT_TRUE(rig.Tk.Messages().empty());
    return out;
  };
  const TOutcome byteByByte = run({}, std::nullopt);
  EXPECT_EQ(byteByByte.ReadCounts, std::vector<int32_t>(15, 1));
  EXPECT_EQ(byteByByte.Minimum, 5);
  EXPECT_EQ(byteByByte.Maximum, 200);
  EXPECT_EQ(byteByByte.Default, 100);
  EXPECT_EQ(byteByByte.Step, 5);
  EXPECT_EQ(byteByByte.RxCount, 15);
  EXPECT_EQ(byteByByte.RxRemaining, 0);

  auto expectSame = [&](TOutcome got, std::vector<int32_t> counts) {
    EXPECT_EQ(got.ReadCounts, counts);
    got.ReadCounts = byteByByte.ReadCounts;
    EXPECT_TRUE(got == byteByByte);
  };
  expectSame(run({15}, std::nullopt), {15});
  expectSame(run({8, 9, 15}, std::nullopt), {8, 1, 6});  // status and length byte in events of their own
  expectSame(run({3, 13, 15}, std::nullopt), {3, 10, 2});
  // A unit that pauses 20 ms in the middle of its reply.
  const TOutcome paused = run({8, 15}, TSimFault::Split(8, 20'000).For(cmdRead));
  expectSame(paused, {8, 7});
}

TEST(Receiver, BytesOfAnEarlierReplyAfterTheNextRequestStartTheNewReply) {
  TWatchedLinkRig rig;
  auto& unit = rig.AddUnit(1);
  unit.SetRegister(0x4C, 0x03);
  unit.AddFault(TSimFault::Delay(62'000).For(cmdSelect).Times(1));
  LinkState.CurrentValue = 0x77;
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  const auto requests = rig.Requests();
  const auto replies = rig.Bus.Replies();
  ASSERT_EQ(replies.size(), 2u);
  ASSERT_EQ(replies[0].Command, cmdSelect);
  EXPECT_GT(replies[0].StartUs, requests[1].EndUs);
  // The select reply's eleven bytes counted as the read's reply. It carries no data byte, so its checksum
  // does not pass for the value read: nothing is stored and the read counts as unanswered.
  EXPECT_EQ(LinkState.CurrentValue, 0x77);
  EXPECT_FALSE(LinkState.ReadAnswered);
  EXPECT_EQ(LinkState.RxCount, 11 + 12);

  // The next request counts afresh.
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  EXPECT_EQ(LinkState.CurrentValue, 0x03);
  EXPECT_EQ(LinkState.RxCount, 12);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(Receiver, LateReadReplyStoresNothingButHasItsStatusExamined) {
  // The read's reply completes 100 ms after the read went out; the caller ended the exchange at 120 ms.
  const int64_t delayUs = 100'000 - 3125 - 3125 - TSimUnit::DefaultReplyDelayUs;
  {
    TWatchedLinkRig rig;
    auto& unit = rig.AddUnit(1);
    unit.SetRegister(0x4C, 0x03);
    unit.AddFault(TSimFault::Delay(delayUs).For(cmdRead));
    LinkState.CurrentValue = 0x77;
    rig.SetUpRead(1, 0x4C, 1);
    ReadRegister();
    LinkState.RegisterMode = false;
    rig.Tk.RunFor(200'000);
    const auto requests = rig.Requests();
    const auto replies = rig.Bus.Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].EndUs - requests[1].StartUs, 100'000);
    EXPECT_EQ(replies[1].Data, std::vector<uint8_t>{0x03});
    EXPECT_EQ(LinkState.CurrentValue, 0x77);
    EXPECT_EQ(LinkState.RxCount, 12);
    EXPECT_EQ(LinkState.RxRemaining, 0);
    EXPECT_TRUE(rig.Tk.Messages().empty());
  }
  {
    TWatchedLinkRig rig;
    auto& unit = rig.AddUnit(1);
    unit.AddFault(TSimFault::Delay(delayUs).For(cmdRead));
    unit.AddFault(TSimFault::WithStatus(statusNotSupported).For(cmdRead));
    rig.SetUpRead(1, 0x4C, 1);
    ReadRegister();
    LinkState.RegisterMode = false;
    rig.Tk.RunFor(200'000);
    ASSERT_EQ(rig.Tk.Messages().size(), 1u);
    EXPECT_EQ(rig.Tk.Messages()[0].Text, "Команда не поддерживается");
    EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, ByteEndUs(rig.Bus.Replies().at(1), 7));
    EXPECT_GT(rig.Tk.Messages()[0].TimeUs, 120'000);
  }
}

TEST(Receiver, DuringARegisterExchangeAnErrorStatusIsAccepted) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  rig.Bus.Script = [](const TWireFrame& request) -> std::optional<TReplyPlan> {
    TReplyPlan plan;
    plan.Bytes = BuildFrame(request.Address, request.Command,
                            request.Command == cmdRead ? std::vector<uint8_t>{0x07} : std::vector<uint8_t>{},
                            statusDeviceFault);
    return plan;
  };
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  EXPECT_EQ(LinkState.CurrentValue, 0x07);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(Receiver, ErrorStatusShowsItsBoxOnceAtByteEightAndTheReplyIsNotActedOn) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  // A refused write whose data bytes repeat the status: only byte 8 is a status.
  int refusals = 1;
  rig.Bus.Script = [&](const TWireFrame& request) -> std::optional<TReplyPlan> {
    if (request.Command != cmdWrite || refusals == 0) return std::nullopt;
    --refusals;
    TReplyPlan plan;
    plan.Bytes = BuildFrame(request.Address, cmdWrite, {0x83, 0x83}, statusDeviceFault);
    return plan;
  };
  BareWrite(rig, 1, 0x42, 0x90);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  const auto& box = rig.Tk.Messages()[0];
  EXPECT_EQ(box.Text, "Устройство неисправно");
  EXPECT_EQ(box.Caption, "Error");
  EXPECT_EQ(box.Kind, TMessageKind::mkError);
  EXPECT_EQ(rig.MessageRxCounts, std::vector<int32_t>{8});
  EXPECT_EQ(box.TimeUs, ByteEndUs(rig.Bus.Replies().back(), 7));
  EXPECT_EQ(LinkState.RxCount, 13);  // the rest of the reply was read, and dropped
  EXPECT_EQ(rig.StepButtonsEnabled, 0);
  EXPECT_TRUE(LinkState.StepPending);

  // The reply to the next request is dispatched as usual.
  BareWrite(rig, 1, 0x42, 0x90);
  EXPECT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.StepButtonsEnabled, 1);
  EXPECT_FALSE(LinkState.StepPending);
  EXPECT_EQ(rig.Bus.FindUnit(1)->Register(0x42), 0x90);
}

TEST(Receiver, BytesThatArriveWhileTheOperatorReadsAStatusBoxAreReadAfterItCloses) {
  TWatchedLinkRig rig;
  rig.AddUnit(1).AddFault(TSimFault::WithStatus(statusNotSupported).Times(1));
  rig.Tk.OperatorDelayUs = 300'000;
  ProbeDevice(1);
  rig.Tk.RunUntilIdle();
  const auto reply = rig.Bus.Replies().at(0);
  ASSERT_EQ(reply.Bytes.size(), 11u);
  EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"Information: Команда не поддерживается"});
  EXPECT_EQ(rig.MessageRxCounts, std::vector<int32_t>{8});
  // The handler holding the box held the port's events; the last three bytes come in one batch once the
  // operator has pressed OK.
  ASSERT_EQ(rig.Events.size(), 9u);
  EXPECT_EQ(rig.Events[7].TimeUs, ByteEndUs(reply, 7) + 300'000);
  EXPECT_EQ(rig.Events[8].Count, 3);
  EXPECT_EQ(rig.Events[8].TimeUs, rig.Events[7].TimeUs);
  EXPECT_EQ(LinkState.RxCount, 11);
  EXPECT_FALSE(LinkState.ReplyTimedOut);
}

TEST(Receiver, RefusedSetAddressLeavesBothDialogsAsTheyWere) {
  TWatchedLinkRig rig;
  auto& fresh = rig.AddUnit(0);
  fresh.AddFault(TSimFault::WithStatus(statusNotSupported).Times(1));
  rig.NewAddress = 5;
  SendCommand(cmdSetAddress);
  rig.Tk.RunFor(100'000);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Команда не поддерживается");
  EXPECT_EQ(rig.Tk.Messages()[0].Caption, "Information");
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkInformation);
  EXPECT_EQ(rig.MessageRxCounts, std::vector<int32_t>{8});
  EXPECT_EQ(rig.AddressAccepted, 0);
  EXPECT_EQ(fresh.Address, 0);

  SendCommand(cmdSetAddress);
  rig.Tk.RunFor(100'000);
  EXPECT_EQ(rig.AddressAccepted, 1);
  EXPECT_EQ(fresh.Address, 5);
  EXPECT_EQ(rig.Tk.Messages().size(), 1u);
}

TEST(Receiver, ReadFromASilentUnitIsReportedOnlyWhenRegisterModeIsClearAtExpiry) {
  {
    TWatchedLinkRig rig;
    LinkState.CurrentValue = 0x77;
    rig.SetUpRead(6, 0x4C, 1);
    ReadRegister();
    EXPECT_EQ(rig.Tk.NowUs(), 120'000);
    EXPECT_TRUE(rig.Tk.Messages().empty());
    LinkState.RegisterMode = false;
    rig.Tk.RunFor(500'000);
    ASSERT_EQ(rig.Tk.Messages().size(), 1u);
    EXPECT_EQ(rig.Tk.Messages()[0].Text, "Устройство не подключено");
    EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, 250'000);
    EXPECT_TRUE(LinkState.ReplyTimedOut);
    EXPECT_EQ(LinkState.CurrentValue, 0x77);
  }
  {
    TWatchedLinkRig rig;
    LinkState.CurrentValue = 0x77;
    rig.SetUpRead(6, 0x4C, 1);
    ReadRegister();
    rig.Tk.RunFor(200'000);  // still inside the exchange when the reply timer expires
    LinkState.RegisterMode = false;
    rig.Tk.RunFor(500'000);
    EXPECT_TRUE(rig.Tk.Messages().empty());
    EXPECT_FALSE(LinkState.ReplyTimedOut);
    EXPECT_FALSE(rig.Timer1->Enabled());
    EXPECT_EQ(LinkState.CurrentValue, 0x77);
  }
}

TEST(Receiver, OnlyAWriteReplyReenablesTheStepButtons) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  LinkState.StepPending = true;
  rig.SetUpRead(1, 0x42, 1);
  ReadRegister();  // select and read replies leave the buttons alone
  EXPECT_EQ(rig.StepButtonsEnabled, 0);
  EXPECT_TRUE(LinkState.StepPending);

  rig.SetUpWrite(1, 0x42, 0x90);
  WriteRegister();
  ASSERT_EQ(rig.StepCalls.size(), 1u);
  EXPECT_EQ(rig.StepCalls[0].TimeUs, rig.Bus.Replies().back().EndUs);
  EXPECT_FALSE(LinkState.StepPending);

  WriteRegister();  // nothing pending: nothing to enable
  EXPECT_EQ(rig.StepButtonsEnabled, 1);
}

TEST(Receiver, ADescriptorReplyTooShortForFourBytesStoresNothingFromAnEarlierReply) {
  TWatchedLinkRig rig;
  rig.AddUnit(1).SetDescriptor(0x42, {5, 200, 100, 5});
  rig.SetUpRead(1, 0x43, 4);
  ReadRegister();
  ASSERT_EQ(std::vector<uint8_t>({LinkState.Minimum, LinkState.Maximum, LinkState.Default, LinkState.Step}),
            std::vector<uint8_t>({5, 200, 100, 5}));

  // Replies of two, one and no data byte: what would be taken from them is their checksum and, past their
  // end, what the earlier reply left in the buffer.
  for (const std::vector<uint8_t>& data :
       {std::vector<uint8_t>{0x10, 0x20}, std::vector<uint8_t>{0x07}, std::vector<uint8_t>{}}) {
    rig.Bus.Script = [&](const TWireFrame& request) -> std::optional<TReplyPlan> {
      if (request.Command != cmdRead) return std::nullopt;
      TReplyPlan plan;
      plan.Bytes = BuildFrame(1, cmdRead, data);
      return plan;
    };
    rig.SetUpRead(1, 0x43, 4);
    ReadRegister();
    EXPECT_EQ(LinkState.RxCount, int32_t(data.size()) + FrameOverhead);
    EXPECT_EQ(std::vector<uint8_t>({LinkState.Minimum, LinkState.Maximum, LinkState.Default, LinkState.Step}),
              std::vector<uint8_t>({5, 200, 100, 5}));
  }
  EXPECT_FALSE(LinkState.ReadAnswered);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(Receiver, BytesBeyondTheBufferAreCountedButNotStored) {
  {
    // A reply of 100 data bytes: 111 bytes, the buffer holds the first 80.
    TWatchedLinkRig rig;
    auto& unit = rig.AddUnit(1);
    unit.SetRegister(0x4C, 0x03);
    unit.AddFault(TSimFault::Oversize(100).For(cmdRead).Times(1));
    LinkState.CurrentValue = 0x77;
    rig.SetUpRead(1, 0x4C, 1);
    ReadRegister();
    const auto reply = rig.Bus.Replies().at(1);
    ASSERT_EQ(reply.Bytes.size(), 111u);
    EXPECT_EQ(LinkState.RxCount, 111);
    EXPECT_EQ(LinkState.RxRemaining, 0);
    EXPECT_EQ(LinkState.CurrentValue, 0x03);
    EXPECT_EQ(rig.RxCountWhenCurrentValueBecame(0x03), 111);
    EXPECT_TRUE(
        std::equal(reply.Bytes.begin(), reply.Bytes.begin() + RxBufferSize, LinkState.RxBuffer.begin() + 1));
  }
  {
    // Ninety stray bytes after a complete reply push the count past the buffer's end.
    TWatchedLinkRig rig;
    auto& unit = rig.AddUnit(1);
    unit.SetRegister(0x4C, 0x03);
    unit.SetRegister(0x6C, 0x02);
    unit.AddFault(TSimFault::StrayAfter(std::vector<uint8_t>(90, 0x55)).For(cmdRead).Times(1));
    rig.SetUpRead(1, 0x4C, 1);
    ReadRegister();
    EXPECT_EQ(LinkState.RxCount, 12 + 90);
    EXPECT_EQ(LinkState.CurrentValue, 0x03);
    EXPECT_EQ(LinkState.RxBuffer[RxBufferSize], 0x55);
    EXPECT_EQ(LinkState.RxRemaining, 0);
    rig.SetUpRead(1, 0x6C, 1);
    ReadRegister();
    EXPECT_EQ(LinkState.CurrentValue, 0x02);
    EXPECT_EQ(LinkState.RxCount, 12);
    EXPECT_TRUE(rig.Tk.Messages().empty());
  }
}

}  // namespace
