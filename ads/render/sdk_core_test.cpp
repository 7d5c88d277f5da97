// The SDK-core page end to end: our page served by the ad server stand-in, loaded in a
// hidden web view, asked for ads and constants through the controller.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <mutex>

#include "ads/render/sdk_core_controller.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/render/server_constants.h"
#include "ads/services/absolute_time.h"
#include "ads/services/logging.h"
#include "platform/foundation/log.h"
#include "ads/services/test_support.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/url.h"
#include "tools/adserver/ad_server.h"

namespace {

struct Requester : QMASDKCoreControllerDelegate {
  foundation::Dictionary params;
  std::string requestID;
  std::vector<std::string> answers;
  std::optional<foundation::Dictionary> adURLParameters;
  long adType = 1;
  long CSIIdentifier() override { return 7; }
  // Set on the controller's request queue while the test may be polling it on the main thread.
  std::mutex idMutex;
  void setRequestID(const std::string& id) override {
    std::lock_guard lock(idMutex);
    requestID = id;
  }
  std::string currentRequestID() {
    std::lock_guard lock(idMutex);
    return requestID;
  }
  std::optional<foundation::Dictionary> requestParameters() override {
    auto p = params;
    p["request_id"] = currentRequestID();
    return p;
  }
  long requestedAdType() override { return adType; }
  void loadAdURLWithParameters(const foundation::Dictionary& p) override {
    answers.push_back("loadAdURL");
    adURLParameters = p;
  }
  std::shared_ptr<QMAAd> ad;
  std::optional<foundation::Dictionary> adHeaders;
  void loadAdHeaders(const std::shared_ptr<QMAAd>& a, const std::optional<foundation::Dictionary>& h) override {
    answers.push_back("loadAd");
    ad = a;
    adHeaders = h;
  }
  void invalidJavaScriptRequest() override { answers.push_back("invalidRequest"); }
  void failedJavaScriptFile() override { answers.push_back("failedJavaScriptFile"); }
};

struct SDKCoreTest : qma_test::DeviceRootTest {
  std::unique_ptr<adserver::AdServer> server;
  std::shared_ptr<QMASDKCoreController> controller;

  void startServer(nlohmann::json scenario) {
    server = std::make_unique<adserver::AdServer>(adserver::AdServer::parseScenario(scenario.dump()));
    ASSERT_TRUE(server->start());
    setenv("WARDVANE_AD_NETWORK_URL", server->baseURL().c_str(), 1);
    controller = QMASDKCoreController::create();
  }
  void TearDown() override {
    if (server) server->stop();
    unsetenv("WARDVANE_AD_NETWORK_URL");
    qma_test::DeviceRootTest::TearDown();
  }
  static bool pump(const std::function<bool()>& done) { return qma_test::pumpMainLoop(done); }
  static std::shared_ptr<Requester> requester(foundation::Dictionary params = {}) {
    auto r = std::make_shared<Requester>();
    r->params = std::move(params);
    return r;
  }
  std::string evaluate(const std::string& script) {
    return controller->activeSDKCoreWebView()->adView()->stringByEvaluatingJavaScriptFromString(script);
  }
};

TEST_F(SDKCoreTest, ARequestGoesInAsGetAdAndLoadAdURLComesBackWithItsIDAfterTheConstants) {
  startServer({{"constants", {{"ping_interval", "42"}, {"as_domains", "ads.example,ads2.example"}}}});
  auto first = requester({{"slotname", "unit-1"}});
  auto second = requester({{"slotname", "unit-2"}});
  controller->buildAdURL(first);
  controller->buildAdURL(second);
  ASSERT_TRUE(pump([&] { return first->answers.size() == 1 && second->answers.size() == 1; }));
  EXPECT_EQ(first->requestID, "1");
  EXPECT_EQ(second->requestID, "2");
  ASSERT_TRUE(first->adURLParameters);
  EXPECT_EQ(*foundation::stringForKey(*first->adURLParameters, "request_id"), "1");
  const std::string url = *foundation::stringForKey(*first->adURLParameters, "url");
  EXPECT_EQ(url.rfind(server->baseURL() + "/qads/ad?", 0), 0u) << url;
  EXPECT_NE(url.find("slotname=unit-1"), std::string::npos);
  EXPECT_EQ(*foundation::stringForKey(*second->adURLParameters, "request_id"), "2");

  ASSERT_TRUE(pump([&] { return !controller->SDKConstantsNeedReload(); }));
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->stringForKey("/quillon/ads/ping_interval"), "42");
  EXPECT_EQ(defaults->stringForKey("/quillon/ads/as_domains"), "ads.example,ads2.example");
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 1u);
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath)[0].headers.count("user-agent"), 1u);
  EXPECT_EQ(controller->pendingRequestCount(), 0u);
}

