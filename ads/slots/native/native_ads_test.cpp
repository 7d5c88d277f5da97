// The native ad classes on their own: options, images and attribution, the base's asset
// bookkeeping, clicks and impression, and the three kinds' building.

#include <gmock/gmock.h>

#include "ads/slots/native/native_app_install_ad_source.h"
#include "ads/slots/native/native_test_support.h"
#include "platform/foundation/user_defaults.h"

using namespace native_test;
using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

struct NativeAds : NativeFixture {};

TEST(NativeAdLoaderOptions, RequestParametersAndCopies) {
  auto options = QMANativeAdImageAdLoaderOptions::init();
  const std::pair<std::int64_t, const char*> cases[] = {{0, nullptr}, {1, "portrait"}, {2, "landscape"}, {3, nullptr}};
  for (const auto& [orientation, word] : cases) {
    options->setPreferredImageOrientation(orientation);
    auto p = options->requestParameters();
    if (!word) {
      EXPECT_FALSE(p) << orientation;
    } else {
      EXPECT_EQ(p, (Dictionary{{"native_image_orientation", word}})) << orientation;
    }
  }
  options->setDisableImageLoading(true);
  options->setShouldRequestMultipleImages(true);
  auto copy = std::dynamic_pointer_cast<QMANativeAdImageAdLoaderOptions>(options->copy());
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), options.get());
  EXPECT_TRUE(copy->disableImageLoading());
  EXPECT_TRUE(copy->shouldRequestMultipleImages());
  EXPECT_EQ(copy->preferredImageOrientation(), 3);
  EXPECT_FALSE(QMAAdLoaderOptions::init()->requestParameters());
  EXPECT_EQ(QMAAdLoaderOptions::init()->copy()->className(), "QMAAdLoaderOptions");
}

TEST(NativeAdImage, ImageAndAttributionObjects) {
  EXPECT_FALSE(QMANativeAdImage::initWithDictionary(dict({{"url", "http://a b/c.png"}})));
  EXPECT_FALSE(QMANativeAdImage::initWithDictionary(dict({{"url", 5}})));
  EXPECT_FALSE(QMANativeAdImage::initWithDictionary(dict({{"scale", 2}})));
  auto plain = QMANativeAdImage::initWithDictionary(dict({{"url", "http://127.0.0.1/a.png"}}));
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->required());
  EXPECT_EQ(plain->scale(), 1.0);
  auto full = QMANativeAdImage::initWithDictionary(dict({{"url", "http://127.0.0.1/a.png"}, {"require", false}, {"scale", 2}}));
  EXPECT_FALSE(full->required());
  EXPECT_EQ(full->scale(), 2.0);
  EXPECT_THAT(full->description(), testing::MatchesRegex("<QMANativeAdImage: 0x[0-9a-f]+ scale: 2.000000 URL: http://127.0.0.1/a.png>"));

  auto list = dict({{"l", {{{"url", "http://127.0.0.1/1.png"}}, {{"url", "bad url"}}, {{"url", "http://127.0.0.1/3.png"}}}}});
  const Array& images = *foundation::arrayForKey(list, "l");
  EXPECT_EQ(QMANativeAdImage::nativeAdImagesFromImageConfigurationArray(images, nullptr)->size(), 1u);
  auto multiple = QMANativeAdImageAdLoaderOptions::init();
  multiple->setShouldRequestMultipleImages(true);
  EXPECT_EQ(QMANativeAdImage::nativeAdImagesFromImageConfigurationArray(images, multiple.get())->size(), 2u);
  EXPECT_FALSE(QMANativeAdImage::nativeAdImagesFromImageConfigurationArray(Array{Value("x")}, multiple.get()));

  const nlohmann::json icon = {{"url", "http://127.0.0.1/i.png"}};
  EXPECT_FALSE(QMANativeAdAttribution::initWithDictionary(dict({{"image", icon}})));
  EXPECT_FALSE(QMANativeAdAttribution::initWithDictionary(dict({{"text", "Ad"}})));
  auto plainBadge = QMANativeAdAttribution::initWithDictionary(dict({{"text", "Ad"}, {"image", icon}}));
  ASSERT_TRUE(plainBadge);
  EXPECT_EQ(plainBadge->font().pointSize, 12.0);
  EXPECT_EQ(plainBadge->textColor(), QMANativeAdAttribution::defaultTextColor());
  EXPECT_EQ(plainBadge->backgroundColor(), (uikit::Color{0.8, 0.8, 0.8, 1}));
  auto red = QMANativeAdAttribution::initWithDictionary(
      dict({{"text", "Ad"}, {"image", icon}, {"text_size", 9}, {"text_color", {{"r", 255}, {"g", 0}, {"b", 0}}},
            {"bg_color", {{"r", 0}, {"g", 0}}}}));
  EXPECT_EQ(red->font().pointSize, 9.0);
  EXPECT_EQ(red->textColor(), (uikit::Color{1, 0, 0, 1}));
  EXPECT_EQ(red->backgroundColor(), QMANativeAdAttribution::defaultBackgroundColor());
}

