#include "ads/model/ad_size.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ads/model/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"

namespace {

using uikit::Size;

const QMAAdSizeScreenFacts kPhone{QMAUserInterfaceIdiomPhone, 375, 667};
const QMAAdSizeScreenFacts kTablet{QMAUserInterfaceIdiomPad, 768, 1024};

std::string text(Size s) { return NSStringFromCGSize(s); }

struct AdSizes : model_test::ModelTest {};

TEST_F(AdSizes, EveryConstantThroughEachFunction) {
  struct Row {
    QMAAdSize size;
    const char* name;
    bool standard, valid, fullWidth, smart, custom;
    Size onPhone, onTablet;
  };
  const Row rows[] = {
      {kQMAAdSizeInvalid, "kQMAAdSizeInvalid", false, false, false, false, false, {0, 0}, {0, 0}},
      {kQMAAdSizeBanner, "kQMAAdSizeBanner", true, true, false, false, false, {320, 50}, {320, 50}},
      {kQMAAdSizeLargeBanner, "kQMAAdSizeLargeBanner", true, true, false, false, false, {320, 100}, {320, 100}},
      {kQMAAdSizeMediumRectangle, "kQMAAdSizeMediumRectangle", true, true, false, false, false, {300, 250}, {300, 250}},
      {kQMAAdSizeFullBanner, "kQMAAdSizeFullBanner", true, true, false, false, false, {468, 60}, {468, 60}},
      {kQMAAdSizeLeaderboard, "kQMAAdSizeLeaderboard", true, true, false, false, false, {728, 90}, {728, 90}},
      {kQMAAdSizeSkyscraper, "kQMAAdSizeSkyscraper", true, true, false, false, false, {120, 600}, {120, 600}},
      {kQMAAdSizeSmartBannerPortrait,
       "kQMAAdSizeSmartBannerPortrait",
       false,
       true,
       true,
       true,
       false,
       {375, 50},
       {768, 90}},
      {kQMAAdSizeSmartBannerLandscape,
       "kQMAAdSizeSmartBannerLandscape",
       false,
       true,
       true,
       true,
       false,
       {667, 32},
       {1024, 90}},
      {kQMAAdSizeSmartBannerSkinnyPortrait,
       "kQMAAdSizeSmartBannerSkinnyPortrait",
       false,
       true,
       true,
       true,
       false,
       {375, 50},
       {768, 66}},
      {kQMAAdSizeSmartBannerSkinnyLandscape,
       "kQMAAdSizeSmartBannerSkinnyLandscape",
       false,
       true,
       true,
       true,
       false,
       {667, 32},
       {1024, 66}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(NSStringFromQMAAdSize(r.size), r.name);
    EXPECT_EQ(QMAAdSizeIsStandard(r.size), r.standard);
    EXPECT_EQ(QMAAdSizeIsValidWithError(r.size, nullptr, kPhone), r.valid);
    EXPECT_EQ(QMAAdSizeIsFullWidth(r.size), r.fullWidth);
    EXPECT_EQ(QMAAdSizeIsSmartBanner(r.size), r.smart);
    EXPECT_EQ(QMAAdSizeIsCustom(r.size), r.custom);
    EXPECT_EQ(CGSizeFromQMAAdSize(r.size, kPhone), r.onPhone);
    EXPECT_EQ(CGSizeFromQMAAdSize(r.size, kTablet), r.onTablet);
    EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(NSValueFromQMAAdSize(r.size)), r.size));
    if (r.standard || QMAAdSizeEqualToSize(r.size, kQMAAdSizeInvalid)) {
      EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromCGSize(r.size.size), r.size));
    }
  }
  // The shared device is the default phone held upright.
  EXPECT_EQ(CGSizeFromQMAAdSize(kQMAAdSizeSmartBannerPortrait), (Size{375, 50}));
  EXPECT_TRUE(QMAAdSizeIsValid(kQMAAdSizeSmartBannerLandscape));
}

