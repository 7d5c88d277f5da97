// The opener's gate and its leaving the application, with the SDK-core page played by the
// ad server so a refused open can be seen arriving there.
#include "ads/present/opener.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "ads/present/ad_app_view_controller.h"
#include "ads/present/browser_view_controller.h"
#include "ads/render/ad_view.h"
#include "platform/uikit/window.h"
#include "ads/render/rendering_slot.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/services/test_support.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/application.h"
#include "tools/adserver/ad_server.h"

namespace {

struct Slot : render_test::StubSlot<> {
  std::vector<std::string> calls;
  void pingClickURLs() override { calls.push_back("ping"); }
  void adWillLeaveApplication() override { calls.push_back("willLeave"); }
  void willLeaveAppDueToClick() override { calls.push_back("leftDueToClick"); }
};

struct Opener : qma_test::DeviceRootTest {
  std::shared_ptr<Slot> slot = std::make_shared<Slot>();
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAOpener> opener;
  std::size_t openedBefore = 0;

  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    opener = QMAOpener::init();
    opener->setSlot(slot);
    opener->setAdView(view);
    openedBefore = opened().size();
  }
  static std::vector<std::string> opened() { return uikit::Application::sharedApplication()->openedURLs(); }
  std::vector<std::string> newlyOpened() {
    drainMain();
    auto all = opened();
    return {all.begin() + static_cast<std::ptrdiff_t>(openedBefore), all.end()};
  }
  static net::URL url(const char* text) { return *net::URL::fromString(text); }
};

TEST_F(Opener, LeavingTheApplicationTellsTheSlotFirstThenOpens) {
  opener->openApp(url("https://store.example/app"));
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"ping", "willLeave", "leftDueToClick"}));
  EXPECT_TRUE(opener->didOpenAnotherApplication());
  EXPECT_TRUE(opened().size() == openedBefore);  // the system opens it on a later turn
  EXPECT_EQ(newlyOpened(), std::vector<std::string>{"https://store.example/app"});
  opener->openApp(std::nullopt);
  EXPECT_EQ(newlyOpened().size(), 1u);
}

TEST_F(Opener, SchemesThatAskForAConfirmationOpenOnlyOnceConfirmed) {
  opener->openApp(url("tel:5550100"));
  EXPECT_TRUE(newlyOpened().empty());
  ASSERT_EQ(opener->pendingConfirmationCount(), 1u);
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->message(), "5550100");
  ASSERT_TRUE(alert->chooseActionWithTitle("Cancel"));
  EXPECT_TRUE(newlyOpened().empty());
  EXPECT_EQ(opener->pendingConfirmationCount(), 0u);

  opener->openApp(url("tel:5550100"));
  ASSERT_TRUE(uikit::AlertController::visibleAlert()->chooseActionWithTitle("Call"));
  EXPECT_EQ(newlyOpened(), std::vector<std::string>{"tel:5550100"});
  opener->openApp(url("tel:5550100"));  // confirmed once: at once now
  EXPECT_EQ(newlyOpened().size(), 2u);
  EXPECT_FALSE(uikit::AlertController::visibleAlert());
}

TEST_F(Opener, TheServersSchemesReplaceTheBuiltInOnesAndNoSchemeIsFolded) {
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("tel:1")), "Call");
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("facetime:x")), "FaceTime");
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("TEL:1")), std::nullopt);
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("https://x.example/")), std::nullopt);
  foundation::UserDefaults::standardUserDefaults()->setObjectForKey(
      foundation::Value(foundation::Dictionary{{"sms", "Text"}, {"odd", 3}}), QMAOpener::kConfirmSchemesKey);
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("sms:1")), "Text");
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("tel:1")), std::nullopt);
  EXPECT_EQ(QMAOpener::confirmationMessageForURL(url("odd:1")), std::nullopt);  // a title that is no text
}

TEST_F(Opener, WithAutoClickProtectionAnUntouchedAdOpensNothingAndThePageHearsOfIt) {
  adserver::AdServer server;
  ASSERT_TRUE(server.start());
  setenv("WARDVANE_AD_NETWORK_URL", server.baseURL().c_str(), 1);
  auto controller = QMASDKCoreController::sharedInstance();
  controller->refreshActiveWebViewSDKCore();
  const auto& page = controller->activeSDKCoreWebView();
  ASSERT_TRUE(qma_test::pumpMainLoop([&] {
    return !server.requestsForPath(adserver::AdServer::kPagePath).empty() && page->state() == 3;
  }));
  page->adView()->stringByEvaluatingJavaScriptFromString("QVRA_ReceiveMessage('open', {});");

  opener->setAutoClickProtected(true);
  opener->setNavigationURL("https://landing.example/");
  view->setAdDebugDialog("creative 9");
  opener->openApp(url("https://landing.example/"));
  EXPECT_TRUE(newlyOpened().empty());
  EXPECT_TRUE(slot->calls.empty());
  ASSERT_TRUE(qma_test::pumpMainLoop([&] {
    return page->adView()->stringByEvaluatingJavaScriptFromString("(window.QVRA_blockedNavigations || []).length") == "1";
  }));
  EXPECT_EQ(page->adView()->stringByEvaluatingJavaScriptFromString(
                "QVRA_blockedNavigations[0].navigationURL + ' ' + QVRA_blockedNavigations[0].debugDialog"),
            "https://landing.example/ creative 9");

  view->hitTest({1, 1});  // a finger on the ad opens the gate
  opener->openApp(url("https://landing.example/"));
  EXPECT_EQ(newlyOpened(), std::vector<std::string>{"https://landing.example/"});
  server.stop();
  unsetenv("WARDVANE_AD_NETWORK_URL");
}

