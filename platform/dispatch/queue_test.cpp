#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/clock.h"

namespace dispatch {
namespace {

using foundation::Clock;

TEST(SerialQueue, RunsBlocksOneAtATimeInOrderAndSyncSeesEveryEarlierBlock) {
  auto q = Queue::createSerial("com.example.order");
  EXPECT_EQ(q->label(), "com.example.order");
  std::vector<int> seen;  // touched only on the queue
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        q->async([&, t, i] {
          if (inside.fetch_add(1) != 0) overlapped = true;
          seen.push_back(t * 1000 + i);
          inside.fetch_sub(1);
        });
      }
    });
  }
  for (auto& p : producers) p.join();
  std::size_t count = 0;
  q->sync([&] { count = seen.size(); });
  EXPECT_EQ(count, 800u);
  EXPECT_FALSE(overlapped);
  // Per producer, blocks ran in the order they were queued.
  for (int t = 0; t < 4; ++t) {
    int last = -1;
    for (int v : seen)
      if (v / 1000 == t) {
        EXPECT_GT(v % 1000, last);
        last = v % 1000;
      }
  }
}

TEST(SerialQueue, SyncFromItsOwnBlockRunsInlineAndNestedSyncAcrossQueuesWorks) {
  auto a = Queue::createSerial("a");
  auto b = Queue::createSerial("b");
  std::vector<std::string> trace;
  a->sync([&] {
    EXPECT_TRUE(a->isCurrent());
    EXPECT_EQ(currentQueueLabel(), "a");
    a->sync([&] { trace.push_back("a-inner"); });
    b->sync([&] {
      EXPECT_EQ(currentQueueLabel(), "b");
      b->sync([&] { trace.push_back("b-inner"); });
    });
  });
  EXPECT_FALSE(a->isCurrent());
  EXPECT_EQ(trace, (std::vector<std::string>{"a-inner", "b-inner"}));
}

TEST(SerialQueue, ManySyncCallersWaitingAtOnceDoNotStarveTheQueue) {
  auto q = Queue::createSerial("busy");
  std::atomic<int> total{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        q->async([&] { total.fetch_add(1); });
        q->sync([&] { total.fetch_add(1); });
      }
    });
  for (auto& t : threads) t.join();
  q->sync([] {});
  EXPECT_EQ(total.load(), 3200);
}

// A sync caller that finds the queue busy waits on a hand-over object on its own stack;
// the draining thread gives it the queue and may still be touching that object when the
// caller, already running, returns. ThreadSanitizer flags any use of it after the hand-over.
TEST(SerialQueue, SyncCallersHandedTheQueueByABusyDrainCanReturnAtOnce) {
  auto q = Queue::createSerial("handover");
  std::atomic<int> ran{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t)
    callers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        q->async([&] { ran.fetch_add(1, std::memory_order_relaxed); });  // keeps a drain running
        int mine = 0;
        q->sync([&] { ++mine; });  // usually queued behind it, so handed over by the drain
        ASSERT_EQ(mine, 1);
      }
    });
  for (auto& c : callers) c.join();
  q->sync([] {});
  EXPECT_EQ(ran.load(), 8000);
}

TEST(SerialQueue, BlocksStillQueuedWhenTheLastOwnerLetsGoRunAndKnowTheirQueue) {
  std::atomic<bool> open{false};
  std::promise<std::string> label;
  {
    auto q = Queue::createSerial("com.example.orphaned");
    q->async([&] {
      while (!open.load()) std::this_thread::yield();
    });
    q->async([&] { label.set_value(currentQueueLabel()); });
  }
  open = true;
  EXPECT_EQ(label.get_future().get(), "com.example.orphaned");
}

TEST(MainQueue, BlocksWaitForTheMainRunLoopAndSyncFromAWorkerIsServedByIt) {
  ASSERT_TRUE(isMainThread());
  auto main = Queue::main();
  std::vector<int> order;
  main->async([&] { order.push_back(1); });
  main->async([&] {
    EXPECT_TRUE(isMainThread());
    order.push_back(2);
  });
  EXPECT_TRUE(order.empty());
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    main->sync([&] { order.push_back(3); });  // after the two queued blocks
    workerDone = true;
  });
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return workerDone.load(); }, 30.0));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  // On the main thread a sync runs at once.
  main->sync([&] { order.push_back(4); });
  EXPECT_EQ(order.back(), 4);
}

TEST(GlobalQueue, RunsBlocksInParallel) {
  // Two blocks that each wait for the other can only finish when they run side by side.
  std::atomic<int> arrived{0};
  std::atomic<int> finished{0};
  for (int i = 0; i < 2; ++i)
    Queue::global()->async([&] {
      arrived.fetch_add(1);
      while (arrived.load() < 2) std::this_thread::yield();
      finished.fetch_add(1);
    });
  while (finished.load() < 2) std::this_thread::yield();
  SUCCEED();
}

struct DelayedBlocks : ::testing::Test {
  void SetUp() override { Clock::useManual(1'000'000); }
  void TearDown() override { Clock::useSystem(); }
};

TEST_F(DelayedBlocks, AfterQueuesTheBlockWhenTheClockPassesItsDueTime) {
  auto q = Queue::createSerial("later");
  std::vector<std::string> ran;
  after(2.0, q, [&] { ran.push_back("2s"); });
  after(1.0, q, [&] { ran.push_back("1s"); });
  after(0, Queue::main(), [&] { ran.push_back("now-main"); });
  q->sync([] {});
  EXPECT_TRUE(ran.empty());
  Clock::advance(1.5);
  q->sync([] {});
  EXPECT_EQ(ran, (std::vector<std::string>{"1s"}));
  Clock::advance(0.5);
  q->sync([] {});
  RunLoop::main().drain();
  EXPECT_EQ(ran, (std::vector<std::string>{"1s", "2s", "now-main"}));
}

TEST(Once, RunsExactlyOnceAcrossRacingThreads) {
  OnceFlag flag;
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once(flag, [&] { calls.fetch_add(1); }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(calls.load(), 1);
}

TEST(OperationQueue, BoundOfOneRunsOperationsOneAtATimeAndWaitReturnsWhenIdle) {
  auto q = OperationQueue::create("ops", 1);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> order;
  for (int i = 0; i < 50; ++i)
    q->addOperationWithBlock([&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      EXPECT_TRUE(q->isCurrent());
      q->waitUntilAllOperationsAreFinished();  // from inside: returns instead of waiting for itself
      order.push_back(i);
      inside.fetch_sub(1);
    });
  q->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(q->operationCount(), 0u);
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(OperationQueue, MainQueueRunsOnTheMainThread) {
  auto q = OperationQueue::mainQueue();
  bool onMain = false;
  q->addOperationWithBlock([&] { onMain = isMainThread(); });
  q->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace dispatch

#ifndef NDEBUG
namespace dispatch {
namespace {

TEST(ThreadChecksDeathTest, AWrongHopAbortsWithTheRuleAndTheQueue) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto q = Queue::createSerial("com.example.checked");
  WV_DCHECK_MAIN_THREAD();
  WV_DCHECK_NOT_ON_QUEUE(q);
  q->sync([&] { WV_DCHECK_ON_QUEUE(q); });
  EXPECT_DEATH(WV_DCHECK_ON_QUEUE(q), "must run on queue q");
  EXPECT_DEATH(std::thread([&] { q->sync([] { WV_DCHECK_MAIN_THREAD(); }); }).join(), "main thread.*com.example.checked");
  GTEST_FLAG_SET(death_test_style, style);
}
}  // namespace
}  // namespace dispatch
#endif
