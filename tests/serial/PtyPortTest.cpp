#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "serial/ComPort.h"
#include "serial/platform/posix/PosixComPlatform.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/serial/PtyPair.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/QtToolkit.h"

namespace {

// The Qt binding, counting the batches the event thread has begun to hand over.
class TCountingQtToolkit : public TQtToolkit {
 public:
  std::atomic<int> Handovers{0};
  void Synchronize(const std::function<void()>& method) override {
    ++Handovers;
    TQtToolkit::Synchronize(method);
  }
};

// The real event thread on a real pseudo-terminal, delivering through the Qt binding.
struct PtyPort : ::testing::Test {
  static void SetUpTestSuite() { EnsureApplication(); }

  TCountingQtToolkit tk;
  std::unique_ptr<TTimer> tick;
  TPtyPair pty;
  TPosixComPlatform platform;
  std::unique_ptr<TComPort> port;
  std::vector<int32_t> counts;
  std::string received;

  void SetUp() override {
    SetToolkit(&tk);
    tick = KeepLoopWaking(tk);
    ASSERT_TRUE(pty.Valid());
    port = std::make_unique<TComPort>(&platform);
    LoadMainWindowSettings(*port);
    port->SetPort(pty.SlavePath);
    // The main window's handler: read exactly Count bytes, one at a time.
    port->OnRxChar = [this](TCustomComPort* sender, int32_t count) {
      counts.push_back(count);
      for (int i = 0; i < count; ++i) {
        char c;
        sender->Read(&c, 1);
        received += c;
      }
    };
  }
  void TearDown() override {
    port.reset();
    tick.reset();
    SetToolkit(nullptr);
  }