// The ad view placed in a host on screen, as a shown banner is.
struct OpenerOnScreen : Opener {
  std::shared_ptr<uikit::Window> window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  void SetUp() override {
    Opener::SetUp();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    root->view()->addSubview(view);
    opener->setViewController(root);
  }
  void TearDown() override {
    if (auto shown = root->presentedViewController()) {
      if (auto ad = std::dynamic_pointer_cast<QMAViewController>(shown)) ad->relinquishScreenWithCompletion(nullptr);
    }
    window->setHidden(true);
    Opener::TearDown();
  }
};

TEST_F(OpenerOnScreen, TheBrowserOpensForAMaskTheWindowSupportsAndReportsTheClick) {
  opener->openBrowserToURLSupportedOrientations(url("https://landing.example/"), 4);  // upside down only
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_TRUE(slot->calls.empty());
  opener->openBrowserToURLSupportedOrientations(std::nullopt, 30);
  EXPECT_FALSE(root->presentedViewController());
  opener->openBrowserToURLSupportedOrientations(url("https://landing.example/"), 30);
  auto browser = std::dynamic_pointer_cast<QMABrowserViewController>(root->presentedViewController());
  ASSERT_TRUE(browser);
  EXPECT_EQ(browser->supportedInterfaceOrientations(), 30u);
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ping"});
}

TEST_F(OpenerOnScreen, AWebAppFromHTMLIsASupplementalControllerAndAnUntouchedProtectedAdOpensNone) {
  opener->setAutoClickProtected(true);
  opener->openWebAppWithHTMLSupportedOrientationsUsingCustomClose("<body>app</body>", 30, false);
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_TRUE(slot->calls.empty());
  opener->setAutoClickProtected(false);
  opener->openWebAppWithHTMLSupportedOrientationsUsingCustomClose(std::nullopt, 30, false);
  EXPECT_FALSE(root->presentedViewController());
  opener->openWebAppWithHTMLSupportedOrientationsUsingCustomClose("<body>app</body>", 30, true);
  auto app = std::dynamic_pointer_cast<QMASupplementalAdAppViewController>(root->presentedViewController());
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->useCustomClose());
  EXPECT_FALSE(app->closeButton()->superview());  // no MRAID: the creative closes itself
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ping"});
}

TEST_F(OpenerOnScreen, AnExpandBorrowsTheLiveAdViewAndGivesItBackWithItsPictureLeftBehind) {
  view->setFrame({0, 100, 320, 50});
  opener->expandToWebAppWithSupportedOrientationsUsingCustomClose(30, false);
  auto expanded = std::dynamic_pointer_cast<QMAExpandedAdAppViewController>(root->presentedViewController());
  ASSERT_TRUE(expanded);
  EXPECT_EQ(view->superview(), expanded->view());
  ASSERT_TRUE(expanded->renderedBanner());
  EXPECT_EQ(expanded->renderedBanner()->superview(), root->view());
  EXPECT_EQ(expanded->renderedBanner()->frame(), (uikit::Rect{0, 100, 320, 50}));
  EXPECT_EQ(expanded->closeButton()->frame(), (uikit::Rect{0, 0, 32, 32}));
  EXPECT_EQ(expanded->closeButton()->accessibilityLabel(), "Close Advertisement");
  EXPECT_TRUE(expanded->closeButton()->image());
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ping"});
  // No expand from inside a full-screen ad.
  opener->setViewController(expanded);
  opener->expandToWebAppWithSupportedOrientationsUsingCustomClose(30, false);
  EXPECT_EQ(slot->calls.size(), 1u);

  expanded->closeButtonPressed();
  EXPECT_EQ(view->superview(), root->view());
  EXPECT_EQ(view->frame(), (uikit::Rect{0, 100, 320, 50}));
  EXPECT_FALSE(root->presentedViewController());
  auto picture = expanded->renderedBanner();
  expanded.reset();
  EXPECT_FALSE(picture->superview());
}

}  // namespace
