// The ad loader: its creation and delegate checks, and each native kind end to end against
// the ad server (the SDK-core page, a native response, the support page in a hidden slot,
// the images), with its failures.

#include <gmock/gmock.h>

#include "ads/slots/kvr_banner_view.h"
#include "ads/slots/native/native_test_support.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/window.h"

using namespace native_test;
using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

struct AdLoader : NativeFixture {
  std::shared_ptr<QMAAdLoader> loadNative(const nlohmann::json& body, const foundation::Array& types = {Value("1")},
                                          nlohmann::json extra = nlohmann::json::object()) {
    serveNative(body, extra);
    auto loader = makeLoader(types);
    loader->loadRequest(QMARequest::request());
    return loader;
  }
};

TEST_F(AdLoader, CreationChecksItsAdTypesAndOptions) {
  struct Case {
    const char* name;
    Array types;
    const char* log;
  };
  const Case cases[] = {
      {"no type", {}, "Error: Must specify at least one ad type to load."},
      {"a number among them", {Value("1"), Value(9)}, "Error: Invalid ad format requested: \"9\"."},
      {"an unknown string", {Value("4")}, "Error: Invalid ad format requested: \"4\"."},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(makeLoader(c.types)) << c.name;
    EXPECT_TRUE(logged(c.log)) << c.name;
  }
  auto twice = makeLoader({Value("1"), Value("1")});
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->adTypes(), std::set<std::string>{"QMANativeContentAd"});
  EXPECT_FALSE(twice->adLoaderOptions());

  auto first = QMANativeAdImageAdLoaderOptions::init();
  first->setShouldRequestMultipleImages(true);
  auto second = QMANativeAdImageAdLoaderOptions::init();
  auto loader = makeLoader({Value("2")}, std::vector<std::any>{first, second, std::string("text")});
  ASSERT_TRUE(loader);
  ASSERT_TRUE(loader->adLoaderOptions());
  ASSERT_EQ(loader->adLoaderOptions()->size(), 1u);
  auto stored = QMANativeAdImageOptionsIn(loader->adLoaderOptions());
  EXPECT_NE(stored.get(), first.get()) << "a copy";
  EXPECT_TRUE(stored->shouldRequestMultipleImages());
  EXPECT_TRUE(logged("Error: Options already provided for QMANativeAdImageAdLoaderOptions. Ignoring option object (<QMANativeAdImageAdLoaderOptions: 0x"));
  EXPECT_TRUE(logged("Error: Invalid ad loader option will be ignored (text)."));
  EXPECT_EQ(loader->frame(), (uikit::Rect{{0, 0}, {320, 50}}));
}

TEST_F(AdLoader, ADelegateMustAdoptEveryKindsProtocol) {
  auto loader = makeLoader({Value("1"), Value("2")});
  auto contentOnly = std::make_shared<ContentHost>();
  loader->setDelegate(contentOnly);
  EXPECT_EQ(loader->delegate(), host) << "the earlier delegate stays";
  EXPECT_TRUE(logged("Delegate does not conform to the required protocol, QMANativeAppInstallAdLoaderDelegate. Add "
                     "QMANativeAppInstallAdLoaderDelegate to native_test::ContentHost's protocol list."));
  loader->setDelegate(nullptr);
  EXPECT_FALSE(loader->delegate());
  auto contentLoader = makeLoader({Value("1")});
  contentLoader->setDelegate(contentOnly);
  EXPECT_EQ(contentLoader->delegate(), contentOnly);
}

TEST_F(AdLoader, RequestCarriesTheFormatsOfEveryKindAndResponseTypeNative) {
  serveNative(contentAd());
  host->templateIDs = Array{Value("10063"), Value(5)};
  auto loader = makeLoader({Value("1"), Value("3")});
  loader->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard());
  ASSERT_FALSE(adRequests().empty());
  const std::string query = adRequests()[0].query;
  EXPECT_THAT(query, testing::HasSubstr("native_templates"));
  EXPECT_THAT(query, testing::HasSubstr("10063"));
  auto params = loader->adClassRequestParameters();
  EXPECT_EQ(params["QMANativeContentAd"], (Dictionary{{"format", 1}}));
  EXPECT_EQ(params["QMANativeCustomTemplateAd"],
            (Dictionary{{"format", 3}, {"custom_template_ids", Array{Value("10063"), Value("5")}}}));
}

