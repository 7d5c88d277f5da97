#include "ads/model/ad.h"

#include <gtest/gtest.h>

#include <functional>

#include "ads/model/request_error.h"
#include "ads/model/test_support.h"
#include "platform/foundation/format.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

std::vector<std::string> urlTexts(const QMAURLSet& set) {
  std::vector<std::string> out;
  for (const auto& u : set.urls()) out.push_back(u.absoluteString());
  return out;
}

std::optional<std::string> text(const std::optional<net::URL>& url) {
  return url ? std::optional<std::string>(url->absoluteString()) : std::nullopt;
}

struct Ads : model_test::ModelTest {};

TEST_F(Ads, ANewAdHasTheDefaults) {
  auto ad = QMAAd::init();
  EXPECT_TRUE(ad->clickURLs().empty());
  EXPECT_TRUE(ad->impressionURLs().empty());
  EXPECT_TRUE(ad->manualImpressionURLs().empty());
  EXPECT_TRUE(ad->isScrollEnabled());
  EXPECT_EQ(ad->supportedOrientations(), 30u);
  EXPECT_EQ(ad->responseType(), 0u);
  EXPECT_EQ(ad->reloadInterval(), 0);
  EXPECT_TRUE(QMAAdSizeEqualToSize(ad->size(), {{0, 0}, 0}));
  ASSERT_TRUE(ad->statistics());
  EXPECT_EQ(ad->statistics()->delegate(), QMAApplication::sharedInstance());
  EXPECT_FALSE(ad->MRAIDEventHandler());
}

