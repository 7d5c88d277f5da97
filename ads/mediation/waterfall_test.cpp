// Waterfalls of banners and interstitials over adapters registered by name, driven by the
// hand clock: the ad server answers every ad request with a mediation configuration and
// records the mediation pings.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "ads/mediation/custom_event_adapter.h"
#include "ads/mediation/waterfall_test_support.h"
#include "platform/foundation/clock.h"

namespace waterfall_test {

using formats_test::FormatFixture;
using mediation_test::kFillAdapter;
using mediation_test::kNoFillAdapter;
using mediation_test::kSilentAdapter;
using mediation_test::kTwiceAdapter;
using mediation_test::TestAdapter;
using nlohmann::json;

TEST_F(Waterfall, TheFirstNetworkThatFillsIsShownAndItsImpressionCarriesTheExitCodesBeforeIt) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", "NoSuchAdapterEither"),
                                                                 networkEntry("2", kNoFillAdapter),
                                                                 networkEntry("3", kFillAdapter, {{"pubid", "p3"}}),
                                                                 networkEntry("4", kFillAdapter)}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  auto manager = managerOf(banner->slot());
  ASSERT_TRUE(manager->receivedConnector());
  EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("3"));
  EXPECT_EQ(manager->receivedConnector()->publisherId(), std::optional<std::string>("p3"));
  EXPECT_EQ(banner->slot()->adNetworkClassName(), std::optional<std::string>(kFillAdapter));
  EXPECT_EQ(TestAdapter::live().size(), 2u);  // the fourth network was never asked
  EXPECT_FALSE(manager->requestInProgress());
  EXPECT_FALSE(manager->adNetworkTimeoutTimer());
  const std::string impression = ping("/imp");
  EXPECT_EQ(valueIn(impression, "aec"), "4,1,0");
  EXPECT_EQ(valueIn(impression, "ad_network_id"), "3");
  EXPECT_EQ(valueIn(impression, "qdata"), "qd");
  EXPECT_EQ(valueIn(impression, "ad_loc"), "unit-1");
  EXPECT_EQ(valueIn(impression, "nr"), "0");
  EXPECT_TRUE(server->requestsForPath("/nofill").empty());
  EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError), 0);
}

TEST_F(Waterfall, EveryNetworkFailingInTurnEndsInErrorNineWithTheNoFillPing) {
  struct Row {
    const char* what;
    json networks;
    long error;
    const char* exitCodes;
  };
  const Row rows[] = {
      {"no fill, an error, no adapter",
       json::array({networkEntry("1", kNoFillAdapter), networkEntry("2", kNoFillAdapter, {{"error", "yes"}}), networkEntry("3", "Nope")}),
       9, "1,2,4"},
      {"no networks at all", json::array(), 9, "@fk_aec@"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    useScenario(waterfallScenario(configFor("banner", row.networks)));
    host->heard.clear();
    auto banner = placedBanner();
    banner->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError));
    EXPECT_EQ(host->errors.back().code, row.error);
    EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewDidReceiveAd), 0);
    EXPECT_EQ(valueIn(ping("/nofill"), "aec"), row.exitCodes);
    EXPECT_FALSE(managerOf(banner->slot())->requestInProgress());
    banner->removeFromSuperview();
  }
}

TEST_F(Waterfall, ANetworkThatNeverAnswersIsLeftAtItsTimeOutAndTheNextIsAskedAtOnce) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", kSilentAdapter), networkEntry("2", kFillAdapter)}),
                                          {{"ad_network_timeout_millis", 2500}})));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(banner->slot())) && askedNetwork(manager) == "1"; }));
  auto silent = adapter(0);
  foundation::Clock::advance(2.4);
  drainMain();
  EXPECT_EQ(askedNetwork(manager), std::optional<std::string>("1"));
  foundation::Clock::advance(0.2);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  ASSERT_GE(silent->calls.size(), 2u);  // (its connector tells it again as it goes away)
  EXPECT_EQ(silent->calls[0], "getBannerWithSize");
  EXPECT_EQ(silent->calls[1], "stopBeingDelegate");
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "3,0");
}

