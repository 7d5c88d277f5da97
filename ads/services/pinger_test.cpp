#include "ads/services/pinger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

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
  std::atomic<int> okHits{0}, flakyHits{0};
  std::atomic<bool> healthy{false};
  std::mutex seenMu;
  std::optional<Dictionary> seenByServer;  // the store as the "/seen" handler found it
  std::shared_ptr<net::testing::Gate> slow = std::make_shared<net::testing::Gate>();  // holds "/slow"
  // Passed (never held) by each endless or huge body once its client has gone away.
  std::shared_ptr<net::testing::Gate> bodyCut = std::make_shared<net::testing::Gate>();
  net::testing::TestServer server;  // after what its handlers touch, so it stops first
  std::shared_ptr<QMAPinger> pinger;

  void SetUp() override {
    DeviceRootTest::SetUp();
    auto& s = server.server();
    s.Get("/seen", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(seenMu);
      seenByServer = group();
      res.status = 204;
    });
    s.Get("/slow", [gate = slow](const httplib::Request&, httplib::Response& res) {
      gate->pass();
      res.status = 500;
    });
    s.Get("/ok", [this](const httplib::Request&, httplib::Response& res) {
      ++okHits;
      res.status = 204;
    });
    s.Get("/flaky", [this](const httplib::Request&, httplib::Response& res) {
      ++flakyHits;
      res.status = healthy ? 200 : 500;
    });
    // Bodies no ping needs: one that never ends and one that announces 64 MiB, each with
    // a success and with a server error. The server stops at 256 MiB whatever happens.
    bodyCut->setOpen(true);
    for (const auto& [path, status] : {std::pair{"/endless", 200}, std::pair{"/endless-error", 503}}) {
      s.Get(path, [cut = bodyCut, status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_chunked_content_provider("text/html", [cut](size_t offset, httplib::DataSink& sink) {
          return offset < (256u << 20) && writeOrNoteTheCut(sink, *cut);
        });
      });
    }
    for (const auto& [path, status] : {std::pair{"/huge", 200}, std::pair{"/huge-error", 500}}) {
      s.Get(path, [cut = bodyCut, status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content_provider(64u << 20, "application/octet-stream",
                                 [cut](size_t, size_t, httplib::DataSink& sink) { return writeOrNoteTheCut(sink, *cut); });
      });
    }
    server.start();
  }

  static bool writeOrNoteTheCut(httplib::DataSink& sink, net::testing::Gate& cut) {
    static const std::string chunk(64u << 10, 'x');
    if (sink.write(chunk.data(), chunk.size())) return true;
    cut.pass();
    return false;
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
  file(server.url("/seen"));
  settle();
  std::lock_guard lock(seenMu);
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

TEST_F(PingerTest, ServerConstantsAreReadOnceAndAPeriodUnderASecondFallsBackToTheDefault) {
  auto d = UserDefaults::standardUserDefaults();
  const std::pair<foundation::Value, double> intervals[] = {
      {30, 30}, {"45", 45}, {1, 1}, {0, 60}, {"0", 60}, {0.5, 60}, {"0.999", 60}, {-5, 60}, {"abc", 60},
      {foundation::Value(), 60}};
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

TEST_F(PingerTest, APassLeavesAPingInFlightAloneWhateverItsStoredRetryForm) {
  auto& gate = slow;
  launch();
  // The crash reports store the URL they ping; the purchase reports a retry form of it.
  const std::pair<const char*, const char*> cases[] = {{"/slow?report=crash", ""}, {"/slow?report=iap", "&retry=1"}};
  int arrivals = 0;
  for (const auto& [path, suffix] : cases) {
    gate->setOpen(false);
    UserDefaults::standardUserDefaults()->removeObjectForKey(kGroup);  // each case alone in the store
    const std::string url = server.url(path), retry = url + suffix;
    pinger->pingWithRetryGroupKeyURLRetryURLString(kGroup, net::URL::fromString(url), retry);
    const bool arrived = gate->waitForArrivals(++arrivals);
    if (arrived) {
      pinger->lockQueue()->async([p = pinger] { p->pingRetryURLs(); });
      waitFor(pinger->lockQueue());
      EXPECT_EQ(retriesLeft(retry), 3) << path;
    }
    gate->setOpen(true);
    ASSERT_TRUE(arrived) << path;
    settle();
    EXPECT_EQ(retriesLeft(retry), 3) << path;
    EXPECT_EQ(gate->arrivals(), arrivals) << path << ": the pass sent nothing while the first ping was out";
  }
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

// A ping is judged by its answer's status alone: a 2xx of any size, even one whose body
// never ends, delivers it and empties its entry; a server error still leaves it for the
// retries. The bodies are cut, not read to their end.
TEST_F(PingerTest, TheAnswersBodyNeverDecidesAPing) {
  launch();
  const struct {
    const char* path;
    bool delivered;
  } cases[] = {{"/endless", true}, {"/huge", true}, {"/endless-error", false}, {"/huge-error", false}};
  int cuts = 0;
  for (const auto& c : cases) {
    const std::string url = server.url(c.path);
    file(url);
    settle();
    EXPECT_EQ(retriesLeft(url), c.delivered ? std::nullopt : std::optional<long long>(3)) << c.path;
    EXPECT_TRUE(bodyCut->waitForArrivals(++cuts)) << c.path << ": the body was not cut";
  }
  EXPECT_EQ(group(), (Dictionary{{server.url("/endless-error"), Dictionary{{kQMARetryCountKey, 3}}},
                                 {server.url("/huge-error"), Dictionary{{kQMARetryCountKey, 3}}}}));
}

}  // namespace
