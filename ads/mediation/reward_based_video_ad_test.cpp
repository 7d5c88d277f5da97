// The reward-based video ad against the ad server: what it asks the SDK core, how every
// answer of the page and every response ends a load, and the reward road through the
// mediation's waterfall over a host reward adapter of the test's own.
#include "ads/slots/reward_based_video_ad.h"

#include <gtest/gtest.h>

#include <thread>

#include "ads/mediation/reward_based_video_mediation.h"
#include "ads/slots/format_test_support.h"
#include "platform/runtime/runtime.h"

namespace {

using formats_test::FormatFixture;
using foundation::Dictionary;
using foundation::Value;
using nlohmann::json;

constexpr const char* kAdapterClass = "TestRewardAdapter";
// More classes of the same adapter: connectors are one per class, so networks that are to be
// asked one after the other name classes of their own.
const char* const kAdapterClasses[] = {kAdapterClass, "TestRewardAdapterB", "TestRewardAdapterC", "TestRewardAdapterD"};

// A host reward adapter whose network's credentials steer it: "setup" "fail", "fill" "no"
// or "hang". The test reaches the live ones to play their video.
struct TestRewardAdapter : runtime::Object, QMAMRewardBasedVideoAdNetworkAdapter {
  using runtime::Object::Object;
  static std::vector<std::weak_ptr<TestRewardAdapter>>& live() {
    static std::vector<std::weak_ptr<TestRewardAdapter>> adapters;
    return adapters;
  }
  std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> connector;
  int setUps = 0;
  bool presented = false;
  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> c) override {
    connector = std::move(c);
  }
  std::string credential(const char* key) {
    auto c = connector.lock();
    const foundation::Dictionary credentials = c ? c->credentials() : foundation::Dictionary{};
    const std::string* text = foundation::stringForKey(credentials, key);
    return text ? *text : "";
  }
  void setUpWithUserID(const std::optional<std::string>&) override {
    ++setUps;
    auto c = connector.lock();
    if (!c) return;
    if (credential("setup") == "fail") c->adapterDidFailToSetUpRewardBasedVideoAdWithError(*this, foundation::Error{"net", 1, {}});
    else if (credential("setup") != "hang" && credential("setup") != "later-fail") c->adapterDidSetUpRewardBasedVideoAd(*this);
  }
  int requests = 0;
  void requestRewardBasedVideoAd() override {
    auto c = connector.lock();
    ++requests;
    if (!c || credential("fill") == "hang" || (credential("fill") == "then-hang" && requests > 1)) return;
    if (credential("fill") == "no") {
      c->adapterDidFailToLoadRewardBasedVideoAdwithError(*this, foundation::Error{"net", 2, {}});
    } else if (credential("fill") == "from-another-thread") {
      std::thread([c, this] { c->adapterDidReceiveRewardBasedVideoAd(*this); }).join();
    } else {
      c->adapterDidReceiveRewardBasedVideoAd(*this);
    }
  }
  void presentRewardBasedVideoAdWithRootViewController(const std::shared_ptr<uikit::ViewController>&) override {
    presented = true;
    if (auto c = connector.lock()) {
      c->adapterDidOpenRewardBasedVideoAd(*this);
      c->adapterDidStartPlayingRewardBasedVideoAd(*this);
    }
  }
  void stopBeingDelegate() override { connector.reset(); }
};

json network(const std::string& id, json data, const char* adapterClass = kAdapterClass) {
  return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({"NoSuchAdapter", adapterClass})}};
}

// A mediation response for every ad request.
json mediationScenario(json config) {
  return {{"ads", {{"m", {{"response_type", "mediation"}, {"body", config.dump()}}}}}, {"default_ad", "m"}};
}

json rewardConfig(json networks, json settings = json::object()) {
  return {{"ad_type", "interstitial"}, {"settings", std::move(settings)}, {"ad_networks", std::move(networks)}};
}