TEST_F(AdLoader, ContentAdEndToEndWithItsAssetsAndImpression) {
  auto body = contentAd();
  body["images"] = nlohmann::json::array({image("photo.png")});
  body["secondary_image"] = image("logo.png");
  body["attribution"] = {{"text", "Ad"}, {"image", image("badge.png")}};
  body["tracking_urls_and_actions"]["third_party_click_tracking_urls"] = {"{base}/click/tracker"};
  auto loader = loadNative({{"ads", {body}}});
  ASSERT_TRUE(pumpUntilHeard());
  ASSERT_EQ(host->heard, std::vector<std::string>{"content"});
  auto ad = host->content;
  EXPECT_EQ(ad->headline(), "Fresh bread");
  EXPECT_EQ(ad->advertiser(), "Bakery");
  ASSERT_EQ(ad->images().size(), 1u);
  EXPECT_TRUE(ad->images()[0]->image());
  EXPECT_TRUE(ad->logo()->image());
  EXPECT_TRUE(ad->attribution()->icon()->image());
  EXPECT_EQ(ad->adUnitID(), "unit-1");
  EXPECT_TRUE(loader->nativeAds().empty());
  EXPECT_TRUE(loader->adPreprocessors().empty());
  ASSERT_TRUE(ad->slot());
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kNativeAdsPagePath).size(), 1u);

  ad->recordImpression();
  ad->recordImpression();
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/imp/native").empty(); }));
  drainMain();
  EXPECT_EQ(server->requestsForPath("/imp/native").size(), 1u);

  // A click goes to the support page in the ad's slot, which answers with the ad network's
  // click ping ("click", pinged by the slot's opener handler) and the third party's tracker
  // ("httpTrack"); both reach the server.
  ad->performClickOnViewAssetNameEnvironment(nullptr, std::string("1001"), std::nullopt);
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/click/tracker").empty(); }));
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/click/native").empty(); }));
  drainMain();
  EXPECT_EQ(server->requestsForPath("/click/tracker").size(), 1u);
  EXPECT_EQ(server->requestsForPath("/click/native").size(), 1u);
  EXPECT_EQ(server->requestsForPath("/click/native")[0].query, "asset=1001");
}

TEST_F(AdLoader, EachKindsFailuresEndWithOneError) {
  const nlohmann::json icon = image("icon.png");
  nlohmann::json appInstall = {{"template_id", 2}, {"headline", "Game"}, {"call_to_action", "Install"}, {"app_icon", icon}};
  nlohmann::json brokenIcon = appInstall;
  brokenIcon["app_icon"] = image("missing");
  nlohmann::json optionalImageFails = contentAd();
  optionalImageFails["images"] = nlohmann::json::array({image("missing")});
  nlohmann::json custom = {{"template_id", 3},
                           {"custom_template_id", "10063"},
                           {"custom_assets",
                            {{{"name", "title"}, {"type", "string"}, {"string_value", "T"}},
                             {{"name", "hero"}, {"type", "image"}, {"image_value", image("missing", true)}}}}};
  nlohmann::json otherTemplate = custom;
  otherTemplate["custom_template_id"] = "1";
  nlohmann::json customOk = custom;
  customOk["custom_assets"][1]["image_value"] = image("hero.png", true);
  struct Case {
    const char* name;
    nlohmann::json body;
    Array types;
    std::vector<std::string> heard;
  };
  const Case cases[] = {
      {"app install delivered", {{"ads", {appInstall}}}, {Value("2")}, {"appInstall"}},
      {"a required icon fails", {{"ads", {brokenIcon}}}, {Value("2")}, {"fail 2"}},
      {"an optional image fails", {{"ads", {optionalImageFails}}}, {Value("1")}, {"content"}},
      {"a kind not asked for", {{"ads", {appInstall}}}, {Value("1")}, {"fail 13"}},
      {"a configuration without ads", {{"ads", "none"}}, {Value("1")}, {"fail 13"}},
      {"an array as configuration", nlohmann::json::array({1}), {Value("1")}, {"fail 13"}},
      {"content without body", {{"ads", {{{"template_id", 1}, {"headline", "h"}}}}}, {Value("1")}, {"fail 13"}},
      {"custom delivered", {{"ads", {customOk}}}, {Value("3")}, {"custom"}},
      {"custom with a required image failing", {{"ads", {custom}}}, {Value("3")}, {"fail 2"}},
      {"custom of a template not named", {{"ads", {otherTemplate}}}, {Value("3")}, {"fail 13"}},
  };
  for (const auto& c : cases) {
    host = std::make_shared<Host>();
    auto loader = loadNative(c.body, c.types);
    ASSERT_TRUE(pumpUntilHeard()) << c.name;
    drainMain();
    EXPECT_EQ(host->heard, c.heard) << c.name;
    EXPECT_TRUE(loader->adPreprocessors().empty()) << c.name;
    EXPECT_TRUE(loader->nativeAds().empty()) << c.name;
  }
}

