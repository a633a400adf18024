#include <gtest/gtest.h>

#include <future>

#include "serial/ComNotifyWindow.h"
#include "serial/ComPort.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/serial/RecordingComPlatform.h"

namespace {

using namespace ComApi;

// The thread sets its end mark just after its last device call; give it a moment, in real time.
bool EndsSoon(TCustomComPort& port) {
  for (int i = 0; i < 5000 && port.EventWorkerRunning(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return !port.EventWorkerRunning();
}

// The real event thread over the scripted device, on the virtual clock: each raised batch is taken up and
// delivered before the clock moves on.
struct ComEventThread : ::testing::Test {
  TVirtualToolkit tk;
  TRecordingComPlatform platform{&tk};
  // Held so that tear-down can end the port, and every event thread it ever had, while the toolkit those
  // threads report to is still installed.
  std::unique_ptr<TComPort> portHolder = std::make_unique<TComPort>(&platform);
  TComPort& port = *portHolder;
  std::vector<std::string> fired;

  void SetUp() override {
    SetToolkit(&tk);
    LoadMainWindowSettings(port);
    port.SetEvents(TComEvents::All());
    port.OnRxChar = [this](TCustomComPort* sender, int32_t count) {
      fired.push_back("RxChar " + std::to_string(count));
      std::vector<uint8_t> bytes(count);
      for (int i = 0; i < count; ++i) sender->Read(&bytes[i], 1);
    };
    port.OnError = [this](TCustomComPort*, TComErrors e) {
      fired.push_back("Error " + std::to_string(e.Bits));
    };
    port.OnRxFlag = [this](TCustomComPort*) { fired.push_back("RxFlag"); };
    port.OnTxEmpty = [this](TCustomComPort*) { fired.push_back("TxEmpty"); };
    port.OnRing = [this](TCustomComPort*) { fired.push_back("Ring"); };
    port.OnBreak = [this](TCustomComPort*) { fired.push_back("Break"); };
    port.OnRx80Full = [this](TCustomComPort*) { fired.push_back("Rx80Full"); };
  }
  void OpenAndWatchSignals() {
    port.Open();
    ASSERT_TRUE(platform.WaitUntilWaiting());
    RecordSignals(port, fired);
  }
  void TearDown() override {
    // A test's handlers may capture its locals, gone by now; a batch delivered while closing must not
    // reach them.
    for (auto* handler : {&port.OnCTSChange, &port.OnDSRChange, &port.OnRLSDChange})
      *handler = nullptr;
    for (auto* handler : {&port.OnRxFlag, &port.OnTxEmpty, &port.OnRing, &port.OnBreak, &port.OnRx80Full,
                          &port.OnDeviceLost})
      *handler = nullptr;
    port.OnRxChar = nullptr;
    port.OnError = nullptr;
    try {
      port.Close();
    } catch (...) {
    }
    portHolder.reset();
    SetToolkit(nullptr);
  }
};

TEST_F(ComEventThread, ABatchIsProcessedInTheFixedOrder) {
  OpenAndWatchSignals();
  platform.Receive({'a', 'b'});
  platform.SetLineErrors(CE_FRAME | CE_RXOVER | CE_RXPARITY);  // parity is not checked: not reported
  platform.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  platform.RaiseEvents(0xFFFF);  // every event, plus bits no event stands for
  tk.RunUntilIdle();
  EXPECT_EQ(fired, (std::vector<std::string>{"Error 65", "RxChar 2", "TxEmpty", "Break", "Ring", "CTS 1",
                                             "DSR 0", "RxFlag", "RLSD 1", "Rx80Full"}));
}

// Under thread synchronisation an error in a step would end the thread; a line change on a port whose
// lines cannot be read is reported off and delivery goes on.
TEST_F(ComEventThread, SignalEventsOfAPortWhoseLinesCannotBeReadReportThemOff) {
  platform.Fail("GetCommModemStatus", 50, -1);
  OpenAndWatchSignals();
  platform.RaiseEvents(EV_CTS | EV_DSR | EV_RLSD);
  platform.Receive({'z'});
  platform.RaiseEvents(EV_RXCHAR);
  tk.RunUntilIdle();
  EXPECT_EQ(fired, (std::vector<std::string>{"CTS 0", "DSR 0", "RLSD 0", "RxChar 1"}));
  EXPECT_TRUE(port.EventWorkerRunning());
  EXPECT_TRUE(tk.Messages().empty());
}

TEST_F(ComEventThread, BytesAlreadyReadFireNothingAndAnEmptyErrorSetIsNotReported) {
  OpenAndWatchSignals();
  platform.Receive({'x'});
  platform.RaiseEvents(EV_RXCHAR);
  platform.RaiseEvents(EV_RXCHAR | EV_ERR);  // its byte was read by the first handler
  tk.RunUntilIdle();
  EXPECT_EQ(fired, std::vector<std::string>{"RxChar 1"});
  EXPECT_EQ(platform.InputCount(), 0u);
}

TEST_F(ComEventThread, TheCountIsTakenWhenTheStepRunsNotWhenTheEventWasSeen) {
  OpenAndWatchSignals();
  platform.Receive({'1'});
  platform.RaiseEvents(EV_RXCHAR);
  platform.Receive({'2', '3'});  // arrives before the user-interface thread gets to the batch
  tk.RunUntilIdle();
  EXPECT_EQ(fired, std::vector<std::string>{"RxChar 3"});
}

TEST_F(ComEventThread, AFailedResultDropsTheBatchAndTheLoopGoesOnAfterAPause) {
  OpenAndWatchSignals();
  platform.Fail("GetOverlappedResult", 995);
  platform.RaiseEvents(EV_RING);
  platform.RaiseEvents(EV_BREAK);
  tk.RunUntilIdle();
  EXPECT_EQ(fired, std::vector<std::string>{"Break"});
  EXPECT_TRUE(port.EventWorkerRunning());
  // A device that fails every wait at once would otherwise have the thread spin.
  EXPECT_EQ(platform.Log(std::vector<std::string>{"WaitCommEvent", "GetOverlappedResult", "Sleep"}),
            (std::vector<std::string>{"WaitCommEvent", "GetOverlappedResult", "Sleep 10", "WaitCommEvent",
                                      "GetOverlappedResult", "WaitCommEvent"}));
}

TEST_F(ComEventThread, AWaitThatCannotStartEndsTheThreadWithoutSpinning) {
  platform.Fail("WaitCommEvent", 22, -1);
  port.Open();
  ASSERT_TRUE(platform.WaitForCall("CloseEvent"));  // the thread's last exit step
  EXPECT_EQ(platform.Count("WaitCommEvent"), 1);
  EXPECT_EQ(platform.Count("WaitForStopOrRecord"), 0);
  // The exit steps ran; the port stays open without events until it is closed.
  EXPECT_EQ(platform.Log(std::vector<std::string>{"SetCommMask", "PurgeComm"}),
            (std::vector<std::string>{"SetCommMask 0x05FF", "SetCommMask 0x0000", "PurgeComm 12"}));
  EXPECT_TRUE(port.Connected());
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComEventThread, AFailedWaitEndsTheThreadAndThePortClosesItselfSoTheNextOpenOpensAnew) {
  OpenAndWatchSignals();
  int lost = 0;
  port.OnDeviceLost = [&](TCustomComPort* sender) {
    EXPECT_FALSE(sender->Connected());
    ++lost;
  };
  platform.Fail("WaitForStopOrRecord", 6, -1);
  platform.RaiseEvents(EV_RING);  // taken by the wait already in progress
  tk.RunUntilIdle();
  ASSERT_TRUE(platform.WaitForCall("CloseEvent"));
  EXPECT_EQ(platform.Count("WaitForStopOrRecord"), 2);
  EXPECT_EQ(fired, (std::vector<std::string>{"Ring", "CTS 0", "DSR 0", "RLSD 0"}));
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(port.DeviceLost());
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
  EXPECT_TRUE(tk.Messages().empty());  // the next exchange tells the operator, if it fails again

  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(port.DeviceLost());
  EXPECT_EQ(platform.Count("CreateFile"), 2);
}

TEST_F(ComEventThread, AClosedPortRemembersADeviceItsThreadFoundGoneBeforeThePortClosedItself) {
  int lost = 0;
  port.OnDeviceLost = [&](TCustomComPort*) { ++lost; };
  platform.Fail("WaitCommEvent", 22, -1);
  port.Open();
  ASSERT_TRUE(platform.WaitForCall("CloseEvent"));  // the thread has ended; its report is still queued
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.DeviceLost());
  // Closed by the program first: the gone device's refused purge is no news, and the loss is kept.
  platform.Fail("PurgeComm", 22);
  EXPECT_NO_THROW(port.Close());
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(port.DeviceLost());
  tk.RunUntilIdle();
  EXPECT_EQ(lost, 0) << "the port was closed already";
  EXPECT_TRUE(tk.Messages().empty());
}

TEST_F(ComEventThread, AFailedTransferClosesThePortAndAStopDuringAWaitIsNoLoss) {
  OpenAndWatchSignals();
  int lost = 0;
  port.OnDeviceLost = [&](TCustomComPort*) { ++lost; };
  platform.Fail("WriteFile", 31, -1);
  uint8_t byte = 0x55;
  try {
    port.Write(&byte, 1);
    ADD_FAILURE() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code, 2);
    EXPECT_EQ(e.OsError, 31);
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(lost, 1);
  // An ordinary close, with its stop signal ending the wait, loses nothing.
  port.Open();
  port.Close();
  tk.RunUntilIdle();
  EXPECT_EQ(lost, 1);
  EXPECT_FALSE(port.DeviceLost());
}

TEST_F(ComEventThread, AHandlerErrorEndsTheThreadAfterItsExitStepsAndIsShown) {
  OpenAndWatchSignals();
  port.OnRing = [](TCustomComPort*) { throw EComPort(3, 5); };
  platform.RaiseEvents(EV_RING | EV_RXFLAG);
  tk.RunUntilIdle();
  EXPECT_TRUE(EndsSoon(port));
  EXPECT_TRUE(fired.empty());  // the rest of the batch is not processed
  EXPECT_EQ(
      platform.Log(std::vector<std::string>{"SetCommMask", "PurgeComm", "CloseEvent"}),
      (std::vector<std::string>{"SetCommMask 0x05FF", "SetCommMask 0x0000", "PurgeComm 12", "CloseEvent"}));
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "ReadFile function failed (win error code: 5)");
  // Later batches reach nobody; the port is still open and closes normally.
  platform.RaiseEvents(EV_RXFLAG);
  tk.RunUntilIdle();
  EXPECT_TRUE(fired.empty());
  EXPECT_TRUE(port.Connected());
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComEventThread, ReceiveStepFailureEndsTheThreadWithError10Shown) {
  OpenAndWatchSignals();
  platform.Fail("ClearCommError", 1117);
  platform.RaiseEvents(EV_RXCHAR);
  tk.RunUntilIdle();
  EXPECT_TRUE(EndsSoon(port));
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "ClearCommError function failed (win error code: 1117)");
}

