// Waterfalls of native ads. A native format's slot gets a mediation configuration from
// the ad server, the native connector asks each network's adapter (or the host's native
// custom event) for a native app-install ad, and the manager offers the first one, wrapped
// in a QMANativeAppInstallAdSource whose click and impression send the network's pings, to
// the format when the format takes sources; otherwise it asks the next network. The ad
// loader takes no mediation response at all: its host hears request error 11. Driven by
// the hand clock; the ad server records the mediation pings.
#include <gtest/gtest.h>

#include <thread>

#include "ads/mediation/ad_manager.h"
#include "ads/mediation/custom_event_adapter.h"
#include "ads/mediation/test_adapters.h"
#include "ads/mediation/waterfall_test_support.h"
#include "ads/model/ad_size.h"
#include "ads/model/ad_type.h"
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
using mediation_test::TestForwardingAd;
using mediation_test::TestNativeEvent;
using nlohmann::json;

json network(const std::string& id, const char* adapter, json data = json::object()) {
  return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({adapter})}};
}

json customEvent(const std::string& id, json data) { return network(id, kQMAMAdapterCustomEventsClassName, std::move(data)); }

// A format that mediates native ads on a slot of its own, set up as the ad loader sets up
// its slot, and names the native connector. It does not answer
// ad:didReceiveNativeAppInstallAdSource:; SourceTakingFormat does. `heard` holds what its
// slot tells it: "finished", "fail <code>", and the screen events.
struct NativeFormat : QMASlotDelegate,
                      QMASlotAdEventDelegate,
                      QMASlotAdResponseDelegate,
                      QMAAdMediationDelegate,
                      std::enable_shared_from_this<NativeFormat> {
  std::shared_ptr<QMASlot> slot;
  std::vector<std::string> heard;

  template <class Format>
  static std::shared_ptr<Format> make() {
    auto format = std::make_shared<Format>();
    format->slot = QMASlot::init();
    format->slot->setSlotDelegate(std::static_pointer_cast<QMASlotDelegate>(format));
    format->slot->setAdResponseDelegate(std::static_pointer_cast<QMASlotAdResponseDelegate>(format));
    format->slot->setAdEventDelegate(std::static_pointer_cast<QMASlotAdEventDelegate>(format));
    format->slot->setAdUnitID(std::string("unit-1"));
    if (auto view = format->slot->adView()) view->configureAsBannerAdView();
    format->slot->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner), false);
    return format;
  }
  ~NativeFormat() override {
    if (slot) slot->cancelPendingAndFutureActions();
  }
  void load(const std::shared_ptr<QMARequest>& request = QMARequest::request()) { slot->loadRequest(request); }
  std::shared_ptr<QMAMAdManager> manager() const {
    return std::dynamic_pointer_cast<QMAMAdManager>(slot->mediationManager());
  }

  std::optional<uikit::Rect> frame() override { return uikit::Rect{{0, 0}, {320, 50}}; }
  std::optional<uikit::Rect> bounds() override { return frame(); }
  bool slotDidReceiveAd(QMASlot& s, const std::shared_ptr<QMAAd>& ad) override {
    if (ad) ad->setMediationDelegate(std::static_pointer_cast<QMAAdMediationDelegate>(shared_from_this()));
    return s.QMASlot::slotDidReceiveAd(s, ad);
  }
  void slotDidFailToReceiveAdWithError(QMASlot&, const std::optional<QMARequestError>& error) override {
    heard.push_back("fail " + std::to_string(error ? error->code : -1));
  }
  void slotFinishedLoadingAdContent(QMASlot&) override { heard.push_back("finished"); }
  void slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& error) override {
    heard.push_back("fail " + std::to_string(error.code));
  }
  void slotWillPresentScreen(QMASlot&) override { heard.push_back("willPresent"); }
  void slotWillDismissScreen(QMASlot&) override { heard.push_back("willDismiss"); }
  void slotDidDismissScreen(QMASlot&) override { heard.push_back("didDismiss"); }
  void slotWillLeaveApplication(QMASlot&) override { heard.push_back("willLeave"); }
  std::string connectorClassForAd(const std::shared_ptr<QMAAd>&) override {
    return QMAMAdNetworkConnectorNativeAd::kClassName;
  }
};