TEST_F(Waterfall, AnAnswerAfterItsTimeOutChangesNothingNotEvenTheNextNetworksTimeOut) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", kFillAdapter, {{"later", "yes"}}),
                                                                 networkEntry("2", kSilentAdapter)}),
                                          {{"ad_network_timeout_millis", 1000}})));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(banner->slot())) && askedNetwork(manager) == "1"; }));
  auto late = adapter(0);
  auto firstConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnectorProtocol>(manager->requestingConnector());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pump([&] { return askedNetwork(manager) == "2"; }));
  // The first network answers anyway, to the connector it was given.
  late->answerTo(firstConnector);
  drainMain();
  EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewDidReceiveAd), 0);
  EXPECT_FALSE(manager->receivedConnector());
  EXPECT_TRUE(manager->requestInProgress());
  ASSERT_TRUE(manager->adNetworkTimeoutTimer() && manager->adNetworkTimeoutTimer()->isValid());
  foundation::Clock::advance(1.1);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError));
  EXPECT_EQ(host->errors.back().code, QMARequestErrorCodeNoAdFromAnyNetwork);
  EXPECT_EQ(valueIn(ping("/nofill"), "aec"), "3,3");
}

TEST_F(Waterfall, ACancelStopsTheNetworkBeingAskedAndNothingIsReportedAfterIt) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", kSilentAdapter), networkEntry("2", kFillAdapter)}),
                                          {{"ad_network_timeout_millis", 1000}})));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(banner->slot())) && askedNetwork(manager) == "1"; }));
  auto connector = manager->requestingConnector();
  banner->slot()->cancelPendingActions();
  manager->cancel();
  drainMain();
  EXPECT_FALSE(manager->requestingConnector());
  EXPECT_FALSE(manager->requestInProgress());
  EXPECT_EQ(connector->adManager(), nullptr);
  EXPECT_EQ(adapter(0)->calls.back(), "stopBeingDelegate");
  foundation::Clock::advance(5);
  drainMain();
  EXPECT_EQ(TestAdapter::live().size(), 1u);  // the second network is never asked
  EXPECT_TRUE(host->heard.empty());
}

TEST_F(Waterfall, AnInterstitialIsReceivedOnceAndPresentedByItsNetwork) {
  useScenario(waterfallScenario(configFor("interstitial", json::array({networkEntry("1", kTwiceAdapter)}))));
  auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
  interstitial->setDelegate(host);
  interstitial->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidReceiveAd));
  drainMain();
  auto manager = managerOf(interstitial->slot());
  EXPECT_EQ(interstitial->slot()->slotStats()->adapterExitCodesParameter(), std::optional<std::string>("0"));
  EXPECT_FALSE(manager->requestingConnector());
  interstitial->presentFromRootViewController(root);
  drainMain();
  EXPECT_TRUE(adapter(0)->presented);
  EXPECT_EQ(host->count(QMAInterstitialDelegate::kInterstitialWillPresentScreen), 1);
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "0");
}