TEST_F(SDKCoreTest, ThePageAnswersWithAdsRejectionsAndMediationByScenario) {
  startServer({{"answers",
                {{{"when", {{"slotname", "bad"}}}, {"answer", "invalidRequest"}},
                 {{"when", {{"slotname", "ready"}}},
                  {"answer", "loadAd"},
                  {"ad", {{"ad_html", "<p>\u2028ad</p>"}, {"ad_base_url", "http://127.0.0.1/"}, {"refresh_rate", 30}}}},
                 {{"when", {{"slotname", "typeless"}}}, {"answer", "loadAd"}, {"ad", {{"ad_url", "http://127.0.0.1/a"}}}}}}});
  auto bad = requester({{"slotname", "bad"}});
  auto ready = requester({{"slotname", "ready"}, {"text", "line\u2028end"}});
  auto mediated = requester({{"slotname", "ready"}, {"quillon-ad-url-mediation", "1"}});
  mediated->adType = 2;
  auto typeless = requester({{"slotname", "typeless"}});
  typeless->adType = 7;
  controller->buildAdURL(bad);
  controller->buildAdURL(ready);
  controller->buildAdURL(mediated);
  controller->buildAdURL(typeless);
  ASSERT_TRUE(pump([&] {
    return bad->answers.size() + ready->answers.size() + mediated->answers.size() + typeless->answers.size() == 4;
  }));
  EXPECT_EQ(bad->answers, std::vector<std::string>{"invalidRequest"});
  EXPECT_EQ(ready->answers, std::vector<std::string>{"loadAd"});
  EXPECT_EQ(mediated->answers, std::vector<std::string>{"loadAd"});

  // A banner requester gets a banner ad of the delivered description, not yet typed.
  ASSERT_TRUE(ready->ad);
  EXPECT_EQ(ready->ad->className(), "QMABannerAd");
  EXPECT_EQ(ready->ad->adHTML(), "<p>\u2028ad</p>");
  EXPECT_DOUBLE_EQ(ready->ad->reloadInterval(), 30);
  EXPECT_EQ(ready->ad->responseType(), QMAAdResponseTypeInvalid);
  EXPECT_FALSE(ready->adHeaders);
  // Asked through QVRA_getAdapterLessMediationAd: an interstitial ad typed as mediation,
  // whose headers are exactly the two mediation entries.
  ASSERT_TRUE(mediated->ad);
  EXPECT_EQ(mediated->ad->className(), "QMAInterstitialAd");
  EXPECT_EQ(mediated->ad->responseType(), QMAAdResponseTypeMediation);
  const foundation::Dictionary mediationHeaders{{"x-qvra-mediation", 1}, {"Content-Type", "application/json"}};
  EXPECT_EQ(mediated->adHeaders, mediationHeaders);
  EXPECT_EQ(mediated->ad->responseHeaders(), mediationHeaders);
  // A requested type the controller does not know gets no ad.
  EXPECT_EQ(typeless->answers, std::vector<std::string>{"loadAd"});
  EXPECT_FALSE(typeless->ad);
}

TEST(SDKCoreAds, ADeliveredDescriptionOfAnotherTypeReadsAsEmpty) {
  auto ad = QMASDKCoreAdForFetchedAd(0, foundation::Value(foundation::Array{"ad_html"}));
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->className(), "QMAAd");
  EXPECT_FALSE(ad->adHTML());
  EXPECT_FALSE(ad->adURL());
  auto mediated = QMASDKCoreAdForFetchedAd(1, foundation::Value(foundation::Dictionary{{"is_mediation", "true"}}));
  ASSERT_TRUE(mediated);
  EXPECT_EQ(mediated->responseType(), QMAAdResponseTypeMediation);
}

