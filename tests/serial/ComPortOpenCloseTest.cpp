#include <gtest/gtest.h>

#include "serial/ComPort.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/serial/RecordingComPlatform.h"

namespace {

// What the port fires, in order, beside what it asks of the device.
struct ComPortOpenClose : ::testing::Test {
  TVirtualToolkit tk;
  TRecordingComPlatform platform{&tk};
  TComPort port{&platform};
  std::vector<std::string> fired;

  void SetUp() override {
    SetToolkit(&tk);
    LoadMainWindowSettings(port);
    port.OnBeforeOpen = [this](TCustomComPort*) { fired.push_back("BeforeOpen"); };
    port.OnAfterOpen = [this](TCustomComPort*) { fired.push_back("AfterOpen"); };
    port.OnBeforeClose = [this](TCustomComPort*) { fired.push_back("BeforeClose"); };
    port.OnAfterClose = [this](TCustomComPort*) { fired.push_back("AfterClose"); };
    RecordSignals(port, fired);
  }
  void TearDown() override {
    try {
      port.Close();
    } catch (...) {
    }
    SetToolkit(nullptr);
  }

};

TEST_F(ComPortOpenClose, OpenAndCloseRunInTheFixedOrder) {
  platform.SetModemStatus(ComApi::MS_CTS_ON | ComApi::MS_RLSD_ON);
  port.Open();
  ASSERT_TRUE(platform.WaitUntilWaiting());
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.HasEventWorker());
  EXPECT_EQ(fired, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS 1", "DSR 0", "RLSD 1"}));
  EXPECT_EQ(
      platform.Log(true),
      (std::vector<std::string>{
          "CreateFile \\\\.\\COM1 access=0xC0000000 share=0 creation=3 flags=0x40000000",
          "SetupComm 1024 1024",
          "SetCommState BaudRate=38400 Flags=0x0001 XonLim=256 XoffLim=256 ByteSize=8 Parity=0 StopBits=0 "
          "XonChar=17 XoffChar=19 ErrorChar=0 EofChar=0 EvtChar=0",
          "SetCommTimeouts 1/0/0/0/0",
          "CreateEvent manual=1 initial=0",
          "SetCommMask 0x0007",
          "GetCommModemStatus",
          "GetCommModemStatus",
          "GetCommModemStatus",
      }));

  fired.clear();
  platform.ClearLog();
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.HasEventWorker());
  EXPECT_EQ(port.DeviceHandle(), nullptr);
  EXPECT_EQ(fired, (std::vector<std::string>{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose"}));
  // The thread's exit steps all come before the device is released.
  EXPECT_EQ(platform.Log(std::vector<std::string>{"PurgeComm", "SetEvent", "SetCommMask", "CloseEvent",
                                                  "CloseHandle"}),
            (std::vector<std::string>{"PurgeComm 3", "SetEvent", "SetCommMask 0x0000", "PurgeComm 12",
                                      "CloseEvent", "CloseHandle"}));
  EXPECT_EQ(platform.Log(true),
            (std::vector<std::string>{"PurgeComm 3", "SetEvent", "Sleep 0", "CloseHandle"}));
}

TEST_F(ComPortOpenClose, OpenTwiceOpensOnceAndCloseTwiceClosesOnce) {
  port.Open();
  port.Open();
  port.Close();
  port.Close();
  EXPECT_EQ(platform.Count("CreateFile"), 1);
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
  EXPECT_EQ(fired.front(), "BeforeOpen");
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "AfterClose"), 1);
}

TEST_F(ComPortOpenClose, WithNoEventsNoThreadIsStartedOrStopped) {
  port.SetEvents({});
  port.Open();
  EXPECT_FALSE(port.HasEventWorker());
  port.Close();
  EXPECT_EQ(platform.Count("CreateEvent"), 0);
  EXPECT_EQ(platform.Count("SetCommMask"), 0);
  EXPECT_EQ(platform.Count("Sleep"), 0);
  EXPECT_EQ(platform.Log(std::vector<std::string>{"PurgeComm"}), std::vector<std::string>{"PurgeComm 3"});
}

TEST_F(ComPortOpenClose, ANameWithoutDeviceRaisesError1AndChangesNothing) {
  platform.Fail("CreateFile", ComApi::ERROR_FILE_NOT_FOUND);
  EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, 2);
  EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(fired, std::vector<std::string>{"BeforeOpen"});
  EXPECT_EQ(platform.Log(),
            std::vector<std::string>{
                "CreateFile \\\\.\\COM1 access=0xC0000000 share=0 creation=3 flags=0x40000000"});
  // Nothing is left half open: the next attempt works.
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortOpenClose, AConfigurationFailureReleasesTheDeviceAndRaises) {
  struct TCase {
    const char* Call;
    int Code;
  };
  for (TCase c : {TCase{"SetupComm", 9}, TCase{"SetCommState", 7}, TCase{"SetCommTimeouts", 8}}) {
    SCOPED_TRACE(c.Call);
    platform.ClearLog();
    platform.Fail(c.Call, 87);
    EComPort e = Raised([&] { port.Open(); });
    EXPECT_EQ(e.Code, c.Code);
    EXPECT_EQ(e.OsError, 87);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.HasEventWorker());
    EXPECT_EQ(port.DeviceHandle(), nullptr);
    EXPECT_EQ(platform.Count("CloseHandle"), 1);
    EXPECT_EQ(platform.Count("CreateEvent"), 0);
    EXPECT_EQ(platform.Log().back(), "CloseHandle");
  }
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "AfterOpen"), 0);
}