TEST_F(Ads, TheAdDictionaryOfDeliveredAndPresetAds) {
  struct Expect {
    std::optional<std::string> html, baseURL, adURL;
    QMAAdSize size{{0, 0}, 1};
    std::uint64_t orientations = 30;
    bool javascript = false;
    std::optional<std::string> passback, debugDialog;
    std::vector<std::string> clicks, impressions, manual;
    bool vistrace = false, swipe = false;
  };
  struct Case {
    const char* name;
    Dictionary dict;
    std::function<void(Expect&)> expect;
  };
  const Case cases[] = {
      {"HTML with its base URL",
       {{"ad_html", "<p>ad</p>"}, {"ad_base_url", "http://ads.example/base/"}, {"ad_url", "http://ads.example/ad"}},
       [](Expect& e) {
         e.html = "<p>ad</p>";
         e.baseURL = "http://ads.example/base/";
       }},
      {"HTML without a base URL gives way to the ad URL",
       {{"ad_html", "<p>ad</p>"}, {"ad_url", "http://ads.example/ad"}},
       [](Expect& e) { e.adURL = "http://ads.example/ad"; }},
      {"empty HTML gives way too",
       {{"ad_html", ""}, {"ad_base_url", "http://b/"}, {"ad_url", "http://ads.example/ad"}},
       [](Expect& e) { e.adURL = "http://ads.example/ad"; }},
      {"a base URL that is no URL", {{"ad_html", "<p/>"}, {"ad_base_url", "not a url"}}, [](Expect&) {}},
      {"untyped values count as absent",
       {{"ad_html", 5},
        {"ad_url", Array{"http://x/"}},
        {"ad_size", 320},
        {"orientation", 24},
        {"debug_dialog", true},
        {"vistrace", "{}"},
        {"click_urls", "http://c/"},
        {"swipe_to_viewcontroller", Array{}}},
       [](Expect&) {}},
      {"size, orientation and dialog",
       {{"ad_size", "320x50"}, {"orientation", "landscape"}, {"debug_dialog", "dbg"}},
       [](Expect& e) {
         e.size = kQMAAdSizeBanner;
         e.orientations = 24;
         e.debugDialog = "dbg";
       }},
      {"custom size; another orientation word keeps all four",
       {{"ad_size", "300x251"}, {"orientation", "sideways"}},
       [](Expect& e) {
         e.size = {{300, 251}, 1};
       }},
      {"unreadable size reads as 0 x 0", {{"ad_size", "big"}}, [](Expect&) {}},
      {"passback only for an ad-network JavaScript ad", {{"ad_passback_url", "http://pb/"}}, [](Expect&) {}},
      {"JavaScript ad with its passback",
       {{"ad_is_javascript", true}, {"ad_passback_url", "http://pb/"}},
       [](Expect& e) {
         e.javascript = true;
         e.passback = "http://pb/";
       }},
      {"tracking lists skip entries that are no URL and keep one of each",
       {{"click_urls", Array{"http://c/1", "", 7, "http://c/1", "http://c/2"}},
        {"impression_urls", Array{"http://i/1"}},
        {"manual_impression_urls", Array{"bad url", "http://m/1"}}},
       [](Expect& e) {
         e.clicks = {"http://c/1", "http://c/2"};
         e.impressions = {"http://i/1"};
         e.manual = {"http://m/1"};
       }},
      {"viewability and swipe set-ups",
       {{"vistrace", Dictionary{{"enabled", true}}},
        {"swipe_to_viewcontroller", Dictionary{{"app_store_product_id", 12345}}}},
       [](Expect& e) {
         e.vistrace = true;
         e.swipe = true;
       }},
      {"an empty swipe set-up is none", {{"swipe_to_viewcontroller", Dictionary{}}}, [](Expect&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto ad = QMAAd::initWithDictionary(c.dict);
    Expect e;
    c.expect(e);
    EXPECT_EQ(ad->adHTML(), e.html);
    EXPECT_EQ(text(ad->adBaseURL()), e.baseURL);
    EXPECT_EQ(text(ad->adURL()), e.adURL);
    EXPECT_TRUE(QMAAdSizeEqualToSize(ad->size(), e.size)) << NSStringFromQMAAdSize(ad->size());
    EXPECT_EQ(ad->supportedOrientations(), e.orientations);
    EXPECT_EQ(ad->hasAdNetworkJavaScript(), e.javascript);
    EXPECT_EQ(text(ad->adNetworkPassbackURL()), e.passback);
    EXPECT_EQ(ad->debugDialog(), e.debugDialog);
    EXPECT_EQ(urlTexts(ad->clickURLs()), e.clicks);
    EXPECT_EQ(urlTexts(ad->impressionURLs()), e.impressions);
    EXPECT_EQ(urlTexts(ad->manualImpressionURLs()), e.manual);
    EXPECT_EQ(bool(ad->vistraceConfigurations()), e.vistrace);
    EXPECT_EQ(bool(ad->swipeToViewControllerConfigurations()), e.swipe);
    EXPECT_EQ(ad->reloadInterval(), 0);
  }
}

TEST_F(Ads, OnlyBannerAdsReadANumberRefreshRate) {
  const std::pair<Value, double> cases[] = {{Value(30), 30}, {Value(12.5), 12.5}, {Value("30"), 0}, {Value(true), 0}};
  for (const auto& [rate, expected] : cases) {
    Dictionary dict{{"refresh_rate", rate}};
    EXPECT_EQ(QMABannerAd::initWithDictionary(dict)->reloadInterval(), expected) << foundation::description(rate);
    EXPECT_EQ(QMAInterstitialAd::initWithDictionary(dict)->reloadInterval(), 0);
    EXPECT_EQ(QMAAd::initWithDictionary(dict)->reloadInterval(), 0);
  }
  EXPECT_EQ(QMABannerAd::init()->className(), "QMABannerAd");
  EXPECT_EQ(QMAInterstitialAd::init()->className(), "QMAInterstitialAd");
  EXPECT_TRUE(std::dynamic_pointer_cast<QMABannerAd>(std::shared_ptr<QMAAd>(QMABannerAd::init())));
}

TEST_F(Ads, TrackingSetsKeepOneOfEachAndEmptyOnDemand) {
  auto ad = QMAAd::init();
  auto u = [](const char* t) { return *net::URL::fromString(t); };
  ad->addImpressionURLsFromArray({u("http://i/1"), u("http://i/2"), u("http://i/1")});
  ad->addManualImpressionURLsFromArray({u("http://m/1")});
  ad->addClickURLsFromArray({u("http://c/1")});
  EXPECT_EQ(ad->impressionURLs().size(), 2u);
  ad->removeAllImpressionURLs();
  ad->removeAllManualImpressionURLs();
  EXPECT_TRUE(ad->impressionURLs().empty());
  EXPECT_TRUE(ad->manualImpressionURLs().empty());
  EXPECT_EQ(ad->clickURLs().size(), 1u);
}

TEST_F(Ads, WhiteSpaceSeparatedURLLists) {
  auto urls = QMAURLArrayFromWhitespaceSeparatedString("http://a/1  http://a/2\thttp://a/3");
  ASSERT_TRUE(urls);
  std::vector<std::string> got;
  for (const auto& u : *urls) got.push_back(u.absoluteString());
  EXPECT_EQ(got, (std::vector<std::string>{"http://a/1", "http://a/2", "http://a/3"}));
  EXPECT_FALSE(QMAURLArrayFromWhitespaceSeparatedString(" \t "));
  EXPECT_FALSE(QMAURLArrayFromWhitespaceSeparatedString("not%zzurl"));
}

TEST_F(Ads, NativeAdClassesByTypeAndConfiguration) {
  foundation::Error error;
  EXPECT_EQ(QMANativeAdClassForAdLoaderAdType("1", &error), "QMANativeContentAd");
  EXPECT_EQ(QMANativeAdClassForAdLoaderAdType("2", &error), "QMANativeAppInstallAd");
  EXPECT_EQ(QMANativeAdClassForAdLoaderAdType("3", &error), "QMANativeCustomTemplateAd");
  EXPECT_TRUE(error.domain.empty());
  EXPECT_FALSE(QMANativeAdClassForAdLoaderAdType("4", &error));
  EXPECT_EQ(error.domain, "com.quillon.ads");
  EXPECT_EQ(error.code, 12);
  EXPECT_EQ(error.localizedDescription(), "Invalid ad format requested: \"4\".");
  EXPECT_FALSE(QMANativeAdClassForAdLoaderAdType("4", nullptr));

  EXPECT_EQ(QMANativeAdClassForAdConfiguration("native", 2, nullptr), "QMANativeAppInstallAd");
  EXPECT_EQ(QMANativeAdClassForAdConfiguration("native", 1, nullptr), "QMANativeContentAd");
  EXPECT_EQ(QMANativeAdClassForAdConfiguration("native", 3, nullptr), "QMANativeCustomTemplateAd");
  foundation::Error configError;
  EXPECT_FALSE(QMANativeAdClassForAdConfiguration("native", 5, &configError));
  EXPECT_EQ(configError.domain, "com.quillon.ads.private");
  EXPECT_EQ(configError.code, 3);
  EXPECT_EQ(configError.localizedDescription(), "Invalid ad format: \"native\", 5.");
  EXPECT_FALSE(QMANativeAdClassForAdConfiguration("banner", 2, nullptr));
}

TEST_F(Ads, SwipeSetUpsTakeOnlyValuesOfTheirType) {
  auto make = [](Dictionary d) { return QMASwipeToViewControllerConfigurations::initWithSwipeConfigurations(d); };
  Dictionary rect{{"x", 0}, {"y", 10}, {"width", 320}, {"height", 40}};
  auto full = make({{"app_store_product_id", 12345},
                    {"swipeable_rectangles", Array{rect, "x", Dictionary{{"x", 1}}}},
                    {"swipe_event_creative_metadata", Dictionary{{"k", "v"}}},
                    {"swipe_animation_transition_duration", 0.25}});
  ASSERT_TRUE(full);
  EXPECT_EQ(full->swipeableInAppStoreProductID(), Value(12345));
  ASSERT_TRUE(full->swipeableRectangles());
  EXPECT_EQ(*full->swipeableRectangles(), (std::vector<QMARect>{QMARect(0, 10, 320, 40)}));
  EXPECT_EQ(full->swipeEventCreativeMetadata(), (Dictionary{{"k", "v"}}));
  EXPECT_EQ(full->swipeAnimationTransitionDuration(), 0.25);
  EXPECT_EQ(full->swipeDirection(), 0);
  EXPECT_FALSE(full->isAdDraggable());

  for (Value duration : {Value(0), Value(-2), Value("2"), Value()}) {
    auto c = make({{"swipe_animation_transition_duration", duration}});
    EXPECT_EQ(c->swipeAnimationTransitionDuration(), 1.0) << foundation::description(duration);
  }
  auto strings = make({{"app_store_product_id", "12345"}, {"swipeable_rectangles", Array{"a", "b"}}});
  EXPECT_FALSE(strings->swipeableInAppStoreProductID());
  EXPECT_FALSE(strings->swipeableRectangles());
  EXPECT_FALSE(make({{"swipeable_rectangles", Array{}}})->swipeableRectangles());
  EXPECT_FALSE(QMASwipeToViewControllerConfigurations::init());
}

}  // namespace
