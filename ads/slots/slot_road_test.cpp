// A slot loading ads end to end against the ad server: request, SDK-core page, ad URL,
// fetch with its headers, HTML in the ad view, the owner told. Every road a request can
// take is one row, with the states the slot goes through and what the owner hears.
#include <gtest/gtest.h>

#include "ads/render/mraid_interceptor.h"
#include "ads/services/csi.h"
#include "ads/slots/slot.h"
#include "ads/slots/slot_test_support.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using nlohmann::json;
using slots_test::SlotFixture;

constexpr std::int64_t kIdle = 0, kCoreFailed = 1, kRequesting = 2, kReceivedURL = 3, kFetching = 4, kRendering = 5,
                       kReady = 6, kFailed = 7;

struct SlotRoads : SlotFixture {
  std::string adText(const std::shared_ptr<QMASlot>& slot) {
    return slot->adView()->stringByEvaluatingJavaScriptFromString("document.body ? document.body.innerText : ''");
  }
  // Until the owner has heard how the request ended.
  bool pumpUntilTheOwnerHears() {
    return pump([&] {
      for (const auto& e : owner->events)
        if (e == "finished" || e.rfind("failed", 0) == 0 || e == "customRender") return true;
      return false;
    });
  }
};

// An ad of the scenario under the name "ad", served to every request.
json scenarioWithAd(json ad, json extra = json::object()) {
  json s = {{"ads", {{"ad", std::move(ad)}}}, {"default_ad", "ad"}};
  for (auto& [k, v] : extra.items()) s[k] = v;
  return s;
}