TEST_F(NativeAds, ImageDownloadsDecodeOrSayHowManyBytesCame) {
  useScenario({{"files", {{"/empty.png", {{"body", ""}}}, {"/text.png", {{"body", "not a picture"}}}}}});
  struct Case {
    std::string path;
    bool ok;
    std::string message;
  };
  const Case cases[] = {{"/qads/static/img/a.png", true, ""},
                        {"/empty.png", false, "Received 0 bytes."},
                        {"/text.png", false, "Received 13 bytes."}};
  for (const auto& c : cases) {
    auto image = QMANativeAdImage::initWithDictionary(dict({{"url", serverURL(c.path)}, {"scale", 2}}));
    std::optional<std::optional<foundation::Error>> result;
    image->loadImageWithCompletionHandler([&](const std::optional<foundation::Error>& e) { result = e; });
    ASSERT_TRUE(pump([&] { return result.has_value(); })) << c.path;
    EXPECT_EQ(!result->has_value(), c.ok) << c.path;
    if (c.ok) {
      ASSERT_TRUE(image->image());
      EXPECT_EQ(image->image()->scale(), 2.0);
      EXPECT_EQ(image->image()->size().width, 4.0);
    } else {
      EXPECT_EQ((*result)->code, 2) << c.path;
      EXPECT_EQ((*result)->localizedDescription(), "Failed to load " + image->description() + ". " + c.message);
      EXPECT_FALSE(image->image());
    }
  }
  // Only http and https are fetched.
  auto other = QMANativeAdImage::initWithDictionary(dict({{"url", "ftp://127.0.0.1/a.png"}}));
  std::optional<std::optional<foundation::Error>> result;
  other->loadImageWithCompletionHandler([&](const std::optional<foundation::Error>& e) { result = e; });
  EXPECT_FALSE(result) << "on a later turn";
  drainMain();
  ASSERT_TRUE(result && *result);
  EXPECT_EQ((*result)->localizedDescription(), "Couldn't create URL request for ftp://127.0.0.1/a.png.");
}

// A native ad of no particular kind, for the base's bookkeeping.
struct TestAd : QMANativeAd {
  explicit TestAd(const Dictionary& d, std::set<std::string> required = {}) : QMANativeAd(d), required_(std::move(required)) {}
  std::string className() const override { return "TestAd"; }
  std::optional<std::set<std::string>> requiredAssets() const override { return required_; }
  void adLoaderDidReceiveAd(QMAAdLoader&) override {}
  std::set<std::string> required_;
};

TEST_F(NativeAds, AssetBookkeepingTellsTheLoadingDelegateExactlyOnce) {
  struct Step {
    char what;  // 'r' request, 'f' finish, 'x' fail
    const char* name;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> heard;
  };
  const Case cases[] = {
      {"nothing requested", {}, {"finished"}},
      {"optional fails first", {{'r', "a"}, {'r', "b"}, {'x', "a"}, {'f', "b"}}, {"finished"}},
      {"optional fails last", {{'r', "a"}, {'r', "b"}, {'f', "b"}, {'x', "a"}}, {"finished"}},
      {"required fails, then another succeeds", {{'r', "req"}, {'r', "b"}, {'x', "req"}, {'f', "b"}}, {"failed"}},
      // Once delivered, a late failure of a required name tells nothing more.
      {"delivered, then a required name fails", {{'r', "req"}, {'f', "req"}, {'x', "req"}}, {"finished"}},
  };
  for (const auto& c : cases) {
    auto ad = std::make_shared<TestAd>(Dictionary{}, std::set<std::string>{"req"});
    auto recorder = std::make_shared<LoadRecorder>();
    ad->setLoadingDelegate(recorder);
    for (const auto& s : c.steps)
      if (s.what == 'r') ad->addAssetWithNameToRequestedAssets(s.name);
    ad->loadAssets();
    EXPECT_TRUE(recorder->heard.empty()) << c.name << ": the check runs on a later turn";
    for (const auto& s : c.steps) {
      if (s.what == 'f') ad->finishedLoadingAssetWithName(std::string(s.name));
      if (s.what == 'x') ad->failedToLoadAssetWithName(s.name);
    }
    drainMain();
    EXPECT_EQ(recorder->heard, c.heard) << c.name;
  }
}