struct LateRequester : Requester {
  bool wanted = false;
  bool wantsAnswerForRequestID(const std::string&) override { return wanted; }
};

TEST_F(SDKCoreTest, AnAnswerTheRequesterNoLongerWantsIsDropped) {
  startServer(nlohmann::json::object());
  auto late = std::make_shared<LateRequester>();
  controller->buildAdURL(late);
  ASSERT_TRUE(pump([&] { return controller->pendingRequestCount() == 0 && !late->currentRequestID().empty(); }));
  for (int i = 0; i < 20; ++i) dispatch::RunLoop::main().runOnce(0.005);
  EXPECT_TRUE(late->answers.empty());
}

TEST_F(SDKCoreTest, APageThatFailsToLoadFailsTheWaitingRequestersAndTheNextRequestReloads) {
  startServer({{"files", {{adserver::AdServer::kPagePath, {{"status", 500}, {"body", "down"}}}}}});
  auto a = requester(), b = requester();
  controller->buildAdURL(a);
  controller->buildAdURL(b);
  ASSERT_TRUE(pump([&] { return a->answers.size() == 1 && b->answers.size() == 1; }));
  EXPECT_EQ(a->answers, std::vector<std::string>{"failedJavaScriptFile"});
  EXPECT_EQ(b->answers, std::vector<std::string>{"failedJavaScriptFile"});
  EXPECT_EQ(controller->activeSDKCoreWebView()->state(), 4);

  server->setScenario(nlohmann::json::object());
  auto c = requester();
  controller->buildAdURL(c);
  ASSERT_TRUE(pump([&] { return c->answers.size() == 1; }));
  EXPECT_EQ(c->answers, std::vector<std::string>{"loadAdURL"});
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 2u);
}

TEST_F(SDKCoreTest, APageThatNeverFinishesTimesOutAndFailsTheWaitingRequesters) {
  startServer({{"hang_paths", {adserver::AdServer::kPagePath}}});
  auto a = requester();
  controller->buildAdURL(a);
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil(
      [&] { return server->requestsForPath(adserver::AdServer::kPagePath).size() == 1; }, 10));
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_TRUE(a->answers.empty());
  EXPECT_EQ(controller->activeSDKCoreWebView()->state(), 2);
  foundation::Clock::advance(QMASDKCoreWebView::kLoadTimeout + 1);
  ASSERT_TRUE(pump([&] { return !a->answers.empty(); }));
  EXPECT_EQ(a->answers, std::vector<std::string>{"failedJavaScriptFile"});
  EXPECT_EQ(controller->activeSDKCoreWebView()->state(), 4);
  server->stop();
}

TEST_F(SDKCoreTest, AStalePageIsReloadedAfterAnHourButNotAtTheHour) {
  startServer(nlohmann::json::object());
  auto a = requester();
  controller->buildAdURL(a);
  ASSERT_TRUE(pump([&] { return a->answers.size() == 1; }));
  const std::uint64_t refreshed = controller->lastWebViewRefreshTimestamp();
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  // A second short of the hour: the pump's own small clock steps stay inside it.
  foundation::Clock::advance(static_cast<double>(QMASDKCoreController::kStalePageMilliseconds - (now - refreshed)) / 1000.0 -
                             1.5);
  auto b = requester();
  controller->buildAdURL(b);
  ASSERT_TRUE(pump([&] { return b->answers.size() == 1; }));
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 1u);

  foundation::Clock::advance(QMASDKCoreController::kStalePageMilliseconds / 1000.0 + 1);
  auto c = requester();
  controller->buildAdURL(c);
  ASSERT_TRUE(pump([&] { return c->answers.size() == 1; }));
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 2u);
  EXPECT_EQ(c->requestID, "3");
}