struct RewardTest : FormatFixture {
  std::shared_ptr<QMARewardBasedVideoAd> ad;
  void SetUp() override {
    FormatFixture::SetUp();
    for (const char* name : kAdapterClasses) {
      auto cls = runtime::Class::make(name);
      cls->addProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol);
      cls->setFactory([](const runtime::ClassRef& c) {
        auto adapter = std::make_shared<TestRewardAdapter>(c);
        TestRewardAdapter::live().push_back(adapter);
        return adapter;
      });
      runtime::objc_registerClassPair(cls);
    }
    QMARewardBasedVideoAdMediationAdditions::install();
    ad = QMARewardBasedVideoAd::create();
    ad->setDelegate(host);
  }
  void TearDown() override {
    ad.reset();
    QMARewardBasedVideoAd::setMediationFactory(nullptr);
    TestRewardAdapter::live().clear();
    for (const char* name : kAdapterClasses) runtime::objc_disposeClassPair(name);
    FormatFixture::TearDown();
  }
  // The ad's mediation as the mediation part made it.
  std::shared_ptr<QMARewardBasedVideoAdMediationAdditions> mediation() const {
    return std::dynamic_pointer_cast<QMARewardBasedVideoAdMediationAdditions>(ad->mediation());
  }
  std::shared_ptr<TestRewardAdapter> adapter(std::size_t i) {
    return i < TestRewardAdapter::live().size() ? TestRewardAdapter::live()[i].lock() : nullptr;
  }
  bool loadAndHearTheEnd(const std::shared_ptr<QMARequest>& request = QMARequest::request()) {
    ad->loadRequestWithAdUnitIDUserID(request, "unit-r", "user-7");
    return pump([&] { return !ad->requestInProgress(); });
  }
};

TEST_F(RewardTest, TheRequestAsksForARewardedVideoWithTheUsersIDWhenThereIsOne) {
  useScenario(json::object());  // no fill
  for (const bool withUser : {true, false}) {
    SCOPED_TRACE(withUser);
    server->clearRequests();
    ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", withUser ? std::optional<std::string>("u 1") : std::nullopt);
    ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
    ASSERT_EQ(adRequests().size(), 1u);
    const std::string q = adRequests()[0].query;
    for (const char* part : {"rbv=1", "format=reward_mb", "slotname=unit-r", "request_id="})
      EXPECT_NE(q.find(part), std::string::npos) << part << " in " << q;
    EXPECT_EQ(q.find("rbv_user_id=u%201") != std::string::npos, withUser) << q;
    EXPECT_EQ(q.find("rbv_user_id") != std::string::npos, withUser);
  }
  EXPECT_EQ(ad->requestedAdType(), 2);
  EXPECT_EQ(ad->CSIIdentifier(), -1);
}

