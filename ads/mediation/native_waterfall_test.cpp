// Waterfalls of native ads: the ad loader's slot gets a mediation configuration from the ad
// server, the native connector asks each network's adapter (or the host's native custom
// event) for a native app-install ad, and the loader's delegate gets the ad of the network
// that filled. Driven by the hand clock; the ad server records the mediation pings.
#include <gtest/gtest.h>

#include <thread>

#include "ads/mediation/ad_manager.h"
#include "ads/mediation/custom_event_adapter.h"
#include "ads/mediation/test_adapters.h"
#include "ads/slots/native/native_test_support.h"
#include "platform/foundation/notification_center.h"

namespace native_waterfall_test {

using mediation_test::kFillAdapter;
using mediation_test::kNativeFailEvent;
using mediation_test::kNativeFillEvent;
using mediation_test::kNativeSilentEvent;
using mediation_test::kNoFillAdapter;
using mediation_test::kNotNativeEvent;
using mediation_test::kSilentAdapter;
using mediation_test::kTwiceAdapter;
using mediation_test::TestAdapter;
using mediation_test::TestNativeEvent;
using nlohmann::json;

json network(const std::string& id, const char* adapter, json data = json::object()) {
  return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({adapter})}};
}

json customEvent(const std::string& id, json data) { return network(id, kQMAMAdapterCustomEventsClassName, std::move(data)); }

struct NativeWaterfall : native_test::NativeFixture {
  void SetUp() override {
    mediation_test::registerTestAdapters();
    QMAMAdManager::install();
    NativeFixture::SetUp();
  }
  void TearDown() override {
    NativeFixture::TearDown();
    QMASlot::setMediationManagerFactory(nullptr);
    mediation_test::unregisterTestAdapters();
  }
  // Every ad request is answered with this waterfall.
  void serveWaterfall(json networks, json settings = json::object()) {
    const json config = {{"ad_type", "banner"}, {"qdata", "qd"}, {"settings", std::move(settings)},
                         {"ad_networks", std::move(networks)}};
    useScenario({{"ads", {{"m", {{"response_type", "mediation"}, {"body", config.dump()}}}}}, {"default_ad", "m"}});
  }
  static std::shared_ptr<QMAMAdManager> managerOf(const std::shared_ptr<QMAAdLoader>& loader) {
    return std::dynamic_pointer_cast<QMAMAdManager>(loader->slot()->mediationManager());
  }
  static std::optional<std::string> askedNetwork(const std::shared_ptr<QMAMAdManager>& manager) {
    const auto& c = manager ? manager->requestingConnector() : nullptr;
    return c ? c->networkConfig()->networkID() : std::nullopt;
  }
  static std::shared_ptr<TestAdapter> adapter(std::size_t i) {
    return i < TestAdapter::live().size() ? TestAdapter::live()[i].lock() : nullptr;
  }
  static std::shared_ptr<TestNativeEvent> event(std::size_t i) {
    return i < TestNativeEvent::live().size() ? TestNativeEvent::live()[i].lock() : nullptr;
  }
  std::shared_ptr<QMAAdLoader> loadAppInstall(const std::shared_ptr<QMARequest>& request = QMARequest::request()) {
    auto loader = makeLoader({kQMAAdLoaderAdTypeNativeAppInstall});
    loader->loadRequest(request);
    return loader;
  }
  // The query of the n-th ping to `path`, once it arrived.
  std::string ping(const std::string& path, std::size_t n = 1) {
    EXPECT_TRUE(pump([&] { return server->requestsForPath(path).size() >= n; })) << path;
    const auto pings = server->requestsForPath(path);
    return pings.size() >= n ? pings[n - 1].query : "";
  }
  static std::string valueIn(const std::string& query, const std::string& key) {
    const auto at = ("&" + query).find("&" + key + "=");
    if (at == std::string::npos) return "(absent)";
    const auto start = at + key.size() + 1;
    return query.substr(start, query.find('&', start) - start);
  }
};