TEST_F(NativeAds, ClickScriptCarriesTheAdAndTheClickWithLineSeparatorsEscaped) {
  auto ad = std::make_shared<TestAd>(Dictionary{{"headline", "a\u2028b\u2029c"}});
  auto script = QMANativeAd::clickScriptForDictionary(
      Dictionary{{"ad", ad->adConfiguration()}, {"click", Dictionary{{"template", ""}, {"asset", "1001"}}}});
  ASSERT_TRUE(script);
  EXPECT_EQ(*script,
            "quillon.qvra.nativeAds.handleClickQomb({\"ad\":{\"headline\":\"a\\u2028b\\u2029c\"},"
            "\"click\":{\"asset\":\"1001\",\"template\":\"\"}})");
  EXPECT_EQ(QMAJSONTextForScript("\"\u2028\""), "\"\\u2028\"");
}

TEST_F(NativeAds, ImpressionPingsOnceAndTheSupportPageStaysOnTheAdNetwork) {
  auto ad = std::make_shared<TestAd>(adObject(
      {{"tracking_urls_and_actions", {{"impression_tracking_urls", {"{base}/imp/one", "{base}/imp/two"}}}}}));
  ad->recordImpression();
  ad->recordImpression();
  EXPECT_TRUE(ad->hasRecordedImpression());
  ASSERT_TRUE(pump([&] { return server->requestsForPath("/imp/one").size() + server->requestsForPath("/imp/two").size() >= 2; }));
  drainMain();
  EXPECT_EQ(server->requestsForPath("/imp/one").size(), 1u);

  const std::string base = server->baseURL();
  const std::string builtIn = base + QMANativeAd::kSupportPagePath;
  struct Case {
    const char* name;
    Value stored;
    std::string expected;
  };
  const Case cases[] = {
      {"none", Value(), builtIn},
      {"a number", Value(5), builtIn},
      {"no URL", Value("not a url at all"), builtIn},
      {"elsewhere", Value("http://elsewhere.example/page.html"), builtIn},
      {"downgraded scheme", Value("https" + base.substr(4) + "/x.html"), builtIn},
      {"on the ad network", Value(base + "/other/native.html"), base + "/other/native.html"},
  };
  for (const auto& c : cases) {
    foundation::UserDefaults::standardUserDefaults()->setObjectForKey(c.stored, QMANativeAd::kSupportURLKey);
    EXPECT_EQ(QMANativeAd::supportHTMLURL().absoluteString(), c.expected) << c.name;
  }
}

TEST(NativeAdConfiguration, FirstAdObjectAndClass) {
  struct Case {
    const char* name;
    nlohmann::json configuration;
    std::optional<std::string> cls;
  };
  const Case cases[] = {
      {"content", {{"ads", {{{"type", "native"}, {"template_id", 1}}}}}, "QMANativeContentAd"},
      {"app install as text", {{"ads", {{{"type", "native"}, {"template_id", " 2"}}}}}, "QMANativeAppInstallAd"},
      {"custom as 3.9", {{"ads", {{{"type", "native"}, {"template_id", "3.9"}}}}}, "QMANativeCustomTemplateAd"},
      {"unknown template", {{"ads", {{{"type", "native"}, {"template_id", 4}}}}}, std::nullopt},
      {"other type", {{"ads", {{{"type", "html"}, {"template_id", 1}}}}}, std::nullopt},
      {"ads an object", {{"ads", {{"type", "native"}, {"template_id", 1}}}}, std::nullopt},
      {"first ad a string", {{"ads", {"x", {{"type", "native"}, {"template_id", 1}}}}}, std::nullopt},
      {"no ads", nlohmann::json::object(), std::nullopt},
      {"not an object", nlohmann::json::array({1}), std::nullopt},
  };
  for (const auto& c : cases) {
    auto v = foundation::jsonParse(c.configuration.dump());
    EXPECT_EQ(QMANativeAd::classFromAdConfigurationDictionary(v), c.cls) << c.name;
  }
  const std::pair<Value, long> ids[] = {{Value("12abc"), 12}, {Value("x"), 0}, {Value(2.9), 2},
                                        {Value("-7"), -7}, {Value("99999999999999999999999"), LONG_MAX}};
  for (const auto& [v, expected] : ids) EXPECT_EQ(QMAIntegerValueOfTemplateID(v), expected) << foundation::jsonSerialize(v);
}

