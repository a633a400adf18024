#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "toolkit/SyncQueue.h"

namespace {

TEST(SyncQueue, SynchronizeRunsOnTheUiThreadAndRaisesItsErrorInTheWorker) {
  TSyncQueue q;
  std::thread::id ranOn;
  std::string caught;
  std::thread worker([&] {
    q.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      q.Synchronize([] { throw std::runtime_error("device failed"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    worker.join();
    done = true;
    q.WakeWaiters();
  });
  q.WaitServing([&] { return done.load(); });
  watcher.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "device failed");
}

TEST(SyncQueue, WaitServingLeavesPostedCallsForTheLoop) {
  TSyncQueue q;
  int posted = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    q.Post([&] { ++posted; });
    q.Synchronize([] {});
    done = true;
    q.WakeWaiters();
  });
  q.WaitServing([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(posted, 0);
  EXPECT_TRUE(q.RunPending());
  EXPECT_EQ(posted, 1);
}

TEST(SyncQueue, ASentMessageReleasesTheSenderAsSoonAsItReplies) {
  TSyncQueue q;
  std::atomic<bool> senderReleased{false};
  bool releasedBeforeProcedureEnded = false;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    q.Send([&](const std::function<void()>& reply) {
      reply();
      for (int i = 0; i < 200 && !senderReleased; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      releasedBeforeProcedureEnded = senderReleased;
    });
    senderReleased = true;
    done = true;
    q.WakeWaiters();
  });
  q.WaitServing([&] { return done.load(); });
  worker.join();
  EXPECT_TRUE(releasedBeforeProcedureEnded);
}

}  // namespace