struct SourceTakingFormat : NativeFormat, QMANativeAppInstallAdSourceReceiver {
  std::vector<std::shared_ptr<QMANativeAppInstallAdSource>> sources;
  void adDidReceiveNativeAppInstallAdSource(const std::shared_ptr<QMAAd>& ad,
                                            const std::shared_ptr<QMANativeAppInstallAdSource>& source) override {
    heard.push_back("source");
    EXPECT_EQ(ad, slot->ad());
    sources.push_back(source);
  }
};

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
  template <class Format = SourceTakingFormat>
  std::shared_ptr<Format> loadFormat(const std::shared_ptr<QMARequest>& request = QMARequest::request()) {
    auto format = NativeFormat::make<Format>();
    format->load(request);
    return format;
  }
  bool pumpUntilFormatHeard(const std::shared_ptr<NativeFormat>& format, std::size_t n = 1) {
    return pump([&] { return format->heard.size() >= n; });
  }
  // The manager once it asks `id`.
  std::shared_ptr<QMAMAdManager> managerAsking(const std::shared_ptr<NativeFormat>& format, const std::string& id) {
    std::shared_ptr<QMAMAdManager> manager;
    EXPECT_TRUE(pump([&] { return (manager = format->manager()) && askedNetwork(manager) == id; })) << id;
    return manager;
  }
  // The query of the n-th ping to `path`, once it arrived.
  std::string ping(const std::string& path, std::size_t n = 1) {
    EXPECT_TRUE(pump([&] { return server->requestsForPath(path).size() >= n; })) << path;
    const auto pings = server->requestsForPath(path);
    return pings.size() >= n ? pings[n - 1].query : "";
  }
  static std::string valueIn(const std::string& query, const std::string& key) {
    return waterfall_test::queryValue(query, key);
  }
  static std::shared_ptr<TestForwardingAd> forwardingAdOf(const std::shared_ptr<QMANativeAppInstallAdSource>& source) {
    return std::dynamic_pointer_cast<TestForwardingAd>(source ? source->forwardingNativeAppInstallAd() : nullptr);
  }
};

const std::vector<std::string> kFilled = {"source", "finished"};

