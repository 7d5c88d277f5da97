// The public banner against the ad server: its size and frame rules, its reload by timer and
// by visibility, the host's optional messages, its answers to the slot and a click.
#include "ads/slots/banner_view.h"

#include <gtest/gtest.h>

#include "ads/slots/format_test_support.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/application.h"

namespace {

using formats_test::FormatFixture;
using formats_test::htmlScenario;
using foundation::Dictionary;
using foundation::Value;

struct BannerTest : FormatFixture {
  // A banner that has shown the server's ad.
  std::shared_ptr<QMABannerView> loadedBanner(QMAAdSize size = kQMAAdSizeBanner) {
    auto banner = placedBanner(size);
    banner->loadRequest(QMARequest::request());
    EXPECT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
    return banner;
  }
  std::size_t adRequestCount() const { return adRequests().size(); }
};

TEST_F(BannerTest, SizeAndFrameChangesTakeANewAdSizeAndReloadOnlyWhenTheWholeSizeChanges) {
  useScenario(htmlScenario("<body>Ad</body>"));
  enum class Action { AdSize, Frame, Bounds };
  struct Row {
    const char* what;
    QMAAdSize start;
    Action action;
    QMAAdSize size;          // for AdSize
    uikit::Size measure;     // for Frame and Bounds
    QMAAdSize expected;
    bool reloads;
  };
  const QMAAdSize smart = kQMAAdSizeSmartBannerPortrait;
  const Row rows[] = {
      {"a frame the size already measures", kQMAAdSizeBanner, Action::Frame, {}, {320, 50}, kQMAAdSizeBanner, false},
      {"a frame of another standard size", kQMAAdSizeBanner, Action::Frame, {}, {300, 250}, kQMAAdSizeMediumRectangle, true},
      {"the same size again", kQMAAdSizeBanner, Action::AdSize, kQMAAdSizeBanner, {}, kQMAAdSizeBanner, false},
      {"smart portrait to smart landscape", smart, Action::AdSize, kQMAAdSizeSmartBannerLandscape, {},
       kQMAAdSizeSmartBannerLandscape, true},
      {"a custom size of the same whole points", kQMAAdSizeBanner, Action::AdSize, QMACustomAdSizeFromCGSize({320.4, 50}),
       {}, QMACustomAdSizeFromCGSize({320.4, 50}), false},
      {"bounds the smart size measures keep it smart", smart, Action::Bounds, {}, {375, 50}, smart, false},
      {"other bounds make a new size", smart, Action::Bounds, {}, {320, 50}, kQMAAdSizeBanner, true},
      {"an invalid size is refused", kQMAAdSizeBanner, Action::AdSize, QMAAdSize{{320, 50}, 4}, {}, kQMAAdSizeBanner, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host = std::make_shared<formats_test::Host>();
    auto banner = loadedBanner(row.start);
    ASSERT_EQ(banner->slot()->state(), QMASlotStateAdReady);
    switch (row.action) {
      case Action::AdSize: banner->setAdSize(row.size); break;
      case Action::Frame: banner->setFrame({banner->uikit::View::frame().origin, row.measure}); break;
      case Action::Bounds: banner->setBounds({{0, 0}, row.measure}); break;
    }
    EXPECT_TRUE(QMAAdSizeEqualToSize(banner->adSize(), row.expected)) << NSStringFromQMAAdSize(banner->adSize());
    EXPECT_EQ(banner->uikit::View::frame().size, CGSizeFromQMAAdSize(row.expected));
    EXPECT_EQ(banner->slot()->state() == QMASlotStateRequestingAdURL, row.reloads);
    banner->removeFromSuperview();
    drainMain();
  }
  EXPECT_TRUE(logged("Unable to set adSize property. Non-standard size"));
}

TEST_F(BannerTest, MadeWithAnInvalidSizeThereIsNoBannerButALayoutFileMakesOneAnyway) {
  EXPECT_EQ(QMABannerView::initWithAdSize(QMAAdSize{{320, 50}, 4}), nullptr);
  EXPECT_TRUE(logged("Unable to set adSize property. Non-standard size"));

  auto placed = QMABannerView::initWithAdSizeOrigin(kQMAAdSizeMediumRectangle, {10, 30});
  ASSERT_TRUE(placed);
  EXPECT_EQ(placed->uikit::View::frame(), (uikit::Rect{10, 30, 300, 250}));
  EXPECT_EQ(placed->intrinsicContentSize(), (uikit::Size{300, 250}));
  auto fromFrame = QMABannerView::initWithFrame({0, 0, 468, 60});
  EXPECT_TRUE(QMAAdSizeEqualToSize(fromFrame->adSize(), kQMAAdSizeFullBanner));
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMABannerView::init()->adSize(), QMACustomAdSizeFromCGSize({0, 0})));