TEST_F(NativeAds, ContentAndAppInstallAdsNeedTheirRequiredValues) {
  struct Case {
    const char* name;
    bool appInstall;
    nlohmann::json ad;
    bool built;
  };
  const nlohmann::json icon = image("icon.png");
  const Case cases[] = {
      {"content with headline and body", false, {{"headline", "h"}, {"body", "b"}}, true},
      {"content without body", false, {{"headline", "h"}}, false},
      {"content with a number as headline", false, {{"headline", 5}, {"body", "b"}}, false},
      {"app install complete", true, {{"headline", "h"}, {"call_to_action", "Get"}, {"app_icon", icon}}, true},
      {"app install without icon", true, {{"headline", "h"}, {"call_to_action", "Get"}}, false},
      {"app install with an icon without url", true,
       {{"headline", "h"}, {"call_to_action", "Get"}, {"app_icon", {{"scale", 1}}}}, false},
  };
  for (const auto& c : cases) {
    auto d = adObject(c.ad);
    const bool built = c.appInstall ? !!QMANativeAppInstallAd::initWithDictionaryOptions(d, std::nullopt)
                                    : !!QMANativeContentAd::initWithDictionaryOptions(d, std::nullopt);
    EXPECT_EQ(built, c.built) << c.name;
  }
  const std::pair<nlohmann::json, double> ratings[] = {{4.5, 4.5}, {"3.25", 3.25}, {"abc", 0}, {nullptr, 0}};
  for (const auto& [rating, expected] : ratings) {
    nlohmann::json a = {{"headline", "h"}, {"call_to_action", "Get"}, {"app_icon", icon}};
    if (!rating.is_null()) a["rating"] = rating;
    auto ad = QMANativeAppInstallAd::initWithDictionaryOptions(adObject(a), std::nullopt);
    EXPECT_EQ(ad->starRating(), expected) << rating.dump();
  }
  auto withBadge = QMANativeContentAd::initWithDictionaryOptions(
      adObject({{"headline", "h"}, {"body", "b"}, {"attribution", {{"text", "Ad"}, {"image", icon}}}}), std::nullopt);
  EXPECT_EQ(*withBadge->requiredAssets(), (std::set<std::string>{"headline", "body", "attribution"}));
  EXPECT_EQ(withBadge->clickActionTemplateID(), "1");
}

TEST_F(NativeAds, ContentAdLoadsItsImagesAndLeavesOutFailedOptionalOnes) {
  auto ad = QMANativeContentAd::initWithDictionaryOptions(
      adObject({{"headline", "h"},
                {"body", "b"},
                {"secondary_image", image("missing")},
                {"images", {image("one.png"), image("two.png")}}}),
      std::nullopt);
  auto recorder = std::make_shared<LoadRecorder>();
  ad->setLoadingDelegate(recorder);
  ad->loadAssets();
  EXPECT_EQ(ad->requestedAssets().size(), 2u) << "the logo and only the first image";
  ASSERT_TRUE(pump([&] { return !recorder->heard.empty(); }));
  EXPECT_EQ(recorder->heard, std::vector<std::string>{"finished"});
  ASSERT_EQ(ad->images().size(), 1u);
  EXPECT_TRUE(ad->images()[0]->image());
  EXPECT_FALSE(ad->logo()->image());

  // Image loading off: every image at once, undownloaded; the attribution icon still counts.
  auto off = QMANativeAdImageAdLoaderOptions::init();
  off->setDisableImageLoading(true);
  off->setShouldRequestMultipleImages(true);
  QMAAdLoaderOptionsByClass options{{off->className(), off}};
  auto lazy = QMANativeContentAd::initWithDictionaryOptions(
      adObject({{"headline", "h"},
                {"body", "b"},
                {"images", {image("one.png"), image("two.png"), image("three.png")}},
                {"attribution", {{"text", "Ad"}, {"image", image("badge-missing")}}}}),
      options);
  auto lazyRecorder = std::make_shared<LoadRecorder>();
  lazy->setLoadingDelegate(lazyRecorder);
  lazy->loadAssets();
  EXPECT_EQ(lazy->images().size(), 3u);
  EXPECT_FALSE(lazy->images()[0]->image());
  ASSERT_TRUE(pump([&] { return !lazyRecorder->heard.empty(); }));
  EXPECT_EQ(lazyRecorder->heard, std::vector<std::string>{"failed"});
}