TEST_F(AdSizes, SizesFromPointsAndText) {
  struct Case {
    Size size;
    QMAAdSize expected;
  };
  const Case cases[] = {
      {{320, 50}, kQMAAdSizeBanner}, {{-1, -1}, kQMAAdSizeInvalid},      {{0, 0}, {{0, 0}, 1}},
      {{320, 51}, {{320, 51}, 1}},   {{728, 90}, kQMAAdSizeLeaderboard},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromCGSize(c.size), c.expected)) << text(c.size);
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMACustomAdSizeFromCGSize({320, 50}), {{320, 50}, 1}));

  const std::pair<const char*, Size> texts[] = {
      {"320x50", {320, 50}}, {"300x250", {300, 250}}, {" 1.5x2e2 ", {1.5, 200}}, {"-300x50", {-300, 50}},
      {"320X50", {0, 0}},    {"320x", {0, 0}},        {"x50", {0, 0}},           {"320x50x2", {0, 0}},
      {"0x1A", {0, 0}},      {"infx5", {0, 0}},       {"1e999x5", {0, 0}},       {"", {0, 0}},
      {"{320,50}", {0, 0}},  {"320 x 50", {320, 50}},
  };
  for (const auto& [t, size] : texts) EXPECT_EQ(QMAAdSizeFromString(t), size) << t;
  EXPECT_EQ(CGSizeFromString("{320, 50}"), (Size{320, 50}));
  EXPECT_EQ(CGSizeFromString("{320, 50} trailing"), (Size{0, 0}));
}

TEST_F(AdSizes, FullWidthAndSmartSizesFollowTheScreen) {
  struct Case {
    QMAAdSize size;
    QMAAdSizeScreenFacts screen;
    Size expected;
  };
  const QMAAdSizeScreenFacts unknownIdiom{7, 375, 667};
  const Case cases[] = {
      {QMAAdSizeFullWidthPortraitWithHeight(40), kPhone, {375, 40}},
      {QMAAdSizeFullWidthLandscapeWithHeight(40), kPhone, {667, 40}},
      {QMAAdSizeFullWidthPortraitWithHeight(40), kTablet, {768, 40}},
      {QMAAdSizeFullWidthLandscapeWithHeight(40), kTablet, {1024, 40}},
      {kQMAAdSizeSmartBannerPortrait, unknownIdiom, {0, 0}},
      {{{0, 80}, 2}, kPhone, {0, 0}},        // full width, neither smart nor custom
      {{{320, 50}, 4}, kPhone, {0, 0}},      // skinny alone: neither standard nor custom
      {{{123, 45}, 1}, kTablet, {123, 45}},  // custom
  };
  for (const auto& c : cases)
    EXPECT_EQ(CGSizeFromQMAAdSize(c.size, c.screen), c.expected) << NSStringFromQMAAdSize(c.size);
  EXPECT_EQ(QMASmartBannerSizeForIdiom(kQMAAdSizeBanner, QMAUserInterfaceIdiomPhone, 375, 667), (Size{0, 0}));
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFullWidthPortraitWithHeight(40), {{0, 40}, 3}));
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFullWidthLandscapeWithHeight(40), {{0, 40}, 11}));
}