TEST_F(SDKCoreTest, TheCommandQueueKeepsTheNewestFiftyAndDropsCommandsAfterAFailure) {
  startServer(nlohmann::json::object());
  auto page = QMASDKCoreWebView::init();
  for (int i = 0; i < 51; ++i) page->enqueueJavaScriptCommand("window.ran = (window.ran || '') + '," + std::to_string(i) + "';");
  auto waiting = page->pendingJavaScriptCommands();
  ASSERT_EQ(waiting.size(), 50u);
  EXPECT_NE(waiting.front().find(",1'"), std::string::npos);
  page->refreshSDKCoreAndNotifyObserver(nullptr);
  ASSERT_TRUE(pump([&] { return page->adView()->stringByEvaluatingJavaScriptFromString("window.ran.split(',').length") == "51"; }));
  EXPECT_EQ(page->adView()->stringByEvaluatingJavaScriptFromString("window.ran.indexOf(',0,')"), "-1");
  EXPECT_EQ(page->adView()->stringByEvaluatingJavaScriptFromString("window.ran.substring(0, 5)"), ",1,2,");

  page->setState(4);
  page->enqueueJavaScriptCommand("window.late = 1;");
  EXPECT_TRUE(page->pendingJavaScriptCommands().empty());
}

// A command that will never run says so: refused after a failure, or pushed out by the
// fifty-first; one that runs does not.
TEST_F(SDKCoreTest, ACommandThePageNeverRunsIsReportedDroppedOnce) {
  startServer(nlohmann::json::object());
  auto page = QMASDKCoreWebView::init();
  std::vector<int> dropped;  // touched on the page's lock queue, read after a wait on it
  auto note = [&](int i) { return [&dropped, i] { dropped.push_back(i); }; };
  for (int i = 0; i < 52; ++i) page->enqueueJavaScriptCommand("void 0;", note(i));
  EXPECT_EQ(page->pendingJavaScriptCommands().size(), 50u);
  EXPECT_EQ(dropped, (std::vector<int>{0, 1}));
  page->refreshSDKCoreAndNotifyObserver(nullptr);
  ASSERT_TRUE(pump([&] { return page->state() == 3 && page->pendingJavaScriptCommands().empty(); }));
  page->setState(4);
  page->enqueueJavaScriptCommand("void 0;", note(99));
  EXPECT_TRUE(page->pendingJavaScriptCommands().empty());
  EXPECT_EQ(dropped, (std::vector<int>{0, 1, 99}));
}

// A message the page sends before it has loaded is refused, each with one short line.
TEST_F(SDKCoreTest, MessagesOfAPageNotYetLoadedAreRefusedWithOneShortLineEach) {
  startServer(nlohmann::json::object());
  std::mutex mu;
  std::vector<std::string> lines;
  auto previous = foundation::setLogSink([&](const std::string& line) {
    std::lock_guard lock(mu);
    lines.push_back(line);
  });
  auto page = QMASDKCoreWebView::init();
  auto ask = [&](const std::string& url) {
    return page->adViewShouldStartLoadWithRequestNavigationType(*page->adView(), net::URLRequest(*net::URL::fromString(url)),
                                                                webkit::NavigationType::Other);
  };
  EXPECT_EQ(ask("qomb://x/loadAdURL?request_id=1&url=" + std::string(5000, 'a')), std::optional<bool>(false));
  EXPECT_EQ(ask("https://elsewhere.example/"), std::optional<bool>(false));  // no message: no line
  QMALogQueue()->sync([] {});
  foundation::setLogSink(previous);
  std::vector<std::string> refused;
  for (const auto& line : lines)
    if (line.find("SDK-core page message refused") != std::string::npos) refused.push_back(line);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("qomb://x/loadAdURL?request_id=1&url=aaa"), std::string::npos);
  EXPECT_LT(refused[0].size(), 300u);
}