TEST_F(NativeWaterfall, TheFirstNetworkThatFillsGivesTheFormatASourceWhoseEventsReachThatNetwork) {
  struct Row {
    const char* what;
    json networks;
    const char* headline;
    const char* filledBy;
    const char* exitCodesBefore;
    std::size_t imageURLs;
  };
  const Row rows[] = {
      {"an adapter fills at once",
       json::array({network("1", kFillAdapter, {{"headline", "First"}, {"image_url", "https://example.test/shot.png"}}),
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
    server->clearRequests();
    TestAdapter::live().clear();
    auto format = loadFormat();
    ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
    drainMain();
    ASSERT_EQ(format->heard, kFilled);
    ASSERT_EQ(format->sources.size(), 1u);
    auto source = format->sources[0];
    EXPECT_EQ(source->headline(), std::optional<std::string>(row.headline));
    EXPECT_EQ(source->callToAction(), std::optional<std::string>("Install"));
    EXPECT_EQ(source->starRating(), std::optional<std::string>("4.5"));
    EXPECT_TRUE(source->icon());
    EXPECT_EQ(source->imagesURLs().size(), row.imageURLs);
    EXPECT_EQ(format->slot->state(), QMASlotStateAdReady);
    auto manager = format->manager();
    ASSERT_TRUE(manager->receivedConnector());
    EXPECT_EQ(manager->receivedConnector()->className(), QMAMAdNetworkConnectorNativeAd::kClassName);
    EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>(row.filledBy));
    EXPECT_FALSE(manager->requestingConnector());
    EXPECT_FALSE(manager->requestInProgress());
    EXPECT_FALSE(manager->adNetworkTimeoutTimer());
    for (const auto& a : TestAdapter::live()) {
      if (auto live = a.lock()) {
        EXPECT_EQ(live->calls.front(), "getNativeAd");
      }
    }

    // The network's ad hears the impression and every click; the click ping goes out once
    // for the ad, both for the network that filled.
    auto forwarding = forwardingAdOf(source);
    ASSERT_TRUE(forwarding);
    source->recordImpression();
    EXPECT_EQ(forwarding->impressions, 1);
    const std::string impression = ping("/imp");
    EXPECT_EQ(valueIn(impression, "ad_network_id"), row.filledBy);
    EXPECT_EQ(valueIn(impression, "aec"), row.exitCodesBefore);
    EXPECT_EQ(valueIn(impression, "qdata"), "qd");
    auto view = std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {10, 10}});
    source->recordClickOnViewWithAssetNameEnvironment(view, "1004", std::nullopt);
    source->recordClickOnViewWithAssetNameEnvironment(view, "1001", std::nullopt);
    EXPECT_EQ(forwarding->clicks, 2);
    EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), row.filledBy);
    source->trackView(view);
    EXPECT_EQ(forwarding->trackedViews, std::vector<std::shared_ptr<uikit::View>>{view});
    drainMain();
    EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);
    EXPECT_EQ(server->requestsForPath("/imp").size(), 1u);
    EXPECT_TRUE(server->requestsForPath("/nofill").empty());
  }
}

TEST_F(NativeWaterfall, AFormatThatTakesNoSourcesHasEveryNetworkAskedAndEndsWithoutAnAd) {
  // Every network that fills is passed by with no exit code of its own; the one that
  // failed keeps its code.
  serveWaterfall(json::array({network("1", kFillAdapter), network("2", kNoFillAdapter),
                              customEvent("3", {{"class_name", kNativeFillEvent}}), network("4", kFillAdapter)}));
  auto format = loadFormat<NativeFormat>();
  ASSERT_TRUE(pumpUntilFormatHeard(format));
  drainMain();
  EXPECT_EQ(format->heard, std::vector<std::string>{"fail 9"});
  // Each network was made and let go: nothing of theirs is kept for an ad nobody took.
  EXPECT_EQ(TestAdapter::live().size(), 3u);
  EXPECT_EQ(TestNativeEvent::live().size(), 1u);
  EXPECT_FALSE(adapter(0) || adapter(1) || adapter(2) || event(0));
  EXPECT_FALSE(format->manager()->receivedConnector());
  EXPECT_FALSE(format->manager()->requestInProgress());
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "1");
  EXPECT_TRUE(server->requestsForPath("/imp").empty());
}