TEST_F(NativeWaterfall, TheFirstNetworkThatFillsGivesTheLoaderAnAppInstallAdWhoseEventsReachThatNetwork) {
  struct Row {
    const char* what;
    json networks;
    const char* headline;
    const char* filledBy;
    const char* exitCodesBefore;
    std::size_t pictures;
  };
  const Row rows[] = {
      {"an adapter fills at once",
       json::array({network("1", kFillAdapter, {{"headline", "First"}, {"image_url", "{base}/qads/static/img/shot.png"}}),
                    network("2", kFillAdapter)}),
       "First", "1", "@fk_aec@", 1},
      {"no fill, an error, then the host's custom event",
       json::array({network("1", kNoFillAdapter), network("2", kNoFillAdapter, {{"error", "yes"}}),
                    customEvent("3", {{"class_name", kNativeFillEvent}, {"parameter", "Planner"}}),
                    network("4", kFillAdapter)}),
       "Planner", "3", "1,2", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    serveWaterfall(row.networks);
    host->heard.clear();
    server->clearRequests();
    TestAdapter::live().clear();
    auto loader = loadAppInstall();
    ASSERT_TRUE(pumpUntilHeard());
    ASSERT_EQ(host->heard, std::vector<std::string>{"appInstall"});
    auto ad = host->appInstall;
    ASSERT_TRUE(ad && ad->mediatedSource());
    EXPECT_EQ(ad->headline(), std::optional<std::string>(row.headline));
    EXPECT_EQ(ad->callToAction(), std::optional<std::string>("Install"));
    EXPECT_EQ(ad->starRating(), 4.5);
    ASSERT_TRUE(ad->icon() && ad->icon()->image());
    ASSERT_EQ(ad->images().size(), row.pictures);
    if (row.pictures) {
      EXPECT_TRUE(ad->images()[0]->image());
    }
    auto manager = managerOf(loader);
    ASSERT_TRUE(manager->receivedConnector());
    EXPECT_EQ(manager->receivedConnector()->className(), QMAMAdNetworkConnectorNativeAd::kClassName);
    EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>(row.filledBy));
    EXPECT_FALSE(manager->requestInProgress());
    EXPECT_FALSE(manager->adNetworkTimeoutTimer());
    for (const auto& a : TestAdapter::live()) {
      if (auto live = a.lock()) {
        EXPECT_EQ(live->calls.front(), "getNativeAd");
      }
    }

    // The network's ad hears the impression (once) and every click; the mediation pings go
    // out once each, for the network that filled.
    auto forwarding = std::dynamic_pointer_cast<mediation_test::TestForwardingAd>(
        ad->mediatedSource()->forwardingNativeAppInstallAd());
    ASSERT_TRUE(forwarding);
    ad->recordImpression();
    ad->recordImpression();
    EXPECT_EQ(forwarding->impressions, 1);
    const std::string impression = ping("/imp");
    EXPECT_EQ(valueIn(impression, "ad_network_id"), row.filledBy);
    EXPECT_EQ(valueIn(impression, "aec"), row.exitCodesBefore);
    EXPECT_EQ(valueIn(impression, "qdata"), "qd");
    auto view = std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {10, 10}});
    ad->performClickOnViewAssetNameEnvironment(view, std::string("1004"), std::nullopt);
    ad->performClickOnViewAssetNameEnvironment(view, std::string("1001"), std::nullopt);
    EXPECT_EQ(forwarding->clicks, 2);
    EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), row.filledBy);
    drainMain();
    EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);
    EXPECT_EQ(server->requestsForPath("/imp").size(), 1u);
    EXPECT_TRUE(server->requestsForPath("/nofill").empty());
  }
}

// What the host hears of a native ad.
struct NativeAdEvents : QMANativeAdDelegate {
  std::vector<std::string> heard;
  void nativeAdWillPresentScreen(QMANativeAd&) override { heard.push_back("willPresent"); }
  void nativeAdWillDismissScreen(QMANativeAd&) override { heard.push_back("willDismiss"); }
  void nativeAdDidDismissScreen(QMANativeAd&) override { heard.push_back("didDismiss"); }
  void nativeAdWillLeaveApplication(QMANativeAd&) override { heard.push_back("willLeave"); }
};

