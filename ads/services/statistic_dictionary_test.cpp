#include "ads/services/statistic_dictionary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ads/services/test_support.h"
#include "platform/foundation/user_defaults.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// A delegate that counts its notices on a queue of its own.
// Lets a statistic dictionary's queued writes, its notice and the delegate's queue run.
void settle(const std::shared_ptr<QMAStatisticDictionary>& stats, const dispatch::QueuePtr& delegateQueue) {
  stats->serialQueue()->sync([] {});  // the writes, and the notice queued behind them
  stats->serialQueue()->sync([] {});
  delegateQueue->sync([] {});
}

struct CountingDelegate : QMAStatisticDictionaryDelegate {
  dispatch::QueuePtr queue = dispatch::Queue::createSerial("delegate");
  bool answersQueue = true;
  std::atomic<int> notices{0};
  std::shared_ptr<QMAStatisticDictionary> last;
  dispatch::QueuePtr notificationQueue() override { return answersQueue ? queue : nullptr; }
  void didUpdateStatisticDictionary(const std::shared_ptr<QMAStatisticDictionary>& d) override {
    EXPECT_TRUE(queue->isCurrent());
    last = d;
    notices.fetch_add(1);
  }
};

TEST(StatisticDictionary, ABurstOfWritesQueuedTogetherGivesOneNotice) {
  auto delegate = std::make_shared<CountingDelegate>();
  auto stats = QMAStatisticDictionary::initWithDelegate(delegate);
  EXPECT_EQ(stats->serialQueue()->label(), "com.quillon.pelmark.statistics");
  // Hold the queue so all ten increments are queued before the first runs.
  std::atomic<bool> release{false};
  stats->serialQueue()->async([&] {
    while (!release) std::this_thread::yield();
  });
  for (int i = 0; i < 10; ++i) stats->incrementNumberForKeyShouldNotifyDelegate("n", true);
  release = true;
  EXPECT_EQ(stats->objectForKey("n"), Value(10));
  settle(stats, delegate->queue);
  EXPECT_EQ(delegate->notices.load(), 1);
  EXPECT_EQ(delegate->last, stats);

  stats->setObjectForKeyShouldNotifyDelegate(Value("x"), "later", true);  // a new burst, a new notice
  settle(stats, delegate->queue);
  EXPECT_EQ(delegate->notices.load(), 2);
  stats->setObjectForKeyedSubscript(Value("quiet"), "s");
  settle(stats, delegate->queue);
  EXPECT_EQ(delegate->notices.load(), 2);
}

TEST(StatisticDictionary, CountersAndListsOnlyGrowFromTheirOwnKinds) {
  auto stats = QMAStatisticDictionary::init();
  stats->decrementNumberForKeyShouldNotifyDelegate("down", false);
  stats->setObjectForKeyedSubscript(Value(5), "plain");
  stats->incrementNumberForKeyShouldNotifyDelegate("plain", false);
  stats->setObjectForKeyedSubscript(Value("text"), "text");
  stats->incrementNumberForKeyShouldNotifyDelegate("text", false);
  stats->addDecimalNumberToNumberForKeyShouldNotifyDelegate(Value(2.5), "sum", false);
  stats->addDecimalNumberToNumberForKeyShouldNotifyDelegate(Value(1), "sum", false);
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(1), "list", false);
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(2), "list", false);
  stats->setObjectForKeyedSubscript(Value(Array{Value(9)}), "fixed");
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(10), "fixed", false);

  EXPECT_EQ(stats->objectForKey("down"), Value(-1));
  EXPECT_EQ(stats->objectForKey("plain"), Value(5));
  EXPECT_EQ(stats->objectForKey("text"), Value("text"));
  EXPECT_EQ(stats->objectForKey("sum"), Value(3.5));
  EXPECT_EQ(stats->objectForKey("list"), Value(Array{Value(1), Value(2)}));
  EXPECT_EQ(stats->objectForKey("fixed"), Value(Array{Value(9)}));
  EXPECT_EQ(stats->statisticValueForKey("down")->kind(), QMAStatisticValue::Kind::DecimalNumber);
  EXPECT_TRUE(stats->objectForKey("absent").isNull());
}