TEST_F(NativeWaterfall, ANetworksAnswerFromAnotherThreadArrivesOnTheMainThreadAndOnlyItsClicksCount) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"later", "yes"}})}));
  auto format = loadFormat();
  auto manager = managerAsking(format, "1");
  auto network = adapter(0);
  ASSERT_TRUE(network);
  std::thread([network] { network->answerNow(); }).join();
  ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
  ASSERT_EQ(format->heard, kFilled);

  // A native ad has no screen of the network's own here: its full-screen, interstitial and
  // leave-application callbacks post nothing, tell the slot nothing and ping nothing.
  int notices = 0;
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto willPresent = center.addObserverForName(kAdModalViewControllerWillPresentFullScreen, nullptr, nullptr,
                                               [&](const foundation::Notification&) { ++notices; });
  auto didDismiss = center.addObserverForName(kAdModalViewControllerDidDismissFullScreen, nullptr, nullptr,
                                              [&](const foundation::Notification&) { ++notices; });
  auto connector = manager->receivedConnector();
  std::thread([network, connector] {
    connector->adapterWillPresentFullScreenModal(*network);
    connector->adapterWillDismissFullScreenModal(*network);
    connector->adapterDidDismissFullScreenModal(*network);
    connector->adapterWillPresentInterstitial(*network);
    connector->adapterWillDismissInterstitial(*network);
    connector->adapterDidDismissInterstitial(*network);
    connector->adapterWillLeaveApplication(*network);
  }).join();
  drainMain();
  connector->adapterWillPresentFullScreenModal(*network);
  connector->adapterWillLeaveApplication(*network);
  drainMain();
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(format->heard, kFilled);
  EXPECT_FALSE(connector->isClicked());
  EXPECT_TRUE(server->requestsForPath("/clk").empty());

  // The network's own click report is its click, once for the ad.
  std::thread([network, connector] {
    connector->adapterDidGetAdClick(*network);
    connector->adapterClickDidOccurInBanner(*network, nullptr);
  }).join();
  EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), "1");
  drainMain();
  EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);
  center.removeObserver(willPresent);
  center.removeObserver(didDismiss);
}

TEST_F(NativeWaterfall, EveryNetworkFailingEndsTheLoadWithErrorNineAndTheNoFillPing) {
  // The built-in HTML adapter serves no native ads: its network fails at once (11, an
  // error) without waiting for its time-out.
  serveWaterfall(json::array({network("1", kNoFillAdapter), network("2", "QMAMAdapterHTML"), network("3", "NoSuchAdapter"),
                              customEvent("4", {{"class_name", kNativeFailEvent}})}));
  auto format = loadFormat();
  ASSERT_TRUE(pumpUntilFormatHeard(format));
  EXPECT_EQ(format->heard, std::vector<std::string>{"fail 9"});
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "1,2,4,1");
  drainMain();
  EXPECT_EQ(format->heard.size(), 1u);
  EXPECT_TRUE(format->sources.empty());
}

TEST_F(NativeWaterfall, ANetworkThatNeverAnswersIsLeftAtItsTimeOutAndTheNextIsAskedAtOnce) {
  serveWaterfall(json::array({network("1", kSilentAdapter), network("2", kFillAdapter)}), {{"ad_network_timeout_millis", 2500}});
  auto format = loadFormat();
  auto manager = managerAsking(format, "1");
  auto silent = adapter(0);
  ASSERT_TRUE(silent);
  foundation::Clock::advance(2.4);
  drainMain();
  EXPECT_EQ(askedNetwork(manager), std::optional<std::string>("1"));
  EXPECT_TRUE(format->heard.empty());
  foundation::Clock::advance(0.2);
  ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
  EXPECT_EQ(format->heard, kFilled);
  ASSERT_GE(silent->calls.size(), 2u);
  EXPECT_EQ(silent->calls[0], "getNativeAd");
  EXPECT_EQ(silent->calls[1], "stopBeingDelegate");
  format->sources.at(0)->recordImpression();
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "3");
}

TEST_F(NativeWaterfall, AnswersAfterTheirTimeOutChangeNothingNotEvenTheNextNetworksTimeOut) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"later", "yes"}}), customEvent("2", {{"class_name", kNativeSilentEvent}}),
                              network("3", kSilentAdapter)}),
                 {{"ad_network_timeout_millis", 1000}});
  auto format = loadFormat();
  auto manager = managerAsking(format, "1");
  auto late = adapter(0);
  ASSERT_TRUE(late);
  auto firstConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnectorProtocol>(manager->requestingConnector());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return askedNetwork(manager) == "2"; }));
  // The first network answers anyway, to the connector it was given.
  late->answerTo(firstConnector);
  drainMain();
  EXPECT_TRUE(format->heard.empty());
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
  EXPECT_TRUE(format->heard.empty());
  EXPECT_TRUE(manager->requestInProgress());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pumpUntilFormatHeard(format));
  EXPECT_EQ(format->heard, std::vector<std::string>{"fail 9"});
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "3,3,3");
  EXPECT_TRUE(format->sources.empty());
}