TEST_F(AdSizes, ValidityAndItsMessages) {
  struct Case {
    QMAAdSize size;
    QMAAdSizeScreenFacts screen;
    std::optional<std::string> message;  // nullopt: valid
  };
  const Case cases[] = {
      {kQMAAdSizeInvalid, kPhone,
       "Non-standard size, kQMAAdSizeInvalid. Please create a custom ad size using QMAAdSizeFromCGSize."},
      {{{320, 50}, 4},
       kPhone,
       "Non-standard size, QMAAdSize: {320, 50}, 4. Please create a custom ad size using QMAAdSizeFromCGSize."},
      {{{0, 0}, 2},
       kPhone,
       "Non-standard size, Full width QMAAdSize with height: 0.000000. Please create a custom ad size using "
       "QMAAdSizeFromCGSize."},
      {QMACustomAdSizeFromCGSize({2000, 50}), kTablet,
       "Not enough space to show ad with custom size, {2000, 50}. Please use a size the fits the current screen "
       "bounds of {768, 1024}."},
      {QMACustomAdSizeFromCGSize({1024, 50}), kTablet, std::nullopt},
      {QMACustomAdSizeFromCGSize({0, 0}), kPhone, std::nullopt},
      {QMAAdSizeFullWidthPortraitWithHeight(50), kPhone, std::nullopt},
      {QMACustomAdSizeFromCGSize({std::nan(""), 50}), kPhone,
       "Not enough space to show ad with custom size, {nan, 50}. Please use a size the fits the current screen "
       "bounds of {375, 667}."},
      // A negative side is no size at all, however small.
      {QMACustomAdSizeFromCGSize({-300, 50}), kPhone,
       "Invalid custom ad size, {-300, 50}. Width and height must not be negative."},
      {QMACustomAdSizeFromCGSize({50, -0.5}), kPhone,
       "Invalid custom ad size, {50, -0.5}. Width and height must not be negative."},
      {QMAAdSizeFullWidthLandscapeWithHeight(-32), kPhone,
       "Invalid custom ad size, {0, -32}. Width and height must not be negative."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(NSStringFromQMAAdSize(c.size));
    foundation::Error error;
    EXPECT_EQ(QMAAdSizeIsValidWithError(c.size, &error, c.screen), !c.message);
    if (c.message) {
      EXPECT_EQ(error.domain, "com.quillon.ads.private");
      EXPECT_EQ(error.code, 3);
      EXPECT_EQ(error.localizedDescription(), *c.message);
      EXPECT_EQ(error.localizedFailureReason(), *c.message);
    } else {
      EXPECT_TRUE(error.domain.empty());
    }
  }
  EXPECT_FALSE(QMAAdSizeIsValid(kQMAAdSizeInvalid));
}

TEST_F(AdSizes, CustomSizesAreJudgedAgainstTheRealScreenBeforeTheDeviceFactsAreCached) {
  // A host that makes a tablet banner in its launch method, before the early activities.
  system_facts::ScreenFacts tablet;
  tablet.width = 768;
  tablet.height = 1024;
  system_facts::setScreen(tablet);
  auto facts = system_facts::device();
  facts.idiom = system_facts::InterfaceIdiom::Pad;
  system_facts::setDevice(facts);

  auto device = QMADevice::create();
  ASSERT_EQ(device->standardizedPortraitScreenBounds().size, (Size{0, 0}));  // nothing cached yet
  auto screen = QMAAdSizeScreenFacts::ofDevice(*device);
  EXPECT_EQ(screen.idiom, QMAUserInterfaceIdiomPad);
  EXPECT_EQ(screen.portraitWidth, 768);
  EXPECT_EQ(screen.portraitHeight, 1024);
  EXPECT_TRUE(QMACustomAdSizeFitsScreen(nullptr, 1024, 50, screen));
  EXPECT_EQ(CGSizeFromQMAAdSize(kQMAAdSizeSmartBannerPortrait, screen), (Size{768, 90}));

  device.reset();
  system_facts::setScreen(system_facts::ScreenFacts{});
  system_facts::resetDeviceFacts();
}

TEST_F(AdSizes, NamesAndBoxes) {
  EXPECT_EQ(NSStringFromQMAAdSize({{0, 40}, 3}), "Full width QMAAdSize with height: 40.000000");
  EXPECT_EQ(NSStringFromQMAAdSize({{320, 51}, 1}), "Custom QMAAdSize: {320, 51}");
  EXPECT_EQ(NSStringFromQMAAdSize({{0.1, 2.5}, 1}), "Custom QMAAdSize: {0.10000000000000001, 2.5}");
  EXPECT_EQ(NSStringFromQMAAdSize({{10, 20}, 0x30}), "QMAAdSize: {10, 20}, 30");

  QMAAdSize custom{{123.5, 45}, 1};
  auto boxed = NSValueFromQMAAdSize(custom);
  EXPECT_EQ(boxed->objCType(), "{QMAAdSize={CGSize=dd}Q}");
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(boxed), custom));
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(QMABoxedValue::valueWithCGSize({320, 50})), kQMAAdSizeInvalid));
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(nullptr), kQMAAdSizeInvalid));
  auto truncated = QMABoxedValue::valueWithBytesObjCType(&custom, 8, "{QMAAdSize={CGSize=dd}Q}");
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(truncated), kQMAAdSizeInvalid));
}

}  // namespace