TEST_F(Waterfall, AConfigurationThatCannotServeTheSlotFailsItWithItsError) {
  struct Row {
    const char* what;
    bool interstitial;
    std::string body;
    long error;
  };
  const Row rows[] = {
      {"a banner slot, an interstitial configuration", false, configFor("interstitial", json::array()).dump(), 10},
      {"an interstitial slot, a banner configuration", true, configFor("mrec", json::array()).dump(), 10},
      {"no network list", false, R"({"ad_type": "banner"})", 7},
      {"no JSON", false, "this is no configuration", 7},
      {"a network without an ID", false, R"({"ad_networks": [{"adapters": ["WVTestFillAdapter"]}]})", 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    useScenario({{"ads", {{"m", {{"response_type", "mediation"}, {"body", row.body}}}}}, {"default_ad", "m"}});
    host->errors.clear();
    if (row.interstitial) {
      auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
      interstitial->setDelegate(host);
      interstitial->loadRequest(QMARequest::request());
      ASSERT_TRUE(pump([&] { return !host->errors.empty(); }));
    } else {
      auto banner = placedBanner();
      banner->loadRequest(QMARequest::request());
      ASSERT_TRUE(pump([&] { return !host->errors.empty(); }));
      banner->removeFromSuperview();
    }
    EXPECT_EQ(host->errors.back().code, row.error);
    EXPECT_TRUE(TestAdapter::live().empty());
  }
}

TEST_F(Waterfall, AnUnknownConfiguredTypeTakesTheSlotsAndABannerResizesInPlaceWhenItsAdapterCan) {
  useScenario(waterfallScenario(configFor("tiny", json::array({networkEntry("1", kFillAdapter)}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  auto slot = banner->slot();
  ASSERT_TRUE(slot->mediationConfiguration());
  auto manager = managerOf(slot);
  EXPECT_TRUE(manager->config()->adType()->isValid());
  EXPECT_TRUE(slot->changeAdTypeTo(QMAAdType::bannerAdTypeForSize(kQMAAdSizeMediumRectangle)));
  EXPECT_EQ(adapter(0)->calls.back(), "changeAdSizeTo");
  EXPECT_FALSE(slot->changeAdTypeTo(QMAAdType::interstitialAdType()));
}

TEST_F(Waterfall, ABannerNetworkThatRefreshesAndThenFailsKeepsItsAdAndEndsTheWaterfall) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", kFillAdapter), networkEntry("2", kFillAdapter)}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  auto manager = managerOf(banner->slot());
  auto own = adapter(0);
  // The network shows a new banner by itself: its impression says so.
  own->answerNow();
  drainMain();
  // Pings travel on their own: whichever arrives first, one says "nr" 0, the other 1.
  ping("/imp", 2);
  std::multiset<std::string> refreshes;
  for (const auto& imp : server->requestsForPath("/imp")) refreshes.insert(valueIn(imp.query, "nr"));
  EXPECT_EQ(refreshes, (std::multiset<std::string>{"0", "1"}));
  EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("1"));
  // Then its next refresh fails.
  own->connector.lock()->adapterDidFailAd(*own, foundation::Error{"com.example.network", 9, {}});
  drainMain();
  EXPECT_TRUE(banner->slot()->hasAutoRefreshed());
  EXPECT_EQ(TestAdapter::live().size(), 1u);  // no further network
  EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("1"));
}

TEST_F(Waterfall, AnAdapterAnsweringOnAnotherThreadIsHeardOnTheMainThread) {
  useScenario(waterfallScenario(configFor("banner", json::array({networkEntry("1", kFillAdapter, {{"later", "yes"}})}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  std::shared_ptr<QMAMAdManager> manager;
  ASSERT_TRUE(pump([&] { return (manager = managerOf(banner->slot())) && askedNetwork(manager) == "1"; }));
  auto late = adapter(0);
  std::thread([late] { late->answerNow(); }).join();
  EXPECT_FALSE(manager->receivedConnector());  // not yet: the answer waits for the main thread
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("1"));
}

}  // namespace waterfall_test

namespace custom_event_test {

using mediation_test::kFillAdapter;
using mediation_test::TestAdapter;
using nlohmann::json;
using waterfall_test::Waterfall;

// A publisher's custom events: a banner that answers from inside its request (and reports
// its click in the older form), an interstitial that fills, and a class that adopts
// neither protocol and must never be made.
struct CustomBanner : runtime::Object, QMACustomEventBanner {
  using runtime::Object::Object;
  static std::shared_ptr<QMACustomEventRequest>& lastRequest() {
    static std::shared_ptr<QMACustomEventRequest> request;
    return request;
  }
  static std::optional<std::string>& lastParameter() {
    static std::optional<std::string> parameter;
    return parameter;
  }
  std::weak_ptr<QMACustomEventBannerDelegate> delegate;
  void setDelegate(std::weak_ptr<QMACustomEventBannerDelegate> d) override { delegate = std::move(d); }
  void requestBannerAdParameterLabelRequest(QMAAdSize, const std::optional<std::string>& parameter,
                                            const std::optional<std::string>&,
                                            const std::shared_ptr<QMACustomEventRequest>& request) override {
    lastRequest() = request;
    lastParameter() = parameter;
    if (auto d = delegate.lock()) {
      auto view = std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {320, 50}});
      d->customEventBannerDidReceiveAd(*this, view);
      d->customEventBannerClickDidOccurInAd(*this, view);
    }
  }
};

// Fills in the current form, or (olderForm) in the older one with an object that means nothing.
struct CustomInterstitial : runtime::Object, QMACustomEventInterstitial {
  CustomInterstitial(const runtime::ClassRef& c, bool olderForm) : runtime::Object(c), olderForm(olderForm) {}
  bool olderForm;
  std::weak_ptr<QMACustomEventInterstitialDelegate> delegate;
  void setDelegate(std::weak_ptr<QMACustomEventInterstitialDelegate> d) override { delegate = std::move(d); }
  void requestInterstitialAdWithParameterLabelRequest(const std::optional<std::string>&, const std::optional<std::string>&,
                                                      const std::shared_ptr<QMACustomEventRequest>&) override {
    auto d = delegate.lock();
    if (!d) return;
    if (olderForm)
      d->customEventInterstitialDidReceiveAd(*this, std::make_shared<runtime::Object>(runtime::ClassRef{}));
    else
      d->customEventInterstitialDidReceiveAd(*this);
  }
  void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>&) override {
    if (auto d = delegate.lock()) d->customEventInterstitialWillPresent(*this);
  }
};

// Fills, and at its presentation fails with its own network's error, as another network's
// code does when it cannot show.
struct FailingToPresentInterstitial : CustomInterstitial {
  explicit FailingToPresentInterstitial(const runtime::ClassRef& c) : CustomInterstitial(c, false) {}
  void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>&) override {
    if (auto d = delegate.lock())
      d->customEventInterstitialDidFailAd(
          *this, foundation::Error{"com.publisher.ads", 7, {{foundation::kLocalizedDescriptionKey, "Cannot show over another screen."}}});
  }
};

struct CustomEvents : Waterfall {
  int strangersMade = 0;
  void SetUp() override {
    Waterfall::SetUp();
    auto banner = runtime::Class::make("PublisherCustomBanner");
    banner->addProtocol(kQMACustomEventBannerProtocol);
    banner->setFactory([](const runtime::ClassRef& c) -> runtime::Id { return std::make_shared<CustomBanner>(c); });
    runtime::objc_registerClassPair(banner);
    auto interstitial = runtime::Class::make("PublisherCustomInterstitial");
    interstitial->addProtocol(kQMACustomEventInterstitialProtocol);
    interstitial->setFactory(
        [](const runtime::ClassRef& c) -> runtime::Id { return std::make_shared<CustomInterstitial>(c, false); });
    runtime::objc_registerClassPair(interstitial);
    auto older = runtime::Class::make("PublisherOlderCustomInterstitial");
    older->addProtocol(kQMACustomEventInterstitialProtocol);
    older->setFactory([](const runtime::ClassRef& c) -> runtime::Id { return std::make_shared<CustomInterstitial>(c, true); });
    runtime::objc_registerClassPair(older);
    auto failing = runtime::Class::make("PublisherFailingToPresentInterstitial");
    failing->addProtocol(kQMACustomEventInterstitialProtocol);
    failing->setFactory(
        [](const runtime::ClassRef& c) -> runtime::Id { return std::make_shared<FailingToPresentInterstitial>(c); });
    runtime::objc_registerClassPair(failing);
    auto stranger = runtime::Class::make("PublisherSomethingElse");
    stranger->setFactory([this](const runtime::ClassRef& c) -> runtime::Id {
      ++strangersMade;
      return std::make_shared<runtime::Object>(c);
    });
    runtime::objc_registerClassPair(stranger);
  }
  void TearDown() override {
    for (const char* name :
         {"PublisherCustomBanner", "PublisherCustomInterstitial", "PublisherOlderCustomInterstitial",
          "PublisherFailingToPresentInterstitial", "PublisherSomethingElse"})
      runtime::objc_disposeClassPair(name);
    CustomBanner::lastRequest().reset();
    Waterfall::TearDown();
  }
  static json customNetwork(const std::string& id, json data) {
    return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({kQMAMAdapterCustomEventsClassName})}};
  }
};

