#include "ads/services/pinger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "ads/services/test_support.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/test_server.h"

namespace {

using foundation::Clock;
using foundation::Dictionary;
using foundation::UserDefaults;

constexpr const char* kGroup = "/quillon/ads/crash_reporting";

struct PingerTest : qma_test::DeviceRootTest {
  net::testing::TestServer server;
  std::atomic<int> okHits{0}, flakyHits{0};
  std::atomic<bool> healthy{false};
  std::shared_ptr<QMAPinger> pinger;

  void SetUp() override {
    DeviceRootTest::SetUp();
    auto& s = server.server();
    s.Get("/ok", [this](const httplib::Request&, httplib::Response& res) {
      ++okHits;
      res.status = 204;
    });
    s.Get("/flaky", [this](const httplib::Request&, httplib::Response& res) {
      ++flakyHits;
      res.status = healthy ? 200 : 500;
    });
    server.start();
  }

  void launch() { pinger = QMAPinger::create(); }
  void relaunch() {
    settle();
    pinger.reset();
    relaunchDefaults();
    launch();
  }
  // Lets queued pings finish: their answers come through the main queue, then the pinger's.
  void settle() {
    if (!pinger) return;
    waitFor(pinger->lockQueue());
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return pinger->pingedURLs().empty(); }, 10));
    waitFor(pinger->lockQueue());
  }
  void retryPass() {
    Clock::advance(pinger->scheduler()->interval());
    drainMain();
    settle();
  }
  static std::optional<Dictionary> group(const std::string& key = kGroup) {
    return UserDefaults::standardUserDefaults()->dictionaryForKey(key);
  }
  static std::optional<long long> retriesLeft(const std::string& url) {
    auto g = group();
    if (!g || !g->count(url)) return std::nullopt;
    return foundation::intForKey(*g->at(url).asDictionary(), kQMARetryCountKey);
  }
  void file(const std::string& url) { pinger->pingWithRetryGroupKeyURLRetryURLString(kGroup, net::URL::fromString(url), url); }
};

TEST_F(PingerTest, ASuccessfulFiledPingIsStoredFirstAndThenRemoved) {
  launch();
  std::optional<Dictionary> seenByServer;
  server.server().Get("/seen", [&](const httplib::Request&, httplib::Response& res) {
    seenByServer = group();
    res.status = 204;
  });
  file(server.url("/seen"));
  settle();
  ASSERT_TRUE(seenByServer);
  EXPECT_EQ(seenByServer->count(server.url("/seen")), 1u);
  EXPECT_EQ(group(), Dictionary{});
  EXPECT_EQ(UserDefaults::standardUserDefaults()->arrayForKey(kQMARetryGroupKeysKey), (foundation::Array{kGroup}));
}

TEST_F(PingerTest, AFailingPingIsRetriedOncePerPassUntilItsRetriesAreUsedUp) {
  launch();
  pinger->start();
  auto url = server.url("/flaky");
  file(url);
  settle();
  EXPECT_EQ(flakyHits, 1);
  EXPECT_EQ(retriesLeft(url), 3);
  for (int left : {2, 1, 0}) {
    retryPass();
    EXPECT_EQ(retriesLeft(url), left);
  }
  EXPECT_EQ(flakyHits, 4);
  retryPass();
  EXPECT_FALSE(retriesLeft(url));
  EXPECT_EQ(group(), Dictionary{});
  EXPECT_EQ(flakyHits, 4);
}

TEST_F(PingerTest, TheStoreOutlivesTheProcessAndALaterLaunchDeliversIt) {
  launch();
  auto url = server.url("/flaky");
  file(url);
  relaunch();  // the first process ends before any retry pass ran
  EXPECT_EQ(pinger->retryGroupKeys(), std::vector<std::string>{kGroup});
  EXPECT_EQ(retriesLeft(url), 3);
  healthy = true;
  pinger->start();
  retryPass();
  EXPECT_EQ(flakyHits, 2);
  EXPECT_EQ(group(), Dictionary{});
}