  auto decoded = QMABannerView::initWithCoder({0, 0, 20000, 50});
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->slot()->adType()->isInterstitial());  // the type it was made with
}

TEST_F(BannerTest, AlphaIsAllOrNothing) {
  auto banner = placedBanner();
  for (auto [given, shown] : {std::pair{0.0, 0.0}, {0.5, 1.0}, {0.0001, 1.0}, {1.0, 1.0}}) {
    banner->setAlpha(given);
    EXPECT_EQ(banner->alpha(), shown) << given;
  }
}

TEST_F(BannerTest, TheReloadTimerReloadsAVisibleBannerAndWaitsWhileItIsHidden) {
  useScenario(htmlScenario("<body>Ad</body>", {{"X-Qvra-Refresh-Rate", "30"}}));
  auto container = std::make_shared<uikit::View>(uikit::Rect{0, 20, 375, 100});
  root->view()->addSubview(container);
  auto banner = placedBanner();
  container->addSubview(banner);
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(adRequestCount(), 1u);

  foundation::Clock::advance(29.5);
  drainMain();
  EXPECT_EQ(banner->slot()->state(), QMASlotStateAdReady);  // not yet
  foundation::Clock::advance(0.6);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd, 2));
  EXPECT_EQ(adRequestCount(), 2u);
  EXPECT_TRUE(banner->hasAutoRefreshed());

  container->setHidden(true);  // once it has shown an ad, only a visible banner reloads
  foundation::Clock::advance(30.1);
  drainMain();
  EXPECT_EQ(banner->slot()->state(), QMASlotStateAdReady);
  EXPECT_TRUE(banner->slot()->reloadTimer());  // armed again for a full interval
  container->setHidden(false);
  foundation::Clock::advance(30.1);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd, 3));
  EXPECT_EQ(adRequestCount(), 3u);
}

TEST_F(BannerTest, BeforeItsFirstAdAHiddenBannerStillReloadsAfterAFailure) {
  useScenario(htmlScenario("", {{"X-Qvra-Refresh-Rate", "30"}}));  // no fill
  auto banner = placedBanner();
  banner->setHidden(true);
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError));
  EXPECT_EQ(host->heard.back(), "adView:didFailToReceiveAdWithError: 1");
  server->setScenario(htmlScenario("<body>Ad</body>"));
  foundation::Clock::advance(30.1);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
}

TEST_F(BannerTest, MessagesTheDelegateDoesNotImplementAreSkippedAndTheBannerGoesOn) {
  useScenario(htmlScenario("<body>Ad</body>", {{"X-Qvra-Refresh-Rate", "30"}}));
  host->implemented = std::set<std::string>{};
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return banner->hasLoadedAd(); }));
  EXPECT_TRUE(host->heard.empty());

  // Implementing one message: only that one is heard; a failure still re-arms the timer.
  host->implemented = std::set<std::string>{QMABannerViewDelegate::kAdViewDidReceiveAd};
  server->setScenario(htmlScenario("", {{"X-Qvra-Refresh-Rate", "30"}}));
  foundation::Clock::advance(30.1);
  ASSERT_TRUE(pump([&] { return banner->slot()->state() == QMASlotStateFailed; }));
  drainMain();
  EXPECT_TRUE(host->heard.empty());
  EXPECT_TRUE(banner->slot()->reloadTimer());
  server->setScenario(htmlScenario("<body>Again</body>"));
  foundation::Clock::advance(30.1);
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(host->heard, std::vector<std::string>{"adViewDidReceiveAd:"});
}

