// The built-in adapters that wrap the component's own formats: the house adapter and the
// ad-URL adapter, alone against a connector that records what it hears, and in real
// waterfalls against the ad server on 127.0.0.1.
#include <gtest/gtest.h>

#include <thread>

#include "ads/mediation/ad_url_adapter.h"
#include "ads/mediation/house_adapter.h"
#include "ads/mediation/waterfall_test_support.h"
#include "ads/present/view_controller.h"
#include "ads/services/device.h"
#include "ads/services/geometry.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/notification_center.h"
#include "platform/system/device_facts.h"

namespace builtin_adapters_test {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using nlohmann::json;
using waterfall_test::configFor;
using waterfall_test::Waterfall;

// A connector that is not one of the waterfall's: what an adapter asks comes from its
// fields, and every callback is written down.
struct RecordingConnector : QMAMAdNetworkConnectorProtocol {
  Dictionary givenCredentials;
  bool test = false;
  std::shared_ptr<QMAAdNetworkExtras> extras;
  std::optional<bool> childDirected;
  long gender = 0;
  std::optional<foundation::Date> birthday;
  bool hasLocation = false;
  std::optional<std::string> locationDescription;
  std::vector<std::string> keywords;
  std::vector<std::string> heard;
  std::vector<foundation::Error> errors;

  std::optional<std::string> publisherId() const override { return std::nullopt; }
  Dictionary credentials() const override { return givenCredentials; }
  bool testMode() const override { return test; }
  std::shared_ptr<QMAAdNetworkExtras> networkExtras() const override { return extras; }
  std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const override { return nullptr; }
  std::optional<bool> childDirectedTreatment() const override { return childDirected; }
  long userGender() const override { return gender; }
  std::optional<foundation::Date> userBirthday() const override { return birthday; }
  bool userHasLocation() const override { return hasLocation; }
  double userLatitude() const override { return hasLocation ? 48.25 : 0; }
  double userLongitude() const override { return hasLocation ? 16.5 : 0; }
  double userLocationAccuracyInMeters() const override { return hasLocation ? 20 : 0; }
  std::optional<std::string> userLocationDescription() const override { return locationDescription; }
  std::vector<std::string> userKeywords() const override { return keywords; }

  void adapterDidReceiveAdView(QMAMAdNetworkAdapter&, const std::shared_ptr<uikit::View>&) override {
    heard.push_back("didReceiveAdView");
  }
  void adapterDidFailAd(QMAMAdNetworkAdapter&, const foundation::Error& e) override {
    heard.push_back("didFailAd");
    errors.push_back(e);
  }
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter&) override { heard.push_back("didReceiveInterstitial"); }
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& a, const std::shared_ptr<void>&) override {
    adapterDidReceiveInterstitial(a);
  }
  void adapterDidFailInterstitial(QMAMAdNetworkAdapter&, const foundation::Error& e) override {
    heard.push_back("didFailInterstitial");
    errors.push_back(e);
  }
  void adapterDidGetAdClick(QMAMAdNetworkAdapter&) override { heard.push_back("didGetAdClick"); }
  void adapterClickDidOccurInBanner(QMAMAdNetworkAdapter&, const std::shared_ptr<uikit::View>&) override {
    heard.push_back("clickDidOccurInBanner");
  }
  void adapterWillPresentFullScreenModal(QMAMAdNetworkAdapter&) override { heard.push_back("willPresentFullScreenModal"); }
  void adapterWillDismissFullScreenModal(QMAMAdNetworkAdapter&) override { heard.push_back("willDismissFullScreenModal"); }
  void adapterDidDismissFullScreenModal(QMAMAdNetworkAdapter&) override { heard.push_back("didDismissFullScreenModal"); }
  void adapterWillPresentInterstitial(QMAMAdNetworkAdapter&) override { heard.push_back("willPresentInterstitial"); }
  void adapterWillDismissInterstitial(QMAMAdNetworkAdapter&) override { heard.push_back("willDismissInterstitial"); }
  void adapterDidDismissInterstitial(QMAMAdNetworkAdapter&) override { heard.push_back("didDismissInterstitial"); }
  void adapterWillLeaveApplication(QMAMAdNetworkAdapter&) override { heard.push_back("willLeaveApplication"); }
};