TEST_F(NativeWaterfall, ASourceStillReportsToItsNetworkAfterTheFormatHasMovedOnToAnotherLoad) {
  serveWaterfall(json::array({network("1", kFillAdapter, {{"headline", "Kept"}})}));
  auto format = loadFormat();
  ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
  auto kept = format->sources.at(0);
  serveWaterfall(json::array({network("2", kSilentAdapter)}));
  format->load();
  managerAsking(format, "2");
  kept->recordImpression();
  kept->recordClickOnViewWithAssetNameEnvironment(nullptr, "1004", std::nullopt);
  EXPECT_EQ(valueIn(ping("/imp"), "ad_network_id"), "1");
  EXPECT_EQ(valueIn(ping("/clk"), "ad_network_id"), "1");
  EXPECT_EQ(forwardingAdOf(kept)->impressions, 1);
}

TEST_F(NativeWaterfall, ASecondNativeAdOfTheNetworkThatFilledChangesNothing) {
  serveWaterfall(json::array({network("1", kTwiceAdapter)}));
  auto format = loadFormat();
  ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
  drainMain();
  EXPECT_EQ(format->heard, kFilled);
  ASSERT_TRUE(adapter(0));
  // The source offered is of the network's first ad; its second went nowhere.
  ASSERT_EQ(format->sources.size(), 1u);
  EXPECT_NE(format->sources[0]->forwardingNativeAppInstallAd(), adapter(0)->delivered);
}

TEST_F(NativeWaterfall, TheAdLoaderTakesNoMediationResponseItsHostHearsErrorElevenAndNoNetworkIsAsked) {
  serveWaterfall(json::array({network("1", kFillAdapter), customEvent("2", {{"class_name", kNativeFillEvent}})}));
  for (const auto& types : {foundation::Array{kQMAAdLoaderAdTypeNativeAppInstall},
                            foundation::Array{kQMAAdLoaderAdTypeNativeContent, kQMAAdLoaderAdTypeNativeCustomTemplate}}) {
    host->heard.clear();
    auto loader = makeLoader(types);
    loader->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard());
    drainMain();
    EXPECT_EQ(host->heard, std::vector<std::string>{"fail 11"});
    EXPECT_TRUE(loader->nativeAds().empty());
    auto manager = std::dynamic_pointer_cast<QMAMAdManager>(loader->slot()->mediationManager());
    EXPECT_FALSE(manager && (manager->requestingConnector() || manager->receivedConnector()));
  }
  EXPECT_TRUE(TestAdapter::live().empty());
  EXPECT_TRUE(TestNativeEvent::live().empty());
  EXPECT_TRUE(server->requestsForPath("/nofill").empty());
  EXPECT_TRUE(server->requestsForPath("/imp").empty());
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
    TestNativeEvent::live().clear();
    auto request = QMARequest::request();
    request->setKeywords(std::vector<std::string>{"tools"});
    if (row.registeredLabel) {
      auto extras = std::make_shared<QMACustomEventExtras>();
      extras->setExtrasForLabel(foundation::Dictionary{{"size", "large"}}, *row.registeredLabel);
      request->registerAdNetworkExtras(extras);
    }
    auto format = loadFormat(request);
    ASSERT_TRUE(pumpUntilFormatHeard(format, 2));
    EXPECT_EQ(format->heard, kFilled);
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
    // The source's events reach the custom event's ad.
    ASSERT_EQ(format->sources.size(), 1u);
    EXPECT_EQ(format->sources[0]->headline(), std::optional<std::string>("Planner"));
    format->sources[0]->recordImpression();
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
