#include "ads/services/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "ads/services/test_support.h"

using foundation::Clock;

struct SchedulerTest : qma_test::DeviceRootTest {};

TEST_F(SchedulerTest, BlockTimersFireOnTheMainRunLoopInEveryModeAndStopWhenInvalidated) {
  int fired = 0;
  std::shared_ptr<QMATimer> seen;
  auto timer = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      2.0, true, 0.2, [&](const std::shared_ptr<QMATimer>& t) {
        EXPECT_TRUE(dispatch::isMainThread());
        seen = t;
        ++fired;
      });
  EXPECT_DOUBLE_EQ(timer->tolerance(), 0.2);
  Clock::advance(1.9);
  drainMain();
  EXPECT_EQ(fired, 0);
  Clock::advance(0.1);
  dispatch::RunLoop::main().runOnce(0, dispatch::RunLoopMode::Tracking);  // common modes: fires while tracking
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(seen, timer);
  Clock::advance(2.0);
  drainMain();
  EXPECT_EQ(fired, 2);
  // Invalidated from another thread.
  std::thread([&] { timer->invalidate(); }).join();
  EXPECT_FALSE(timer->isValid());
  Clock::advance(10);
  drainMain();
  EXPECT_EQ(fired, 2);

  auto once = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(1, false, 0, [&](auto&) { ++fired; });
  EXPECT_DOUBLE_EQ(once->tolerance(), 0);
  Clock::advance(5);
  drainMain();
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(once->isValid());

  // A repeating timer with a period of 0 fires once instead of spinning.
  auto zero = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(0, true, 0, [&](auto&) { ++fired; });
  drainMain();
  drainMain();
  EXPECT_EQ(fired, 4);
}

TEST_F(SchedulerTest, TicksDispatchEveryTaskToItsQueueEachPeriodAfterStart) {
  auto s = QMAScheduler::initWithInterval(10);
  ASSERT_TRUE(s);
  auto q = dispatch::Queue::createSerial("tasks");
  std::atomic<int> onQueue{0};
  int onMain = 0;
  EXPECT_EQ(s->taskIDScheduledOnQueueBlock(q, [&] { onQueue.fetch_add(1); }), 1);
  EXPECT_EQ(s->taskIDScheduledOnQueueBlock(dispatch::Queue::main(), [&] { ++onMain; }), 2);
  EXPECT_EQ(s->taskIDScheduledOnQueueBlock(nullptr, [] {}), -1);
  EXPECT_EQ(s->taskIDScheduledOnQueueBlock(q, nullptr), -1);
  EXPECT_EQ(s->taskIDScheduledOnQueueBlock(q, [] {}), 3);
  s->unscheduleTaskWithID(3);
  s->unscheduleTaskWithID(99);
  EXPECT_EQ(s->description().substr(s->description().find(':')), ": 2 blocks, 10.000000 interval");

  Clock::advance(10);  // registration alone does not start the timer
  drainMain();
  EXPECT_EQ(onMain, 0);

  s->start();
  auto timer = s->timer();
  s->start();  // a second start keeps the running timer
  EXPECT_EQ(s->timer(), timer);
  EXPECT_DOUBLE_EQ(timer->tolerance(), 1.0);
  Clock::advance(10);
  drainMain();  // the tick runs on main and queues the main task behind it
  drainMain();
  waitFor(q);
  EXPECT_EQ(onMain, 1);
  EXPECT_EQ(onQueue.load(), 1);

  s->stop();
  Clock::advance(5);
  s->start();  // the first tick comes one full period after the restart
  Clock::advance(5);
  drainMain();
  EXPECT_EQ(onMain, 1);
  Clock::advance(5);
  drainMain();
  drainMain();
  EXPECT_EQ(onMain, 2);

  s.reset();  // a dropped scheduler ticks no more
  Clock::advance(10);
  drainMain();
  drainMain();
  EXPECT_EQ(onMain, 2);
  // The ticks also queued blocks on `q` that count into this frame: they end here.
  waitFor(q);
  EXPECT_EQ(onQueue.load(), 2);
}

TEST(Scheduler, RefusesPeriodsThatWouldSpin) {
  EXPECT_FALSE(QMAScheduler::initWithInterval(0));
  EXPECT_FALSE(QMAScheduler::initWithInterval(-5));
  EXPECT_FALSE(QMAScheduler::initWithInterval(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(QMAScheduler::initWithInterval(std::numeric_limits<double>::infinity()));
}