// Percent-escapes undone ("+" stays), for reading the ad server's recorded queries.
std::string unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The JSON text of one query parameter, parsed; null when absent or no JSON.
json queryJSON(const std::string& query, const std::string& key) {
  const std::string value = Waterfall::valueIn(query, key);
  if (value == "(absent)") return nullptr;
  return json::parse(unescaped(value), nullptr, false);
}

struct BuiltInAdapters : Waterfall {
  std::shared_ptr<RecordingConnector> connector = std::make_shared<RecordingConnector>();

  template <class T>
  std::shared_ptr<T> adapterOfClass(const char* name) {
    auto object = runtime::objc_getClass(name)->createInstance();
    auto adapter = std::dynamic_pointer_cast<T>(object);
    adapter->initWithQMAMAdNetworkConnector(connector);
    return adapter;
  }
  // The ad server's ad requests for one ad unit.
  std::vector<adserver::RecordedRequest> adRequestsFor(const std::string& unit) {
    std::vector<adserver::RecordedRequest> found;
    for (const auto& r : server->requestsForPath("/qads/ad"))
      if (valueIn(r.query, "slotname") == unit) found.push_back(r);
    return found;
  }
  static json houseNetwork(const std::string& id, json data, json more = json::object()) {
    json entry = {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({kQMAMAdapterQuillonPelmarkAdsClassName})}};
    entry.update(more);
    return entry;
  }
  static json adURLNetwork(const std::string& id, json data = json::object()) {
    return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({kQMAMAdURLAdapterClassName})}};
  }
  // Ad requests of the unit "house-unit" get the HTML ad, every other the configuration.
  static json houseScenario(const json& config, json answers = json::array()) {
    return {{"ads",
             {{"m", {{"response_type", "mediation"}, {"body", config.dump()}}},
              {"house", {{"body", "<body style='margin:0;background:#c03020'>House</body>"}}}}},
            {"ad_rules", json::array({{{"when", {{"slotname", "house-unit"}}}, {"ad", "house"}}})},
            {"answers", std::move(answers)},
            {"default_ad", "m"}};
  }
};

// ---- the built request

TEST_F(BuiltInAdapters, TheBuiltRequestCarriesTheConnectorsTargetingAndACopyOfThePublishersExtras) {
  connector->test = true;
  connector->childDirected = true;
  connector->gender = QMAGenderFemale;
  connector->keywords = {"boats", "tea"};
  connector->givenCredentials = {{"mad_hac", "hac-1"}, {"pubid", "p"}};
  auto publisher = QMAExtras::init();
  publisher->setAdditionalParameters(Dictionary{{"color", "blue"}, {"fk", "0"}, {"_mediationRequestUrl", "http://127.0.0.1:9/page"}});
  connector->extras = publisher;
  auto adapter = adapterOfClass<QMAMAdapterQuillonPelmarkAds>(kQMAMAdapterQuillonPelmarkAdsClassName);

  auto request = adapter->request();
  EXPECT_EQ(Value(*request->testDevices()),
            Value(Array{Value("Simulator"), Value("Simulator"), Value(QMADevice::sharedInstance()->deviceIdentifier())}));
  EXPECT_TRUE(request->isATestDevice());
  EXPECT_EQ(request->childDirectedTreatment(), std::optional<bool>(true));
  EXPECT_EQ(request->gender(), QMAGenderFemale);
  EXPECT_EQ(request->keywords(), std::optional<std::vector<std::string>>({"boats", "tea"}));
  EXPECT_FALSE(request->location());
  // A connector of another kind names the adapter alone.
  EXPECT_EQ(Value(*request->privateMediationExtras()),
            Value(Dictionary{{"man", Array{Value(Array{Value(kQMAMAdapterQuillonPelmarkAdsClassName)})}},
                             {"mcan", kQMAMAdapterQuillonPelmarkAdsClassName}}));
  auto extras = request->adNetworkExtrasFor<QMAExtras>();
  ASSERT_TRUE(extras);
  EXPECT_NE(extras, publisher);
  EXPECT_EQ(Value(*extras->additionalParameters()),
            Value(Dictionary{{"color", "blue"},
                             {"fk", "1"},
                             {"mad_hac", "hac-1"},
                             {"_mediationRequestUrl", "http://127.0.0.1:9/page"},
                             {"_requestUrl", "http://127.0.0.1:9/page"}}));
  // The host's own extras object is left as the host made it.
  EXPECT_EQ(Value(*publisher->additionalParameters()),
            Value(Dictionary{{"color", "blue"}, {"fk", "0"}, {"_mediationRequestUrl", "http://127.0.0.1:9/page"}}));

  connector->test = false;
  connector->hasLocation = true;
  connector->extras = nullptr;
  request = adapter->request();
  EXPECT_FALSE(request->testDevices());
  ASSERT_TRUE(request->location());
  EXPECT_DOUBLE_EQ(request->location()->latitude(), 48.25);
  EXPECT_EQ(Value(*request->adNetworkExtrasFor<QMAExtras>()->additionalParameters()),
            Value(Dictionary{{"fk", "1"}, {"mad_hac", "hac-1"}}));

  connector->hasLocation = false;
  connector->locationDescription = "Vienna";
  request = adapter->request();
  ASSERT_TRUE(request->location());
  EXPECT_EQ(request->location()->locationDescription(), std::optional<std::string>("Vienna"));

  // Without a connector or an adapter nothing is written.
  auto bare = QMARequest::request();
  QMARequestMediationAdditions::addAdapterListWithConnectorAdapter(*bare, nullptr, adapter.get());
  QMARequestMediationAdditions::configureNetworkExtrasWithConnectorAdapter(*bare, connector, nullptr);
  EXPECT_FALSE(bare->privateMediationExtras());
  EXPECT_FALSE(bare->adNetworkExtrasFor<QMAExtras>());
}

