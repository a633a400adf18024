#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UnitSimTestSupport.h"
#include "toolkit/VirtualToolkit.h"
#include "unitsim/SimComPlatform.h"

using namespace ComApi;

namespace {

constexpr uint32_t kPortMask = EV_RXCHAR | EV_TXEMPTY | EV_RXFLAG;

std::unique_ptr<TComDevice> Open(TSimComPlatform& platform, const std::string& name) {
  return platform.CreateFile("\\\\.\\" + name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED);
}

void WriteBytes(TComDevice& device, const std::vector<uint8_t>& bytes) {
  auto record = device.CreateAsyncRecord();
  for (uint8_t b : bytes) ASSERT_TRUE(device.WriteFile(&b, 1, *record));
}

// The event thread's loop as the port runs it: wait, hand the batch to the user-interface thread, repeat;
// mask 0 and a purge on the way out.
class TEventLoop {
 public:
  TEventLoop(TSimComPlatform& platform, TComDevice& device, TVirtualToolkit& tk,
             std::function<void(uint32_t)> deliver)
      : device_(device), tk_(tk), deliver_(std::move(deliver)), stop_(platform.CreateEvent(true, false)) {
    thread_ = std::thread([this] { Body(); });
  }
  ~TEventLoop() { Stop(); }
  // Waits for a loop that ends by itself, serving its hand-offs meanwhile.
  void Join() {
    tk_.WaitServing([&] { return ended_.load(); });
    thread_.join();
  }
  void Stop() {
    if (!thread_.joinable()) return;
    stop_->Set();
    tk_.WaitServing([&] { return ended_.load(); });
    thread_.join();
  }
  uint32_t EndResult() const { return endResult_; }

 private:
  void Body() {
    auto record = device_.CreateAsyncRecord();
    uint32_t mask = 0;
    for (;;) {
      device_.WaitCommEvent(mask, *record);
      const uint32_t r = device_.WaitForStopOrRecord(*stop_, *record);
      if (r != WAIT_OBJECT_0 + 1) {
        endResult_ = r;
        break;
      }
      uint32_t n;
      if (device_.GetOverlappedResult(*record, n)) {
        const uint32_t events = mask;
        tk_.Synchronize([&] { deliver_(events); });
      }
    }
    device_.SetCommMask(0);
    device_.PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
    ended_ = true;
    tk_.WakeWaiters();
  }

  TComDevice& device_;
  TVirtualToolkit& tk_;
  std::function<void(uint32_t)> deliver_;
  std::unique_ptr<TPlatformEvent> stop_;
  std::atomic<bool> ended_{false};
  std::atomic<uint32_t> endResult_{0};
  std::thread thread_;
};

struct VirtualDeviceTest : ::testing::Test {
  TVirtualToolkit tk;
  TSimComPlatform platform{tk};
  TSimBus& bus = platform.AddPort("COM3");
  TSimUnit& unit = bus.AddUnit(3);
  std::unique_ptr<TComDevice> device = Open(platform, "COM3");
  std::unique_ptr<TPlatformEvent> stop = platform.CreateEvent(true, false);

