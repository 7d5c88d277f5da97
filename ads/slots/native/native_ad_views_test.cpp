// The native ad views: taps to asset IDs, the attribution badge, and the impression check.

#include "ads/slots/native/native_ad_views.h"

#include <type_traits>

#include "ads/slots/native/native_test_support.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/window.h"

using namespace native_test;

namespace {

struct NativeAdViews : NativeFixture {
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<QMASlot> slot;

  void SetUp() override {
    NativeFixture::SetUp();
    window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window->setHidden(true);
    window.reset();
    if (slot) slot->cancelPendingAndFutureActions();
    NativeFixture::TearDown();
  }

  // A content ad whose slot's page records the asset of each click in `lastAsset`.
  std::shared_ptr<QMANativeContentAd> contentAdWithPage(bool attribution) {
    nlohmann::json a = contentAd();
    if (attribution) a["attribution"] = {{"text", "Ad"}, {"image", image("badge.png")}};
    auto ad = QMANativeContentAd::initWithDictionaryOptions(adObject(a), std::nullopt);
    auto recorder = std::make_shared<LoadRecorder>();
    ad->setLoadingDelegate(recorder);
    ad->loadAssets();
    EXPECT_TRUE(pump([&] { return !recorder->heard.empty(); }));
    slot = QMASlot::init();
    slot->adView()->loadHTMLStringBaseURL(
        "<script>var lastAsset = ''; var quillon = {qvra: {nativeAds: {handleClickQomb: "
        "function (c) { lastAsset = c.click.asset; }}}};</script>",
        net::URL::fromString(server->baseURL() + "/"));
    EXPECT_TRUE(pump([&] { return slot->adView()->stringByEvaluatingJavaScriptFromString("typeof lastAsset") == "string"; }));
    ad->setSlot(slot);
    return ad;
  }
  std::string tap(const std::shared_ptr<QMANativeAdView>& view, uikit::Point p) {
    slot->adView()->stringByEvaluatingJavaScriptFromString("lastAsset = ''");
    view->nativeAdViewPolicy()->tapRecognizer()->performTouches({p});
    return slot->adView()->stringByEvaluatingJavaScriptFromString("lastAsset");
  }
};

TEST_F(NativeAdViews, TapsClickTheAssetUnderTheFingerAndTheBadgeWins) {
  auto ad = contentAdWithPage(true);
  auto view = QMANativeContentAdView::initWithFrame({0, 0, 300, 200});
  window->addSubview(view);
  auto body = std::make_shared<uikit::View>(uikit::Rect{0, 0, 300, 100});
  auto headline = std::make_shared<uikit::View>(uikit::Rect{0, 0, 300, 40});
  auto image = std::make_shared<uikit::View>(uikit::Rect{0, 100, 300, 100});
  view->addSubview(body);
  view->addSubview(headline);
  view->addSubview(image);
  // Overlapping asset views: the first registered wins (the map's order).
  view->setHeadlineView(headline);
  view->setBodyView(body);
  view->setImageView(image);
  view->setNativeContentAd(ad);
  EXPECT_EQ(view->nativeContentAd(), ad);

  auto badge = view->nativeAdViewPolicy()->attributionView();
  ASSERT_FALSE(badge->isHidden());
  const uikit::Rect badgeFrame = badge->frame();
  EXPECT_EQ(badgeFrame.maxX(), 300);
  EXPECT_EQ(badgeFrame.minY(), 0);
  EXPECT_EQ(view->subviews().back(), badge) << "in front";
  const uikit::Rect icon = badge->convertRectToView(badge->iconView()->frame(), view.get());
  const uikit::Rect text = badge->convertRectToView(badge->textView()->frame(), view.get());

  struct Case {
    const char* name;
    uikit::Point point;
    std::string asset;
  };
  EXPECT_EQ(tap(view, {10, 20}), "1001");
  headline->setHidden(true);
  const Case cases[] = {
      {"hidden headline over the body", {10, 20}, "1002"},
      {"image", {10, 150}, "1005"},
      {"badge icon over the headline", {icon.midX(), icon.midY()}, "1007"},
      {"badge text over the headline", {text.midX(), text.midY()}, "1008"},
  };
  for (const auto& c : cases) EXPECT_EQ(tap(view, c.point), c.asset) << c.name;

  view->setBodyView(nullptr);
  EXPECT_EQ(tap(view, {10, 20}), "") << "nothing registered under the finger";
  auto newBody = std::make_shared<uikit::View>(uikit::Rect{0, 0, 300, 100});
  view->addSubview(newBody);
  view->setHeadlineView(newBody);
  EXPECT_EQ(tap(view, {10, 20}), "1001");
}

TEST_F(NativeAdViews, TheBadgeShowsOnlyWithAnAttribution) {
  auto plain = contentAdWithPage(false);
  auto view = QMANativeContentAdView::initWithFrame({0, 0, 300, 200});
  view->setNativeContentAd(plain);
  EXPECT_TRUE(view->nativeAdViewPolicy()->attributionView()->isHidden());
  auto withBadge = contentAdWithPage(true);
  view->setNativeContentAd(withBadge);
  auto badge = view->nativeAdViewPolicy()->attributionView();
  EXPECT_FALSE(badge->isHidden());
  EXPECT_EQ(std::static_pointer_cast<uikit::Label>(badge->textView())->text(), "Ad");
  EXPECT_TRUE(std::static_pointer_cast<uikit::ImageView>(badge->iconView())->image());
  EXPECT_EQ(badge->layer().cornerRadius, 3.0);
  // An 8 x 8 icon at scale 1 beside 12-point text: 14.4 -> 15 points tall.
  EXPECT_EQ(badge->frame().height(), 15);
}

TEST_F(NativeAdViews, ImpressionOnceTheViewIsOnScreen) {
  // On screen: at once, and once.
  auto ad = contentAdWithPage(false);
  auto onScreen = QMANativeContentAdView::initWithFrame({0, 0, 300, 200});
  window->addSubview(onScreen);
  onScreen->setNativeContentAd(ad);
  EXPECT_TRUE(ad->hasRecordedImpression());
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/imp/native").empty(); }));
  onScreen->layoutSubviews();
  drainMain();
  EXPECT_EQ(server->requestsForPath("/imp/native").size(), 1u);

  // Off screen (in a hidden container): one monitor, and the impression at the first
  // sample that finds the view visible.
  auto later = contentAdWithPage(false);
  auto container = std::make_shared<uikit::View>(uikit::Rect{0, 0, 320, 480});
  container->setHidden(true);
  window->addSubview(container);
  auto offScreen = QMANativeContentAdView::initWithFrame({0, 0, 300, 200});
  container->addSubview(offScreen);
  offScreen->setNativeContentAd(later);
  auto monitor = offScreen->nativeAdViewPolicy()->impressionMonitor();
  ASSERT_TRUE(monitor);
  offScreen->layoutSubviews();
  EXPECT_EQ(offScreen->nativeAdViewPolicy()->impressionMonitor(), monitor) << "one monitor";
  EXPECT_FALSE(later->hasRecordedImpression());
  container->setHidden(false);
  for (int i = 0; i < 20 && !later->hasRecordedImpression(); ++i) {
    foundation::Clock::advance(QMAVistraceMonitor::kDefaultSamplingInterval);
    drainMain();
  }
  EXPECT_TRUE(later->hasRecordedImpression());
  EXPECT_FALSE(offScreen->nativeAdViewPolicy()->impressionMonitor());
}

// A view made by a constructor of the host's would have no policy: its asset views and its
// ad would go nowhere. There is no such constructor.
static_assert(!std::is_constructible_v<QMANativeContentAdView, uikit::Rect>);
static_assert(!std::is_default_constructible_v<QMANativeContentAdView>);
static_assert(!std::is_constructible_v<QMANativeAppInstallAdView, uikit::Rect>);
static_assert(!std::is_default_constructible_v<QMANativeAppInstallAdView>);

// Every way there is to make a view gives one that registers its asset views, takes its ad,
// clicks and counts the impression.
TEST_F(NativeAdViews, EveryWayToMakeAViewGivesAWorkingOne) {
  const uikit::Rect frame{0, 0, 300, 200};
  auto byName = [&](const char* selector) {
    return std::dynamic_pointer_cast<QMANativeContentAdView>(runtime::msgSendClass<std::shared_ptr<uikit::View>(uikit::Rect)>(
        runtime::objc_getClass("QMANativeContentAdView"), selector, frame));
  };
  const std::pair<const char*, std::shared_ptr<QMANativeContentAdView>> ways[] = {
      {"initWithFrame", QMANativeContentAdView::initWithFrame(frame)},
      {"initWithCoder", QMANativeContentAdView::initWithCoder(frame)},
      {"the class's initWithFrame:", byName("initWithFrame:")},
      {"the class's initWithCoder:", byName("initWithCoder:")},
  };
  for (const auto& [name, view] : ways) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(view);
    auto ad = contentAdWithPage(false);
    window->addSubview(view);
    auto headline = std::make_shared<uikit::View>(uikit::Rect{0, 0, 300, 40});
    view->addSubview(headline);
    view->setHeadlineView(headline);
    EXPECT_EQ(view->headlineView(), headline);
    view->setNativeContentAd(ad);
    EXPECT_EQ(view->nativeContentAd(), ad);
    EXPECT_TRUE(ad->hasRecordedImpression());
    EXPECT_EQ(tap(view, {10, 20}), "1001");
    view->removeFromSuperview();
  }
}

