#include "ads/services/application.h"

#include <gtest/gtest.h>

#include <thread>

#include "ads/services/slot_statistics.h"
#include "ads/services/test_support.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"

using foundation::Array;
using foundation::Clock;
using foundation::Dictionary;
using foundation::Value;

struct FakeSlot : QMARequestingSlot {
  bool mediating = false;
  bool isMediating() const override { return mediating; }
};

struct FakeAd : QMAAdWithStatistics {
  std::shared_ptr<QMAStatisticDictionary> stats;
  explicit FakeAd(const std::shared_ptr<QMAApplication>& app) : stats(QMAStatisticDictionary::initWithDelegate(app)) {}
  std::shared_ptr<QMAStatisticDictionary> statistics() const override { return stats; }
};

struct ApplicationTest : qma_test::DeviceRootTest {
  std::shared_ptr<QMAApplication> app;
  void SetUp() override {
    DeviceRootTest::SetUp();
    foundation::Bundle::main().setInfoValue(foundation::kCFBundleVersionKey, Value("2.1"));
    app = QMAApplication::create();
  }
  void TearDown() override {
    QMAApplication::setApplicationStateSource(nullptr);
    app.reset();
    DeviceRootTest::TearDown();
  }
};

TEST_F(ApplicationTest, CreationHoldsTheHostFactsTheSessionAndPreqsAtMinusOne) {
  EXPECT_EQ(app->version(), "2.1");
  EXPECT_EQ(app->mainBundleIdentifier(), "com.example.host");
  Dictionary stats = app->statistics()->dictionary();
  EXPECT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats.at("session_id"), Value(app->currentSession()->uniqueID()));
  EXPECT_EQ(stats.at("preqs"), Value(-1));
  EXPECT_EQ(app->notificationQueue()->label(), "com.quillon.pelmark.application-notification");
  EXPECT_EQ(app->statisticsSerialQueue()->label(), "com.quillon.pelmark.application-statistics");
  EXPECT_EQ(app->lockQueue()->label(), "com.quillon.pelmark.application-ivar-lock");

  foundation::Bundle::main().setInfoValue(foundation::kCFBundleVersionKey, Value());
  EXPECT_EQ(QMAApplication::create()->version(), "");
}

TEST_F(ApplicationTest, ActiveUnlessInTheBackgroundAfterLaunching) {
  long state = QMAApplicationStateBackground;
  QMAApplication::setApplicationStateSource([&] { return state; });
  EXPECT_TRUE(app->isAppActive());  // background, launch not finished
  app->setAppFinishedLaunching(true);
  EXPECT_FALSE(app->isAppActive());
  for (long s : {QMAApplicationStateActive, QMAApplicationStateInactive}) {
    state = s;
    EXPECT_TRUE(app->isAppActive());
  }
}

TEST_F(ApplicationTest, ViewabilityIdentifiersCountFromOneAcrossThreads) {
  EXPECT_EQ(app->nextVistraceID(), 1u);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 25; ++k) app->nextVistraceID();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(app->nextVistraceID(), 102u);

  EXPECT_FALSE(app->availableAdapterNames());
  app->setAvailableAdapterNames({"QMAMAdapterHTML"});
  EXPECT_EQ(app->availableAdapterNames(), (std::vector<std::string>{"QMAMAdapterHTML"}));
}

TEST_F(ApplicationTest, StoreMetadataIsReadFromBesideTheDocumentsFolder) {
  EXPECT_EQ(app->iTunesMetadataPath(), root + "/var/mobile/iTunesMetadata.plist");
  foundation::Error error;
  EXPECT_FALSE(QMAPropertyListDictionaryFromFile(root + "/missing.plist", &error));
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.localizedDescription(), "File could not be read.");
  foundation::writePropertyListFile(root + "/array.plist", Value(Array{Value(1)}));
  EXPECT_FALSE(QMAPropertyListDictionaryFromFile(root + "/array.plist"));
}

TEST_F(ApplicationTest, RequestSignalsCountRequestsSequenceNumbersAndTimes) {
  FakeSlot slot;
  EXPECT_EQ(app->timeSinceFirstAdRequestInMilliseconds(), 0u);
  Dictionary first = app->nextRequestStatisticsDictionaryForSlot(&slot);
  EXPECT_EQ(first.at("preqs"), Value(0));
  EXPECT_EQ(first.at("seq_num"), Value(1));
  EXPECT_EQ(first.at("basets"), first.at("currts"));
  EXPECT_TRUE(first.count("session_id"));

  Clock::advance(0.5);
  Dictionary second = app->nextRequestStatisticsDictionaryForSlot(&slot);
  EXPECT_EQ(second.at("preqs"), Value(1));
  EXPECT_EQ(second.at("seq_num"), Value(2));
  EXPECT_EQ(second.at("basets"), first.at("basets"));
  EXPECT_EQ(*second.at("currts").longLongValue() - *second.at("basets").longLongValue(), 500);
  EXPECT_EQ(app->timeSinceFirstAdRequestInMilliseconds(), 500u);

  slot.mediating = true;
  EXPECT_EQ(app->nextRequestStatisticsDictionaryForSlot(&slot).at("preqs"), Value(0));
  EXPECT_EQ(app->nextSequenceNumberAsString(), "4");
  EXPECT_EQ(app->nextSequenceNumberAsString(), "5");
  app->incrementTotalAdClickCount();
  EXPECT_EQ(app->statistics()->objectForKey("pclick"), Value(1));
}