TEST_F(CustomEvents, APublisherBannerNamedByClassServesTheWaterfallWithItsExtrasAndOneClick) {
  useScenario(waterfall_test::waterfallScenario(waterfall_test::configFor(
      "banner", json::array({customNetwork("1", {{"class_name", "NoSuchCustomEvent"}}),
                             customNetwork("2", {{"class_name", "PublisherSomethingElse"}}),
                             customNetwork("3", json::object()),
                             customNetwork("4", {{"class_name", "PublisherCustomBanner"}, {"parameter", "p-1"},
                                                 {"label", "mine"}})}))));
  auto extras = std::make_shared<QMACustomEventExtras>();
  extras->setExtrasForLabel(foundation::Dictionary{{"color", "blue"}}, "mine");
  extras->setExtrasForLabel(foundation::Dictionary{{"color", "red"}}, "theirs");
  auto request = QMARequest::request();
  request->registerAdNetworkExtras(extras);
  auto banner = placedBanner();
  banner->loadRequest(request);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(strangersMade, 0);  // a class of no custom-event protocol is never made
  EXPECT_EQ(banner->slot()->adNetworkClassName(), std::optional<std::string>(kQMAMAdapterCustomEventsClassName));
  ASSERT_TRUE(CustomBanner::lastRequest());
  EXPECT_EQ(CustomBanner::lastParameter(), std::optional<std::string>("p-1"));
  ASSERT_TRUE(CustomBanner::lastRequest()->additionalParameters());
  EXPECT_EQ(*foundation::stringForKey(*CustomBanner::lastRequest()->additionalParameters(), "color"), "blue");
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "2,2,2,0");
  EXPECT_EQ(ping("/clk").empty(), false);
  drainMain();
  EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);
  EXPECT_TRUE(logged("Cannot find Custom Event class named NoSuchCustomEvent."));
  EXPECT_TRUE(logged("Custom Event class PublisherSomethingElse does not conform to the QMACustomEventBanner protocol."));
}