TEST_F(AdLoader, SlotFailuresReachTheDelegateOnce) {
  struct Case {
    const char* name;
    nlohmann::json scenario;
    std::string heard;
  };
  const Case cases[] = {
      {"the SDK core refuses the request", {{"answers", {{{"answer", "invalidRequest"}}}}}, "fail 0"},
      {"an HTML answer", {{"ads", {{"html", {{"body", "<p>ad</p>"}}}}}, {"default_ad", "html"}}, "fail 11"},
      {"no fill", nlohmann::json::object(), "fail 1"},
  };
  for (const auto& c : cases) {
    host = std::make_shared<Host>();
    useScenario(c.scenario);
    auto loader = makeLoader({Value("1")});
    loader->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard()) << c.name;
    drainMain();
    EXPECT_EQ(host->heard, std::vector<std::string>{c.heard}) << c.name;
  }
}

TEST_F(AdLoader, ASecondLoadWhileOneIsUnderWayIsRefusedAndSaysSo) {
  serveNative({{"ads", {contentAd()}}});
  auto loader = makeLoader({Value("1")});
  loader->loadRequest(QMARequest::request());
  loader->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(2));
  drainMain();
  EXPECT_THAT(host->heard, testing::UnorderedElementsAre("fail 0", "content"));
}

TEST_F(AdLoader, APageThatNeverAnswersTimesOut) {
  const std::string silentPage = "<html><head><script>var quillon = {qvra: {nativeAds: {preProcessJsonQomb: "
                                 "function () {}, handleClickQomb: function () {}}}};</script></head></html>";
  auto loader = loadNative({{"ads", {contentAd()}}}, {Value("1")},
                           {{"files", {{adserver::AdServer::kNativeAdsPagePath, {{"body", silentPage}}}}}});
  // The page loads (its slot has its ad), then nothing comes until the wait is over.
  ASSERT_TRUE(pump([&] {
    return loader->adPreprocessors().size() == 1 &&
           loader->adPreprocessors()[0]->slot()->state() == QMASlotStateAdReady;
  }));
  drainMain();
  EXPECT_TRUE(host->heard.empty());
  foundation::Clock::advance(QMAAdPreprocessor::kAnswerTimeout + 0.1);
  ASSERT_TRUE(pumpUntilHeard());
  EXPECT_EQ(host->heard, std::vector<std::string>{"fail 13"});
  EXPECT_TRUE(loader->adPreprocessors().empty());
}

