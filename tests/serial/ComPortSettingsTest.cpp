#include <gtest/gtest.h>

#include "serial/ComPort.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/support/UnitLineSettings.h"
#include "tests/serial/RecordingComPlatform.h"

namespace {

struct ComPortSettings : ::testing::Test {
  TVirtualToolkit tk;
  TRecordingComPlatform platform{&tk};
  TComPort port{&platform};
  void SetUp() override {
    SetToolkit(&tk);
    // No event thread unless a test wants one: these cases are about what reaches the device.
    port.SetEvents({});
  }
  void TearDown() override {
    port.Close();
    SetToolkit(nullptr);
  }
  std::vector<std::string> States() { return platform.Log(std::vector<std::string>{"SetCommState"}); }
};

TEST_F(ComPortSettings, AFreshPortHoldsTheConstructionValues) {
  TComPort fresh(&platform);
  EXPECT_FALSE(fresh.Connected());
  EXPECT_EQ(fresh.BaudRate(), br9600);
  EXPECT_EQ(fresh.CustomBaudRate(), 9600);
  EXPECT_EQ(fresh.Port(), "COM1");
  EXPECT_EQ(fresh.StopBits(), sbOneStopBit);
  EXPECT_EQ(fresh.DataBits(), dbEight);
  EXPECT_EQ(fresh.Parity().Bits(), prNone);
  EXPECT_FALSE(fresh.Parity().Check());
  EXPECT_FALSE(fresh.Parity().Replace());
  EXPECT_EQ(fresh.Parity().ReplaceChar(), 0);
  EXPECT_FALSE(fresh.DiscardNull());
  EXPECT_EQ(fresh.EventChar(), 0);
  EXPECT_EQ(fresh.Events().Bits, 0x3FF);
  EXPECT_EQ(fresh.Buffer().InputSize(), 1024);
  EXPECT_EQ(fresh.Buffer().OutputSize(), 1024);
  const TComTimeouts& t = fresh.Timeouts();
  EXPECT_EQ(t.ReadInterval(), -1);
  EXPECT_EQ(t.ReadTotalMultiplier(), 0);
  EXPECT_EQ(t.ReadTotalConstant(), 0);
  EXPECT_EQ(t.WriteTotalMultiplier(), 100);
  EXPECT_EQ(t.WriteTotalConstant(), 1000);
  const TComFlowControl& f = fresh.FlowControl();
  EXPECT_EQ(f.XonChar(), 17);
  EXPECT_EQ(f.XoffChar(), 19);
  EXPECT_EQ(f.ControlDTR(), dtrDisable);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_EQ(f.FlowControl(), fcNone);
  EXPECT_EQ(fresh.SyncMethod(), smThreadSync);
  EXPECT_FALSE(fresh.HasEventWorker());
  EXPECT_EQ(fresh.DeviceHandle(), nullptr);
  EXPECT_EQ(platform.Calls().size(), 0u);
}

TEST_F(ComPortSettings, TheMainWindowPortSendsTheExpectedBlockAndTimeouts) {
  LoadMainWindowSettings(port);
  port.SetEvents({});
  port.Open();
  EXPECT_EQ(platform.LastState(), UnitLineBlock());
  EXPECT_EQ(platform.LastTimeouts(), UnitLineTimeouts());
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetupComm"}),
            std::vector<std::string>{"SetupComm 1024 1024"});
}

TEST_F(ComPortSettings, TimeoutsAreSentAsUnsignedValues) {
  port.Timeouts().SetReadTotalConstant(-2);
  port.Open();
  EXPECT_EQ(platform.LastTimeouts(), (TCommTimeouts{0xFFFFFFFFu, 0, 0xFFFFFFFEu, 100, 1000}));
}

TEST_F(ComPortSettings, EveryFieldReachesItsPlaceInTheBlock) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SetDataBits(dbSeven);
  port.SetStopBits(sbTwoStopBits);
  port.SetDiscardNull(true);
  port.SetEventChar('\n');
  port.Parity().SetBits(prMark);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  TComFlowControl& f = port.FlowControl();
  f.SetOutCTSFlow(true);
  f.SetOutDSRFlow(true);
  f.SetControlDTR(dtrHandshake);
  f.SetDSRSensitivity(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonXoffOut(true);
  f.SetXonXoffIn(true);
  f.SetControlRTS(rtsToggle);
  f.SetXonChar(1);
  f.SetXoffChar(2);
  port.Buffer().SetInputSize(4096);
  port.Open();
  TDcb d = platform.LastState();
  EXPECT_EQ(d.BaudRate, 250000u);
  EXPECT_EQ(d.Flags, 0x0001u | 0x0002 | 0x0004 | 0x0008 | 0x0020 | 0x0040 | 0x0080 | 0x0100 | 0x0200 |
                         0x0400 | 0x0800 | 0x3000);
  EXPECT_EQ(d.XonLim, 1024);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.Parity, 3);
  EXPECT_EQ(d.StopBits, 2);
  EXPECT_EQ(d.XonChar, 1);
  EXPECT_EQ(d.XoffChar, 2);
  EXPECT_EQ(d.ErrorChar, '?');
  EXPECT_EQ(d.EofChar, 0);
  EXPECT_EQ(d.EvtChar, '\n');
}

