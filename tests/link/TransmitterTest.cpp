// Sending: the exact frames, the fixed waits in virtual time, the reply timer, and a port that fails.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/FrameCrc.h"
#include "serial/ComError.h"
#include "tests/link/LinkTestRig.h"

namespace {

TEST(FrameCrc, IsCrc16ModbusLowByteFirst) {
  const char* check = "123456789";
  EXPECT_EQ(FrameCrc(reinterpret_cast<const uint8_t*>(check), std::strlen(check)), 0x4B37);
  EXPECT_EQ(FrameCrc(nullptr, 0), 0xFFFF);
  uint8_t low = 0xFF, high = 0xFF;
  for (const char* c = check; *c; ++c) FrameCrc(uint8_t(*c), low, high);
  EXPECT_EQ(low, 0x37);
  EXPECT_EQ(high, 0x4B);
}

TEST(Transmitter, EveryCommandGoesOutAsItsExactFrame) {
  TWatchedLinkRig rig;
  rig.AddUnit(0);
  for (uint8_t address : {1, 2, 3}) rig.AddUnit(address);

  LinkState.Scanning = true;
  ProbeDevice(3);
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  rig.SetUpRead(2, 0x43, 4);
  ReadRegister();
  rig.SetUpWrite(1, 0x4C, 0x03);
  RunCommand(cmdWrite);
  LinkState.RegisterMode = false;
  LinkState.Scanning = false;
  rig.NewAddress = 5;
  SendCommand(cmdSetAddress);
  rig.Tk.RunFor(10'000);  // until the last frame has left the line

  const std::vector<std::string> expected = {
      "E2 E4 05 03 FF 00 09 00 00 44 CA",              // identify 3
      "E2 E4 05 01 FF 00 00 00 04 4C 00 00 00 EB 54",  // select 0x4C at 1
      "E2 E4 05 01 FF 00 06 00 01 01 2A B7",           // read 1 byte at 1
      "E2 E4 05 02 FF 00 00 00 04 43 00 00 00 18 4F",  // select 0x43 at 2
      "E2 E4 05 02 FF 00 06 00 01 04 D9 B4",           // read 4 bytes at 2
      "E2 E4 05 01 FF 00 04 00 01 03 AA CE",           // write 0x03 at 1
      "E2 E4 05 00 FF 00 08 00 01 05 39 5C",           // give the unaddressed unit address 5
  };
  EXPECT_EQ(rig.RequestHex(), expected);
  EXPECT_EQ(LinkState.CrcLow, 0x39);
  EXPECT_EQ(LinkState.CrcHigh, 0x5C);
}

TEST(Transmitter, OutsideARegisterExchangeRequestsCarryNoRegisterData) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  LinkState.Address = 1;
  LinkState.Register = 0x4C;
  LinkState.WriteCount = 1;
  LinkState.Value = 0x03;
  RunCommand(cmdSelect);
  RunCommand(cmdRead);
  RunCommand(cmdWrite);
  const auto requests = rig.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Data, (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(requests[1].Data, std::vector<uint8_t>{0});
  EXPECT_EQ(requests[2].Data, std::vector<uint8_t>{0});
  EXPECT_EQ(rig.Bus.FindUnit(1)->Register(0x4C), 0x01);  // the factory value, not 0x03
}

TEST(Transmitter, RegisterReadIsSelectSixtyMillisecondsReadSixtyMilliseconds) {
  {
    TWatchedLinkRig rig;
    rig.AddUnit(1).SetRegister(0x4C, 0x03);
    LinkState.CurrentValue = 0x77;
    rig.SetUpRead(1, 0x4C, 1);
    ReadRegister();
    EXPECT_EQ(rig.Tk.NowUs(), 120'000);
    const auto requests = rig.Requests();
    const auto replies = rig.Bus.Replies();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(requests[0].StartUs, 0);
    EXPECT_EQ(requests[0].Command, cmdSelect);
    EXPECT_EQ(requests[1].StartUs, 60'000);
    EXPECT_EQ(requests[1].Command, cmdRead);
    EXPECT_LT(replies[0].EndUs, 60'000);  // each reply lands inside its own wait
    EXPECT_LT(replies[1].EndUs, 120'000);
    EXPECT_EQ(LinkState.CurrentValue, 0x03);
    EXPECT_EQ(rig.RxCountWhenCurrentValueBecame(0x03), 12);
    EXPECT_FALSE(rig.Timer1->Enabled());
    EXPECT_FALSE(rig.Timer4->Enabled());
    EXPECT_TRUE(rig.MessageTexts().empty());
  }
  {
    TWatchedLinkRig rig;
    rig.AddUnit(2);  // brightness of K1 at 0x42: 0 to 255, default 128, step 1
    LinkState.Minimum = LinkState.Maximum = LinkState.Default = LinkState.Step = 0x99;
    rig.SetUpRead(2, 0x43, 4);
    ReadRegister();
    EXPECT_EQ(rig.Tk.NowUs(), 120'000);
    const auto replies = rig.Bus.Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].Data, (std::vector<uint8_t>{0x00, 0xFF, 0x80, 0x01}));
    EXPECT_EQ(LinkState.Minimum, 0);
    EXPECT_EQ(LinkState.Maximum, 255);
    EXPECT_EQ(LinkState.Default, 128);
    EXPECT_EQ(LinkState.Step, 1);
    EXPECT_EQ(rig.RxCountWhenMinimumBecame(0x00), 15);
  }
}

TEST(Transmitter, WriteIsSelectThenWriteAndEachCommandWaitsItsFullPace) {
  TWatchedLinkRig rig;
  auto& unit = rig.AddUnit(1);
  rig.SetUpWrite(1, 0x4E, 0x01);
  WriteRegister();
  EXPECT_EQ(rig.Tk.NowUs(), 120'000);
  const auto requests = rig.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].StartUs, 60'000);
  EXPECT_EQ(requests[1].Hex(), HexBytes(BuildFrame(1, cmdWrite, {0x01})));
  EXPECT_EQ(unit.Register(0x4E), 0x01);
  // A bare send does not wait at all.
  SendCommand(cmdSelect);
  EXPECT_EQ(rig.Tk.NowUs(), 120'000);
}

TEST(Transmitter, ProbeWaitsTwoHundredFiftyMillisecondsAndMarksASilentAddress) {
  TWatchedLinkRig rig;
  rig.AddUnit(3);
  LinkState.Scanning = true;
  ProbeDevice(4);
  EXPECT_EQ(rig.Tk.NowUs(), 250'000);
  EXPECT_TRUE(LinkState.ReplyTimedOut);
  EXPECT_EQ(LinkState.Address, 4);
  EXPECT_TRUE(rig.Tk.Messages().empty());

  ProbeDevice(3);  // answers within a few milliseconds; the probe still takes its whole wait
  EXPECT_EQ(rig.Tk.NowUs(), 500'000);
  EXPECT_FALSE(LinkState.ReplyTimedOut);

  LinkState.Scanning = false;
  ProbeDevice(4);
  EXPECT_EQ(rig.Tk.NowUs(), 750'000);
  EXPECT_TRUE(LinkState.ReplyTimedOut);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Устройство не подключено");
  EXPECT_EQ(rig.Tk.Messages()[0].Caption, "Information");
  EXPECT_EQ(rig.Tk.Messages()[0].Kind, TMessageKind::mkInformation);
  EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, 750'000);
}

TEST(Transmitter, UnitAnsweringWithASingleByteIsPresentAndNoTimeOutFollows) {
  TWatchedLinkRig rig;
  rig.AddUnit(3).AddFault(TSimFault::SingleByte());
  LinkState.Scanning = true;
  ProbeDevice(3);
  EXPECT_FALSE(LinkState.ReplyTimedOut);
  EXPECT_EQ(LinkState.RxCount, 1);
  LinkState.Scanning = false;
  rig.Tk.RunFor(1'000'000);
  EXPECT_TRUE(rig.Tk.Messages().empty());
  EXPECT_FALSE(LinkState.ReplyTimedOut);
  EXPECT_EQ(LinkState.RxCount, 1);
}

TEST(Transmitter, TwoRequestsToASilentUnitGiveOneTimeOutCountedFromTheFirst) {
  TWatchedLinkRig rig;
  LinkState.Address = 9;
  RunCommand(cmdIdentify);
  RunCommand(cmdIdentify);
  rig.Tk.RunFor(1'000'000);
  const auto requests = rig.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].StartUs - requests[0].StartUs, 60'000);
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].TimeUs, 250'000);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, "Устройство не подключено");
  EXPECT_TRUE(LinkState.ReplyTimedOut);
}

TEST(Transmitter, SetAddressGoesToAddressZeroAndLeavesItThere) {
  TWatchedLinkRig rig;
  auto& fresh = rig.AddUnit(0);
  LinkState.Address = 7;
  rig.NewAddress = 5;
  SendCommand(cmdSetAddress);
  EXPECT_EQ(rig.Tk.NowUs(), 0);  // no wait: the reply is handled when it comes
  EXPECT_EQ(LinkState.Address, 0);
  EXPECT_EQ(rig.AddressAccepted, 0);
  rig.Tk.RunFor(100'000);
  EXPECT_EQ(rig.RequestHex(), std::vector<std::string>{"E2 E4 05 00 FF 00 08 00 01 05 39 5C"});
  EXPECT_EQ(fresh.Address, 5);
  ASSERT_EQ(rig.AcceptCalls.size(), 1u);
  EXPECT_EQ(rig.AcceptCalls[0].TimeUs, rig.Bus.Replies().at(0).EndUs);
  EXPECT_EQ(LinkState.Address, 0);
  EXPECT_TRUE(rig.Tk.Messages().empty());
}

TEST(Transmitter, PortThatWillNotOpenRaisesOutOfTheOperationAndChangesNothingElse) {
  TWatchedLinkRig rig;
  rig.AddUnit(1).SetRegister(0x4C, 0x03);
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();  // leaves a reply behind in the receive state
  rig.Port.Close();
  rig.Port.SetPort("COM9");
  rig.Bus.ClearTrace();
  const int64_t then = rig.Tk.NowUs();

  struct {
    const char* What;
    std::function<void()> Operation;
    uint8_t Command;
  } const cases[] = {
      {"ReadRegister", [] { ReadRegister(); }, cmdSelect},
      {"ProbeDevice", [] { ProbeDevice(1); }, cmdIdentify},
      {"SendCommand", [] { SendCommand(cmdSetAddress); }, cmdSetAddress},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    LinkState.Address = 1;
    TLinkState before = LinkState;
    before.Command = c.Command;
    try {
      c.Operation();
      ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.Code, CError_OpenFailed);
    }
    EXPECT_TRUE(LinkFields(LinkState) == LinkFields(before));
    EXPECT_FALSE(rig.Timer1->Enabled());
    EXPECT_FALSE(rig.Timer2->Enabled());
    EXPECT_FALSE(rig.Timer4->Enabled());
    EXPECT_EQ(rig.Tk.NowUs(), then);
  }
  rig.Tk.RunFor(1'000'000);
  EXPECT_TRUE(rig.Bus.Trace().empty());
  EXPECT_TRUE(rig.Tk.Messages().empty());  // no reply timer was started, so no time-out follows
  EXPECT_TRUE(LinkState.RegisterMode);     // the caller's flag stays until the main window is activated
}

TEST(Transmitter, WriteThatFailsRaisesOutOfTheOperationClosesThePortAndStartsNoReplyTimer) {
  TWatchedLinkRig rig;
  rig.AddUnit(1).SetRegister(0x4C, 0x03);
  rig.SetUpRead(1, 0x4C, 1);
  ReadRegister();
  rig.Platform.Unplug("COM1");
  rig.Bus.ClearTrace();
  const int64_t then = rig.Tk.NowUs();
  rig.SetUpRead(1, 0x6C, 1);
  for (uint8_t command : {cmdSelect, cmdIdentify}) {
    SCOPED_TRACE(int(command));
    try {
      if (command == cmdSelect)
        ReadRegister();
      else
        ProbeDevice(1);
      ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
      // The failed write closed the port; the adapter is still gone when the next request opens it.
      EXPECT_EQ(e.Code, command == cmdSelect ? CError_WriteFailed : CError_OpenFailed);
    }
    EXPECT_FALSE(rig.Port.Connected());
    EXPECT_EQ(LinkState.Command, command);
    EXPECT_FALSE(rig.Timer1->Enabled());
    EXPECT_FALSE(rig.Timer2->Enabled());
    EXPECT_FALSE(rig.Timer4->Enabled());
    EXPECT_EQ(rig.Tk.NowUs(), then);
  }
  rig.Tk.RunFor(1'000'000);
  EXPECT_TRUE(rig.Bus.Trace().empty());
  EXPECT_TRUE(rig.Tk.Messages().empty());
  EXPECT_EQ(LinkState.CurrentValue, 0x03);
  EXPECT_FALSE(LinkState.ReplyTimedOut);
  EXPECT_TRUE(LinkState.RegisterMode);
}

}  // namespace
