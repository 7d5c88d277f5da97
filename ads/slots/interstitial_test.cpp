// The public interstitial against the ad server: its one-shot life from load to dismissal,
// the checks before presenting (errors 6, 13 and 11, and the not-ready log line), clicks,
// and what it never does (reload by itself, revive a cancelled load).
#include "ads/slots/interstitial.h"

#include <gtest/gtest.h>

#include "ads/slots/format_test_support.h"
#include "platform/uikit/application.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/controls.h"

namespace {

using formats_test::FormatFixture;
using formats_test::htmlScenario;

constexpr const char* kReceived = QMAInterstitialDelegate::kInterstitialDidReceiveAd;
constexpr const char* kInterstitialFailed = QMAInterstitialDelegate::kInterstitialDidFailToReceiveAdWithError;

struct InterstitialTest : FormatFixture {
  std::shared_ptr<QMAInterstitial> interstitial;

  void SetUp() override {
    FormatFixture::SetUp();
    interstitial = QMAInterstitial::initWithAdUnitID("unit-i");
    interstitial->setDelegate(host);
  }
  void TearDown() override {
    interstitial.reset();
    FormatFixture::TearDown();
  }
  void loadReady() {
    interstitial->loadRequest(QMARequest::request());
    ASSERT_TRUE(pumpUntilHeard(kReceived));
  }
  std::shared_ptr<QMAInterstitialViewController> shown() {
    return std::dynamic_pointer_cast<QMAInterstitialViewController>(root->presentedViewController());
  }
  // A finger on the close button of the full-screen ad.
  bool tapClose() {
    auto vc = shown();
    if (!vc) return false;
    const auto& button = vc->closeButton();
    const uikit::Rect r = button->convertRectToView(button->bounds(), nullptr);
    return uikit::Window::hitTestScreen({r.midX(), r.midY()}) == button && button->userTap();
  }
};

TEST_F(InterstitialTest, LoadedPresentedAndDismissedOnceWithTheImpressionCountedBeforeTheScreen) {
  useScenario(htmlScenario("<body>Full screen <a href='https://landing.example/x'>Go</a></body>",
                           {{"X-Qvra-Tracking-Urls", "{base}/ping/impression"}}));
  EXPECT_FALSE(interstitial->isReady());
  loadReady();
  EXPECT_TRUE(interstitial->isReady());
  EXPECT_EQ(interstitial->adNetworkClassName(), std::optional<std::string>(kQMAHouseAdapterClassName));
  EXPECT_TRUE(server->requestsForPath("/ping/impression").empty());  // an interstitial is seen when shown

  interstitial->presentFromRootViewController(root);
  ASSERT_TRUE(shown());
  EXPECT_EQ(shown()->adView(), interstitial->slot()->adView());
  EXPECT_EQ(shown()->adView()->superview(), shown()->view());
  EXPECT_TRUE(uikit::Application::sharedApplication()->isStatusBarHidden());
  EXPECT_TRUE(uikit::Application::sharedApplication()->isIdleTimerDisabled());
  EXPECT_FALSE(interstitial->viewController());  // dropped once presented
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/ping/impression").empty(); }));

  ASSERT_TRUE(tapClose());
  drainMain();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(host->heard, (std::vector<std::string>{kReceived, "interstitialWillPresentScreen:",
                                                   "interstitialWillDismissScreen:", "interstitialDidDismissScreen:"}));
  EXPECT_EQ(interstitial->slot()->state(), QMASlotStateInvalidated);
  EXPECT_FALSE(interstitial->isReady());
  EXPECT_FALSE(uikit::Application::sharedApplication()->isStatusBarHidden());
  EXPECT_FALSE(uikit::Application::sharedApplication()->isIdleTimerDisabled());
}

TEST_F(InterstitialTest, AUsedInterstitialRefusesEveryLaterPresentAndLoadWithCodeSix) {
  useScenario(htmlScenario("<body>Ad</body>"));
  loadReady();
  interstitial->presentFromRootViewController(root);
  ASSERT_TRUE(shown());
  host->heard.clear();

  interstitial->presentFromRootViewController(root);  // while shown
  EXPECT_EQ(host->heard, std::vector<std::string>{"interstitial:didFailToReceiveAdWithError: 6"});
  EXPECT_EQ(host->errors.back().localizedDescription(),
            "Request Error: Will not send request because interstitial object has been used.");
  host->heard.clear();
  const auto requestsBefore = adRequests().size();
  interstitial->loadRequest(QMARequest::request());  // while shown: 6, then the slot's refusal
  drainMain();
  EXPECT_EQ(host->heard, (std::vector<std::string>{"interstitial:didFailToReceiveAdWithError: 6",
                                                   "interstitial:didFailToReceiveAdWithError: 0"}));
  ASSERT_TRUE(tapClose());
  drainMain();
  host->heard.clear();
  interstitial->loadRequest(QMARequest::request());  // once dismissed: still told why
  drainMain();
  EXPECT_EQ(host->heard, std::vector<std::string>{"interstitial:didFailToReceiveAdWithError: 6"});
  EXPECT_EQ(adRequests().size(), requestsBefore);
}

TEST_F(InterstitialTest, PresentingBeforeAnyAdFailsWithThirteenAndTheLoadInFlightStaysCancelled) {
  useScenario(htmlScenario("<body>Ad</body>"));
  interstitial->loadRequest(QMARequest::request());
  EXPECT_EQ(interstitial->slot()->state(), QMASlotStateRequestingAdURL);
  interstitial->presentFromRootViewController(root);
  EXPECT_EQ(host->heard, std::vector<std::string>{"interstitial:didFailToReceiveAdWithError: 13"});
  EXPECT_TRUE(logged("Request Error: Received invalid response."));
  EXPECT_FALSE(interstitial->hasBeenUsed());
  // The page answers in order: once a later request of another interstitial has its ad, the
  // withdrawn request's answer has come too, and was let go.
  auto other = QMAInterstitial::initWithAdUnitID("unit-j");
  auto otherHost = std::make_shared<formats_test::Host>();
  other->setDelegate(otherHost);
  other->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return otherHost->count(kReceived) == 1; }));
  drainMain();
  EXPECT_EQ(adRequests().size(), 1u);
  EXPECT_EQ(host->count(kReceived), 0);
  EXPECT_FALSE(shown());
  // Not used: it loads and presents afterwards.
  loadReady();
  interstitial->presentFromRootViewController(root);
  EXPECT_TRUE(shown());
}