// ---- the house adapter in waterfalls

TEST_F(BuiltInAdapters, TheHouseAdapterServesABannerFromTheServerWithTheNetworksExtrasAndLeavesTheHostsRequestAlone) {
  useScenario(houseScenario(configFor(
      "banner", json::array({waterfall_test::networkEntry("1", mediation_test::kNoFillAdapter),
                             houseNetwork("2", {{"pubid", "house-unit"}, {"mad_hac", "h1"}},
                                          {{"extras", {{"fk", "7"}, {"k", "v"}, {"n", 3}}}})}))));
  auto publisher = QMAExtras::init();
  publisher->setAdditionalParameters(Dictionary{{"pub", "x"}});
  auto request = QMARequest::request();
  request->registerAdNetworkExtras(publisher);
  auto banner = placedBanner();
  banner->loadRequest(request);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(banner->slot()->adNetworkClassName(), std::optional<std::string>(kQMAMAdapterQuillonPelmarkAdsClassName));
  auto manager = managerOf(banner->slot());
  auto house = std::dynamic_pointer_cast<QMAMAdapterQuillonPelmarkAds>(manager->receivedConnector()->adapterObject());
  ASSERT_TRUE(house && house->bannerView());
  EXPECT_EQ(banner->rootAdView(), house->bannerView());
  EXPECT_FALSE(house->bannerView()->slot()->reloadable());
  EXPECT_EQ(house->bannerView()->adUnitID(), std::optional<std::string>("house-unit"));

  const auto inner = adRequestsFor("house-unit");
  ASSERT_EQ(inner.size(), 1u);
  // The network's string extras over the publisher's, "fk" as the network sent it.
  EXPECT_EQ(queryJSON(inner[0].query, "extras"), json({{"pub", "x"}, {"fk", "7"}, {"k", "v"}, {"mad_hac", "h1"}}));
  const json quality = queryJSON(inner[0].query, "quality_signals");
  ASSERT_TRUE(quality.contains("request")) << quality.dump();
  EXPECT_EQ(quality["request"]["mcan"], kQMAMAdapterQuillonPelmarkAdsClassName);
  EXPECT_EQ(quality["request"]["man"],
            json::array({json::array({"NoSuchAdapter", mediation_test::kNoFillAdapter}),
                         json::array({kQMAMAdapterQuillonPelmarkAdsClassName})}));
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "1,0");

  // The host's extras object was never written to: its next load asks the server as before.
  EXPECT_EQ(Value(*publisher->additionalParameters()), Value(Dictionary{{"pub", "x"}}));
  const auto outerBefore = adRequestsFor("unit-1").size();
  banner->loadRequest(request);
  ASSERT_TRUE(pump([&] { return adRequestsFor("unit-1").size() > outerBefore; }));
  EXPECT_EQ(queryJSON(adRequestsFor("unit-1").back().query, "extras"), json({{"pub", "x"}}));
}