TEST_F(ComPortSettings, ReplaceWithoutCheckSetsNoFlagAndNoErrorChar) {
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Open();
  EXPECT_EQ(platform.LastState().Flags & 0x0402u, 0u);
  EXPECT_EQ(platform.LastState().ErrorChar, 0);
}

TEST_F(ComPortSettings, AClosedPortOnlyStoresAndTheNextOpenSendsTheNewValue) {
  port.SetBaudRate(br115200);
  port.Timeouts().SetReadInterval(5);
  port.Buffer().SetOutputSize(2048);
  port.FlowControl().SetFlowControl(fcSoftware);
  EXPECT_EQ(platform.Calls().size(), 0u);
  port.Open();
  EXPECT_EQ(platform.LastState().BaudRate, 115200u);
  EXPECT_EQ(platform.LastTimeouts().ReadIntervalTimeout, 5u);
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetupComm"}),
            std::vector<std::string>{"SetupComm 1024 2048"});
}

TEST_F(ComPortSettings, AnOpenPortReappliesOnlyTheGroupThatChangedAndOnlyOnRealChanges) {
  port.Open();
  platform.ClearLog();
  port.SetBaudRate(br9600);  // the value it already has
  port.Parity().SetBits(prNone);
  port.Timeouts().SetReadInterval(-1);
  port.Buffer().SetInputSize(1025);  // stored as 1024, which it already is
  EXPECT_EQ(platform.Calls().size(), 0u);

  port.SetBaudRate(br19200);
  port.FlowControl().SetXonChar(5);
  port.Timeouts().SetWriteTotalConstant(7);
  port.Buffer().SetInputSize(512);
  port.SetCustomBaudRate(1234);  // re-applies even though BaudRate is not brCustom
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetCommState", "SetCommTimeouts", "SetupComm"}).size(),
            5u);
  std::vector<std::string> names;
  for (auto& c : platform.Calls()) names.push_back(c.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"SetCommState", "SetCommState", "SetCommTimeouts", "SetupComm",
                                             "SetCommState"}));
  EXPECT_EQ(platform.LastState().BaudRate, 19200u);
  EXPECT_EQ(platform.LastState().XonLim, 128);
}

TEST_F(ComPortSettings, BufferSizesAreKeptEven) {
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  port.Buffer().SetInputSize(777);
  EXPECT_EQ(port.Buffer().InputSize(), 776);
  port.Buffer().SetOutputSize(-3);  // only positive odd sizes are reduced
  EXPECT_EQ(port.Buffer().OutputSize(), -3);
  port.Buffer().SetInputSize(1025);
  port.Open();
  EXPECT_EQ(platform.LastState().XonLim, 256);
  EXPECT_EQ(platform.LastState().XoffLim, 256);
}

TEST_F(ComPortSettings, AHugeInputSizeDoesNotWrapTheSixteenBitLimits) {
  port.Buffer().SetInputSize(1 << 20);
  port.Open();
  EXPECT_EQ(platform.LastState().XonLim, 0xFFFF);
  EXPECT_EQ(platform.LastState().XoffLim, 0xFFFF);
}

TEST_F(ComPortSettings, AssigningASettingsObjectCopiesEveryFieldAndReappliesOnce) {
  port.Open();
  platform.ClearLog();
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetControlDTR(dtrEnable);
  flow.SetXonChar(3);
  port.SetFlowControl(flow);
  EXPECT_EQ(platform.Count("SetCommState"), 1);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrEnable);
  EXPECT_EQ(port.FlowControl().XonChar(), 3);

  TComTimeouts timeouts;
  timeouts.SetReadInterval(9);
  timeouts.SetWriteTotalConstant(0);
  port.SetTimeouts(timeouts);
  EXPECT_EQ(platform.Count("SetCommTimeouts"), 1);
  EXPECT_EQ(platform.LastTimeouts(), (TCommTimeouts{9, 0, 0, 100, 0}));

  TComBuffer buffer;
  buffer.SetInputSize(64);
  port.SetBuffer(buffer);
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetupComm"}),
            std::vector<std::string>{"SetupComm 64 1024"});

  TComParity parity;
  parity.SetBits(prEven);
  parity.SetCheck(true);
  port.SetParity(parity);
  EXPECT_EQ(platform.Count("SetCommState"), 2);
  EXPECT_EQ(platform.LastState().Parity, 2);
  EXPECT_EQ(platform.LastState().Flags & 0x0002u, 0x0002u);
}