TEST_F(InterstitialTest, ACancelledLoadNeverArrivesAndTheInterstitialStaysSilent) {
  useScenario(htmlScenario("<body>Ad</body>"));
  interstitial->loadRequest(QMARequest::request());
  ASSERT_EQ(interstitial->slot()->state(), QMASlotStateRequestingAdURL);
  interstitial->cancel();
  auto other = QMAInterstitial::initWithAdUnitID("unit-j");
  auto otherHost = std::make_shared<formats_test::Host>();
  other->setDelegate(otherHost);
  other->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return otherHost->count(kReceived) == 1; }));  // the page has answered both
  drainMain();
  EXPECT_EQ(adRequests().size(), 1u);
  EXPECT_TRUE(host->heard.empty());
  EXPECT_FALSE(interstitial->isReady());
  interstitial->loadRequest(QMARequest::request());  // cancelled for good
  drainMain();
  EXPECT_EQ(adRequests().size(), 1u);
}

TEST_F(InterstitialTest, PresentingWhileTheNextAdLoadsOnlyLogsAndLaterPresentsIt) {
  useScenario({{"ads", {{"ad", {{"body", "<body>Ad</body>"}, {"delay_ms", 150}}}}}, {"default_ad", "ad"}});
  loadReady();
  interstitial->loadRequest(QMARequest::request());  // the ad it holds stays until the next one comes
  ASSERT_TRUE(interstitial->slot()->ad());
  ASSERT_FALSE(interstitial->isReady());
  interstitial->presentFromRootViewController(root);
  EXPECT_TRUE(logged("Cannot present interstitial. It is not ready."));
  EXPECT_EQ(host->heard, std::vector<std::string>{kReceived});
  EXPECT_FALSE(shown());
  ASSERT_TRUE(pumpUntilHeard(kReceived, 2));
  interstitial->presentFromRootViewController(root);
  EXPECT_TRUE(shown());
}