TEST(NativeAdViewClasses, AreFoundByNameAndMakeTheirViewsWithTheFrameGiven) {
  for (const char* name : {"QMANativeContentAdView", "QMANativeAppInstallAdView"}) {
    SCOPED_TRACE(name);
    auto cls = runtime::objc_getClass(name);
    ASSERT_TRUE(cls);
    for (const char* selector : {"initWithFrame:", "initWithCoder:"}) {
      auto view = runtime::msgSendClass<std::shared_ptr<uikit::View>(uikit::Rect)>(cls, selector, uikit::Rect{5, 6, 300, 250});
      ASSERT_TRUE(view) << selector;
      EXPECT_EQ(view->className(), name);
      EXPECT_EQ(view->frame(), (uikit::Rect{5, 6, 300, 250}));
      auto native = std::dynamic_pointer_cast<QMANativeAdView>(view);
      ASSERT_TRUE(native && native->nativeAdViewPolicy()) << "a working native ad view, with its policy and badge";
      EXPECT_EQ(native->nativeAdViewPolicy()->attributionView()->superview(), view);
    }
  }
  auto before = runtime::objc_getClass("QMANativeContentAdView");
  QMANativeAdView::registerClasses();  // again: the same classes stay
  EXPECT_EQ(runtime::objc_getClass("QMANativeContentAdView"), before);
}

}  // namespace
