#include "ads/services/click_tracker_collection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "ads/services/device.h"
#include "ads/services/test_support.h"
#include "platform/net/test_server.h"

namespace {

struct Heard : QMAClickTrackerDelegate {
  std::vector<std::string> events;
  void trackerDidRedirect(QMAClickTracker&, const net::URL& destination) override {
    events.push_back("redirect " + destination.absoluteString());
  }
  void trackerDidFailWithError(QMAClickTracker&, const std::optional<foundation::Error>& error) override {
    events.push_back(error ? "fail " + error->domain : "fail");
  }
};

struct ClickTrackerTest : qma_test::DeviceRootTest {
  std::mutex mu;
  std::vector<std::string> paths;
  std::vector<std::string> userAgents;
  net::testing::TestServer server;  // after what its handlers touch, so it stops first

  void SetUp() override {
    DeviceRootTest::SetUp();
    // These tests count the shared collection's trackers: start with none in flight.
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil(
        [] { return QMAClickTrackerCollection::sharedInstance()->trackers().empty(); }, 10));
    auto& s = server.server();
    auto record = [this](const httplib::Request& req) {
      std::lock_guard lock(mu);
      paths.push_back(req.target);
      userAgents.push_back(req.get_header_value("User-Agent"));
    };
    s.Get("/click", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_redirect("/hop", 302);
    });
    s.Get("/hop", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_redirect("/landing", 301);
    });
    s.Get("/landing", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content("landed", "text/plain");
    });
    s.Get("/store", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_redirect("itms-apps://itunes.example/app/id1", 302);
    });
    s.Get("/missing", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.status = 404;
    });
    // Landing pages no ping needs to read: one that never ends and one that announces
    // 64 MiB, and an error page that never ends. The server stops at 256 MiB regardless.
    const struct {
      const char* path;
      int status;
    } endless[] = {{"/endless", 200}, {"/endless-error", 500}};
    for (const auto& e : endless) {
      s.Get(e.path, [record, status = e.status](const httplib::Request& req, httplib::Response& res) {
        record(req);
        res.status = status;
        res.set_chunked_content_provider("text/html", [](size_t offset, httplib::DataSink& sink) {
          static const std::string chunk(64u << 10, 'x');
          return offset < (256u << 20) && sink.write(chunk.data(), chunk.size());
        });
      });
    }
    s.Get("/huge", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content_provider(64u << 20, "application/octet-stream", [](size_t, size_t, httplib::DataSink& sink) {
        static const std::string chunk(64u << 10, 'x');
        return sink.write(chunk.data(), chunk.size());
      });
    });
    server.start();
    QMADevice::sharedInstance()->setUserAgentString("WardvaneTest/1.0 (headless)");
  }
  void TearDown() override {
    QMAClickTrackerCollection::sharedInstance()->cleanupTrackers();
    DeviceRootTest::TearDown();
  }
  std::vector<std::string> seenPaths() {
    std::lock_guard lock(mu);
    return paths;
  }
  // Runs until the tracker has reported and its download is gone.
  static bool settle(const std::shared_ptr<QMAClickTracker>& t) {
    return dispatch::RunLoop::main().runUntil([&] { return t->hasTracked() && !t->download()->connection(); }, 10);
  }
};

TEST_F(ClickTrackerTest, FollowsRedirectsToTheLastPageWithTheUserAgentAndStoresNoBody) {
  auto heard = std::make_shared<Heard>();
  auto tracker = QMAClickTracker::init();
  tracker->setDelegate(heard);
  tracker->trackURL(net::URL::fromString(server.url("/click")));
  EXPECT_NE(tracker->backgroundTaskIdentifier(), uikit::Application::kBackgroundTaskInvalid);
  ASSERT_TRUE(settle(tracker));
  EXPECT_EQ(heard->events, std::vector<std::string>{"redirect " + server.url("/landing")});
  EXPECT_EQ(seenPaths(), (std::vector<std::string>{"/click", "/hop", "/landing"}));
  {
    std::lock_guard lock(mu);
    for (const auto& ua : userAgents) EXPECT_EQ(ua, "WardvaneTest/1.0 (headless)");
  }
  // The report ended the background task; the landing page was never stored.
  EXPECT_EQ(tracker->backgroundTaskIdentifier(), uikit::Application::kBackgroundTaskInvalid);
  EXPECT_FALSE(std::filesystem::exists(tracker->download()->filePath()));
}