TEST_F(NativeWaterfall, TheNetworksAnswerAndEventsFromAnotherThreadReachTheHostOnTheMainThreadAsOneClick) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"later", "yes"}})}));
  auto loader = loadAppInstall();
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(loader)) && askedNetwork(manager) == "1"; }));
  auto network = adapter(0);
  std::thread([network] { network->answerNow(); }).join();
  ASSERT_TRUE(pumpUntilHeard());
  ASSERT_EQ(host->heard, std::vector<std::string>{"appInstall"});
  auto events = std::make_shared<NativeAdEvents>();
  host->appInstall->setDelegate(events);

  // The network opens a screen over the ad, closes it, and leaves the application: the ad's
  // delegate hears each, and the presentation and the leave count as one click.
  int willPresentNotices = 0;
  auto observer = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kAdModalViewControllerWillPresentFullScreen, nullptr, nullptr, [&](const foundation::Notification&) { ++willPresentNotices; });
  auto connector = manager->receivedConnector();
  std::thread([network, connector] {
    connector->adapterWillPresentFullScreenModal(*network);
    connector->adapterWillDismissFullScreenModal(*network);
    connector->adapterDidDismissFullScreenModal(*network);
    connector->adapterWillLeaveApplication(*network);
  }).join();
  ASSERT_TRUE(pump([&] { return events->heard.size() >= 4; }));
  EXPECT_EQ(events->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss", "willLeave"}));
  EXPECT_EQ(willPresentNotices, 1);
  foundation::NotificationCenter::defaultCenter().removeObserver(observer);
  EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), "1");
  drainMain();
  EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);
}

TEST_F(NativeWaterfall, EveryNetworkFailingEndsTheLoadWithErrorNineAndTheNoFillPing) {
  // The built-in HTML adapter serves no native ads: its network fails at once (11, an
  // error) without waiting for its time-out.
  serveWaterfall(json::array({network("1", kNoFillAdapter), network("2", "QMAMAdapterHTML"), network("3", "NoSuchAdapter"),
                              customEvent("4", {{"class_name", kNativeFailEvent}})}));
  auto loader = loadAppInstall();
  ASSERT_TRUE(pumpUntilHeard());
  EXPECT_EQ(host->heard, std::vector<std::string>{"fail 9"});
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "1,2,4,1");
  drainMain();
  EXPECT_EQ(host->heard.size(), 1u);
}

TEST_F(NativeWaterfall, ANetworkThatNeverAnswersIsLeftAtItsTimeOutAndTheNextIsAskedAtOnce) {
  serveWaterfall(json::array({network("1", kSilentAdapter), network("2", kFillAdapter)}), {{"ad_network_timeout_millis", 2500}});
  auto loader = loadAppInstall();
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(loader)) && askedNetwork(manager) == "1"; }));
  auto silent = adapter(0);
  foundation::Clock::advance(2.4);
  drainMain();
  EXPECT_EQ(askedNetwork(manager), std::optional<std::string>("1"));
  EXPECT_TRUE(host->heard.empty());
  foundation::Clock::advance(0.2);
  ASSERT_TRUE(pumpUntilHeard());
  EXPECT_EQ(host->heard, std::vector<std::string>{"appInstall"});
  ASSERT_GE(silent->calls.size(), 2u);
  EXPECT_EQ(silent->calls[0], "getNativeAd");
  EXPECT_EQ(silent->calls[1], "stopBeingDelegate");
  host->appInstall->recordImpression();
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "3");
}