TEST_F(ApplicationTest, SlotRegistryTakesStringIdentifiersOnly) {
  EXPECT_EQ(app->slotStatisticsForSlotID(Value(7)), nullptr);
  auto a = app->slotStatisticsForSlotID(Value("slot-a"));
  EXPECT_EQ(app->slotStatisticsForSlotID(Value("slot-a")), a);
  a->incrementNumberForKeyShouldNotifyDelegate("oar", false);
  EXPECT_EQ(app->slotStatisticsDictionary(), (Dictionary{{"slot-a", Value(Dictionary{{"oar", Value(1)}})}}));
}

TEST_F(ApplicationTest, AReturnAfterAClickAppendsOnePairAndPendsTheAdsStatistics) {
  auto ad = std::make_shared<FakeAd>(app);
  auto noClick = std::make_shared<FakeAd>(app);

  app->didBecomeActive();  // nothing backgrounding: nothing changes
  app->willLeaveApplicationDueToClickOnAd(noClick);
  app->didBecomeActive();  // no click time: forgotten, nothing appended
  EXPECT_TRUE(noClick->stats->objectForKey("tclick").isNull());
  EXPECT_EQ(app->backgroundingAd(), nullptr);

  ad->stats->setObjectForKeyShouldNotifyDelegate(Value(5), "tclickcurr", false);
  app->willLeaveApplicationDueToClickOnAd(ad);
  Clock::advance(2);
  foundation::NotificationCenter::defaultCenter().postNotificationName("UIApplicationDidBecomeActiveNotification");
  drainMain();
  Value pairs = ad->stats->objectForKey("tclick");
  ASSERT_TRUE(pairs.asArray());
  ASSERT_EQ(pairs.asArray()->size(), 1u);
  EXPECT_EQ((*pairs.asArray())[0].asArray()->front(), Value(5));
  waitFor(ad->stats->serialQueue());  // the notice queued behind the append
  waitFor(ad->stats->serialQueue());
  waitFor(app->notificationQueue());
  auto pending = app->pendingAdStatistics();
  EXPECT_EQ(pending, (QMAStatisticDictionarySet{ad->stats}));
  EXPECT_TRUE(app->pendingAdStatistics().empty());

  app->didBecomeActive();  // already forgotten: a second return appends nothing
  EXPECT_EQ(ad->stats->objectForKey("tclick").asArray()->size(), 1u);

  app->didNotSendAdStatistics(pending);  // a failed request gives them back
  EXPECT_EQ(app->pendingAdStatistics(), pending);
}

struct SlotStatisticsTest : qma_test::DeviceRootTest {};

TEST_F(SlotStatisticsTest, AdapterDurationsAndExitCodesPersistUntilReset) {
  {
    auto s = QMASlotStatistics::init();
    s->setIdentifier("unit");
    s->endTimingAdapterWithExitCode(1);  // no adapter timing yet: the code only
    s->startTimingAdapter();
    Clock::advance(0.030);
    s->endTimingAdapterWithExitCode(3);
    EXPECT_EQ(s->adapterExitCodesParameter(), "1,3");
    EXPECT_EQ(s->adapterDurationsParameter(), "30");
    s->statistics()->applicationWillTerminate();
    s->timingManager()->applicationWillTerminate();
  }
  relaunchDefaults();
  auto s = QMASlotStatistics::init();
  s->setIdentifier("unit");
  EXPECT_EQ(s->adapterExitCodesParameter(), "1,3");
  s->startTimingAdapter();
  Clock::advance(0.010);
  s->endTimingAdapterWithExitCode(-1);
  EXPECT_EQ(s->adapterDurationsParameter(), "30,10");
  EXPECT_EQ(s->adapterExitCodesParameter(), "1,3,-1");
  s->resetTimingAdapters();
  EXPECT_EQ(s->adapterExitCodesParameter(), std::nullopt);
  EXPECT_EQ(s->adapterDurationsParameter(), std::nullopt);
}