TEST_F(ComPortSettings, TheDerivedFlowControlValue) {
  TComFlowControl& f = port.FlowControl();
  port.Open();
  platform.ClearLog();
  f.SetFlowControl(fcHardware);
  EXPECT_EQ(f.FlowControl(), fcHardware);
  EXPECT_EQ(f.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(f.OutCTSFlow());
  f.SetXonXoffOut(true);
  EXPECT_EQ(f.FlowControl(), fcCustom);

  f.SetFlowControl(fcSoftware);
  EXPECT_EQ(f.FlowControl(), fcSoftware);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.OutCTSFlow());

  // DTR and DSR play no part.
  f.SetControlDTR(dtrHandshake);
  f.SetOutDSRFlow(true);
  f.SetFlowControl(fcNone);
  EXPECT_EQ(f.FlowControl(), fcNone);
  EXPECT_EQ(f.ControlDTR(), dtrHandshake);

  // Writing fcCustom changes nothing yet still re-applies; each write re-applies exactly once.
  platform.ClearLog();
  f.SetFlowControl(fcCustom);
  EXPECT_EQ(f.FlowControl(), fcNone);
  f.SetFlowControl(fcHardware);
  EXPECT_EQ(platform.Count("SetCommState"), 2);
}

TEST_F(ComPortSettings, ChangingPortReopensOnlyForADifferentName) {
  port.Open();
  platform.ClearLog();
  port.SetPort("COM1");
  EXPECT_EQ(platform.Calls().size(), 0u);
  port.SetPort("com1");  // the comparison is exact
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(
      platform.Log(std::vector<std::string>{"CloseHandle", "CreateFile"}),
      (std::vector<std::string>{
          "CloseHandle", "CreateFile \\\\.\\com1 access=0xC0000000 share=0 creation=3 flags=0x40000000"}));
}

TEST_F(ComPortSettings, AFailedReopenLeavesThePortClosedWithTheNewName) {
  port.Open();
  platform.Fail("CreateFile", ComApi::ERROR_FILE_NOT_FOUND);
  try {
    port.SetPort("COM7");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code, 1);
    EXPECT_EQ(e.OsError, 2);
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM7");
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
}

TEST_F(ComPortSettings, SyncMethodCannotChangeWhileConnected) {
  port.SetSyncMethod(smWindowSync);
  port.SetSyncMethod(smThreadSync);  // closed: stored
  port.Open();
  port.SetSyncMethod(smThreadSync);  // the same value: no error
  try {
    port.SetSyncMethod(smNone);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code, 14);
    EXPECT_EQ(e.OsError, -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
  }
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  port.Close();
  port.SetSyncMethod(smNone);
  EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(ComPortSettings, LoadingRecordsConnectedAndLoadedOpens) {
  port.BeginLoading();
  port.SetConnected(true);
  port.SetBaudRate(br38400);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(platform.Calls().size(), 0u);
  port.Loaded();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(platform.LastState().BaudRate, 38400u);
  port.Close();
  // Recorded True is cleared: a second end of loading opens nothing.
  port.BeginLoading();
  port.Loaded();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortSettings, AnOpenFailureAtTheEndOfLoadingIsShownNotRaised) {
  platform.Fail("CreateFile", ComApi::ERROR_FILE_NOT_FOUND);
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_NO_THROW(port.Loaded());
  EXPECT_FALSE(port.Connected());
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "Unable to open com port (win error code: 2)");
  EXPECT_EQ(tk.Messages()[0].Kind, TMessageKind::mkError);
}

TEST_F(ComPortSettings, EventsChangeOnlyAtTheNextOpen) {
  port.Open();
  port.SetEvents(MakeEvents({evRxChar}));
  EXPECT_FALSE(port.HasEventWorker());
  EXPECT_EQ(platform.Count("SetCommMask"), 0);
  port.Close();
  port.Open();
  EXPECT_TRUE(port.HasEventWorker());
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetCommMask"}).front(), "SetCommMask 0x0001");
}

TEST(ComErrorText, TheSuffixAppearsOnlyWithASystemErrorNumber) {
  EXPECT_STREQ(EComPort(1, 2).what(), "Unable to open com port (win error code: 2)");
  EXPECT_STREQ(EComPort(3, 5).what(), "ReadFile function failed (win error code: 5)");
  EXPECT_STREQ(EComPort(4).what(), "Invalid Async parameter");
  EXPECT_STREQ(EComPort(14, -1).what(), "Cannot set property while connected");
  EXPECT_STREQ(EComPort(7, 0).what(), "SetCommState function failed (win error code: 0)");
  EXPECT_EQ(EComPort::CodeText(23), "Registry error");
  EXPECT_EQ(EComPort::CodeText(19), "Cannot change led state if ComPort is selected");
  EXPECT_EQ(EComPort::CodeText(0), "");
  EXPECT_EQ(EComPort::CodeText(24), "");
  for (int code = 1; code <= 23; ++code) EXPECT_FALSE(EComPort::CodeText(code).empty()) << code;
}

}  // namespace