  // Runs the loop until `done` holds; false after `seconds`.
  bool RunUntil(const std::function<bool()>& done, double seconds = 10.0) {
    return RunLoopUntil(tk, done, seconds);
  }
  void RunFor(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    RunUntil([&] { return std::chrono::steady_clock::now() >= end; }, seconds + 1);
  }
};

TEST_F(PtyPort, ReceivedBytesReachOnRxCharWithTheirCount) {
  port->Open();
  ASSERT_TRUE(pty.Send({'h', 'e', 'l', 'l', 'o'}));
  ASSERT_TRUE(RunUntil([&] { return received.size() == 5; }));
  EXPECT_EQ(received, "hello");
  int32_t total = 0;
  for (int32_t c : counts) total += c;
  EXPECT_EQ(total, 5);
}

TEST_F(PtyPort, BytesArrivingWhileTheHandlerRunsComeInOneLaterEvent) {
  port->OnRxChar = [this](TCustomComPort* sender, int32_t count) {
    counts.push_back(count);
    if (counts.size() == 1) {
      pty.Send({'b', 'c'});
      // Wait (bounded) until the two bytes are waiting behind the one being handled.
      for (int i = 0; i < 5000 && sender->PendingInputCount() < count + 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < count; ++i) {
      char c;
      sender->Read(&c, 1);
      received += c;
    }
  };
  port->Open();
  ASSERT_TRUE(pty.Send({'a'}));
  ASSERT_TRUE(RunUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(counts, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(received, "abc");
}

TEST_F(PtyPort, ABatchWhoseBytesWereAlreadyReadFiresNothing) {
  bool txEmpty = false;
  port->OnTxEmpty = [&](TCustomComPort*) { txEmpty = true; };
  port->OnRxChar = [this](TCustomComPort* sender, int32_t count) {
    counts.push_back(count);
    if (counts.size() > 1) return;
    pty.Send({'b', 'c'});
    for (int i = 0; i < 5000 && sender->PendingInputCount() < 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    char bytes[3];
    received.append(bytes, sender->Read(bytes, 3));  // more than Count: the later bytes too
    sender->Write("x", 1);  // its transmitter-empty event marks that later batches were handled
  };
  port->Open();
  ASSERT_TRUE(pty.Send({'a'}));
  ASSERT_TRUE(RunUntil([&] { return txEmpty; }));
  EXPECT_EQ(received, "abc");
  EXPECT_EQ(counts, std::vector<int32_t>{1});
}

TEST_F(PtyPort, TheEventCharacterRaisesRxFlagAfterTheReceiveStep) {
  std::vector<std::string> order;
  port->SetEventChar('\n');
  port->OnRxFlag = [&](TCustomComPort*) { order.push_back("RxFlag"); };
  auto read = port->OnRxChar;
  port->OnRxChar = [&](TCustomComPort* sender, int32_t count) {
    order.push_back("RxChar");
    read(sender, count);
  };
  port->Open();
  ASSERT_TRUE(pty.Send({'o', 'k', '\n'}));
  ASSERT_TRUE(RunUntil([&] { return std::count(order.begin(), order.end(), "RxFlag") == 1; }));
  EXPECT_EQ(order.front(), "RxChar");
  ASSERT_TRUE(RunUntil([&] { return received == "ok\n"; }));
}

TEST_F(PtyPort, AnInputQueueOverflowDropsBytesAndReportsIt) {
  TComErrors errors;
  port->SetEvents(MakeEvents({evRxChar, evError}));
  port->Buffer().SetInputSize(16);
  port->OnRxChar = nullptr;  // nobody reads
  port->OnError = [&](TCustomComPort*, TComErrors e) { errors = e; };
  port->Open();
  ASSERT_TRUE(pty.Send(std::vector<uint8_t>(40, 'q')));
  ASSERT_TRUE(RunUntil([&] { return !errors.Empty(); }));
  EXPECT_EQ(errors.Bits, 0x40);  // input queue overflow
  ASSERT_TRUE(RunUntil([&] { return port->PendingInputCount() == 16; }));
}

TEST_F(PtyPort, WriteAndReadOfOneByte) {
  port->OnRxChar = nullptr;
  bool txEmpty = false;
  port->OnTxEmpty = [&](TCustomComPort*) { txEmpty = true; };
  port->Open();
  EXPECT_EQ(port->Write("\x42", 1), 1);
  EXPECT_EQ(pty.Take(1), std::vector<uint8_t>{0x42});
  ASSERT_TRUE(RunUntil([&] { return txEmpty; }));

  ASSERT_TRUE(pty.Send({0x17}));
  ASSERT_TRUE(RunUntil([&] { return port->PendingInputCount() == 1; }));
  uint8_t byte = 0;
  EXPECT_EQ(port->Read(&byte, 1), 1);
  EXPECT_EQ(byte, 0x17);
  EXPECT_EQ(port->PendingInputCount(), 0);
}

TEST_F(PtyPort, CloseWhileTheThreadIsBlockedDeliveringCompletes) {
  port->Open();
  ASSERT_TRUE(pty.Send({'k'}));
  // The thread takes the byte, then blocks handing the batch over; this thread does not serve it yet.
  for (int i = 0; i < 10000 && tk.Handovers == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(tk.Handovers, 1);
  port->Close();
  EXPECT_FALSE(port->Connected());
  EXPECT_EQ(received, "k");
}

TEST_F(PtyPort, CloseDiscardsBytesNobodyRead) {
  port->OnRxChar = nullptr;
  port->Open();
  ASSERT_TRUE(pty.Send({'1', '2', '3'}));
  ASSERT_TRUE(RunUntil([&] { return port->PendingInputCount() == 3; }));
  port->Close();
  port->Open();
  EXPECT_EQ(port->PendingInputCount(), 0);
}

TEST_F(PtyPort, WindowSyncDeliversThroughTheHiddenReceiver) {
  port->SetSyncMethod(smWindowSync);
  port->Open();
  ASSERT_TRUE(pty.Send({'w', 's'}));
  ASSERT_TRUE(RunUntil([&] { return received == "ws"; }));
}

TEST_F(PtyPort, AVanishedAdapterEndsTheThreadWithoutSpinningAndClosesThePort) {
  port->Open();
  ASSERT_TRUE(port->EventWorkerRunning());
  pty.CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return !port->Connected(); }));

  const double before = CpuSeconds();
  RunFor(1.0);
  const double used = CpuSeconds() - before;
  std::printf("CPU time over one second after the loss: %.3f s\n", used);
  EXPECT_LT(used, 0.2);

  // The port has closed itself: the next Open opens the device anew.
  EXPECT_FALSE(port->Connected());
  EXPECT_TRUE(port->DeviceLost());
  char byte = 0;
  EComPort read = Raised([&] { port->Read(&byte, 1); });
  EXPECT_EQ(read.Code, 3);
  EXPECT_EQ(read.OsError, -1);
  port->Close();
  EXPECT_FALSE(port->Connected());
}

TEST_F(PtyPort, ATransferOnAVanishedAdapterFailsWithTheSystemsReasonAndClosesThePort) {
  port->SetEvents(TComEvents{});  // no event thread to notice first
  port->Open();
  pty.CloseMaster();
  char byte = 0;
  EComPort read = Raised([&] { port->Read(&byte, 1); });
  EXPECT_EQ(read.Code, 3);
  EXPECT_EQ(read.OsError, EIO);
  EXPECT_EQ(std::string(read.what()), "ReadFile function failed (errno: 5, EIO)\r\nПорт " + pty.SlavePath +
                                          ": ошибка ввода-вывода. Устройство отключено или неисправно:\r\n"
                                          "адаптер вынут из компьютера или другой конец линии закрыт.");
  EXPECT_FALSE(port->Connected());
  EXPECT_TRUE(port->DeviceLost());
}

}  // namespace