// Either form of "received" fills the waterfall.
TEST_F(CustomEvents, APublisherInterstitialIsPresentedThroughTheAdapter) {
  for (const char* className : {"PublisherCustomInterstitial", "PublisherOlderCustomInterstitial"}) {
    SCOPED_TRACE(className);
    host = std::make_shared<formats_test::Host>();
    useScenario(waterfall_test::waterfallScenario(waterfall_test::configFor(
        "interstitial", json::array({customNetwork("1", {{"class_name", "PublisherCustomBanner"}}),
                                     customNetwork("2", {{"class_name", className}})}))));
    auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
    interstitial->setDelegate(host);
    interstitial->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidReceiveAd));
    interstitial->presentFromRootViewController(root);
    drainMain();
    EXPECT_EQ(host->count(QMAInterstitialDelegate::kInterstitialWillPresentScreen), 1);
    EXPECT_EQ(valueIn(ping("/imp"), "aec"), "2,0");
    if (root->presentedViewController()) root->dismissViewControllerAnimated(false, nullptr);
    drainMain();
  }
}

// Code of another network presents by itself over a host that shows something already: the
// component cannot tell whether a screen showed, so the host hears what that code reports.
// A will-present is a presentation (the impression is pinged); a failure is the
// presentation's failure, heard as request error 11 that describes it, and the waterfall
// does not go on to the next network.
TEST_F(CustomEvents, WhatAnInterstitialThatPresentsByItselfReportsIsWhatTheHostHears) {
  struct Row {
    const char* className;
    std::vector<std::string> heard;
    bool impressionPinged;
  };
  const Row rows[] = {
      {"PublisherCustomInterstitial",
       {QMAInterstitialDelegate::kInterstitialDidReceiveAd, QMAInterstitialDelegate::kInterstitialWillPresentScreen},
       true},
      {"PublisherFailingToPresentInterstitial",
       {QMAInterstitialDelegate::kInterstitialDidReceiveAd, "interstitial:didFailToReceiveAdWithError: 11"},
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.className);
    host = std::make_shared<formats_test::Host>();
    useScenario(waterfall_test::waterfallScenario(waterfall_test::configFor(
        "interstitial", json::array({customNetwork("1", {{"class_name", row.className}}),
                                     waterfall_test::networkEntry("2", kFillAdapter)}))));
    auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
    interstitial->setDelegate(host);
    interstitial->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidReceiveAd));
    auto other = std::make_shared<uikit::ViewController>();
    ASSERT_TRUE(root->presentViewController(other, false, nullptr));
    interstitial->presentFromRootViewController(root);
    drainMain();
    EXPECT_EQ(host->heard, row.heard);
    EXPECT_TRUE(TestAdapter::live().empty());  // the second network is never asked
    if (row.impressionPinged) {
      EXPECT_EQ(valueIn(ping("/imp"), "aec"), "0");
    } else {
      ASSERT_FALSE(host->errors.empty());
      EXPECT_EQ(host->errors.back().domain, kQMAErrorDomain);
      EXPECT_NE(host->errors.back().localizedDescription().find("Cannot show over another screen."), std::string::npos)
          << host->errors.back().localizedDescription();
      foundation::Clock::advance(60);  // past any network's time-out
      drainMain();
      EXPECT_EQ(host->heard, row.heard);
      EXPECT_TRUE(TestAdapter::live().empty());
      EXPECT_TRUE(server->requestsForPath("/imp").empty());
    }
    root->dismissViewControllerAnimated(false, nullptr);
    drainMain();
    server->clearRequests();
  }
}

}  // namespace custom_event_test