// A pseudo-terminal, or a USB or virtual COM driver, without modem lines: the port serves the units all
// the same and reports its lines off. Asked for them outright, it says it cannot tell.
TEST_F(ComPortOpenClose, APortWhoseModemLinesCannotBeReadOpensWithThemOff) {
  platform.SetModemStatus(ComApi::MS_CTS_ON | ComApi::MS_DSR_ON | ComApi::MS_RLSD_ON);
  platform.Fail("GetCommModemStatus", 50, -1);
  port.Open();
  ASSERT_TRUE(platform.WaitUntilWaiting());
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.EventWorkerRunning());
  EXPECT_EQ(fired, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS 0", "DSR 0", "RLSD 0"}));
  EXPECT_EQ(platform.Count("GetCommModemStatus"), 3);
  const uint8_t byte = 0x5A;
  EXPECT_EQ(port.Write(&byte, 1), 1);
  EXPECT_EQ(platform.Written(), std::vector<uint8_t>{0x5A});
  EComPort e = Raised([&] { port.ModemSignals(); });
  EXPECT_EQ(e.Code, 11);
  EXPECT_EQ(e.OsError, 50);

  // Each line is read on its own: one that cannot be read does not hide the others.
  port.Close();
  platform.Fail("GetCommModemStatus", 31, 1);  // instead of every read
  fired.clear();
  port.Open();
  EXPECT_EQ(fired, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS 0", "DSR 1", "RLSD 1"}));
}

TEST_F(ComPortOpenClose, APurgeFailureInCloseIsReportedAndThePortClosesAllTheSame) {
  port.Open();
  ASSERT_TRUE(platform.WaitUntilWaiting());
  platform.ClearLog();
  platform.Fail("PurgeComm", 22);
  EComPort e = Raised([&] { port.Close(); });
  EXPECT_EQ(e.Code, 5);
  EXPECT_EQ(e.OsError, 22);
  // Otherwise a pulled-out adapter could never be closed, nor another port chosen.
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.EventWorkerRunning());
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
  EXPECT_EQ(fired.back(), "AfterClose");
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortOpenClose, ASecondPortOnTheSameDeviceIsRefused) {
  port.Open();
  TComPort second(&platform);
  second.SetEvents({});
  EComPort e = Raised([&] { second.Open(); });
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, 5);
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortOpenClose, TransfersOnAClosedPortOrWithBadArgumentsAreRefusedBeforeTheDevice) {
  uint8_t byte = 0;
  EXPECT_EQ(Raised([&] { port.Write(&byte, 1); }).Code, 2);
  EXPECT_EQ(Raised([&] { port.Read(&byte, 1); }).Code, 3);
  EXPECT_EQ(Raised([&] { port.PendingInputCount(); }).Code, 10);
  EXPECT_EQ(Raised([&] { port.ModemSignals(); }).Code, 11);
  EXPECT_EQ(Raised([&] { port.AbortTransfers(); }).Code, 5);
  port.SetEvents({});
  port.Open();
  platform.ClearLog();
  EComPort negative = Raised([&] { port.Read(&byte, -1); });
  EXPECT_EQ(negative.Code, 3);
  EXPECT_EQ(negative.OsError, -1);
  EXPECT_EQ(Raised([&] { port.Write(nullptr, 4); }).Code, 2);
  EXPECT_EQ(platform.Calls().size(), 0u);
}

TEST_F(ComPortOpenClose, DestructionClosesInOrder) {
  {
    TComPort local(&platform);
    local.SetPort("COM2");
    local.Open();
    ASSERT_TRUE(platform.WaitUntilWaiting());
    platform.ClearLog();
  }
  EXPECT_EQ(platform.Log(std::vector<std::string>{"PurgeComm", "CloseHandle"}),
            (std::vector<std::string>{"PurgeComm 3", "PurgeComm 12", "CloseHandle"}));
}

TEST_F(ComPortOpenClose, DestructionReleasesEvenWhenClosingIsRefused) {
  {
    TComPort local(&platform);
    local.SetPort("COM3");
    local.Open();
    platform.Fail("PurgeComm", 22);
  }
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
}

}  // namespace
