#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <sys/resource.h>
#include <thread>

#include "toolkit/Exceptions.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/QtToolkit.h"

namespace {

struct QtToolkitTest : ::testing::Test {
  static void SetUpTestSuite() { EnsureApplication(); }
  TQtToolkit tk;
  void SetUp() override { SetToolkit(&tk); }
  void TearDown() override { SetToolkit(nullptr); }
};

TEST_F(QtToolkitTest, AWaitOnATimerBlocksInsteadOfSpinning) {
  auto t = tk.CreateTimer();
  t->SetInterval(300);
  t->OnTimer = [&] { t->SetEnabled(false); };
  double before = CpuSeconds();
  t->SetEnabled(true);
  int rounds = 0;
  while (t->Enabled()) {
    tk.ProcessMessages();
    ++rounds;
  }
  double used = CpuSeconds() - before;
  // A spinning loop would run hundreds of thousands of rounds and burn the whole 300 ms.
  EXPECT_LT(rounds, 100);
  EXPECT_LT(used, 0.15);
}

TEST_F(QtToolkitTest, SynchronizeFromAWorkerRunsInsideAnyLoopOfTheUiThread) {
  std::thread::id ranOn;
  std::thread worker([&] { tk.Synchronize([&] { ranOn = std::this_thread::get_id(); }); });
  while (ranOn == std::thread::id()) tk.ProcessMessages();
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(QtToolkitTest, WaitServingServesAWorkerThatIsBlockedDelivering) {
  std::atomic<bool> ended{false};
  int delivered = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) tk.Synchronize([&] { ++delivered; });
    ended = true;
    tk.WakeWaiters();
  });
  tk.WaitServing([&] { return ended.load(); });
  worker.join();
  EXPECT_EQ(delivered, 3);
}

TEST_F(QtToolkitTest, TheGuardShowsAnEscapingErrorInsteadOfLettingItIntoTheLoop) {
  // The operator presses OK as soon as the box is up.
  QString shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        shown = box->text();
        box->accept();
      }
  });
  closer.start(10);
  Guarded([] { throw Exception("Unable to open com port"); });
  EXPECT_EQ(shown, "Unable to open com port");
}

// A wait for something outside keeps the windows going (timers here) until the worker says it is done,
// and does not spin; on another thread it simply blocks.
TEST_F(QtToolkitTest, AWaitOutsideRunsTimersUntilTheWorkerWakesItAndBlocksElsewhere) {
  auto t = tk.CreateTimer();
  t->SetInterval(20);
  int ticks = 0;
  t->OnTimer = [&] { ++ticks; };
  t->SetEnabled(true);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
    tk.WakeWaiters();
  });
  const double before = CpuSeconds();
  tk.WaitOutside([&] { return done.load(); });
  const double used = CpuSeconds() - before;
  worker.join();
  EXPECT_GE(ticks, 3);
  EXPECT_LT(used, 0.15);

  std::atomic<bool> otherDone{false};
  bool returned = false;
  std::thread other([&] {
    tk.WaitOutside([&] { return otherDone.load(); });
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  otherDone = true;
  tk.WakeWaiters();
  other.join();
  EXPECT_TRUE(returned);
}

}  // namespace