TEST_F(BannerTest, WithoutARootViewControllerTheLoadIsRefusedWithCodeZero) {
  useScenario(htmlScenario("<body>Ad</body>"));
  auto banner = QMABannerView::initWithAdSize(kQMAAdSizeBanner);
  banner->setDelegate(host);
  root->view()->addSubview(banner);
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError));
  EXPECT_EQ(host->heard, std::vector<std::string>{"adView:didFailToReceiveAdWithError: 0"});
  EXPECT_TRUE(logged("Must set the rootViewController property of QMABannerView before loading the ad."));
  EXPECT_TRUE(adRequests().empty());
}

TEST_F(BannerTest, AutoloadSwitchedOnTwiceLoadsOnce) {
  useScenario(htmlScenario("<body>Ad</body>"));
  auto banner = placedBanner();
  banner->setAutoloadEnabled(true);
  banner->setAutoloadEnabled(true);
  EXPECT_TRUE(adRequests().empty());  // queued, not done at once
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  drainMain();
  EXPECT_EQ(adRequestCount(), 1u);
}

TEST_F(BannerTest, TheViewHierarchyNamesTheAncestorsNearestFirst) {
  auto outer = std::make_shared<uikit::View>(uikit::Rect{0, 0, 375, 300});
  auto inner = std::make_shared<uikit::View>(uikit::Rect{0, 0, 375, 100});
  root->view()->addSubview(outer);
  outer->addSubview(std::make_shared<uikit::View>());
  outer->addSubview(inner);
  inner->setClipsToBounds(true);
  auto banner = QMABannerView::initWithAdSize(kQMAAdSizeBanner);
  inner->addSubview(std::make_shared<uikit::View>());
  inner->addSubview(banner);
  outer->setHidden(true);
  auto info = banner->viewHierarchyInformationForSlot(*banner->slot());
  ASSERT_TRUE(info && info->asDictionary());
  const auto& d = *info->asDictionary();
  EXPECT_EQ(d.at("creator_class"), Value("QMABannerView"));
  const auto& parents = *d.at("parents").asArray();
  ASSERT_EQ(parents.size(), 4u);  // inner, outer, the root's view, the window
  EXPECT_EQ(parents[0], Value(Dictionary{{"type", "View"}, {"index_of_child", 1}, {"is_hidden", false}, {"clips_to_bounds", true}}));
  EXPECT_EQ(parents[1], Value(Dictionary{{"type", "View"}, {"index_of_child", 1}, {"is_hidden", true}, {"clips_to_bounds", false}}));
  EXPECT_EQ(*parents[3].asDictionary()->at("type").asString(), "Window");

  auto defaults = foundation::UserDefaults::standardUserDefaults();
  for (auto [count, expected] : {std::pair{0, 0u}, {1, 1u}, {-3, 0u}}) {
    defaults->setObjectForKey(Value(count), QMABannerView::kParentViewCountKey);
    auto limited = banner->viewHierarchyInformationForSlot(*banner->slot());
    EXPECT_EQ(limited->asDictionary()->at("parents").asArray()->size(), expected) << count;
  }
}

TEST_F(BannerTest, LeavingItsWindowTellsThePresentersThatTheSlotLeft) {
  auto banner = placedBanner();
  int left = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kQMASlotDidLeaveWindowNotification, banner->slot().get(), nullptr, [&](const foundation::Notification&) { ++left; });
  banner->removeFromSuperview();
  EXPECT_EQ(left, 1);
  root->view()->addSubview(banner);
  EXPECT_EQ(left, 1);
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(BannerTest, ATapOnTheShownAdIsAClickThatPingsAndLeavesTheApplication) {
  useScenario(htmlScenario("<body><a href='https://landing.example/buy'>Buy</a></body>",
                           {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/click"}}));
  auto banner = loadedBanner();
  foundation::Clock::advance(1);  // a click needs a moment since the ad was shown
  const uikit::Rect onScreen = banner->convertRectToView(banner->bounds(), nullptr);
  ASSERT_TRUE(uikit::Window::hitTestScreen({onScreen.midX(), onScreen.midY()}));
  ASSERT_TRUE(banner->adView()->webView()->tapLink(0));
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewWillLeaveApplication));
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/ping/click").empty(); }));
  ASSERT_TRUE(pump([&] {
    auto opened = uikit::Application::sharedApplication()->openedURLs();
    return !opened.empty() && opened.back() == "https://landing.example/buy";
  }));
}

}  // namespace