TEST_F(BuiltInAdapters, AHouseNetworkWithAReadyAdShowsItWithoutAskingTheServer) {
  useScenario(houseScenario(configFor(
      "banner", json::array({houseNetwork("1", {{"pubid", "house-unit"}},
                                          {{"ad", {{"ad_html", "<body style='background:#2040c0'>Ready</body>"},
                                                   {"ad_base_url", "http://127.0.0.1/"}}}})}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(banner->slot()->adNetworkClassName(), std::optional<std::string>(kQMAMAdapterQuillonPelmarkAdsClassName));
  EXPECT_TRUE(adRequestsFor("house-unit").empty());
}

TEST_F(BuiltInAdapters, AHouseBannerCountsOneClickForAScreenAndALeaveAndAnInterstitialOnlyItsOwnClick) {
  useScenario(houseScenario(configFor("banner", json::array({houseNetwork("1", {{"pubid", "house-unit"}})}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  auto house = std::dynamic_pointer_cast<QMAMAdapterQuillonPelmarkAds>(
      managerOf(banner->slot())->receivedConnector()->adapterObject());
  ASSERT_TRUE(house);
  // What the inner banner tells its delegate when its ad opens a screen, then leaves.
  house->adViewWillPresentScreen(*house->bannerView());
  house->adViewWillLeaveApplication(*house->bannerView());
  drainMain();
  EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewWillPresentScreen), 1);
  EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewWillLeaveApplication), 1);
  ping("/clk");
  drainMain();
  EXPECT_EQ(server->requestsForPath("/clk").size(), 1u);

  // Alone against a recording connector, the same messages and an interstitial's.
  auto alone = adapterOfClass<QMAMAdapterQuillonPelmarkAds>(kQMAMAdapterQuillonPelmarkAdsClassName);
  auto someBanner = QMABannerView::initWithAdSize(kQMAAdSizeBanner);
  auto someInterstitial = QMAInterstitial::init();
  alone->adViewWillPresentScreen(*someBanner);
  alone->adViewWillLeaveApplication(*someBanner);
  alone->interstitialWillPresentScreen(*someInterstitial);
  alone->interstitialDidReceiveAdClick(*someInterstitial);
  alone->interstitialDidDismissScreen(*someInterstitial);
  EXPECT_EQ(connector->heard,
            (std::vector<std::string>{"didGetAdClick", "willPresentFullScreenModal", "didGetAdClick", "willLeaveApplication",
                                      "willPresentInterstitial", "didGetAdClick", "didDismissInterstitial"}));
}

TEST_F(BuiltInAdapters, TheHouseAdapterServesAnInterstitialThatItsInnerInterstitialPresents) {
  useScenario(houseScenario(configFor("interstitial", json::array({houseNetwork("1", {{"pubid", "house-unit"}})}))));
  auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
  interstitial->setDelegate(host);
  interstitial->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidReceiveAd));
  auto house = std::dynamic_pointer_cast<QMAMAdapterQuillonPelmarkAds>(
      managerOf(interstitial->slot())->receivedConnector()->adapterObject());
  ASSERT_TRUE(house && house->interstitial());
  EXPECT_TRUE(house->interstitial()->isReady());
  interstitial->presentFromRootViewController(root);
  ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialWillPresentScreen));
  EXPECT_TRUE(house->interstitial()->hasBeenUsed());
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "0");
}

