// The Win32 backend on a real COM port. scripts/windows-check.sh maps a COM port under Wine to the
// pseudo-terminal of orvel-unitsim (units 3 and 7) and names it here with ORVEL_TEST_PORT, with the
// simulator's trace in ORVEL_TEST_TRACE; after the simulator has ended, ORVEL_TEST_STATE names the
// registers it left. Without them only the cases that need no units run.
//
// The link runs as the program runs it: the port's event thread hands OnRxChar over by synchronisation
// to this thread, and the waits run on the real clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/PortList.h"
#include "link/Frame.h"
#include "link/Link.h"
#include "serial/ComPort.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TraceFile.h"
#include "toolkit/VirtualToolkit.h"
#include "unitsim/RegisterFile.h"
#include "unitsim/SimTrace.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// K4 colour bars: 0x80 as a unit is delivered; the exchange below writes 0x81 to unit 3.
constexpr uint8_t TestRegister = 0xAE;
constexpr uint8_t DeliveredValue = 0x80;
constexpr uint8_t WrittenValue = 0x81;

TEST(Win32Port, APortThatDoesNotExistFailsToOpenWithTheSystemsReason) {
  TComPort port;
  port.SetPort("COM99");
  EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, 2);  // ERROR_FILE_NOT_FOUND
  EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
}

// A port with the simulated units behind it, on the real clock.
struct Win32PortWithUnits : ::testing::Test {
  std::string portName = Environment("ORVEL_TEST_PORT");
  TVirtualToolkit tk{TVirtualToolkit::TClock::Real};
  void SetUp() override {
    if (portName.empty()) GTEST_SKIP() << "ORVEL_TEST_PORT names no port with simulated units";
    SetToolkit(&tk);
    ResetLinkState();
  }
  void TearDown() override { SetToolkit(nullptr); }

