#include "ads/services/timing.h"

#include <gtest/gtest.h>

#include "ads/services/absolute_time.h"
#include "ads/services/test_support.h"
#include "platform/foundation/user_defaults.h"

using foundation::Clock;
using foundation::Dictionary;
using foundation::Value;

struct TimingTest : qma_test::DeviceRootTest {};

TEST_F(TimingTest, AbsoluteTimeStartsAtOneAndFollowsTheProcessClock) {
  std::uint64_t first = QMACurrentAbsoluteTimeInMilliseconds();
  EXPECT_GE(first, 1u);
  Clock::advance(0.25);
  EXPECT_EQ(QMACurrentAbsoluteTimeInMilliseconds(), first + 250);
  EXPECT_EQ(QMAAbsoluteTime::absoluteTimeInMilliseconds(), Value(static_cast<long long>(first + 250)));
}

TEST_F(TimingTest, ElapsedFollowsStartEndAndExplicitEnd) {
  auto idle = QMATiming::initWithCategory("idle");
  idle->end();  // never started: stays idle
  EXPECT_EQ(idle->elapsedMilliseconds(), 0u);
  EXPECT_FALSE(idle->isActive());

  auto running = QMATiming::initWithCategory("running");
  running->start();
  Clock::advance(0.120);
  EXPECT_TRUE(running->isActive());
  EXPECT_EQ(running->elapsedMilliseconds(), 120u);  // the time so far

  auto explicitEnd = QMATiming::initWithCategory("explicit");
  explicitEnd->setExplicitEnd(true);
  explicitEnd->start();
  Clock::advance(0.050);
  EXPECT_EQ(explicitEnd->elapsedMilliseconds(), 0u);
  explicitEnd->end();
  EXPECT_EQ(explicitEnd->elapsedMilliseconds(), 50u);
  EXPECT_EQ(explicitEnd->elapsedMillisecondsString(), "50");
  Clock::advance(0.010);
  explicitEnd->end();  // a second end moves the end
  EXPECT_EQ(explicitEnd->elapsedMilliseconds(), 60u);
  explicitEnd->start();  // a restart reopens it
  EXPECT_TRUE(explicitEnd->isActive());
  explicitEnd->reset();
  EXPECT_EQ(explicitEnd->startTimestamp(), 0u);
}

TEST_F(TimingTest, RestoredTimingsKeepTheirStampsAndNeverWrapBelowZero) {
  auto unnamed = QMATiming::initWithCategory();
  EXPECT_EQ(unnamed->category().rfind("QMATiming (0x", 0), 0u);

  auto t = QMATiming::initWithCategory("adapter");
  t->setValueForKey(Value("x"), "k");
  t->start();
  t->end();
  auto rep = t->dictionaryRepresentation();
  EXPECT_EQ(rep.at("userData"), Value(Dictionary{{"k", Value("x")}}));
  t->removeValueForKey("k");
  EXPECT_EQ(t->dictionaryRepresentation().count("userData"), 0u);  // empty user data is left out

  // A timing stored by an earlier run whose clock was far ahead of this run's.
  std::uint64_t ahead = QMACurrentAbsoluteTimeInMilliseconds() + 1'000'000;
  auto restored = QMATiming::initWithDictionaryRepresentation(
      {{"category", Value("old")}, {"start", Value(static_cast<long long>(ahead))}, {"end", Value(0)}});
  EXPECT_EQ(restored->startTimestamp(), ahead);
  EXPECT_FALSE(restored->explicitEnd());
  EXPECT_EQ(restored->elapsedMilliseconds(), 0u);
  restored->end();  // ended in this run, before its restored start
  EXPECT_EQ(restored->elapsedMilliseconds(), 0u);

  auto copy = t->copy();
  EXPECT_EQ(copy->dictionaryRepresentation(), t->dictionaryRepresentation());
}

TEST_F(TimingTest, ManagerStoresItsTableAndARelaunchBringsItBack) {
  {
    auto m = QMATimingManager::init();
    m->setIdentifier("unit-1");
    auto t = m->addTimingWithCategory("adapter");
    t->start();
    Clock::advance(0.040);
    t->end();
    m->addTimingWithCategory("gone");
    m->removeTimingForCategory("gone");  // not saved: comes back after a relaunch
    m->applicationWillTerminate();
  }
  relaunchDefaults();
  auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("quillon_timing_unit-1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 2u);

  auto m = QMATimingManager::init();
  m->setIdentifier("unit-1");
  auto adapter = m->timingForCategory("adapter");
  ASSERT_TRUE(adapter);
  EXPECT_EQ(adapter->elapsedMilliseconds(), 40u);
  EXPECT_TRUE(m->timingForCategory("gone"));

  // A second load with the same identifier overwrites what changed in memory.
  adapter->setEndTimestamp(adapter->startTimestamp() + 5);
  m->setIdentifier("unit-1");
  EXPECT_EQ(m->timingForCategory("adapter")->elapsedMilliseconds(), 40u);
}

TEST_F(TimingTest, TheTerminateNotificationWaitsForQueuedSaves) {
  auto m = QMATimingManager::init();
  m->setIdentifier("unit-2");
  for (int i = 0; i < 20; ++i) m->addTimingWithCategory("c" + std::to_string(i));
  foundation::NotificationCenter::defaultCenter().postNotificationName("UIApplicationWillTerminateNotification");
  EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("quillon_timing_unit-2")->size(), 20u);
}