TEST_F(PingerTest, AFullGroupStoresNothingMoreButStillPingsAndRefilingKeepsTheCount) {
  UserDefaults::standardUserDefaults()->setObjectForKey(2, kQMAMaximumRetryURLCountKey);
  launch();
  pinger->start();
  file(server.url("/flaky?1"));
  file(server.url("/flaky?2"));
  settle();
  retryPass();
  file(server.url("/flaky?2"));  // already stored: keeps 2 left
  file(server.url("/flaky?3"));  // the group is full
  settle();
  EXPECT_EQ(retriesLeft(server.url("/flaky?2")), 2);
  EXPECT_FALSE(retriesLeft(server.url("/flaky?3")));
  EXPECT_EQ(flakyHits, 6);
}

TEST_F(PingerTest, ServerConstantsAreReadOnceAndAPeriodThatWouldSpinFallsBackToTheDefault) {
  auto d = UserDefaults::standardUserDefaults();
  const std::pair<foundation::Value, double> intervals[] = {
      {30, 30}, {"45", 45}, {0, 60}, {"0", 60}, {-5, 60}, {"abc", 60}, {foundation::Value(), 60}};
  for (const auto& [stored, expected] : intervals) {
    d->setObjectForKey(stored, kQMAPingIntervalKey);
    EXPECT_EQ(QMAPinger::create()->scheduler()->interval(), expected) << foundation::description(stored);
  }

  d->setObjectForKey("0", kQMAURLTimeToLiveKey);
  launch();
  EXPECT_EQ(pinger->URLRetryCount(), 0);
  pinger->start();
  auto url = server.url("/flaky");
  file(url);
  settle();
  EXPECT_EQ(retriesLeft(url), 0);
  retryPass();
  EXPECT_FALSE(retriesLeft(url));
  EXPECT_EQ(flakyHits, 1);
}

TEST_F(PingerTest, APassLeavesAPingInFlightAlone) {
  std::promise<void> arrived, release;
  auto released = release.get_future().share();
  server.server().Get("/slow", [&, released](const httplib::Request&, httplib::Response& res) {
    arrived.set_value();
    released.wait();
    res.status = 500;
  });
  launch();
  auto url = server.url("/slow");
  file(url);
  ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  pinger->lockQueue()->async([p = pinger] { p->pingRetryURLs(); });
  waitFor(pinger->lockQueue());
  EXPECT_EQ(retriesLeft(url), 3);
  release.set_value();
  settle();
  EXPECT_EQ(retriesLeft(url), 3);
}

TEST_F(PingerTest, PingsOfNothingCompleteWithNoOnThePingersQueue) {
  launch();
  std::vector<std::pair<bool, bool>> results;  // (success, ran on the pinger's queue)
  auto q = pinger->lockQueue();
  for (const char* text : {"", "not a url", "http://127.0.0.1:1/"}) {
    q->async([&, text] {
      pinger->pingURLStringCompletionBlock(text, [&, q](bool ok) { results.emplace_back(ok, q->isCurrent()); });
    });
  }
  q->async([&] { pinger->pingURLStringCompletionBlock(server.url("/ok"), nullptr); });
  settle();
  EXPECT_EQ(results, (std::vector<std::pair<bool, bool>>{{false, true}, {false, true}, {false, true}}));
  EXPECT_EQ(okHits, 0);

  // Missing arguments file nothing.
  pinger->pingWithRetryGroupKeyURLRetryURLString(std::nullopt, net::URL::fromString(server.url("/ok")), "x");
  pinger->pingWithRetryGroupKeyURLRetryURLString(kGroup, std::nullopt, "x");
  settle();
  EXPECT_FALSE(group());
  EXPECT_EQ(okHits, 0);
}

}  // namespace