TEST_F(NativeWaterfall, AnswersAfterTheirTimeOutChangeNothingNotEvenTheNextNetworksTimeOut) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"later", "yes"}}), customEvent("2", {{"class_name", kNativeSilentEvent}}),
                              network("3", kSilentAdapter)}),
                 {{"ad_network_timeout_millis", 1000}});
  auto loader = loadAppInstall();
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(loader)) && askedNetwork(manager) == "1"; }));
  auto late = adapter(0);
  auto firstConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnectorProtocol>(manager->requestingConnector());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return askedNetwork(manager) == "2"; }));
  // The first network answers anyway, to the connector it was given.
  late->answerTo(firstConnector);
  drainMain();
  EXPECT_TRUE(host->heard.empty());
  EXPECT_FALSE(manager->receivedConnector());
  EXPECT_TRUE(manager->requestInProgress());
  ASSERT_TRUE(manager->adNetworkTimeoutTimer() && manager->adNetworkTimeoutTimer()->isValid());
  auto lateEvent = event(0);
  ASSERT_TRUE(lateEvent);
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return askedNetwork(manager) == "3"; }));
  // So does the custom event, after its adapter was let go.
  lateEvent->answerNow();
  drainMain();
  EXPECT_TRUE(host->heard.empty());
  EXPECT_TRUE(manager->requestInProgress());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pumpUntilHeard());
  EXPECT_EQ(host->heard, std::vector<std::string>{"fail 9"});
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "3,3,3");
}

TEST_F(NativeWaterfall, AnAdStillReportsToItsNetworkAfterTheLoaderHasMovedOnToAnotherLoad) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"headline", "Kept"}})}));
  auto loader = loadAppInstall();
  ASSERT_TRUE(pumpUntilHeard());
  auto kept = host->appInstall;
  ASSERT_TRUE(kept);
  serveWaterfall(json::array({network("2", kSilentAdapter)}));
  loader->loadRequest(QMARequest::request());
  auto manager = managerOf(loader);
  ASSERT_TRUE(pump([&] { return askedNetwork(manager) == "2"; }));
  kept->recordImpression();
  kept->performClickOnViewAssetNameEnvironment(nullptr, std::string("1004"), std::nullopt);
  EXPECT_EQ(valueIn(ping("/imp"), "ad_network_id"), "1");
  EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), "1");
}

TEST_F(NativeWaterfall, ASecondNativeAdOfTheNetworkThatFilledChangesNothing) {
  serveWaterfall(json::array({network("1", kTwiceAdapter)}));
  auto loader = loadAppInstall();
  ASSERT_TRUE(pumpUntilHeard());
  drainMain();
  EXPECT_EQ(host->heard, std::vector<std::string>{"appInstall"});
  ASSERT_TRUE(adapter(0));
  // The ad delivered is the network's first; its second went nowhere.
  auto first = host->appInstall->mediatedSource()->forwardingNativeAppInstallAd();
  EXPECT_NE(first, adapter(0)->delivered);
}

TEST_F(NativeWaterfall, AnAppInstallAdForALoaderThatAskedForOtherKindsIsErrorThirteen) {
  serveWaterfall(json::array({network("1", kFillAdapter)}));
  auto loader = makeLoader({kQMAAdLoaderAdTypeNativeContent, kQMAAdLoaderAdTypeNativeCustomTemplate});
  loader->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard());
  drainMain();
  EXPECT_EQ(host->heard, std::vector<std::string>{"fail 13"});
  EXPECT_TRUE(loader->nativeAds().empty());
}