TEST_F(ComEventThread, CloseWhileTheThreadIsBlockedDeliveringCompletes) {
  OpenAndWatchSignals();
  platform.Receive({'z'});
  platform.RaiseEvents(EV_RXCHAR);
  // The thread has taken the batch and is handing it over; the user-interface thread has not served it.
  ASSERT_TRUE(platform.WaitUntilTaken());
  port.Close();
  EXPECT_FALSE(port.Connected());
  // The batch was delivered during the wait, then the thread ended.
  EXPECT_EQ(fired, (std::vector<std::string>{"CTS 0", "DSR 0", "RLSD 0", "RxChar 1"}));
}

TEST_F(ComEventThread, CloseFromInsideAHandlerDoesNotWaitForTheThreadThatCalledIt) {
  OpenAndWatchSignals();
  port.OnRing = [this](TCustomComPort* sender) {
    fired.push_back("Ring");
    sender->Close();
    fired.push_back(sender->Connected() ? "still open" : "closed");
  };
  platform.RaiseEvents(EV_RING | EV_RXFLAG);
  tk.RunUntilIdle();
  // The rest of the batch is dropped.
  EXPECT_EQ(fired, (std::vector<std::string>{"Ring", "CTS 0", "DSR 0", "RLSD 0", "closed"}));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(platform.Count("CloseHandle"), 1);
  // The port opens again on a fresh thread; the old one has ended by itself.
  port.OnRing = [this](TCustomComPort*) { fired.push_back("Ring again"); };
  port.Open();
  ASSERT_TRUE(platform.WaitUntilWaiting());
  platform.RaiseEvents(EV_RING);
  tk.RunUntilIdle();
  EXPECT_EQ(fired.back(), "Ring again");
}