TEST_F(RewardTest, EveryRoadToAFailureEndsTheLoadOnceWithItsError) {
  const std::string page = adserver::AdServer::kPagePath;
  struct Row {
    const char* what;
    json scenario;
    long code;
    const char* message;
  };
  const Row rows[] = {
      {"invalid request", {{"answers", {{{"answer", "invalidRequest"}}}}}, 0, "Request object configured wrong."},
      {"an ad delivered by the page", {{"answers", {{{"answer", "loadAd"}, {"ad", {{"ad_html", "<p>x</p>"}}}}}}}, 11,
       "Error loading ad. Check with QuillonPelmarkAdSDK support team."},
      {"the page does not load", {{"files", {{page, {{"status", 500}, {"body", "down"}}}}}}, 2, "No network connection."},
      {"errors from the page", {{"answers", {{{"answer", "loadAdURL"}, {"extra", {{"errors", "bad"}}}}}}}, 0,
       "Request Error: Invalid ad request parameter(s). Check the Xcode console for details."},
      {"no fill", json::object(), 1, "Request Error: No ad to show."},
      {"an HTML ad", {{"ads", {{"h", {{"body", "<p>x</p>"}}}}}, {"default_ad", "h"}}, 13, "Invalid server response."},
      {"a JSON list", mediationScenario(json::array({1, 2})), 13, "Invalid server response."},
      {"no JSON", {{"ads", {{"m", {{"response_type", "mediation"}, {"body", "{nope"}}}}}, {"default_ad", "m"}}, 7,
       "Invalid server response."},
      {"no network list", mediationScenario({{"ad_type", "interstitial"}}), 7,
       "Request Error: The mediation response was invalid."},
      {"a banner configuration", mediationScenario({{"ad_type", "banner"}, {"ad_networks", json::array()}}), 7,
       "Invalid mediation adtype returned."},
      {"no network with an adapter",
       mediationScenario(rewardConfig(json::array({{{"id", "1"}, {"adapters", json::array({"NoSuchAdapter"})}}}))), 9,
       "No ad returned from any ad server."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host = std::make_shared<formats_test::Host>();
    ad = QMARewardBasedVideoAd::create();
    ad->setDelegate(host);
    useScenario(row.scenario);
    ASSERT_TRUE(loadAndHearTheEnd());
    drainMain();
    ASSERT_EQ(host->heard.size(), 1u) << ::testing::PrintToString(host->heard);
    EXPECT_EQ(host->heard[0], "rewardBasedVideoAd:didFailToLoadwithError: " + std::to_string(row.code));
    EXPECT_EQ(host->plainErrors[0].domain, kQMAErrorDomain);
    EXPECT_EQ(host->plainErrors[0].localizedDescription(), row.message);
    EXPECT_FALSE(ad->isReady());
    if (std::string(row.what) == "errors from the page") {
      EXPECT_EQ(host->plainErrors[0].userInfo.count("js"), 1u);  // the request's parameters come along
    }
    if (row.code == 9) {
      EXPECT_TRUE(pump([&] { return server->requestsForPath("/nofill").size() == 1; }));
    }
  }
}

TEST_F(RewardTest, ASecondLoadWhileOneRunsIsOnlyLogged) {
  useScenario({{"answers", {{{"answer", "silence"}}}}});
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-other", "user-8");
  EXPECT_TRUE(logged("Ignoring request. Another request is already in progress."));
  EXPECT_EQ(ad->adUnitID(), std::optional<std::string>("unit-r"));
  EXPECT_TRUE(ad->requestInProgress());
  ad->presentFromRootViewController(root);  // nothing to show while a load runs
  EXPECT_TRUE(host->heard.empty());
}

TEST_F(RewardTest, AReadyAdURLInTheExtrasIsFetchedWithoutAskingThePage) {
  useScenario({{"files", {{"/preset/reward", {{"body", "<p>not mediation</p>"}}}}}});
  auto request = slots_test::requestWithExtras({{"_ad", Dictionary{{"ad_url", server->baseURL() + "/preset/reward"}}}});
  const auto calls = QMASDKCoreController::sharedInstance()->pendingRequestCount();
  ASSERT_TRUE(loadAndHearTheEnd(request));
  EXPECT_EQ(server->requestsForPath("/preset/reward").size(), 1u);
  EXPECT_TRUE(adRequests().empty());
  EXPECT_EQ(QMASDKCoreController::sharedInstance()->pendingRequestCount(), calls);
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAd:didFailToLoadwithError: 13"});
}

TEST_F(RewardTest, TheWinnersVideoOpensPlaysRewardsWithTheConfigurationsRewardAndCloses) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"pubid", "video-net"}})}),
                                             {{"rewards", {{{"rb_type", "gems"}, {"rb_amount", 3}}}}})));
  ad->presentFromRootViewController(root);  // not ready: nothing
  ASSERT_TRUE(loadAndHearTheEnd());
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAdDidReceiveAd:"});
  EXPECT_TRUE(ad->isReady());
  ad->presentFromRootViewController(root);
  EXPECT_FALSE(ad->isReady());
  auto played = adapter(0);
  ASSERT_TRUE(played && played->presented);
  auto c = played->connector.lock();
  c->adapterDidRewardUserWithReward(*played, QMAAdReward::initWithRewardTypeRewardAmount("coins", QMADecimalNumber::fromInteger(9)));
  c->adapterDidCloseRewardBasedVideoAd(*played);
  EXPECT_EQ(host->heard, (std::vector<std::string>{"rewardBasedVideoAdDidReceiveAd:", "rewardBasedVideoAdDidOpen:",
                                                   "rewardBasedVideoAdDidStartPlaying:",
                                                   "rewardBasedVideoAd:didRewardUserWithReward: gems 3",
                                                   "rewardBasedVideoAdDidClose:"}));
  // The configuration's impression ping and the network's own.
  ASSERT_TRUE(pump([&] { return server->requestsForPath("/imp").size() == 2; }));
}