TEST_F(NativeAds, CustomTemplateAssetsIdsAndOneImagePerName) {
  auto ad = QMANativeCustomTemplateAd::initWithDictionaryOptions(
      adObject({{"custom_template_id", 10063},
                {"custom_assets",
                 {{{"name", "b"}, {"type", "string"}, {"string_value", "bee"}},
                  {{"name", "A"}, {"type", "string"}},
                  {{"name", "a"}, {"type", "string"}, {"string_value", "ay"}},
                  {{"name", ""}, {"type", "string"}, {"string_value", "skipped"}},
                  "not an object",
                  {{"name", "x"}, {"type", "video"}},
                  {{"name", "pic"}, {"type", "image"}, {"image_value", image("missing", true)}},
                  {{"name", "pic"}, {"type", "image"}, {"image_value", image("pic.png", false)}},
                  {{"name", "nourl"}, {"type", "image"}, {"image_value", {{"scale", 1}}}}}}}),
      std::nullopt);
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->templateID(), "10063");
  EXPECT_EQ(ad->availableAssetKeys(), (std::vector<std::string>{"A", "a", "b"}));
  EXPECT_FALSE(ad->stringForKey("A"));
  EXPECT_EQ(ad->stringForKey("b"), "bee");
  // The later "pic" (optional) replaced the required one: its failure cannot fail the ad.
  EXPECT_EQ(*ad->requiredAssets(), std::set<std::string>{});
  auto recorder = std::make_shared<LoadRecorder>();
  ad->setLoadingDelegate(recorder);
  ad->loadAssets();
  ASSERT_TRUE(pump([&] { return !recorder->heard.empty(); }));
  EXPECT_EQ(recorder->heard, std::vector<std::string>{"finished"});
  EXPECT_TRUE(ad->imageForKey("pic"));
  EXPECT_EQ(ad->availableAssetKeys(), (std::vector<std::string>{"A", "a", "b", "pic"}));
  EXPECT_THAT(ad->description(), testing::EndsWith("availableAssetKeys:[A, a, b, pic]>"));

  EXPECT_FALSE(QMANativeCustomTemplateAd::initWithDictionaryOptions(adObject({{"custom_template_id", true}}), std::nullopt));
  EXPECT_FALSE(QMANativeCustomTemplateAd::initWithDictionaryOptions(adObject({{"headline", "h"}}), std::nullopt));
  EXPECT_EQ(QMANativeCustomTemplateAd::templateIDsFromDelegateAnswer(Array{Value("10063"), Value(7), Value(2.0),
                                                                           Value("abc"), Value(Dictionary{})}),
            (std::vector<std::string>{"10063", "7", "2", "abc"}));
  EXPECT_TRUE(logged("Received non-numeric custom template ID. The template ID may be invalid: abc"));
  EXPECT_TRUE(logged("Received non-string custom template ID: {}"));
  const auto params = Dictionary{{"format", 3}, {"custom_template_ids", Array{Value("10063")}}};
  EXPECT_TRUE(ad->hasValidConfigurationForRequestParameters(params));
  EXPECT_FALSE(ad->hasValidConfigurationForRequestParameters(Dictionary{{"custom_template_ids", Array{}}}));
  EXPECT_FALSE(ad->hasValidConfigurationForRequestParameters(std::nullopt));
}