  // Waits (real time, bounded) until `count` bytes have come in.
  static bool WaitForInput(TComPort& port, int32_t count) {
    for (int i = 0; i < 5000; ++i) {
      if (port.PendingInputCount() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

TEST_F(Win32PortWithUnits, ThePortListFindsThePort) {
  const auto names = ListComPorts(SystemComPlatform());
  EXPECT_NE(std::find(names.begin(), names.end(), portName), names.end()) << portName;
}

// Whole frames in one transfer each, without the event thread: a read asks for more than is there and
// returns what came once the line has been quiet for the interval; closing discards what nobody read.
TEST_F(Win32PortWithUnits, TransfersMoveWholeFramesAndClosingDiscardsUnreadBytes) {
  TComPort port;
  ApplyUnitLineSettings(port);
  port.SetEvents({});
  port.SetPort(portName);
  port.Open();
  const std::vector<uint8_t> identify = BuildFrame(7, cmdIdentify, {});
  EXPECT_EQ(port.Write(identify.data(), int32_t(identify.size())), int32_t(identify.size()));
  ASSERT_TRUE(WaitForInput(port, int32_t(identify.size())));
  std::vector<uint8_t> reply(64);
  reply.resize(size_t(port.Read(reply.data(), int32_t(reply.size()))));
  EXPECT_EQ(reply, identify);  // an identify reply repeats the request
  EXPECT_EQ(port.PendingInputCount(), 0);
  EXPECT_TRUE(port.LineErrors().Empty());

  // The event thread's exit steps purge the queues, so the port closes with events this time.
  port.Close();
  port.SetEvents(MakeEvents({evRxChar, evTxEmpty, evRxFlag}));
  port.Open();
  EXPECT_EQ(port.Write(identify.data(), int32_t(identify.size())), int32_t(identify.size()));
  ASSERT_TRUE(WaitForInput(port, int32_t(identify.size())));
  port.Close();
  port.SetEvents({});
  port.Open();
  EXPECT_EQ(port.PendingInputCount(), 0);
}

TEST_F(Win32PortWithUnits, TheLinkProbesReadsAndWritesTheUnits) {
  std::vector<int32_t> counts;
  std::vector<std::thread::id> handlerThreads;
  bool present[8] = {};
  uint8_t read = 0, readBack = 0;
  bool threadRan = false;
  {
    TComPort port;
    ApplyUnitLineSettings(port);
    port.SetPort(portName);
    auto timer1 = tk.CreateTimer(), timer2 = tk.CreateTimer(), timer4 = tk.CreateTimer();
    BindLink(port, *timer1, *timer2, *timer4);
    port.OnRxChar = [&](TCustomComPort* sender, int32_t count) {
      counts.push_back(count);
      handlerThreads.push_back(std::this_thread::get_id());
      ComPort1RxChar(sender, count);
    };
    port.Open();
    EXPECT_TRUE(port.EventWorkerRunning());
    EXPECT_EQ(port.SyncMethod(), smThreadSync);

    LinkState.Scanning = true;
    for (uint8_t address : {3, 4, 7}) {
      ProbeDevice(address);
      present[address] = !LinkState.ReplyTimedOut;
    }
    LinkState.Scanning = false;

    LinkState.RegisterMode = true;
    LinkState.Address = 3;
    LinkState.Register = TestRegister;
    LinkState.Value = 1;
    LinkState.CurrentValue = 0x77;
    ReadRegister();
    read = LinkState.CurrentValue;
    LinkState.WriteCount = 1;
    LinkState.Value = WrittenValue;
    WriteRegister();
    LinkState.Value = 1;
    LinkState.CurrentValue = 0x77;
    ReadRegister();
    readBack = LinkState.CurrentValue;
    LinkState.RegisterMode = false;

    threadRan = port.EventWorkerRunning();
    port.Close();
    UnbindLink();
  }

  EXPECT_TRUE(present[3]);
  EXPECT_FALSE(present[4]);
  EXPECT_TRUE(present[7]);
  EXPECT_EQ(read, DeliveredValue);
  EXPECT_EQ(readBack, WrittenValue);
  EXPECT_TRUE(threadRan) << "the event thread ended on its own";
  EXPECT_TRUE(tk.Messages().empty()) << tk.Messages().front().Text;
  // Every reply reached the receiver through the event thread, on this thread.
  ASSERT_FALSE(counts.empty());
  for (auto id : handlerThreads) EXPECT_EQ(id, std::this_thread::get_id());
  std::cout << "OnRxChar ran " << counts.size() << " times for the replies' bytes\n";

  const std::string tracePath = Environment("ORVEL_TEST_TRACE");
  if (tracePath.empty()) return;
  auto frame = [](const char* from, uint8_t address, uint8_t command, std::vector<uint8_t> data) {
    return std::string(from) + " frame " + HexBytes(BuildFrame(address, command, data));
  };
  const std::vector<std::string> expected = {
      frame("host", 3, cmdIdentify, {}),
      frame("units", 3, cmdIdentify, {}),
      frame("host", 4, cmdIdentify, {}),
      frame("host", 7, cmdIdentify, {}),
      frame("units", 7, cmdIdentify, {}),
      frame("host", 3, cmdSelect, {TestRegister, 0, 0, 0}),
      frame("units", 3, cmdSelect, {}),
      frame("host", 3, cmdRead, {1}),
      frame("units", 3, cmdRead, {DeliveredValue}),
      frame("host", 3, cmdSelect, {TestRegister, 0, 0, 0}),
      frame("units", 3, cmdSelect, {}),
      frame("host", 3, cmdWrite, {WrittenValue}),
      frame("units", 3, cmdWrite, {}),
      frame("host", 3, cmdSelect, {TestRegister, 0, 0, 0}),
      frame("units", 3, cmdSelect, {}),
      frame("host", 3, cmdRead, {1}),
      frame("units", 3, cmdRead, {WrittenValue}),
  };
  std::vector<std::string> wire;
  for (const auto& f : ReadTrace(tracePath)) wire.push_back(f.Wire());
  // Earlier cases of this program may have talked to the units before: the exchange is the trace's end.
  ASSERT_GE(wire.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(wire.end() - long(expected.size()), wire.end()), expected);
}

// Run once the simulator has ended and written what its units hold.
TEST(Win32PortState, TheUnitsKeepWhatTheLinkWrote) {
  const std::string statePath = Environment("ORVEL_TEST_STATE");
  if (statePath.empty()) GTEST_SKIP() << "ORVEL_TEST_STATE names no state file";
  std::vector<TUnitSetup> setups = LoadRegisterFile(statePath);
  ASSERT_EQ(setups.size(), 2u);
  for (const auto& setup : setups) {
    TSimUnit unit(setup.Address);
    setup.ApplyTo(unit);
    EXPECT_EQ(unit.Register(TestRegister), setup.Address == 3 ? WrittenValue : DeliveredValue)
        << "unit " << int(setup.Address);
  }
}

}  // namespace