  uint32_t Inbox() {
    uint32_t errors;
    TComStat stat;
    EXPECT_TRUE(device->ClearCommError(errors, stat));
    return stat.cbInQue;
  }
};

TEST_F(VirtualDeviceTest, EveryByteReachesTheHandlerAtItsOwnVirtualTime) {
  ASSERT_TRUE(device->SetCommMask(kPortMask));
  struct TBatch {
    uint32_t Mask;
    int64_t TimeUs;
  };
  std::vector<TBatch> batches;
  std::vector<std::pair<uint8_t, int64_t>> received;
  auto reader = device->CreateAsyncRecord();
  TEventLoop loop(platform, *device, tk, [&](uint32_t mask) {
    batches.push_back({mask, tk.NowUs()});
    if (!(mask & EV_RXCHAR)) return;
    for (uint32_t n = Inbox(); n > 0; --n) {
      uint8_t b = 0;
      uint32_t got = 0;
      ASSERT_TRUE(device->ReadFile(&b, 1, *reader));
      ASSERT_TRUE(device->GetOverlappedResult(*reader, got));
      ASSERT_EQ(got, 1u);
      received.push_back({b, tk.NowUs()});
    }
  });
  WriteBytes(*device, Identify(3));
  tk.RunFor(20'000);
  loop.Stop();

  ASSERT_EQ(received.size(), 11u);
  const auto reply = Identify(3);
  for (int k = 0; k < 11; ++k) {
    EXPECT_EQ(received[k].first, reply[k]);
    EXPECT_EQ(received[k].second, ByteEndUs(3865, k));
  }
  ASSERT_EQ(batches.size(), 12u);
  EXPECT_EQ(batches[0].Mask, EV_TXEMPTY);
  EXPECT_EQ(batches[0].TimeUs, 2865);
  EXPECT_EQ(batches[1].Mask, EV_RXCHAR);
  EXPECT_EQ(batches[6].Mask, EV_RXCHAR | EV_RXFLAG);  // reply byte 5 is 0x00, the event character
  EXPECT_TRUE(platform.Device("COM3")->Quiescent());
}

TEST_F(VirtualDeviceTest, AMaskChangeCompletesAPendingWaitAtOnce) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto record = device->CreateAsyncRecord();
  uint32_t mask = 0xFFFF, n = 0;
  EXPECT_FALSE(device->WaitCommEvent(mask, *record));
  EXPECT_EQ(platform.GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(device->GetOverlappedResult(*record, n));
  EXPECT_TRUE(platform.Device("COM3")->Quiescent());

  ASSERT_TRUE(device->SetCommMask(kPortMask));
  EXPECT_EQ(device->WaitForStopOrRecord(*stop, *record), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(device->GetOverlappedResult(*record, n));
  EXPECT_EQ(mask, 0u);
  // The worker still has to come back for its next wait.
  EXPECT_FALSE(platform.Device("COM3")->Quiescent());
  EXPECT_FALSE(device->WaitCommEvent(mask, *record));
  EXPECT_TRUE(platform.Device("COM3")->Quiescent());

  // Mask 0 ends the wait of a worker on its way out: nothing is handed out.
  ASSERT_TRUE(device->SetCommMask(0));
  EXPECT_EQ(device->WaitForStopOrRecord(*stop, *record), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(platform.Device("COM3")->Quiescent());
  EXPECT_FALSE(device->WaitCommEvent(mask, *record));  // no mask, nothing to wait for
}

TEST_F(VirtualDeviceTest, EventsBeforeAWaitAreReportedByItAndHoldTheClockUntilTakenUp) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_TXEMPTY));
  auto* sim = platform.Device("COM3");
  WriteBytes(*device, Identify(3));
  bus.RunDue(2865);  // the request has left: tx empty, with no wait outstanding
  EXPECT_FALSE(sim->Quiescent());

  auto record = device->CreateAsyncRecord();
  uint32_t mask = 0, n = 0;
  EXPECT_TRUE(device->WaitCommEvent(mask, *record));
  EXPECT_EQ(mask, EV_TXEMPTY);
  EXPECT_TRUE(device->GetOverlappedResult(*record, n));
  EXPECT_FALSE(sim->Quiescent());  // handed out, not yet taken up
  EXPECT_FALSE(device->WaitCommEvent(mask, *record));
  EXPECT_TRUE(sim->Quiescent());

  // A reply byte completes the armed wait; when the stop comes at the same moment, the stop wins.
  bus.RunDue(ByteEndUs(3865, 0));
  EXPECT_FALSE(sim->Quiescent());
  stop->Set();
  EXPECT_EQ(device->WaitForStopOrRecord(*stop, *record), WAIT_OBJECT_0);
  EXPECT_TRUE(sim->Quiescent());
  EXPECT_EQ(Inbox(), 1u);

  // A new mask starts a new history, and events outside the mask leave none.
  bus.RunDue(40'000);
  EXPECT_FALSE(sim->Quiescent());  // the rest of the reply, with no wait outstanding
  ASSERT_TRUE(device->SetCommMask(EV_BREAK));
  EXPECT_TRUE(sim->Quiescent());
  WriteBytes(*device, Identify(3));
  bus.RunDue(80'000);
  EXPECT_EQ(Inbox(), 22u);
  EXPECT_TRUE(sim->Quiescent());
}

TEST_F(VirtualDeviceTest, ReadsTakeWhatIsThereAndTheQueuesReportAndPurge) {
  ASSERT_TRUE(device->SetupComm(16, 16));
  auto record = device->CreateAsyncRecord();
  uint8_t buffer[300];
  uint32_t got = 99;
  EXPECT_TRUE(device->ReadFile(buffer, 5, *record));  // virtual time never blocks a reader
  EXPECT_TRUE(device->GetOverlappedResult(*record, got));
  EXPECT_EQ(got, 0u);

  WriteBytes(*device, Select(3, 0x42));
  bus.RunDue(100'000);
  EXPECT_EQ(Inbox(), 11u);
  EXPECT_TRUE(device->ReadFile(buffer, 4, *record));
  EXPECT_TRUE(device->GetOverlappedResult(*record, got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{0xE2, 0xE4, 0x05, 0x03}));
  EXPECT_EQ(Inbox(), 7u);
  EXPECT_TRUE(device->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR));
  EXPECT_EQ(Inbox(), 0u);

  // More than the input queue holds: the rest is lost and reported as an overrun of the queue.
  WriteBytes(*device, Read(3, 40));
  bus.RunDue(200'000);
  uint32_t errors = 0;
  TComStat stat;
  ASSERT_TRUE(device->ClearCommError(errors, stat));
  EXPECT_EQ(stat.cbInQue, 16u);
  EXPECT_EQ(errors, CE_RXOVER);
  ASSERT_TRUE(device->ClearCommError(errors, stat));
  EXPECT_EQ(errors, 0u);
}

TEST_F(VirtualDeviceTest, AnUnpluggedAdapterFailsEveryCallAndEndsTheWait) {
  ASSERT_TRUE(device->SetCommMask(kPortMask));
  TEventLoop loop(platform, *device, tk, [](uint32_t) {});
  tk.RunFor(1000);
  platform.Unplug("COM3");
  loop.Join();
  EXPECT_EQ(loop.EndResult(), WAIT_FAILED);

  auto record = device->CreateAsyncRecord();
  uint8_t b = 0;
  uint32_t errors;
  TComStat stat;
  EXPECT_FALSE(device->WriteFile(&b, 1, *record));
  EXPECT_EQ(platform.GetLastError(), SimError::Unplugged);
  EXPECT_FALSE(device->ReadFile(&b, 1, *record));
  EXPECT_EQ(platform.GetLastError(), SimError::Unplugged);
  EXPECT_FALSE(device->ClearCommError(errors, stat));
  EXPECT_FALSE(device->SetCommMask(kPortMask));
  EXPECT_TRUE(platform.Device("COM3") == nullptr);
  tk.RunFor(1000);  // nothing left to settle

  EXPECT_TRUE(Open(platform, "COM3") == nullptr);
  EXPECT_EQ(platform.GetLastError(), ERROR_FILE_NOT_FOUND);
  platform.Replug("COM3");
  auto again = Open(platform, "COM3");
  ASSERT_TRUE(again != nullptr);  // the dead handle does not hold the name
  EXPECT_TRUE(device->CloseHandle());
}

TEST_F(VirtualDeviceTest, PortNamesOpenOnceAndErrorsStayWithTheirThread) {
  EXPECT_TRUE(Open(platform, "COM9") == nullptr);
  EXPECT_EQ(platform.GetLastError(), ERROR_FILE_NOT_FOUND);
  uint32_t otherThread = 0;
  std::thread([&] {
    EXPECT_TRUE(Open(platform, "COM3") == nullptr);
    otherThread = platform.GetLastError();
  }).join();
  EXPECT_EQ(otherThread, ERROR_ACCESS_DENIED);
  EXPECT_EQ(platform.GetLastError(), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(device->CloseHandle());
  EXPECT_FALSE(device->CloseHandle());
  EXPECT_EQ(platform.GetLastError(), ERROR_INVALID_HANDLE);
  uint32_t status;
  EXPECT_FALSE(device->GetCommModemStatus(status));
  EXPECT_TRUE(Open(platform, "com3") != nullptr);

  platform.AddPort("/dev/ttyUSB0");
  EXPECT_EQ(platform.AdapterPortNames(), (std::vector<std::string>{"/dev/ttyUSB0"}));
}

TEST_F(VirtualDeviceTest, TheUnitsHearNothingAtTheWrongBaudRate) {
  TDcb dcb = platform.Device("COM3")->CommState();
  dcb.ByteSize = 9;
  EXPECT_FALSE(device->SetCommState(dcb));
  EXPECT_EQ(platform.GetLastError(), SimError::ERROR_INVALID_PARAMETER);
  dcb.ByteSize = 8;
  dcb.BaudRate = 9600;
  ASSERT_TRUE(device->SetCommState(dcb));
  WriteBytes(*device, Identify(3));
  bus.RunDue(100'000);
  EXPECT_EQ(Inbox(), 0u);
  ASSERT_EQ(bus.Trace().size(), 1u);
  EXPECT_TRUE(bus.Trace()[0].Garbled);
}

TEST(RealTimeDevice, RepliesArriveOnTheirOwnAndReadsFollowTheirTimeouts) {
  TSimComPlatform platform;
  TSimBus& bus = platform.AddPort("COM5");
  {
    auto lock = bus.Lock();
    bus.AddUnit(3);
  }
  auto device = Open(platform, "COM5");
  ASSERT_TRUE(device != nullptr);
  ASSERT_TRUE(device->SetCommTimeouts({1, 0, 0, 0, 0}));
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto stop = platform.CreateEvent(true, false);
  auto waiter = device->CreateAsyncRecord();
  uint32_t mask = 0, n = 0;
  EXPECT_FALSE(device->WaitCommEvent(mask, *waiter));
  WriteBytes(*device, Identify(3));
  EXPECT_EQ(device->WaitForStopOrRecord(*stop, *waiter), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(device->GetOverlappedResult(*waiter, n));
  EXPECT_EQ(mask, EV_RXCHAR);

  // A read waits for its first byte without limit and then for the rest while they keep coming.
  std::vector<uint8_t> reply;
  auto reader = device->CreateAsyncRecord();
  while (reply.size() < 11) {
    uint8_t buffer[11];
    if (!device->ReadFile(buffer, uint32_t(11 - reply.size()), *reader)) {
      ASSERT_EQ(platform.GetLastError(), ERROR_IO_PENDING);
      ASSERT_EQ(device->WaitForRecord(*reader), WAIT_OBJECT_0);
    }
    ASSERT_TRUE(device->GetOverlappedResult(*reader, n));
    reply.insert(reply.end(), buffer, buffer + n);
  }
  EXPECT_EQ(reply, Identify(3));
  const auto replies = bus.Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].StartUs, bus.Requests()[0].EndUs + 1000);

  // A total timeout ends a read that gets nothing; an abort ends one without a timeout.
  uint8_t b;
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 30, 0, 0}));
  EXPECT_FALSE(device->ReadFile(&b, 1, *reader));
  EXPECT_EQ(device->WaitForRecord(*reader), WAIT_OBJECT_0);
  EXPECT_TRUE(device->GetOverlappedResult(*reader, n));
  EXPECT_EQ(n, 0u);
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 0, 0, 0}));
  EXPECT_FALSE(device->ReadFile(&b, 1, *reader));
  EXPECT_TRUE(device->PurgeComm(PURGE_RXABORT));
  EXPECT_FALSE(device->GetOverlappedResult(*reader, n));
  EXPECT_EQ(platform.GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(device->CloseHandle());
}

}  // namespace