TEST(StatisticDictionary, SnapshotsNeverShareTheLiveLists) {
  auto stats = QMAStatisticDictionary::init();
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(Array{Value(1), Value(2)}), "tclick", false);
  Dictionary snapshot = stats->dictionary();
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(Array{Value(3), Value(4)}), "tclick", false);
  EXPECT_EQ(snapshot.at("tclick").asArray()->size(), 1u);
  EXPECT_EQ(stats->dictionary().at("tclick").asArray()->size(), 2u);
  EXPECT_NE(stats->description().find("queue: com.quillon.pelmark.statistics"), std::string::npos);
}

TEST(StatisticDictionary, FinishingDropsLaterWritesAndDeliversPendingNotices) {
  auto delegate = std::make_shared<CountingDelegate>();
  auto stats = QMAStatisticDictionary::initWithQueueLabelDelegate("custom", delegate);
  stats->setObjectForKeyShouldNotifyDelegate(Value(1), "k", true);
  stats->didFinishModifying();
  EXPECT_EQ(delegate->notices.load(), 1);
  EXPECT_EQ(stats->delegate(), nullptr);
  stats->setObjectForKeyShouldNotifyDelegate(Value(2), "k", true);
  EXPECT_EQ(stats->objectForKey("k"), Value(1));
  delegate->queue->sync([] {});
  EXPECT_EQ(delegate->notices.load(), 1);

  auto silent = std::make_shared<CountingDelegate>();
  silent->answersQueue = false;
  auto other = QMAStatisticDictionary::initWithDelegate(silent);
  other->incrementNumberForKeyShouldNotifyDelegate("n", true);
  settle(other, silent->queue);
  EXPECT_EQ(silent->notices.load(), 0);
}

struct StatisticsCoreTest : qma_test::DeviceRootTest {};

// The owner may bind the store while other threads already write to it (a race that
// ThreadSanitizer catches); whatever the interleaving, the record of the identifier
// bound last holds every change made after the binding.
TEST_F(StatisticsCoreTest, BindingWhileOtherThreadsWriteKeepsTheKeyOnTheQueue) {
  auto core = QMAStatisticsCore::init();
  std::thread writer([core] {
    for (int i = 0; i < 200; ++i) core->setObjectForKey(Value(i), "count");
  });
  for (const char* unit : {"a", "b", "a", "b"}) core->setIdentifier(unit);
  writer.join();
  core->setObjectForKey(Value("done"), "last");
  core->applicationWillTerminate();
  EXPECT_EQ(core->identifier(), "b");
  auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("quillon_stats_b");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->at("count"), Value(199));
  EXPECT_EQ(stored->at("last"), Value("done"));
}

TEST_F(StatisticsCoreTest, EveryChangeIsStoredAndAppendsKeepLoadedElements) {
  foundation::UserDefaults::standardUserDefaults()->setObjectForKey(
      Value(Dictionary{{"adapter_exit", Value(Array{Value("1")})}, {"kept", Value("old")}}), "quillon_stats_every_change");
  auto core = QMAStatisticsCore::init();
  core->setObjectForKey(Value("memory"), "before");  // memory only: no identifier yet
  // A name no other test's store uses: a store an earlier test left behind may still be
  // writing its own record on its queue.
  core->setIdentifier("every_change");
  core->appendStringToArrayForKey("2", "adapter_exit");
  core->appendStringToArrayForKey(std::nullopt, "adapter_exit");
  core->removeObjectForKey("kept");
  EXPECT_EQ(core->arrayForKey("adapter_exit"), Value(Array{Value("1"), Value("2")}));
  core->applicationWillTerminate();

  relaunchDefaults();
  auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("quillon_stats_every_change");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->at("adapter_exit"), Value(Array{Value("1"), Value("2")}));
  EXPECT_EQ(stored->count("kept"), 0u);
  EXPECT_EQ(stored->at("before"), Value("memory"));
}