TEST_F(RewardTest, AnAdapterThatAnswersOnAnotherThreadIsHeardOnTheMainThread) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"fill", "from-another-thread"}})}))));
  ASSERT_TRUE(loadAndHearTheEnd());  // the outcome and the host's message come on the main thread (checked)
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAdDidReceiveAd:"});
  EXPECT_TRUE(ad->isReady());
}

TEST_F(RewardTest, ALoadWhoseSDKCoreAnswerNeverComesFailsWithErrorFiveAndTheNextLoadIsTaken) {
  useScenario({{"answers", {{{"answer", "silence"}}}}});
  // Unanswered requests stay with the SDK-core controller: counted from here.
  auto controller = QMASDKCoreController::sharedInstance();
  const std::size_t pending = controller->pendingRequestCount();
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] { return controller->pendingRequestCount() == pending + 1; })) << "the request reached the page";
  drainMain();
  foundation::Clock::advance(QMASlot::kSDKCoreAnswerTimeout - 1);
  drainMain();
  EXPECT_TRUE(ad->requestInProgress());
  foundation::Clock::advance(2);
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAd:didFailToLoadwithError: 5"});
  // The page's answer after the time-out is not taken.
  ad->loadAdURLWithParameters({{"url", "http://127.0.0.1:9/late"}});
  drainMain();
  EXPECT_EQ(host->heard.size(), 1u);
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-next", "user-7");
  EXPECT_TRUE(ad->requestInProgress());
  EXPECT_EQ(ad->adUnitID(), std::optional<std::string>("unit-next"));
  // The test ends once the next load's request has reached the page: its parameters are
  // built on the controller's request queue, from the process's device facts, bundle and
  // store, which the fixture resets as the test ends and the process's exit destroys. Left
  // running (on a loaded machine the queue's turn comes late), that work can meet them
  // being taken down and abort the process.
  ASSERT_TRUE(pump([&] { return controller->pendingRequestCount() == pending + 2; })) << "the next request reached the page";
}

TEST_F(RewardTest, AnEarlierRequestsTimeOutNeverEndsALaterRequestOfTheSameConnector) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"fill", "then-hang"}})}),
                                             {{"ad_network_timeout_millis", 1000}})));
  ASSERT_TRUE(loadAndHearTheEnd());
  ASSERT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAdDidReceiveAd:"});
  foundation::Clock::advance(0.5);
  drainMain();
  // The same connector is asked again while the first request's time-out is still due.
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] { return adapter(0) && adapter(0)->requests == 2; }));
  foundation::Clock::advance(0.7);  // the first request's time-out is due now
  drainMain();
  EXPECT_TRUE(ad->requestInProgress());
  EXPECT_EQ(host->heard.size(), 1u);
  foundation::Clock::advance(0.5);  // the second request's own time-out
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(host->heard.back(), "rewardBasedVideoAd:didFailToLoadwithError: 9");
}

TEST_F(RewardTest, ANetworkWhoseSetUpFailedWhileAnotherWasAskedIsNotAskedForAnAd) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"fill", "hang"}}, kAdapterClasses[0]),
                                                          network("2", {{"setup", "later-fail"}}, kAdapterClasses[1])}),
                                             {{"ad_network_timeout_millis", 1000}})));
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] { return adapter(0) && adapter(0)->requests == 1 && adapter(1); }));
  auto second = adapter(1);
  // The second network's set-up fails while the first is being asked.
  second->connector.lock()->adapterDidFailToSetUpRewardBasedVideoAdWithError(*second, foundation::Error{"net", 1, {}});
  drainMain();
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(second->requests, 0);
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAd:didFailToLoadwithError: 9"});
}

