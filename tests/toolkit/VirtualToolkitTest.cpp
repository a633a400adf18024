#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "toolkit/Exceptions.h"
#include "toolkit/VirtualToolkit.h"

namespace {

struct VirtualToolkitTest : ::testing::Test {
  TVirtualToolkit tk;
  void SetUp() override { SetToolkit(&tk); }
  void TearDown() override { SetToolkit(nullptr); }
};

// A wait as the link layer does it: the timer's own handler stops it.
void WaitOn(TTimer& timer) {
  timer.SetEnabled(true);
  while (timer.Enabled()) Toolkit().ProcessMessages();
}

TEST_F(VirtualToolkitTest, TimersFireOnTheVirtualClockInTheOrderTheyWereStarted) {
  auto reply = tk.CreateTimer(), probe = tk.CreateTimer();
  reply->SetInterval(250);
  probe->SetInterval(250);
  std::vector<std::pair<std::string, int64_t>> fired;
  reply->OnTimer = [&] { fired.push_back({"reply", tk.NowUs()}); reply->SetEnabled(false); };
  probe->OnTimer = [&] { fired.push_back({"probe", tk.NowUs()}); probe->SetEnabled(false); };
  reply->SetEnabled(true);
  WaitOn(*probe);
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_EQ(fired[0], (std::pair<std::string, int64_t>{"reply", 250000}));
  EXPECT_EQ(fired[1], (std::pair<std::string, int64_t>{"probe", 250000}));
}

TEST_F(VirtualToolkitTest, EnablingARunningTimerDoesNotRestartItAndATimerRepeatsUntilStopped) {
  auto t = tk.CreateTimer();
  t->SetInterval(250);
  std::vector<int64_t> ticks;
  t->OnTimer = [&] {
    ticks.push_back(tk.NowUs());
    if (ticks.size() == 3) t->SetEnabled(false);
  };
  t->SetEnabled(true);
  tk.RunFor(60000);
  t->SetEnabled(true);  // already running: keeps counting from 0
  tk.RunUntilIdle();
  EXPECT_EQ(ticks, (std::vector<int64_t>{250000, 500000, 750000}));
}

TEST_F(VirtualToolkitTest, OperatorActionsRunAtTheirTimeInsideAWait) {
  auto pacing = tk.CreateTimer();
  pacing->SetInterval(60);
  pacing->OnTimer = [&] { pacing->SetEnabled(false); };
  int64_t clickedAt = -1;
  tk.At(30000, [&] { clickedAt = tk.NowUs(); });
  WaitOn(*pacing);
  EXPECT_EQ(clickedAt, 30000);
  EXPECT_EQ(tk.NowUs(), 60000);
}

TEST_F(VirtualToolkitTest, MessageBoxesAreRecordedAndTheLoopRunsWhileTheOperatorReads) {
  auto t = tk.CreateTimer();
  t->SetInterval(100);
  int ticks = 0;
  t->OnTimer = [&] { ++ticks; t->SetEnabled(false); };
  t->SetEnabled(true);
  tk.OperatorDelayUs = 500000;
  tk.MessageBox("Устройство не подключено", "Information", TMessageKind::mkInformation);
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "Устройство не подключено");
  EXPECT_EQ(tk.Messages()[0].TimeUs, 0);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(tk.NowUs(), 500000);
}

TEST_F(VirtualToolkitTest, AnErrorInATimerHandlerIsShownAndTheLoopGoesOn) {
  auto t = tk.CreateTimer();
  t->SetInterval(10);
  t->OnTimer = [&] {
    t->SetEnabled(false);
    throw Exception("boom");
  };
  t->SetEnabled(true);
  tk.RunUntilIdle();
  ASSERT_EQ(tk.Messages().size(), 1u);
  EXPECT_EQ(tk.Messages()[0].Text, "boom");
  EXPECT_EQ(tk.Messages()[0].Kind, TMessageKind::mkError);
}

TEST_F(VirtualToolkitTest, WaitingWithNothingScheduledIsReportedNotHung) {
  EXPECT_THROW(tk.ProcessMessages(), EVirtualStall);
}