TEST_F(InterstitialTest, APresentationThePlatformRefusesIsOnlyAFailureWithEleven) {
  useScenario(htmlScenario("<body>Ad</body>", {{"X-Qvra-Tracking-Urls", "{base}/ping/impression"}}));
  loadReady();
  auto other = std::make_shared<uikit::ViewController>();
  ASSERT_TRUE(root->presentViewController(other, false, nullptr));  // the host shows something already
  std::size_t fullScreenNotices = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kQMAAdModalViewControllerWillPresentFullScreen, nullptr, nullptr,
      [&](const foundation::Notification&) { ++fullScreenNotices; });
  interstitial->presentFromRootViewController(root);
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  // No screen showed: the host hears of none, only of the failure.
  EXPECT_EQ(host->heard, (std::vector<std::string>{kReceived, "interstitial:didFailToReceiveAdWithError: 11"}));
  EXPECT_EQ(fullScreenNotices, 0u);
  EXPECT_NE(host->errors.back().localizedDescription().find("Presenting the interstitial threw exception: "),
            std::string::npos);
  EXPECT_TRUE(interstitial->hasBeenUsed());
  EXPECT_EQ(root->presentedViewController(), other);
  EXPECT_FALSE(uikit::Application::sharedApplication()->isIdleTimerDisabled());
  // An ad the platform never showed was not seen.
  EXPECT_FALSE(interstitial->slot()->viewHasMadeImpression());
  drainMain();
  EXPECT_TRUE(server->requestsForPath("/ping/impression").empty());
}

TEST_F(InterstitialTest, AClickOnTheShownAdIsPingedAndReachesOnlyADelegateThatImplementsIt) {
  useScenario(htmlScenario("<body><a href='https://landing.example/x'>Go</a></body>",
                           {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/click"}}));
  for (const bool implements : {false, true}) {
    SCOPED_TRACE(implements);
    server->clearRequests();
    host = std::make_shared<formats_test::Host>();
    host->implemented = std::set<std::string>{kReceived};
    if (implements) host->implemented->insert(QMAInterstitialAdClickDelegate::kInterstitialDidReceiveAdClick);
    interstitial = QMAInterstitial::initWithAdUnitID("unit-i");
    interstitial->setDelegate(host);
    loadReady();
    interstitial->presentFromRootViewController(root);
    ASSERT_TRUE(shown());
    ASSERT_TRUE(shown()->adView()->webView()->tapLink(0));
    ASSERT_TRUE(pump([&] { return !server->requestsForPath("/ping/click").empty(); }));
    drainMain();
    EXPECT_EQ(host->count(QMAInterstitialAdClickDelegate::kInterstitialDidReceiveAdClick), implements ? 1 : 0);
    ASSERT_TRUE(tapClose());
    drainMain();
  }
}

TEST_F(InterstitialTest, AnAdWhoseOrientationsTheApplicationCannotShowIsRefusedAtReceipt) {
  // An application that shows only portrait.
  struct PortraitOnly : uikit::ApplicationDelegate {
    std::optional<std::uint64_t> applicationSupportedInterfaceOrientationsForWindow(
        const std::shared_ptr<uikit::Application>&, const std::shared_ptr<uikit::Window>&) override {
      return uikit::InterfaceOrientationMaskPortrait;
    }
  };
  auto app = uikit::Application::sharedApplication();
  auto hostsDelegate = app->delegate();
  app->setDelegate(std::make_shared<PortraitOnly>());
  useScenario(htmlScenario("<body>Sideways</body>", {{"X-Qvra-Orientation", "landscape"}}));
  interstitial->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(kInterstitialFailed));
  EXPECT_FALSE(interstitial->isReady());
  EXPECT_EQ(interstitial->slot()->state(), QMASlotStateFailed);
  app->setDelegate(hostsDelegate);
}

TEST_F(InterstitialTest, ItNeverReloadsByItself) {
  useScenario(htmlScenario("<body>Ad</body>", {{"X-Qvra-Refresh-Rate", "30"}}));
  loadReady();
  EXPECT_FALSE(interstitial->slot()->reloadTimer());
  foundation::Clock::advance(61);
  drainMain();
  EXPECT_EQ(adRequests().size(), 1u);
}

TEST_F(InterstitialTest, ComingBackToTheForegroundClosesTheShownAd) {
  useScenario(htmlScenario("<body>Ad</body>"));
  loadReady();
  interstitial->presentFromRootViewController(root);
  ASSERT_TRUE(shown());
  // The home button, and back: the full-screen ad the user did not leave through goes.
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      uikit::kUIApplicationWillEnterForegroundNotification, uikit::Application::sharedApplication());
  ASSERT_TRUE(pumpUntilHeard("interstitialDidDismissScreen:"));
  EXPECT_FALSE(root->presentedViewController());
}

}  // namespace