TEST_F(NativeWaterfall, TheCustomEventGetsItsParameterAndThePublishersExtrasForItsLabel) {
  struct Row {
    const char* what;
    std::optional<std::string> registeredLabel;
    bool expectsExtras;
  };
  const Row rows[] = {{"extras under its label", "garden", true},
                      {"extras under another label", "kitchen", false},
                      {"no extras registered", std::nullopt, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    serveWaterfall(json::array(
        {customEvent("1", {{"class_name", kNativeFillEvent}, {"parameter", "Planner"}, {"label", "garden"}})}));
    host->heard.clear();
    TestNativeEvent::live().clear();
    auto request = QMARequest::request();
    request->setKeywords(std::vector<std::string>{"tools"});
    if (row.registeredLabel) {
      auto extras = std::make_shared<QMACustomEventExtras>();
      extras->setExtrasForLabel(foundation::Dictionary{{"size", "large"}}, *row.registeredLabel);
      request->registerAdNetworkExtras(extras);
    }
    auto loader = loadAppInstall(request);
    ASSERT_TRUE(pumpUntilHeard());
    EXPECT_EQ(host->heard, std::vector<std::string>{"appInstall"});
    auto e = event(0);
    ASSERT_TRUE(e && e->request);
    EXPECT_EQ(e->requests, 1);
    EXPECT_EQ(e->parameter, std::optional<std::string>("Planner"));
    EXPECT_EQ(e->request->userKeywords(), std::vector<std::string>{"tools"});
    if (row.expectsExtras) {
      EXPECT_EQ(e->request->additionalParameters(), std::optional<foundation::Dictionary>(foundation::Dictionary{{"size", "large"}}));
    } else {
      EXPECT_FALSE(e->request->additionalParameters());
    }
    // The ad's events reach the custom event's ad.
    ASSERT_TRUE(host->appInstall);
    host->appInstall->recordImpression();
    EXPECT_EQ(e->delivered->impressions, 1);
  }
}

// A connector that records the failures its adapter reports.
template <class Connector>
struct Recording : Connector {
  using Connector::Connector;
  std::vector<foundation::Error> failures;
  void adapterDidFailAd(QMAMAdNetworkAdapter&, const foundation::Error& error) override { failures.push_back(error); }
};

TEST_F(NativeWaterfall, ACustomEventThatCannotServeANativeAdFailsWithItsReasonAndIsNeverMade) {
  struct Row {
    const char* what;
    json credentials;
    const char* message;
  };
  const Row rows[] = {
      {"no class name", json::object(), "No class name for the Custom Event."},
      {"no such class", {{"class_name", "NoSuchEvent"}}, "Cannot find Custom Event class named NoSuchEvent."},
      {"a class without the native request",
       {{"class_name", kNotNativeEvent}},
       "Custom event class WVTestNotNativeEvent doesn't implement method requestNativeAdWithParameter:request:rootViewController:."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TestNativeEvent::live().clear();
    std::optional<QMARequestError> error;
    auto networkConfig = QMAMAdNetworkConfig::initWithDictionaryError(native_test::dict(customEvent("1", row.credentials)), &error);
    ASSERT_TRUE(networkConfig);
    auto connector = std::make_shared<Recording<QMAMAdNetworkConnectorNativeAd>>(nullptr, networkConfig);
    connector->setUpAdapter();
    connector->getAdFromAdapterWithType(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner));
    ASSERT_EQ(connector->failures.size(), 1u);
    EXPECT_EQ(connector->failures[0].domain, kQMACustomEventErrorDomain);
    EXPECT_EQ(connector->failures[0].code, 1);
    EXPECT_EQ(connector->failures[0].localizedDescription(), row.message);
    EXPECT_TRUE(TestNativeEvent::live().empty());
  }
}

TEST_F(NativeWaterfall, ANativeAdForAConnectorOfAnotherFormatIsErrorElevenAndGoesNowhere) {
  std::optional<QMARequestError> error;
  auto networkConfig = QMAMAdNetworkConfig::initWithDictionaryError(
      native_test::dict(customEvent("1", {{"class_name", kNativeFillEvent}})), &error);
  auto connector = std::make_shared<Recording<QMAMAdNetworkConnectorBanner>>(nullptr, networkConfig);
  connector->setUpAdapter();
  auto adapter = std::dynamic_pointer_cast<QMAMAdapterCustomEvents>(connector->adapter());
  ASSERT_TRUE(adapter);
  adapter->getNativeAd();  // the custom event answers from inside its request
  ASSERT_EQ(connector->failures.size(), 1u);
  EXPECT_EQ(connector->failures[0].domain, kQMAErrorDomain);
  EXPECT_EQ(connector->failures[0].code, QMARequestErrorCodeInternalError);
  EXPECT_EQ(connector->failures[0].localizedDescription(),
            "Native ad response received for connector which can't processed native ad.");
  ASSERT_TRUE(event(0) && event(0)->delivered);
}

}  // namespace native_waterfall_test