// A source whose event is taken up by a worker thread after a real delay: the clock must not move on
// before the worker has handed its work over.
class SlowWorkerSource : public TVirtualSource {
 public:
  explicit SlowWorkerSource(TVirtualToolkit& tk) : tk_(tk) {}
  int64_t NextDueUs() override { return fired_ ? -1 : 1000; }
  void RunDue(int64_t) override {
    fired_ = true;
    busy_ = true;
    worker_ = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      busy_ = false;
      tk_.Synchronize([this] { deliveredAt = tk_.NowUs(); });
    });
  }
  bool Quiescent() override { return !busy_; }
  ~SlowWorkerSource() override {
    if (worker_.joinable()) worker_.join();
  }
  int64_t deliveredAt = -1;

 private:
  TVirtualToolkit& tk_;
  bool fired_ = false;
  std::atomic<bool> busy_{false};
  std::thread worker_;
};

TEST_F(VirtualToolkitTest, TheClockWaitsForWorkersToHandOverTheirEvents) {
  SlowWorkerSource source(tk);
  tk.AddSource(&source);
  auto t = tk.CreateTimer();
  t->SetInterval(2);  // due at 2 ms, just after the source's event at 1 ms
  t->OnTimer = [&] { t->SetEnabled(false); };
  WaitOn(*t);
  tk.RemoveSource(&source);
  EXPECT_EQ(source.deliveredAt, 1000);
}

// On the real clock the same waits take real time, and a worker's hand-over wakes a wait at once.
struct RealClockToolkitTest : ::testing::Test {
  TVirtualToolkit tk{TVirtualToolkit::TClock::Real};
  void SetUp() override { SetToolkit(&tk); }
  void TearDown() override { SetToolkit(nullptr); }
  static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(RealClockToolkitTest, TimersTakeAtLeastTheirIntervalOfRealTimeAndKeepTheirOrder) {
  auto reply = tk.CreateTimer(), probe = tk.CreateTimer();
  reply->SetInterval(40);
  probe->SetInterval(40);
  std::vector<std::string> fired;
  reply->OnTimer = [&] { fired.push_back("reply"); reply->SetEnabled(false); };
  probe->OnTimer = [&] { fired.push_back("probe"); probe->SetEnabled(false); };
  const auto start = std::chrono::steady_clock::now();
  reply->SetEnabled(true);
  WaitOn(*probe);
  EXPECT_GE(SecondsSince(start), 0.040);
  EXPECT_GE(tk.NowUs(), 40'000);
  EXPECT_EQ(fired, (std::vector<std::string>{"reply", "probe"}));
}

TEST_F(RealClockToolkitTest, AWaitWithNothingDueBlocksUntilAWorkerHandsSomethingOver) {
  auto never = tk.CreateTimer();
  never->SetInterval(600'000);
  never->OnTimer = [&] { never->SetEnabled(false); };
  never->SetEnabled(true);
  bool ran = false;
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    tk.Synchronize([&] { ran = true; });
  });
  const auto start = std::chrono::steady_clock::now();
  while (!ran) tk.ProcessMessages();
  worker.join();
  // Woken by the hand-over, not by the timer ten minutes away.
  EXPECT_LT(SecondsSince(start), 300.0);
  EXPECT_TRUE(never->Enabled());
  // With nothing scheduled at all the wait is no stall either: it waits for the next hand-over.
  never->SetEnabled(false);
  ran = false;
  std::thread second([&] { tk.Synchronize([&] { ran = true; }); });
  while (!ran) tk.ProcessMessages();
  second.join();
}

// The world outside runs in real time: the virtual clock stands still while the wait lasts.
TEST_F(VirtualToolkitTest, AWaitOutsideEndsWhenTheWorkerWakesItAndTheClockStandsStill) {
  bool fired = false;
  auto t = tk.CreateTimer();
  t->SetInterval(10);
  t->OnTimer = [&] { fired = true; };
  t->SetEnabled(true);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
    tk.WakeWaiters();
  });
  tk.WaitOutside([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(tk.NowUs(), 0);
  EXPECT_FALSE(fired);
}

}  // namespace