// The page's web process ends (a crash, its memory bound, the watchdog) after it loaded:
// a request it was given fails at once rather than at the requester's time-out, the page
// counts as failed, and the next request loads it again and is answered there.
TEST_F(SDKCoreTest, APageWhoseProcessEndsFailsItsUnansweredRequestsAndTheNextRequestLoadsItAgain) {
  startServer({{"answers", {{{"when", {{"slotname", "quiet"}}}, {"answer", "silence"}}}}});
  auto first = requester({{"slotname", "a"}});
  controller->buildAdURL(first);
  ASSERT_TRUE(pump([&] { return first->answers.size() == 1; }));
  auto quiet = requester({{"slotname", "quiet"}});
  controller->buildAdURL(quiet);
  ASSERT_TRUE(pump([&] { return controller->pendingRequestCount() == 1; }));

  controller->activeSDKCoreWebView()->adView()->webView()->terminateWebProcess();
  // The controller itself never times a request out: without word of the loss it would
  // wait for good.
  ASSERT_TRUE(pump([&] { return quiet->answers.size() == 1; }));
  EXPECT_EQ(quiet->answers, std::vector<std::string>{"failedJavaScriptFile"});
  EXPECT_EQ(controller->pendingRequestCount(), 0u);
  EXPECT_EQ(controller->activeSDKCoreWebView()->state(), 4);

  auto next = requester({{"slotname", "b"}});
  controller->buildAdURL(next);
  ASSERT_TRUE(pump([&] { return next->answers.size() == 1; }));
  EXPECT_EQ(next->answers, std::vector<std::string>{"loadAdURL"});
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 2u);
  EXPECT_EQ(controller->activeSDKCoreWebView()->state(), 3);
  EXPECT_TRUE(first->answers.size() == 1 && quiet->answers.size() == 1);
}

// The viewability slots of a lost page stop waiting for it; the process of a page that is
// still loading is the load's to report (its failure), so nothing else happens then.
TEST_F(SDKCoreTest, ALostPageStopsItsViewabilityObserversAndALoadingPageIsLeftToItsLoad) {
  startServer(nlohmann::json::object());
  struct Observer : QMAAdViewVistraceMonitoring {
    int stopped = 0;
    void adViewDidChangeVistraceVisibility(bool) override {}
    void adViewDidStopVistraceMonitoring() override { ++stopped; }
  };
  auto page = QMASDKCoreWebView::init();
  auto observer = std::make_shared<Observer>();
  page->adViewWebContentProcessDidTerminate(*page->adView());  // never loaded: nothing to lose
  EXPECT_EQ(page->state(), 0);
  page->refreshSDKCoreAndNotifyObserver(nullptr);
  ASSERT_TRUE(pump([&] { return page->state() == 3; }));
  page->setVistraceObserverForVistraceID(observer, 5);
  ASSERT_TRUE(page->isVistraceRunning());
  page->adView()->webView()->terminateWebProcess();
  ASSERT_TRUE(pump([&] { return page->state() == 4; }));
  EXPECT_EQ(observer->stopped, 1);
  EXPECT_FALSE(page->isVistraceRunning());
}

TEST_F(SDKCoreTest, TheSharedViewabilityPageIsReusedUnlessItsLoadFailed) {
  startServer(nlohmann::json::object());
  auto first = controller->SDKCoreWebViewForVistraceProcessing();
  ASSERT_TRUE(first);
  EXPECT_EQ(controller->SDKCoreWebViewForVistraceProcessing(), first);
  first->setState(4);  // its load failed: it would drop every report it is sent
  auto second = controller->SDKCoreWebViewForVistraceProcessing();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(controller->SDKCoreWebViewForVistraceProcessing(), second);
}