// Refused by the platform (the host shows something already), the house network's
// interstitial fails as one of the component's own does: the host hears no will-present,
// only request error 11; no impression is counted or pinged, the inner one's nor the
// mediation's; and the waterfall does not go on to the next network behind the host's back.
TEST_F(BuiltInAdapters, AHouseInterstitialThePlatformRefusesIsOnlyAFailureWithEleven) {
  json scenario = houseScenario(configFor(
      "interstitial", json::array({houseNetwork("1", {{"pubid", "house-unit"}}), waterfall_test::networkEntry("2", waterfall_test::kFillAdapter)})));
  scenario["ads"]["house"]["headers"] = {{"X-Qvra-Tracking-Urls", "{base}/ping/impression"}};
  useScenario(scenario);
  auto interstitial = QMAInterstitial::initWithAdUnitID("unit-1");
  interstitial->setDelegate(host);
  interstitial->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidReceiveAd));
  auto manager = managerOf(interstitial->slot());
  auto house = std::dynamic_pointer_cast<QMAMAdapterQuillonPelmarkAds>(manager->receivedConnector()->adapterObject());
  ASSERT_TRUE(house && house->interstitial() && house->interstitial()->isReady());
  auto other = std::make_shared<uikit::ViewController>();
  ASSERT_TRUE(root->presentViewController(other, false, nullptr));
  std::size_t fullScreenNotices = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kQMAAdModalViewControllerWillPresentFullScreen, nullptr, nullptr,
      [&](const foundation::Notification&) { ++fullScreenNotices; });

  interstitial->presentFromRootViewController(root);
  drainMain();
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(host->heard, (std::vector<std::string>{QMAInterstitialDelegate::kInterstitialDidReceiveAd,
                                                   "interstitial:didFailToReceiveAdWithError: 11"}));
  ASSERT_FALSE(host->errors.empty());
  EXPECT_EQ(host->errors.back().domain, kQMAErrorDomain);
  EXPECT_NE(host->errors.back().localizedDescription().find("Presenting the interstitial threw exception: "),
            std::string::npos);
  EXPECT_EQ(fullScreenNotices, 0u);
  EXPECT_EQ(root->presentedViewController(), other);
  EXPECT_TRUE(interstitial->hasBeenUsed());
  EXPECT_FALSE(interstitial->isReady());
  EXPECT_FALSE(house->interstitial()->slot()->viewHasMadeImpression());
  EXPECT_TRUE(waterfall_test::TestAdapter::live().empty());  // the second network was never asked
  EXPECT_FALSE(manager->receivedConnector());
  EXPECT_FALSE(manager->requestingConnector());
  foundation::Clock::advance(60);  // past any network's time-out
  drainMain();
  EXPECT_TRUE(waterfall_test::TestAdapter::live().empty());
  EXPECT_EQ(host->heard.size(), 2u);
  EXPECT_TRUE(server->requestsForPath("/ping/impression").empty());
  EXPECT_TRUE(server->requestsForPath("/imp").empty());
  root->dismissViewControllerAnimated(false, nullptr);
  drainMain();
}

// ---- the ad-URL adapter