TEST_F(AdLoader, PreprocessorAnswersOnceWhateverComesFirst) {
  serveNative(contentAd());
  std::vector<std::string> results;
  auto preprocessor = QMAAdPreprocessor::initWithAdUnitID("unit-1");
  preprocessor->preprocessNativeAdJSONCompletionHandler(
      "not json", [&](const auto& configuration, const auto&, const auto& error) {
        results.push_back(configuration ? "config" : "error " + std::to_string(error ? error->code : -1));
      });
  EXPECT_TRUE(results.empty()) << "on a later turn";
  drainMain();
  EXPECT_EQ(results.size(), 1u);
  EXPECT_TRUE(server->requestsForPath(adserver::AdServer::kNativeAdsPagePath).empty());

  results.clear();
  auto second = QMAAdPreprocessor::initWithAdUnitID("unit-1");
  second->preprocessNativeAdJSONCompletionHandler(
      "{\"ads\": [{\"template_id\": 1, \"headline\": \"a\u2028b\"}]}",
      [&](const auto& configuration, const auto& slot, const auto&) {
        results.push_back(configuration && slot ? "config" : "error");
      });
  ASSERT_TRUE(pump([&] { return !results.empty(); }));
  // Later answers reach the wrapper and are dropped.
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      "nativeAdPreProcess", second->slot()->adView(), Dictionary{{"success", "{\"ads\": []}"}});
  foundation::Clock::advance(QMAAdPreprocessor::kOverallTimeout + 1);
  drainMain();
  EXPECT_EQ(results, std::vector<std::string>{"config"});

  // Only an object is a configuration.
  const std::pair<const char*, bool> answers[] = {{"5", false}, {"[1]", false}, {"\"x\"", false}, {"{}", true}};
  for (const auto& entry : answers) {
    const char* answer = entry.first;
    const bool ok = entry.second;
    auto p = QMAAdPreprocessor::initWithAdUnitID("unit-1");
    std::optional<bool> got;
    p->preprocessNativeAdJSONCompletionHandler("{}", [&](const auto& configuration, const auto&, const auto& error) {
      got = configuration.has_value();
      if (!ok) {
        EXPECT_EQ(error->code, 13) << answer;
      }
    });
    p->handlePreprocessorNotification(foundation::Notification{"nativeAdPreProcess", nullptr, Dictionary{{"success", answer}}});
    ASSERT_TRUE(pump([&] { return got.has_value(); }));
    EXPECT_EQ(*got, ok) << answer;
    p->slot()->cancelPendingActions();
  }
}

TEST_F(AdLoader, AnInactiveApplicationStillGetsAnAnswer) {
  serveNative({{"ads", {contentAd()}}});
  // Also after an ad was delivered: the slot then stays in its ready state.
  auto loader = makeLoader({Value("1")});
  loader->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard());
  ASSERT_EQ(host->heard, std::vector<std::string>{"content"});
  host->heard.clear();
  QMAApplication::setApplicationStateSource([] { return static_cast<long>(QMAApplicationStateBackground); });
  // A launched application in the background; given back as it was however the test ends.
  struct Launched {
    std::shared_ptr<QMAApplication> application = QMAApplication::sharedInstance();
    bool before = application->appFinishedLaunching();
    Launched() { application->setAppFinishedLaunching(true); }
    ~Launched() { application->setAppFinishedLaunching(before); }
  } launched;
  loader->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard());
  EXPECT_EQ(host->heard, std::vector<std::string>{"fail 0"});

  std::optional<long> code;
  auto preprocessor = QMAAdPreprocessor::initWithAdUnitID("unit-1");
  preprocessor->preprocessNativeAdJSONCompletionHandler("{}", [&](const auto&, const auto&, const auto& error) {
    code = error ? error->code : -1;
  });
  ASSERT_TRUE(pump([&] { return code.has_value(); }));
  EXPECT_EQ(*code, 2);
}

TEST_F(AdLoader, CustomTemplateClickWithHandlerRunsItWhenThePageAnswers) {
  nlohmann::json custom = {{"template_id", 3},
                           {"custom_template_id", 10063},
                           {"custom_assets", {{{"name", "title"}, {"type", "string"}, {"string_value", "T"}}}}};
  auto loader = loadNative({{"ads", {custom}}}, {Value("3")});
  ASSERT_TRUE(pumpUntilHeard());
  ASSERT_EQ(host->heard, std::vector<std::string>{"custom"});
  int handled = 0;
  host->custom->performClickOnAssetWithKeyCustomClickHandler("title", [&] { ++handled; });
  ASSERT_TRUE(pump([&] { return handled == 1; }));
  EXPECT_FALSE(host->custom->hasPendingClickHandler());
}

// A publisher-edition banner creative that sends one app event.
std::string appEventCreative(const std::string& name, const std::string& info) {
  return "<html><body><script>location.href = 'qomb://x/appEvent?name=" + name + "&info=' + encodeURIComponent(" +
         nlohmann::json(info).dump() + ");</script></body></html>";
}