TEST_F(SlotRoads, EveryRoadOfARequestEndsInItsStatesAndWhatTheOwnerHears) {
  struct Road {
    const char* name;
    json scenario;
    std::vector<std::int64_t> states;
    std::string heard;  // the owner's last word
    std::shared_ptr<QMARequest> request = nullptr;
    // Moved on the hand clock once the server has this path: a time-out.
    const char* waitForPath = nullptr;
    double clock = 0;
  };
  const std::string page = adserver::AdServer::kPagePath;
  const Road roads[] = {
      {"HTML ad", scenarioWithAd({{"body", "<html><body>Buy now</body></html>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kRendering, kReady}, "finished"},
      {"ad delivered by the page",
       {{"answers", {{{"answer", "loadAd"}, {"ad", {{"ad_html", "<body>Delivered</body>"}, {"ad_base_url", "http://127.0.0.1/"}}}}}}},
       {kIdle, kRequesting, kIdle, kFetching, kRendering, kReady}, "finished"},
      {"ad ready in the extras", json::object(), {kIdle, kRequesting, kIdle, kFetching, kRendering, kReady}, "finished",
       slots_test::requestWithExtras({{"_ad", Dictionary{{"ad_html", "<body>Preset</body>"}, {"ad_base_url", "http://127.0.0.1/"}}}})},
      {"no fill", json::object(), {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 1"},
      {"empty HTML", scenarioWithAd({{"body", " \n\t \r\n"}}), {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed},
       "failed 1"},
      {"network error", scenarioWithAd({{"body", "<html>cut short</html>"}, {"truncate", true}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 2"},
      {"server error", scenarioWithAd({{"status", 500}, {"body", "<html>oops</html>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 3"},
      {"not found", scenarioWithAd({{"status", 404}, {"body", "<html>gone</html>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 3"},
      {"ad unit rejected", scenarioWithAd({{"status", 400}, {"body", "bad"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 0"},
      {"ad never answered", scenarioWithAd({{"hang", true}}), {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed},
       "failed 13", nullptr, adserver::AdServer::kAdPath, 61},
      {"invalid request", {{"answers", {{{"answer", "invalidRequest"}}}}}, {kIdle, kRequesting, kFailed}, "failed 0"},
      {"page says errors", {{"answers", {{{"answer", "loadAdURL"}, {"extra", {{"errors", "bad slot"}}}}}}},
       {kIdle, kRequesting, kReceivedURL, kFailed}, "failed 0"},
      {"page fails to load", {{"files", {{page, {{"status", 500}, {"body", "down"}}}}}}, {kIdle, kRequesting, kCoreFailed},
       "failed 2"},
      {"page never answers", {{"answers", {{{"answer", "silence"}}}}}, {kIdle, kRequesting, kFailed}, "failed 5", nullptr,
       adserver::AdServer::kScriptPath, 61},
      {"mediation without a mediating format", scenarioWithAd({{"response_type", "mediation"}, {"body", "{}"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 7"},
      {"mediation header on HTML", scenarioWithAd({{"headers", {{"X-Qvra-Mediation", "1"}}}, {"body", "<p>x</p>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 3"},
      {"native response", scenarioWithAd({{"response_type", "native"}, {"body", "{}"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 11"},
      {"custom rendering taken", scenarioWithAd({{"response_type", "custom_rendering"}, {"body", "<p>mine</p>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching}, "customRender"},
      {"custom rendering refused", scenarioWithAd({{"response_type", "custom_rendering"}, {"body", "<p>mine</p>"}}),
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kFailed}, "failed 12"},
  };
  for (const auto& road : roads) {
    SCOPED_TRACE(road.name);
    owner = std::make_shared<slots_test::Owner>();
    if (std::string(road.name) == "custom rendering taken") owner->customRenders = true;
    if (std::string(road.name) == "custom rendering refused") owner->customRenders = false;
    useScenario(road.scenario);
    std::vector<std::int64_t> states;
    auto slot = makeSlot(&states);
    const long shares = QMAMRAIDInterceptor::canInitWithRequestCounter();
    slot->loadRequest(road.request ? road.request : QMARequest::request());
    if (road.waitForPath) {
      ASSERT_TRUE(pump([&] { return !server->requestsForPath(road.waitForPath).empty(); }));
      ASSERT_TRUE(pump([&] { return slot->state() == kFetching || slot->state() == kRequesting; }));
      for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
      EXPECT_TRUE(owner->events.empty() || owner->events.back() == "willLoad");
      foundation::Clock::advance(road.clock);
    }
    ASSERT_TRUE(pumpUntilTheOwnerHears()) << ::testing::PrintToString(states) << " "
                                          << ::testing::PrintToString(owner->events) << " page "
                                          << QMASDKCoreController::sharedInstance()->activeSDKCoreWebView()->state()
                                          << " waiting " << QMASDKCoreController::sharedInstance()->waitingRequestCount()
                                          << " pending " << QMASDKCoreController::sharedInstance()->pendingRequestCount()
                                          << " requests " << server->requests().size();
    drainMain();
    EXPECT_EQ(states, road.states);
    ASSERT_FALSE(owner->events.empty());
    EXPECT_EQ(owner->events.back(), road.heard);
    if (road.heard == "finished") {
      EXPECT_TRUE(slot->ad());
      EXPECT_FALSE(slot->loadingAd());
      EXPECT_NE(slot->timeLastLoaded(), 0u);
      EXPECT_EQ(owner->count("adView"), 1);
      EXPECT_FALSE(adText(slot).empty());
    } else if (road.heard.rfind("failed", 0) == 0) {
      // A failed request shows nothing: no error page, no empty ad.
      EXPECT_EQ(std::count(states.begin(), states.end(), kRendering), 0);
      EXPECT_EQ(owner->errors.size(), 1u);
    }
    if (slot->state() != kFetching) {
      EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), shares) << "the share goes back when a road ends";
    }
    server->stop();  // a hanging answer lets go
    slot->cancelPendingActions();
  }
}

// A page whose load never ends (its one picture drips a byte a second) would hold the ad for
// as long as the picture lasts: at the slot's bound the load fails as a failed page load
// does, and what the page still loads is cut. A page that loaded in time is not touched by
// the bound later. The bound is short here and the hand clock crosses it.
TEST_F(SlotRoads, AnAdsPageLoadEndsAtTheBound) {
  const struct {
    const char* name;
    json picture;
    std::vector<std::int64_t> states;
    std::string heard;
  } cases[] = {
      {"a picture that drips", {{"content_type", "image/png"}, {"drip_ms", 1000}, {"stream_seconds", 120}},
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kRendering, kFailed}, "failed 2"},
      {"a picture that comes", {{"content_type", "image/png"}, {"body", "not much of a picture"}},
       {kIdle, kRequesting, kReceivedURL, kIdle, kFetching, kRendering, kReady}, "finished"},
  };
  constexpr double kBound = 5;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    owner = std::make_shared<slots_test::Owner>();
    useScenario(scenarioWithAd({{"body", "<html><body>Picture: <img src='{base}/picture.png'></body></html>"}},
                               {{"files", {{"/picture.png", c.picture}}}}));
    std::vector<std::int64_t> states;
    auto slot = makeSlot(&states);
    slot->setAdPageLoadTimeout(kBound);
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pump([&] { return !server->requestsForPath("/picture.png").empty() && slot->state() == kRendering; }))
        << ::testing::PrintToString(states);
    if (c.heard == "finished") {
      ASSERT_TRUE(pumpUntilTheOwnerHears());
    }
    // Just short of the bound nothing has changed.
    foundation::Clock::advance(kBound - 1);
    for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
    EXPECT_EQ(owner->count(c.heard), c.heard == "finished" ? 1 : 0);
    foundation::Clock::advance(1.5);
    ASSERT_TRUE(pumpUntilTheOwnerHears()) << ::testing::PrintToString(states);
    for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
    drainMain();
    EXPECT_EQ(states, c.states);
    EXPECT_EQ(owner->events.back(), c.heard);
    EXPECT_EQ(owner->errors.size(), c.heard == "finished" ? 0u : 1u);
    EXPECT_FALSE(slot->adView()->isLoading());
    server->stop();
    slot->cancelPendingActions();
  }
}

TEST_F(SlotRoads, AShownAdPingsItsImpressionOnceAndHoldsItsHeadersProperties) {
  server->setScenario(scenarioWithAd({{"body", "<html><body>Ad</body></html>"},
                              {"headers",
                               {{"X-Qvra-Tracking-Urls", serverURL("/ping/impression")},
                                {"X-Qvra-Manual-Tracking-Urls", serverURL("/ping/manual")},
                                {"X-Qvra-Click-Tracking-Urls", serverURL("/ping/click")},
                                {"X-Qvra-Refresh-Rate", "45"},
                                {"X-Qvra-Debug-Dialog", "creative 7"},
                                {"X-Qvra-Disable-Activation-And-Scroll", "1"}}}}));
  auto slot = makeSlot();
  slot->setReloadable(true);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  ASSERT_EQ(owner->events.back(), "finished");
  EXPECT_DOUBLE_EQ(slot->reloadInterval(), 45);
  ASSERT_TRUE(slot->reloadTimer());
  EXPECT_EQ(slot->adView()->adDebugDialog(), "creative 7");
  EXPECT_FALSE(slot->adView()->scrollView().scrollEnabled);
  EXPECT_FALSE(slot->adView()->touched());
  ASSERT_TRUE(pump([&] { return server->requestsForPath("/ping/impression").size() == 1; }));
  slot->pingImpressionURLs();  // the set was emptied by the first ping
  slot->pingClickURLs();
  slot->pingClickURLs();  // click URLs go out on every call
  slot->pingManualTrackingURLs();
  slot->pingManualTrackingURLs();  // once, like the impression
  ASSERT_TRUE(pump([&] {
    return server->requestsForPath("/ping/click").size() == 2 && server->requestsForPath("/ping/manual").size() == 1;
  }));
  EXPECT_EQ(server->requestsForPath("/ping/impression").size(), 1u);
  EXPECT_EQ(server->requestsForPath("/ping/manual").size(), 1u);
  EXPECT_EQ(owner->count("click"), 2);
  // The request carried the request ID and the statistics of the ad unit.
  ASSERT_EQ(adRequests().size(), 1u);
  EXPECT_NE(adRequests()[0].query.find("request_id=" + slot->requestID()), std::string::npos);
  EXPECT_NE(adRequests()[0].query.find("slotname=unit-1"), std::string::npos);
}

TEST_F(SlotRoads, AClickOnAShownAdIsCountedPingedAndLeavesTheApplication) {
  server->setScenario(scenarioWithAd({{"body", "<html><body><a href=\"http://127.0.0.1:1089/landing?x=1\">Go</a></body></html>"},
                              {"headers", {{"X-Qvra-Click-Tracking-Urls", serverURL("/ping/click")}}}}));
  auto slot = makeSlot();
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  ASSERT_EQ(owner->events.back(), "finished");
  const auto opened = uikit::Application::sharedApplication()->openedURLs().size();

  // (Browsers never navigate to well-known service ports such as 9: the landing page is on
  // an ordinary one that nothing serves.)
  // Too soon after the load, and untouched: no click.
  slot->adView()->webView()->tapLink(0);
  drainMain();
  EXPECT_EQ(owner->count("click"), 0);

  foundation::Clock::advance(0.2);
  slot->adView()->hitTest({5, 5});  // a finger on the ad
  slot->adView()->webView()->tapLink(0);
  ASSERT_TRUE(pump([&] { return uikit::Application::sharedApplication()->openedURLs().size() == opened + 1; }));
  EXPECT_EQ(uikit::Application::sharedApplication()->openedURLs().back(), "http://127.0.0.1:1089/landing?x=1");
  EXPECT_EQ(owner->count("click"), 1);
  EXPECT_EQ(owner->count("leave"), 1);
  auto stats = slot->ad()->statistics();
  EXPECT_EQ(stats->objectForKey("pcc").longLongValue(), 1);
  EXPECT_EQ(stats->objectForKey("pclb"), Value(true));
  EXPECT_FALSE(stats->objectForKey("tclickcurr").isNull());
  ASSERT_TRUE(pump([&] { return server->requestsForPath("/ping/click").size() == 1; }))
      << server->requestsForPath("/ping/click").size() << " click pings; the hand clock at "
      << foundation::Clock::monotonic();
  EXPECT_EQ(slot->state(), kReady);
}

TEST_F(SlotRoads, AFailedFetchsIntervalGoesThroughTheOneSecondFloor) {
  struct Case {
    const char* name;
    json ad;
    double before;
    double after;
    bool armed;
  };
  const Case cases[] = {
      {"a tenth of a second", {{"headers", {{"X-Qvra-Refresh-Rate", "0.05"}}}, {"body", ""}}, 45, 0, false},
      {"thirty seconds", {{"status", 500}, {"headers", {{"X-Qvra-Refresh-Rate", "30"}}}, {"body", "x"}}, 45, 30, true},
      {"none given", {{"status", 500}, {"body", "x"}}, 45, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    owner = std::make_shared<slots_test::Owner>();
    useScenario(scenarioWithAd(c.ad));
    auto slot = makeSlot();
    slot->setReloadable(true);
    slot->setReloadInterval(c.before);
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilTheOwnerHears());
    EXPECT_DOUBLE_EQ(slot->reloadInterval(), c.after);
    EXPECT_EQ(slot->reloadTimer() != nullptr, c.armed);
    // Nothing asks again before the interval: no tight loop of requests.
    const auto asked = adRequests().size();
    foundation::Clock::advance(0.5);
    drainMain();
    EXPECT_EQ(adRequests().size(), asked);
    slot->cancelPendingActions();
  }
}

TEST_F(SlotRoads, ARequestAfterTheHourReloadsTheSDKCorePageFirst) {
  server->setScenario(scenarioWithAd({{"body", "<body>Ad</body>"}}));
  auto slot = makeSlot();
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 1; }));
  const auto pages = server->requestsForPath(adserver::AdServer::kPagePath).size();
  foundation::Clock::advance(3600.5);  // the page is more than an hour old
  drainMain();
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 2; }));
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), pages + 1);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 3; }));
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), pages + 1);
}

TEST_F(SlotRoads, AResponseThatNeverCameKeepsTheIntervalItHad) {
  useScenario(scenarioWithAd({{"hang", true}}));
  auto slot = makeSlot();
  slot->setReloadable(true);
  slot->setReloadInterval(45);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return !adRequests().empty() && slot->state() == kFetching; }));
  foundation::Clock::advance(61);
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  EXPECT_EQ(owner->events.back(), "failed 13");
  EXPECT_DOUBLE_EQ(slot->reloadInterval(), 45);
  server->stop();
  slot->cancelPendingActions();
}

TEST_F(SlotRoads, ARefusedCustomRenderingFailsTheRequestAndTheSlotLoadsAgain) {
  useScenario(scenarioWithAd({{"response_type", "custom_rendering"}, {"body", "<p>mine</p>"}}));
  owner->customRenders = false;
  owner->customRenderError = foundation::Error{kQMAErrorDomain, QMARequestErrorCodeTimeout, {}};
  auto slot = makeSlot();
  slot->setReloadable(true);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  ASSERT_TRUE(pump([&] { return !owner->errors.empty(); }));
  EXPECT_EQ(owner->events.back(), "failed 5");  // the owner's own error
  EXPECT_EQ(slot->state(), kFailed);
  EXPECT_FALSE(slot->isMakingRequest());
  EXPECT_FALSE(slot->reloadable());  // custom rendering stops reloading for good
  EXPECT_FALSE(slot->ad());          // the slot's ad before the refused one
  // Not stuck: the next request is made.
  owner->customRenders = true;
  slot->loadRequest(QMARequest::request());
  EXPECT_EQ(slot->state(), kRequesting);
  ASSERT_TRUE(pump([&] { return owner->count("customRender") == 2; }));
  EXPECT_EQ(owner->customRenderedAd->adHTML(), "<p>mine</p>");
}

// The slot takes an answer only while it waits (state 2) and only for the request it made
// last: a cancelled, replaced or abandoned request is never revived by its late answer.
TEST_F(SlotRoads, LateAnswersOfTheSDKCoreReviveNothing) {
  useScenario(scenarioWithAd({{"body", "<body>Ad</body>"}}));
  struct Case {
    const char* name;
    std::function<void(QMASlot&)> afterLoad;
    std::int64_t state;
  };
  const Case cases[] = {
      {"cancelled", [](QMASlot& s) { s.cancelPendingActions(); }, kIdle},
      {"owner gone", [](QMASlot& s) { s.cancelPendingAndFutureActions(); }, QMASlotStateInvalidated},
      {"ad type changed without reload", [](QMASlot& s) {
         s.setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeLeaderboard), false);
         s.cancelLoad();
       }, kIdle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server->clearRequests();
    owner = std::make_shared<slots_test::Owner>();
    auto late = makeSlot();
    late->setAdUnitID("late");
    late->loadRequest(QMARequest::request());
    c.afterLoad(*late);
    // A request made after it is answered after it: once that has its ad, the page has
    // answered the first too.
    auto barrier = makeSlot();
    barrier->setAdUnitID("barrier");
    barrier->loadRequest(QMARequest::request());
    ASSERT_TRUE(pump([&] { return barrier->state() == kReady; }));
    drainMain();
    EXPECT_EQ(late->state(), c.state);
    ASSERT_EQ(adRequests().size(), 1u);
    EXPECT_NE(adRequests()[0].query.find("slotname=barrier"), std::string::npos);
    EXPECT_FALSE(late->adFetcher());
  }
}

TEST_F(SlotRoads, APreemptedRequestsAnswerIsDroppedAndTheNewOneIsServed) {
  useScenario(scenarioWithAd({{"body", "<body>Ad</body>"}}));
  owner->preempt = true;
  std::vector<std::int64_t> states;
  auto slot = makeSlot(&states);
  auto first = QMARequest::request();
  first->setKeywords(std::vector<std::string>{"first"});
  auto second = QMARequest::request();
  second->setKeywords(std::vector<std::string>{"second"});
  slot->loadRequest(first);
  slot->loadRequest(second);
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  EXPECT_EQ(owner->events.back(), "finished");
  EXPECT_EQ(states, (std::vector<std::int64_t>{kIdle, kRequesting, kIdle, kRequesting, kReceivedURL, kIdle, kFetching,
                                               kRendering, kReady}));
  ASSERT_EQ(adRequests().size(), 1u);
  EXPECT_NE(adRequests()[0].query.find("second"), std::string::npos);
  EXPECT_EQ(adRequests()[0].query.find("first"), std::string::npos);
}

TEST_F(SlotRoads, AnswersOfTheWrongKindCountAsMissing) {
  auto slot = makeSlot();
  slot->willRequestAdURL();
  slot->setRequestID("r1");
  auto stats = QMAApplication::sharedInstance()->statistics();
  const auto offBefore = stats->objectForKey("bas_off").longLongValue().value_or(0);
  slot->loadAdURLWithParameters({{"request_id", "r1"},
                                 {"url", 5},
                                 {"request_scenario", Value(foundation::Array{"offline_buffer"})},
                                 {"enable_auto_click_protection", 1}});
  EXPECT_FALSE(slot->adViewDelegate()->opener()->isAutoClickProtected());
  EXPECT_EQ(stats->objectForKey("bas_off").longLongValue().value_or(0), offBefore);
  ASSERT_TRUE(slot->loadingAd());
  EXPECT_FALSE(slot->loadingAd()->adURL());
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  EXPECT_EQ(owner->events.back(), "failed 1");  // an ad without a URL: nothing to show

  // Typed answers are taken: the scenario's statistics, the click protection.
  slot->willRequestAdURL();
  slot->setRequestID("r2");
  const auto seq = stats->objectForKey("seq_num");
  const auto oar = stats->objectForKey("oar").longLongValue().value_or(0);
  slot->loadAdURLWithParameters({{"request_id", "r2"},
                                 {"url", serverURL("/qads/ad?x=1")},
                                 {"request_scenario", "offline_buffer"},
                                 {"enable_auto_click_protection", "1"}});
  EXPECT_TRUE(slot->adViewDelegate()->opener()->isAutoClickProtected());
  EXPECT_EQ(stats->objectForKey("bas_off").longLongValue().value_or(0), offBefore + 1);
  EXPECT_EQ(stats->objectForKey("oar").longLongValue().value_or(0), oar + 1);
  EXPECT_EQ(stats->objectForKey("losn"), seq);
  slot->cancelPendingActions();

  // An answer for another request, or in another state, is not taken.
  slot->willRequestAdURL();
  slot->setRequestID("r3");
  slot->loadAdURLWithParameters({{"request_id", "r2"}, {"url", serverURL("/qads/ad")}});
  EXPECT_EQ(slot->state(), kRequesting);
  slot->cancelPendingActions();
  slot->invalidJavaScriptRequest();
  slot->failedJavaScriptFile();
  EXPECT_EQ(slot->state(), kIdle);
}

TEST_F(SlotRoads, AServerSizeIsAdoptedOnlyWhenTheOwnerListsIt) {
  struct Case {
    const char* name;
    std::vector<std::shared_ptr<const QMABoxedValue>> sizes;
    bool adopted;
  };
  const Case cases[] = {
      {"not listed", {NSValueFromQMAAdSize(kQMAAdSizeBanner)}, false},
      {"listed", {NSValueFromQMAAdSize(kQMAAdSizeBanner), NSValueFromQMAAdSize(kQMAAdSizeMediumRectangle)}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    owner = std::make_shared<slots_test::Owner>();
    owner->sizes = c.sizes;
    owner->boundsAnswer = uikit::Rect{{0, 0}, {300, 250}};
    useScenario(scenarioWithAd({{"body", "<body>Big</body>"}, {"headers", {{"X-Qvra-Ad-Size", "300x250"}}}}));
    auto slot = makeSlot();
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilTheOwnerHears());
    EXPECT_EQ(owner->count("willResize"), c.adopted ? 1 : 0);
    EXPECT_EQ(owner->adoptedSize.has_value(), c.adopted);
    if (c.adopted) {
      EXPECT_TRUE(QMAAdSizeEqualToSize(*owner->adoptedSize, kQMAAdSizeMediumRectangle));
    }
    const uikit::Size expected = c.adopted ? uikit::Size{300, 250} : uikit::Size{320, 50};
    EXPECT_EQ(slot->adView()->frame().size, expected);
    EXPECT_EQ(slot->newAdSize(), uikit::Size{});
  }
}

TEST_F(SlotRoads, AnAdThatAsksForViewabilityReportsFromItsImpressionUntilTheNextResponse) {
  useScenario(scenarioWithAd({{"body", "<body>Seen</body>"}, {"headers", {{"X-Qvra-Vistrace", "{\"unit\": 1}"}}}}));
  auto slot = makeSlot();
  auto window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
  window->setHidden(false);
  window->addSubview(slot->adView());
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears());
  ASSERT_EQ(owner->events.back(), "finished");
  EXPECT_TRUE(slot->viewHasMadeImpression());
  ASSERT_TRUE(slot->vistraceMonitor());
  ASSERT_TRUE(slot->SDKCoreWebView());
  EXPECT_NE(slot->vistraceID(), 0u);
  auto page = slot->SDKCoreWebView();
  EXPECT_TRUE(slot->vistraceMonitor()->isMonitoring());  // it is in a window
  auto report = slot->vistraceParametersVistraceUnloaded(*slot->vistraceMonitor(), true);
  const auto& unit = (*report["units"].asArray())[0];
  EXPECT_EQ(*unit.get("doneReasonCode"), Value("u"));
  EXPECT_EQ(*unit.get("adFormat"), Value("banner_mb"));
  EXPECT_EQ(*unit.get("vistraceJSON"), Value(Dictionary{{"unit", 1}}));
  EXPECT_EQ(*unit.get("hashCode"), Value(static_cast<unsigned long long>(slot->vistraceID())));

  // A new response ends the unit: the last report queued, the page handed back.
  slot->setReloadable(true);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 2; }));
  EXPECT_TRUE(slot->vistraceMonitor());  // the new ad's own unit
  slot->finishVistraceReporting();
  EXPECT_FALSE(slot->vistraceMonitor());
  EXPECT_FALSE(slot->SDKCoreWebView());
  window->removeFromSuperview();
}

TEST_F(SlotRoads, TheURLAClickOpens) {
  struct Signal : QMAClickSignalSource {
    std::optional<std::string> clickSignalForAdIdentifier(const std::string& ai) override { return "sig_" + ai; }
  };
  QMASlot::setClickSignalSource(std::make_shared<Signal>());
  auto slot = makeSlot();
  slot->setAd(QMABannerAd::init());
  foundation::UserDefaults::standardUserDefaults()->setObjectForKey(Value("ads.example, ,click.test,"),
                                                                     QMASlot::kAdClickDomainsKey);
  struct Case {
    std::string url;
    std::string opened;
  };
  const Case cases[] = {
      {"qomb://sdk/click?ai=1", "qomb://sdk/click?ai=1"},
      {"about:blank", "about:blank"},
      {"https://x.ads.example/aclk?ai=abc", "https://x.ads.example/aclk?ai=abc&sig_abc"},
      {"https://X.CLICK.TEST/aclk?ai=abc", "https://X.CLICK.TEST/aclk?ai=abc&sig_abc"},
      {"https://elsewhere.test/aclk?ai=abc", "https://elsewhere.test/aclk?ai=abc"},  // not an ad-click host
      {"https://x.ads.example/aclk?ai=", "https://x.ads.example/aclk?ai="},
      {"https://x.ads.example/aclk", "https://x.ads.example/aclk"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(slot->gestureClickURLWithURL(*net::URL::fromString(c.url)).absoluteString(), c.opened) << c.url;
  // Empty entries of the list name no host; without a list the built-in one counts.
  EXPECT_FALSE(QMASlot::isQuillonAdURL(*net::URL::fromString("https://anything.test/a")));
  foundation::UserDefaults::standardUserDefaults()->removeObjectForKey(QMASlot::kAdClickDomainsKey);
  EXPECT_TRUE(QMASlot::isQuillonAdURL(*net::URL::fromString("https://c.wardvane.invalid/a")));
  EXPECT_FALSE(QMASlot::isQuillonAdURL(*net::URL::fromString("https://ads.example/a")));
  // An impression ticket goes into the ad's statistics; a message URL records none.
  slot->gestureClickURLWithURL(*net::URL::fromString("https://h.test/aclk/t1/t2"));
  waitFor(slot->ad()->statistics()->serialQueue());
  EXPECT_EQ(slot->ad()->statistics()->objectForKey("pit"), Value("t1/t2"));
}

}  // namespace