TEST_F(ComEventThread, CloseAndReopenFromInsideAHandlerKeepsTheNewSession) {
  OpenAndWatchSignals();
  int rings = 0;
  port.OnRing = [&](TCustomComPort* sender) {
    if (++rings > 1) return;
    sender->Close();
    sender->SetPort("COM2");
    sender->Open();
  };
  platform.RaiseEvents(EV_RING);
  tk.RunUntilIdle();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Port(), "COM2");
  ASSERT_TRUE(platform.WaitUntilWaiting());
  platform.RaiseEvents(EV_RING);
  tk.RunUntilIdle();
  EXPECT_EQ(rings, 2);
}

TEST_F(ComEventThread, WindowSyncSendsOneMessagePerEventWithItsMask) {
  port.SetSyncMethod(smWindowSync);
  OpenAndWatchSignals();
  ASSERT_NE(port.NotifyWindow(), nullptr);
  std::vector<std::pair<uint32_t, uintptr_t>> messages;
  port.NotifyWindow()->OnMessage = [&](uint32_t message, uintptr_t wParam, intptr_t) {
    messages.push_back({message, wParam});
  };
  platform.RaiseEvents(EV_RING);
  platform.RaiseEvents(EV_RLSD);
  platform.RaiseEvents(EV_RXFLAG | EV_TXEMPTY | EV_ERR);
  tk.RunUntilIdle();
  EXPECT_EQ(messages,
            (std::vector<std::pair<uint32_t, uintptr_t>>{
                {1025, EV_RING}, {1025, EV_RLSD}, {1025, EV_ERR}, {1025, EV_TXEMPTY}, {1025, EV_RXFLAG}}));
  EXPECT_EQ(fired, (std::vector<std::string>{"Ring", "RLSD 0", "TxEmpty", "RxFlag"}));
  port.Close();
  EXPECT_EQ(port.NotifyWindow(), nullptr);
}