TEST_F(SDKCoreTest, FetchHttpRequestIsPerformedAndAnsweredOnceWithSuccessOrFailure) {
  startServer({{"files", {{"/data.txt", {{"body", "payload\u2028!"}, {"headers", {{"X-Thing", "7"}}}}},
                          {"/missing.txt", {{"status", 404}, {"body", "no"}}}}}});
  auto a = requester();
  controller->buildAdURL(a);
  ASSERT_TRUE(pump([&] { return a->answers.size() == 1; }));
  evaluate(R"(
    window.results = {};
    window.count = 0;
    var real = QVRA_ReceiveMessage;
    QVRA_ReceiveMessage = function (name, m) { if (name === 'fetchHttpRequestCompleted') window.count++; real(name, m); };
    QVRA_fetch({url: location.protocol + '//' + location.host + '/data.txt', headers: [{key: 'X-Asked', value: 'yes'}, {key: 'nope'}, 'junk']},
               function (ok, r) { results.ok = [ok, r.response_code, r.body, JSON.stringify(r.headers)]; });
    QVRA_fetch({url: location.protocol + '//' + location.host + '/missing.txt'},
               function (ok, r, reason) { results.missing = [ok, r.response_code, typeof reason]; });
    QVRA_fetch({url: ''}, function (ok, r, reason) { results.bad = [ok, r.response_code, reason, r.body, r.headers.length]; });
  )");
  ASSERT_TRUE(pump([&] { return evaluate("window.count") == "3"; }));
  EXPECT_EQ(evaluate("results.ok[0] + ' ' + results.ok[1] + ' ' + results.ok[2]"), "true 200 payload\u2028!");
  EXPECT_NE(evaluate("results.ok[3]").find("{\"key\":\"x-thing\",\"value\":\"7\"}"), std::string::npos);
  EXPECT_EQ(evaluate("results.missing.join(' ')"), "false 404 string");
  EXPECT_EQ(evaluate("results.bad.join('|')"), "false|0|Invalid URL () requested for fetching||0");
  auto asked = server->requestsForPath("/data.txt");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].headers["x-asked"], "yes");
  EXPECT_EQ(asked[0].headers.count("nope"), 0u);

  // The same ID twice while the first runs: one fetch, one answer. No ID: answered at once.
  server->setScenario({{"hang_paths", {"/slow"}}});
  evaluate(R"(
    function send(u){var f=document.createElement('iframe');f.style.display='none';f.src=u;document.documentElement.appendChild(f);}
    window.count = 0;
    var req = JSON.stringify({http_request_id: 'same', url: location.protocol + '//' + location.host + '/slow'});
    send('qomb://sdk/fetchHttpRequest?http_request=' + encodeURIComponent(req));
    send('qomb://sdk/fetchHttpRequest?http_request=' + encodeURIComponent(req));
    window.noID = null;
    QVRA_ReceiveMessage = function (name, m) { if (m.response.http_request_id === '') window.noID = m.reason; };
    send('qomb://sdk/fetchHttpRequest?http_request=' + encodeURIComponent(JSON.stringify({url: 'http://127.0.0.1/'})));
  )");
  ASSERT_TRUE(pump([&] { return evaluate("window.noID") == "Missing http_request_id"; }));
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return server->requestsForPath("/slow").size() == 1; }, 10));
  for (int i = 0; i < 20; ++i) dispatch::RunLoop::main().runOnce(0.005);
  EXPECT_EQ(server->requestsForPath("/slow").size(), 1u);
  server->stop();
}

TEST_F(SDKCoreTest, AFetchThatCannotStartIsAnsweredOnce) {
  startServer(nlohmann::json::object());
  auto a = requester();
  controller->buildAdURL(a);
  ASSERT_TRUE(pump([&] { return a->answers.size() == 1; }));
  // A fetcher that has been used refuses a second start.
  auto used = QMAAdFetcher::init();
  ASSERT_TRUE(used->fetchRequestURLDelegateError(std::nullopt, {}, nullptr));
  QMASDKCoreQOMBHandler::setFetcherFactory([used] { return used; });
  evaluate(R"(
    window.reasons = [];
    QVRA_ReceiveMessage = function (name, m) { reasons.push(m.reason + '/' + m.response.http_request_id); };
    location.href = 'qomb://sdk/fetchHttpRequest?http_request=' +
        encodeURIComponent(JSON.stringify({http_request_id: 9, url: 'http://127.0.0.1/x'}));
  )");
  // The message reaches its handler through the main queue: keep the used fetcher
  // installed until it has been answered.
  bool answered = pump([&] { return evaluate("reasons.length") == "1"; });
  QMASDKCoreQOMBHandler::setFetcherFactory(nullptr);
  ASSERT_TRUE(answered);
  for (int i = 0; i < 20; ++i) {
    dispatch::RunLoop::main().runOnce(0.002);
    foundation::Clock::advance(0.002);
  }
  EXPECT_EQ(evaluate("reasons.join(',')"), "Could not start fetch. This object has already been used to fetch./9");
}