// The last answer's status alone decides: a 200 whose body never ends, or is far larger than
// any page, is a tracked ping at once; an error status with such a body is a failure.
TEST_F(ClickTrackerTest, TheLandingPagesBodyNeverDecidesAPing) {
  const struct {
    const char* path;
    bool tracked;
  } cases[] = {{"/endless", true}, {"/huge", true}, {"/endless-error", false}};
  for (const auto& c : cases) {
    auto heard = std::make_shared<Heard>();
    auto tracker = QMAClickTracker::init();
    tracker->setDelegate(heard);
    tracker->trackURL(net::URL::fromString(server.url(c.path)));
    ASSERT_TRUE(settle(tracker)) << c.path;
    EXPECT_EQ(heard->events, std::vector<std::string>{c.tracked ? "redirect " + server.url(c.path) : "fail"}) << c.path;
    EXPECT_FALSE(std::filesystem::exists(tracker->download()->filePath())) << c.path;
  }
}

TEST_F(ClickTrackerTest, StopsAtARedirectOutOfHTTPAndReportsItOnce) {
  auto heard = std::make_shared<Heard>();
  auto tracker = QMAClickTracker::init();
  tracker->setDelegate(heard);
  tracker->trackURL(net::URL::fromString(server.url("/store")));
  ASSERT_TRUE(settle(tracker));
  qma_test::DeviceRootTest::drainMain();
  EXPECT_EQ(heard->events, std::vector<std::string>{"redirect itms-apps://itunes.example/app/id1"});
  EXPECT_EQ(seenPaths(), std::vector<std::string>{"/store"});
}

TEST_F(ClickTrackerTest, AnErrorStatusIsAFailureWithoutError) {
  auto heard = std::make_shared<Heard>();
  auto tracker = QMAClickTracker::init();
  tracker->setDelegate(heard);
  tracker->trackURL(net::URL::fromString(server.url("/missing")));
  ASSERT_TRUE(settle(tracker));
  EXPECT_EQ(heard->events, std::vector<std::string>{"fail"});
}

TEST_F(ClickTrackerTest, WithoutAURLNothingIsFetchedOrReported) {
  auto heard = std::make_shared<Heard>();
  auto tracker = QMAClickTracker::init();
  tracker->setDelegate(heard);
  tracker->trackURL(std::nullopt);
  EXPECT_FALSE(tracker->download());
  EXPECT_EQ(tracker->backgroundTaskIdentifier(), uikit::Application::kBackgroundTaskInvalid);
  EXPECT_TRUE(heard->events.empty());
}

TEST_F(ClickTrackerTest, TheCollectionTracksEveryURLElementAndDropsTrackersOnceTheyReported) {
  auto& collection = QMAClickTrackerCollection::sharedInstance();
  const foundation::Array urls{foundation::Value(server.url("/landing")), foundation::Value(7),
                               foundation::Value("not a url at all"), foundation::Value("file:///etc/passwd"),
                               foundation::Value(server.url("/missing"))};
  collection->trackURLsCacheEnabled(urls, false);
  ASSERT_EQ(collection->trackers().size(), 2u);
  for (const auto& t : collection->trackers())
    EXPECT_EQ(t->download()->cachePolicy(), net::CachePolicy::ReloadIgnoringLocalCacheData);
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return collection->trackers().empty(); }, 10));
  auto seen = seenPaths();
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"/landing", "/missing"}));
}

TEST_F(ClickTrackerTest, TrackingFromAnotherThreadHopsToTheMainThread) {
  auto& collection = QMAClickTrackerCollection::sharedInstance();
  std::thread([&] { collection->trackURL(net::URL::fromString(server.url("/landing"))); }).join();
  EXPECT_TRUE(collection->trackers().empty());  // not yet: the main queue has not turned
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return seenPaths().size() == 1 && collection->trackers().empty(); }, 10));
}

TEST_F(ClickTrackerTest, ATrackerWhoseBackgroundTimeExpiresIsDroppedWithoutAReport) {
  auto& collection = QMAClickTrackerCollection::sharedInstance();
  collection->trackURL(net::URL::fromString(server.url("/landing")));
  ASSERT_EQ(collection->trackers().size(), 1u);
  auto tracker = *collection->trackers().begin();
  uikit::Application::sharedApplication()->expireBackgroundTasks();
  EXPECT_TRUE(collection->trackers().empty());
  EXPECT_FALSE(tracker->download());
  EXPECT_FALSE(tracker->hasTracked());
}

}  // namespace