TEST_F(NativeAds, CustomClickHandlerWaitsForThePageAndRunsOnce) {
  auto ad = QMANativeCustomTemplateAd::initWithDictionaryOptions(
      adObject({{"custom_template_id", "7"},
                {"custom_assets", {{{"name", "title"}, {"type", "string"}, {"string_value", "t"}}}}}),
      std::nullopt);
  auto slot = QMASlot::init();
  ad->setSlot(slot);
  int first = 0, second = 0;
  ad->performClickOnAssetWithKeyCustomClickHandler("missing", [&] { ++first; });
  EXPECT_TRUE(logged("Asset is unavailable. Cannot perform click on \"missing\"."));
  ad->performClickOnAssetWithKeyCustomClickHandler("title", [&] { ++first; });
  ad->performClickOnAssetWithKeyCustomClickHandler("title", [&] { ++second; });
  EXPECT_TRUE(ad->hasPendingClickHandler());
  EXPECT_TRUE(logged("Still processing prior click event. This click event will be ignored."));
  // Another ad view's answer is not this ad's.
  foundation::NotificationCenter::defaultCenter().postNotificationName("nativeAdCustomClick", QMASlot::init()->adView());
  EXPECT_TRUE(ad->hasPendingClickHandler());
  foundation::NotificationCenter::defaultCenter().postNotificationName("nativeAdCustomClick", slot->adView());
  EXPECT_FALSE(ad->hasPendingClickHandler());
  drainMain();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  foundation::NotificationCenter::defaultCenter().postNotificationName("nativeAdCustomClick", slot->adView());
  drainMain();
  EXPECT_EQ(first, 1);
  ad->performClickOnAssetWithKeyCustomClickHandler("title", [&] { ++second; });
  EXPECT_TRUE(ad->hasPendingClickHandler());
}

struct Forwarding : QMAForwardingNativeAppInstallAd {
  bool impressions = false;
  std::vector<std::string>* log;
  explicit Forwarding(std::vector<std::string>* l, bool imp) : impressions(imp), log(l) {}
  std::optional<std::string> headline() const override { return "h"; }
  Array images() const override { return {}; }
  Array imagesURLs() const override { return {Value("http://127.0.0.1/i.png")}; }
  std::optional<std::string> body() const override { return "b"; }
  std::shared_ptr<uikit::Image> icon() const override { return nullptr; }
  std::optional<std::string> callToAction() const override { return "Get"; }
  std::optional<std::string> starRating() const override { return "4"; }
  std::optional<std::string> store() const override { return std::nullopt; }
  std::optional<std::string> price() const override { return "free"; }
  std::optional<Dictionary> extras() const override { return std::nullopt; }
  void trackView(const std::shared_ptr<uikit::View>&) override { log->push_back("track"); }
  bool respondsToRecordImpression() const override { return impressions; }
  void recordImpression() override { log->push_back("forwarded impression"); }
};

TEST(NativeAppInstallAdSource, ForwardsAndRunsItsBlocksInOrder) {
  for (bool answers : {false, true}) {
    std::vector<std::string> log;
    auto source = QMANativeAppInstallAdSource::initWithForwardingNativeAppInstallAd(std::make_shared<Forwarding>(&log, answers));
    EXPECT_EQ(source->headline(), "h");
    EXPECT_EQ(source->starRating(), "4");
    source->recordImpression();
    source->addImpressionHandlingBlock([&] { log.push_back("impression 1"); });
    source->addImpressionHandlingBlock([&] { log.push_back("impression 2"); });
    source->addClickHandlingBlock([&](const auto&, const std::string& asset, const auto&) { log.push_back("click 1 " + asset); });
    source->addClickHandlingBlock([&](const auto&, const std::string& asset, const auto&) { log.push_back("click 2 " + asset); });
    source->recordImpression();
    source->recordClickOnViewWithAssetNameEnvironment(nullptr, "2001", std::nullopt);
    source->trackView(nullptr);
    std::vector<std::string> expected;
    if (answers) expected.push_back("forwarded impression");
    if (answers) expected.push_back("forwarded impression");
    for (const char* s : {"impression 1", "impression 2", "click 1 2001", "click 2 2001", "track"}) expected.push_back(s);
    EXPECT_EQ(log, expected) << answers;
  }
  EXPECT_FALSE(QMANativeAppInstallAdSource::initWithForwardingNativeAppInstallAd(nullptr));
}

}  // namespace