TEST_F(ComEventThread, TheHiddenReceiverIgnoresOtherMessagesAndAClosedPort) {
  TComNotifyWindow window(&port);
  bool replied = false;
  EXPECT_EQ(window.WindowProc(1024, EV_RING, 0, true, [&] { replied = true; }), 0);
  EXPECT_FALSE(replied);
  window.WindowProc(1025, EV_RING, 0, true, [&] { replied = true; });  // port closed: replies, runs nothing
  EXPECT_TRUE(replied);
  EXPECT_TRUE(fired.empty());
  port.SetEvents({});
  port.Open();
  replied = false;
  window.WindowProc(1025, EV_RING, 0, false, [&] { replied = true; });  // same thread: no reply needed
  EXPECT_FALSE(replied);
  EXPECT_EQ(fired, std::vector<std::string>{"Ring"});
}

TEST_F(ComEventThread, WindowSyncShowsAHandlerErrorAndDeliveryGoesOn) {
  port.SetSyncMethod(smWindowSync);
  OpenAndWatchSignals();
  port.OnRing = [](TCustomComPort*) { throw EComPort(11, 1); };
  platform.RaiseEvents(EV_RING | EV_RXFLAG);
  platform.RaiseEvents(EV_BREAK);
  tk.RunUntilIdle();
  EXPECT_EQ(fired, (std::vector<std::string>{"RxFlag", "Break"}));
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "GetCommModemStatus function failed (win error code: 1)");
  EXPECT_TRUE(port.EventWorkerRunning());
}

TEST_F(ComEventThread, WithoutSyncTheHandlersRunOnTheEventThread) {
  port.SetSyncMethod(smNone);
  OpenAndWatchSignals();
  std::promise<std::thread::id> ranOn;
  port.OnRing = [&](TCustomComPort*) { ranOn.set_value(std::this_thread::get_id()); };
  platform.RaiseEvents(EV_RING);
  auto result = ranOn.get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_NE(result.get(), std::this_thread::get_id());
}

}  // namespace