struct AppEventRoad : AdLoader {
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<uikit::ViewController> root;
  void SetUp() override {
    AdLoader::SetUp();
    window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
    root = std::make_shared<uikit::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window->setHidden(true);
    window.reset();
    root.reset();
    AdLoader::TearDown();
  }
  std::shared_ptr<QMAAdLoader> loadBanner(const std::string& creative,
                                          const std::optional<std::vector<std::any>>& options = std::nullopt) {
    useScenario({{"ads", {{"banner", {{"body", creative}}}}}, {"default_ad", "banner"}});
    foundation::UserDefaults::standardUserDefaults()->setObjectForKey(Value("1"), QMAAdLoader::kAppEventsSwitchKey);
    auto loader = QMAAdLoader::initWithAdUnitIDRootViewControllerAdTypesOptions("unit-1", root, {Value("1")}, options);
    loader->setDelegate(host);
    loader->loadRequest(QMARequest::request());
    return loader;
  }
  std::string configuration(const nlohmann::json& ad) const {
    nlohmann::json a = ad;
    a["type"] = "native";  // the creative gives the configuration whole: no page fills it in
    return withBase(nlohmann::json({{"ads", {a}}}).dump());
  }
};

TEST_F(AppEventRoad, TheBannersEventBecomesTheAd) {
  auto options = QMANativeAdImageAdLoaderOptions::init();
  options->setPreferredImageOrientation(QMANativeAdImageOrientationLandscape);
  auto loader = loadBanner(appEventCreative("native_ad_content", configuration(contentAd())), std::vector<std::any>{options});
  EXPECT_EQ(loader->appEventAdLoaders().size(), 1u);
  ASSERT_TRUE(pumpUntilHeard());
  drainMain();
  EXPECT_EQ(host->heard, std::vector<std::string>{"content"});
  EXPECT_TRUE(loader->appEventAdLoaders().empty());
  ASSERT_FALSE(adRequests().empty());
  EXPECT_THAT(adRequests()[0].query, testing::HasSubstr("native_image_orientation=landscape"));
  // The later wait finds the banner let go.
  foundation::Clock::advance(QMAAppEventAdLoader::kAppEventTimeout + 1);
  drainMain();
  EXPECT_EQ(host->heard.size(), 1u);
}

TEST_F(AppEventRoad, FailuresSayWhatWentWrong) {
  nlohmann::json install = {{"template_id", 2}, {"headline", "h"}, {"call_to_action", "Get"}, {"app_icon", image("i.png")}};
  nlohmann::json badBadge = contentAd();
  badBadge["attribution"] = {{"text", "Ad"}, {"image", image("missing")}};
  struct Case {
    const char* name;
    std::string creative;
    std::string heard;
    std::string message;
  };
  const Case cases[] = {
      {"no event", "<html><body>quiet</body></html>", "fail 5", "Failed to receive ad configuration."},
      {"another event first", appEventCreative("coins", "5"), "fail 11", "Received malformed ad data."},
      {"info that is no object", appEventCreative("native_ad_content", "[1]"), "fail 11", "Received malformed ad data."},
      {"a kind not asked for", appEventCreative("native_ad_content", configuration(install)), "fail 11",
       "Received invalid ad response."},
      {"a required picture fails", appEventCreative("native_ad_content", configuration(badBadge)), "fail 2",
       "Couldn't load native ad assets."},
  };
  for (const auto& c : cases) {
    host = std::make_shared<Host>();
    auto loader = loadBanner(c.creative);
    // Let the banner get its creative, then move past the wait for its event.
    for (int i = 0; i < 3 && host->heard.empty(); ++i) {
      pump([&] { return !host->heard.empty() || loader->appEventAdLoaders().empty() ||
                        (loader->appEventAdLoaders()[0]->loadingBannerView() &&
                         loader->appEventAdLoaders()[0]->loadingBannerView()->hasLoadedAd()); });
      drainMain();
      // The creative's event may still be on its way from the page (a hop through the
      // bridge's queues, slow under a sanitizer): give it a few real seconds before the
      // clock moves past the wait for it.
      if (host->heard.empty()) dispatch::RunLoop::main().runUntil([&] { return !host->heard.empty(); }, 3.0);
      if (host->heard.empty()) foundation::Clock::advance(QMAAppEventAdLoader::kAppEventTimeout + 0.1);
    }
    ASSERT_TRUE(pumpUntilHeard()) << c.name;
    drainMain();
    EXPECT_EQ(host->heard, std::vector<std::string>{c.heard}) << c.name;
    EXPECT_EQ(host->errors.at(0).localizedDescription(), c.message) << c.name;
    EXPECT_TRUE(loader->appEventAdLoaders().empty()) << c.name;
  }
}

}  // namespace