TEST_F(RewardTest, AnAdURLThatIsNoTextIsNoAdURL) {
  useScenario({{"answers", {{{"answer", "silence"}}}}});
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", std::nullopt);
  ad->loadAdURLWithParameters({{"url", 5}});
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAd:didFailToLoadwithError: 1"});
}

TEST_F(RewardTest, TheRewardIsTheAdaptersWithoutAListAndNoneWhenTheListsFirstCannotBeRead) {
  struct Row {
    json settings;
    const char* heard;
  };
  for (const Row& row : {Row{json::object(), "rewardBasedVideoAd:didRewardUserWithReward: coins 9"},
                         Row{{{"rewards", {{{"rb_type", "gems"}}}}}, "rewardBasedVideoAd:didRewardUserWithReward: (none)"}}) {
    host = std::make_shared<formats_test::Host>();
    ad = QMARewardBasedVideoAd::create();
    ad->setDelegate(host);
    TestRewardAdapter::live().clear();
    useScenario(mediationScenario(rewardConfig(json::array({network("1", json::object())}), row.settings)));
    ASSERT_TRUE(loadAndHearTheEnd());
    ad->presentFromRootViewController(root);
    auto played = adapter(0);
    ASSERT_TRUE(played);
    played->connector.lock()->adapterDidRewardUserWithReward(
        *played, QMAAdReward::initWithRewardTypeRewardAmount("coins", QMADecimalNumber::fromInteger(9)));
    EXPECT_EQ(host->heard.back(), row.heard);
  }
}

TEST_F(RewardTest, TheWaterfallMovesPastFailedSetUpsNoFillAndATimeOutToTheNetworkThatDelivers) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"setup", "fail"}}, kAdapterClasses[0]),
                                              network("2", {{"fill", "no"}}, kAdapterClasses[1]),
                                              network("3", {{"fill", "hang"}}, kAdapterClasses[2]),
                                              network("4", {{"pubid", "last"}}, kAdapterClasses[3])}),
                                             {{"ad_network_timeout_millis", 2500}})));
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] {
    const auto& asked = mediation()->requestingConnector();
    return asked && asked->adNetworkConfig()->networkID() == std::optional<std::string>("3");
  }));
  EXPECT_EQ(mediation()->connectors().count(kAdapterClasses[0]), 0u);  // its set-up failed: dropped
  foundation::Clock::advance(2.4);
  drainMain();
  EXPECT_TRUE(ad->requestInProgress());  // not yet timed out
  foundation::Clock::advance(0.2);
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAdDidReceiveAd:"});
  EXPECT_EQ(mediation()->receivedConnector()->adNetworkConfig()->networkID(), std::optional<std::string>("4"));
  // A late answer of the network that timed out changes nothing.
  auto late = adapter(2);
  ASSERT_TRUE(late);
  late->connector.lock()->adapterDidReceiveRewardBasedVideoAd(*late);
  EXPECT_EQ(mediation()->receivedConnector()->adNetworkConfig()->networkID(), std::optional<std::string>("4"));
  EXPECT_EQ(host->heard.size(), 1u);
}

TEST_F(RewardTest, ASetUpThatNeverEndsIsDroppedAtTheFirstLoadAfterItsTimeOutAndMadeAgain) {
  useScenario(mediationScenario(rewardConfig(json::array({network("1", {{"setup", "hang"}})}), {{"ad_network_timeout_millis", 1000}})));
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] { return mediation()->requestingConnector() != nullptr; }));
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
  EXPECT_EQ(host->heard, std::vector<std::string>{"rewardBasedVideoAd:didFailToLoadwithError: 9"});
  auto first = adapter(0);
  ASSERT_TRUE(first && first->connector.lock());
  ad->loadRequestWithAdUnitIDUserID(QMARequest::request(), "unit-r", "user-7");
  ASSERT_TRUE(pump([&] { return TestRewardAdapter::live().size() == 2; }));
  EXPECT_FALSE(first->connector.lock());  // told to stop being the old connector's delegate
  EXPECT_EQ(adapter(1)->setUps, 1);
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return !ad->requestInProgress(); }));
}

}  // namespace