TEST_F(SDKCoreTest, ServerConstantsAreAppliedAndStoredAsTheyArrive) {
  startServer(nlohmann::json::object());
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  defaults->setObjectForKey(foundation::Value("60"), "/quillon/ads/ping_interval");
  defaults->setObjectForKey(foundation::Value(foundation::Dictionary{{"tel", "Call"}}),
                            "/quillon/ads/clickthrough_confirm_schemes");
  auto handler = controller->activeSDKCoreWebView()->SDKCoreQOMBHandler();
  controller->SDKCoreQOMBHandlerDidLoadSDKConstants(
      *handler, {{"mraid_banner_path", "https://s/b.js"},
                 {"vistrace_unload_cache_size", "-1"},
                 {"use_new_web_views_for_vistrace", "true"},
                 {"mraid_disable_redirect", "1"},
                 {"refresh_intervals", "{\"vistrace_sampling_interval\":\"0.25\",\"swipe_to_view_sampling_interval\":-3}"},
                 {"whitelisted_ad_request_domains", "[\"a.example\", 3, \"b.example\"]"},
                 {"clickthrough_confirm_schemes", "{\"sms\": 3}"},
                 {"ping_interval", ""},
                 {"url_time_to_live", "5"},
                 {"adapter_class_names", "NoSuchAdapter, OtherAdapter"}});
  EXPECT_EQ(controller->vistraceUnloadCacheMaxSize(), 3u);  // a negative bound is ignored
  EXPECT_TRUE(controller->useNewWebViewsForVistraceProcessing());
  EXPECT_DOUBLE_EQ(controller->vistraceSamplingInterval(), 0.25);
  EXPECT_DOUBLE_EQ(controller->swipeToViewSamplingInterval(), 0);
  EXPECT_FALSE(QMAMRAIDInterceptor::isAllowed());
  EXPECT_EQ(QMAMRAIDInterceptor::bannerImplementationPath(), "https://s/b.js");
  EXPECT_EQ(QMAMRAIDInterceptor::interstitialImplementationPath(), std::nullopt);
  EXPECT_EQ(defaults->arrayForKey("/quillon/ads/whitelisted_ad_request_domains"),
            (foundation::Array{"a.example", "b.example"}));
  EXPECT_EQ(defaults->dictionaryForKey("/quillon/ads/clickthrough_confirm_schemes"), (foundation::Dictionary{{"tel", "Call"}}));
  EXPECT_EQ(defaults->stringForKey("/quillon/ads/ping_interval"), "60");
  EXPECT_EQ(defaults->stringForKey("/quillon/ads/url_time_to_live"), "5");
  EXPECT_FALSE(controller->SDKConstantsNeedReload());

  controller->SDKCoreQOMBHandlerDidLoadSDKConstants(*handler, {{"vistrace_unload_cache_size", "5"}});
  EXPECT_EQ(controller->vistraceUnloadCacheMaxSize(), 5u);
  EXPECT_FALSE(controller->useNewWebViewsForVistraceProcessing());
  EXPECT_TRUE(QMAMRAIDInterceptor::isAllowed());
  EXPECT_EQ(QMAMRAIDInterceptor::bannerImplementationPath(), std::nullopt);
}

TEST(ServerConstantReaders, ReadHostileTextIntoValuesOrNothing) {
  EXPECT_TRUE(QMAServerConstants::boolValue("  +0001"));
  EXPECT_TRUE(QMAServerConstants::boolValue("yes"));
  EXPECT_FALSE(QMAServerConstants::boolValue("0"));
  EXPECT_FALSE(QMAServerConstants::boolValue("no"));
  EXPECT_DOUBLE_EQ(QMAServerConstants::doubleValue(" 0.25s"), 0.25);
  EXPECT_DOUBLE_EQ(QMAServerConstants::doubleValue("x1"), 0);
  EXPECT_FALSE(QMAServerConstants::decodeRefreshIntervals("[1]"));
  EXPECT_FALSE(QMAServerConstants::decodeStringList("{}"));
  EXPECT_FALSE(QMAServerConstants::decodeConfirmSchemes("{\"sms\": 3}"));
  EXPECT_EQ(QMAServerConstants::classNameList(" A , ,B"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(QMAServerConstants::classNameList("[\"A\", 1, \"\"]"), (std::vector<std::string>{"A"}));
  EXPECT_TRUE(QMAServerConstants::classNameList("[broken").empty());
}

}  // namespace