TEST_F(BuiltInAdapters, TheAdURLAdaptersParametersAreWrittenDownOnTheMainThreadBeforeTheRequestGoesOut) {
  struct Row {
    const char* what;
    QMAAdSize size;
    bool trackingEnabled;
    Dictionary credentials;
    const char* smartW;
    const char* smartH;
    const char* lat;
  };
  const Row rows[] = {
      {"a fixed banner, tracking on", kQMAAdSizeBanner, true, {{"pubid", "p1"}}, nullptr, nullptr, "0"},
      {"a smart banner, limited tracking", kQMAAdSizeSmartBannerPortrait, false, {}, "full", "auto", "1"},
      {"a full-width banner of fixed height", QMAAdSizeFullWidthPortraitWithHeight(90), true, {}, "full", nullptr, "0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto facts = system_facts::device();
    facts.advertisingTrackingEnabled = row.trackingEnabled;
    system_facts::setDevice(facts);
    connector = std::make_shared<RecordingConnector>();
    connector->givenCredentials = row.credentials;
    auto adapter = adapterOfClass<QMAMAdURLAdapter>(kQMAMAdURLAdapterClassName);
    adapter->getBannerWithSize(row.size);
    // The SDK core asks from its request queue, never reading the banner there; once it
    // has given its request ID, a test's own comes last.
    ASSERT_TRUE(pump([&] { return !adapter->requestID().empty(); }));
    adapter->setRequestID("41");
    std::optional<Dictionary> parameters;
    std::thread([&] { parameters = adapter->requestParameters(); }).join();
    ASSERT_TRUE(parameters);
    EXPECT_EQ(Value(parameters->at("data")), Value(row.credentials));
    EXPECT_EQ(parameters->at("request_id"), Value("41"));
    EXPECT_EQ(parameters->at("quillon-ad-url-mediation"), Value("1"));
    EXPECT_EQ(parameters->at("lat"), Value(row.lat));
    EXPECT_EQ(parameters->at("adid"), Value(*facts.advertisingIdentifier));
    const Dictionary* param = parameters->at("request_param").asDictionary();
    ASSERT_TRUE(param);
    EXPECT_EQ(param->at("format"), Value("banner"));
    EXPECT_EQ(Value(param->at("ad_frame")), Value(QMADictionaryWithRect(adapter->banner()->frame())));
    EXPECT_EQ(Value(param->at("ad_bounds")), Value(QMADictionaryWithRect(adapter->banner()->bounds())));
    EXPECT_EQ(param->count("smart_w") ? param->at("smart_w") : Value(), row.smartW ? Value(row.smartW) : Value());
    EXPECT_EQ(param->count("smart_h") ? param->at("smart_h") : Value(), row.smartH ? Value(row.smartH) : Value());
    EXPECT_EQ(adapter->requestedAdType(), 1);
    adapter->stopBeingDelegate();
  }
  system_facts::resetDeviceFacts();
}

TEST_F(BuiltInAdapters, TheAdURLAdapterReportsEachFailureOnThePathOfItsKindAndNothingOnceStopped) {
  auto banner = adapterOfClass<QMAMAdURLAdapter>(kQMAMAdURLAdapterClassName);
  banner->getBannerWithSize(kQMAAdSizeBanner);
  auto first = banner->banner();
  banner->getBannerWithSize(kQMAAdSizeMediumRectangle);
  EXPECT_EQ(banner->banner(), first);
  banner->loadAdURLWithParameters({});
  banner->failedJavaScriptFile();

  auto interstitial = adapterOfClass<QMAMAdURLAdapter>(kQMAMAdURLAdapterClassName);
  interstitial->getInterstitial();
  EXPECT_EQ(interstitial->requestedAdType(), 2);
  interstitial->loadAdHeaders(nullptr, std::nullopt);
  interstitial->invalidJavaScriptRequest();
  interstitial->stopBeingDelegate();
  interstitial->invalidJavaScriptRequest();
  interstitial->loadAdHeaders(nullptr, std::nullopt);

  // Answers to a request that never went out have no path to take.
  auto fresh = adapterOfClass<QMAMAdURLAdapter>(kQMAMAdURLAdapterClassName);
  EXPECT_EQ(fresh->requestedAdType(), 0);
  fresh->loadAdHeaders(nullptr, std::nullopt);
  fresh->invalidJavaScriptRequest();

  EXPECT_EQ(connector->heard, (std::vector<std::string>{"didFailAd", "didFailAd", "didFailAd", "didFailInterstitial",
                                                        "didFailInterstitial"}));
  const std::pair<long, const char*> expected[] = {
      {0, "Adapter already initialized. Please create new instance."},
      {1, "Adapter can't load ad URL."},
      {5, "Failed to load ad. Check network connection."},
      {3, "Ad received is empty."},
      {4, "Failed to load ad. Check network connection."},
  };
  ASSERT_EQ(connector->errors.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(connector->errors[i].domain, kQMAMAdURLAdapterErrorDomain);
    EXPECT_EQ(connector->errors[i].code, expected[i].first);
    EXPECT_EQ(connector->errors[i].localizedDescription(), expected[i].second);
  }
  // The SDK core's own answers to the requests above come later and are ignored or fail
  // the same way; none of them reaches a stopped adapter.
  for (auto& adapter : {banner, interstitial}) adapter->stopBeingDelegate();
}

TEST_F(BuiltInAdapters, AnAdURLNetworkShowsTheAdThePageFetchedAndANetworkWhoseAdComesAsAURLIsPassed) {
  // The page answers the first ad-URL request with an ad URL (which the adapter cannot
  // take), the second with the ad itself.
  json scenario = houseScenario(configFor("banner", json::array({adURLNetwork("1", {{"pubid", "a"}}),
                                                                 adURLNetwork("2", {{"pubid", "b"}})})));
  scenario["answers"] = json::array({
      {{"when", {{"quillon-ad-url-mediation", "1"}, {"data", json({{"pubid", "b"}}).dump()}}},
       {"answer", "loadAd"},
       {"is_mediation", false},
       {"ad", {{"ad_html", "<body style='margin:0;background:#30a050'>Fetched</body>"}, {"ad_base_url", "http://127.0.0.1/"}}}},
  });
  useScenario(scenario);
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  auto manager = managerOf(banner->slot());
  EXPECT_EQ(manager->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("2"));
  auto adapter = std::dynamic_pointer_cast<QMAMAdURLAdapter>(manager->receivedConnector()->adapterObject());
  ASSERT_TRUE(adapter && adapter->banner());
  EXPECT_EQ(banner->rootAdView(), adapter->banner());
  EXPECT_FALSE(adapter->banner()->slot()->reloadable());
  // The one-use extras left the inner slot's next request with their first read.
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "2,0");
  EXPECT_EQ(host->count(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError), 0);
}

}  // namespace builtin_adapters_test
