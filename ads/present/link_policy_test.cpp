// The base ad view delegate's link policy by scheme, with a slot that records the opener's
// reports and a host on screen for the in-app browser.
#include "ads/render/ad_view_delegate.h"

#include <gtest/gtest.h>

#include "ads/present/browser_view_controller.h"
#include "ads/present/opener.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/test_support.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

struct LinkSlot : render_test::StubSlot<> {
  bool mraid = false;
  std::vector<std::string> calls;
  bool isMRAIDEnabled() const override { return mraid; }
  void pingClickURLs() override { calls.push_back("ping"); }
  void adWillLeaveApplication() override { calls.push_back("leave"); }
};

struct LinkPolicy : qma_test::DeviceRootTest {
  std::shared_ptr<uikit::Window> window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  std::shared_ptr<LinkSlot> slot = std::make_shared<LinkSlot>();
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAAdViewDelegate> delegate;
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMAOpener::install();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    root->view()->addSubview(view);
    view->setViewController(root);
    delegate = QMAAdViewDelegate::init();
    delegate->opener()->setSlot(slot);
    view->setDelegate(delegate);
    bool finished = false;
    struct Loaded : QMAAdViewDelegateProtocol {
      bool* f;
      void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
    };
    auto loaded = std::make_shared<Loaded>();
    loaded->f = &finished;
    view->setDelegate(loaded);
    view->loadHTMLStringBaseURL("<body><a name='top'>ad</a></body>", net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return finished; }));
    view->setDelegate(delegate);
  }
  void TearDown() override {
    if (auto shown = std::dynamic_pointer_cast<QMAViewController>(root->presentedViewController()))
      shown->relinquishScreenWithCompletion(nullptr);
    window->setHidden(true);
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    DeviceRootTest::TearDown();
  }
  bool decide(const std::string& url, webkit::NavigationType type = webkit::NavigationType::LinkClicked) {
    return delegate->adViewShouldStartLoadWithRequestNavigationType(*view, net::URLRequest(*net::URL::fromString(url)), type)
        .value_or(true);
  }
};

TEST_F(LinkPolicy, EachSchemeLoadsOrGoesWhereItBelongs) {
  auto app = uikit::Application::sharedApplication();
  const auto openedBefore = app->openedURLs().size();
  struct Case {
    const char* url;
    bool loads;
  };
  const Case cases[] = {
      {"https://ads.example/creative#top", false},  // a jump inside the page shown
      {"https://ads.example/other#top", true},
      {"about:blank", true},
      {"file:///etc/hosts", false},
      {"mailto:someone@example.com", false},
      {"sms:5550100", false},
      {"itms-apps://itunes.example/app/1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(decide(c.url), c.loads) << c.url;
  delegate->setFileAccessAllowed(true);
  EXPECT_TRUE(decide("file:///etc/hosts"));
  drainMain();
  // Only the other application's link left the application; the mail link opened the mail
  // composer in it (the message link then found the screen taken). The composer's click
  // counts once it is up, after the store link had left at once.
  ASSERT_EQ(app->openedURLs().size(), openedBefore + 1);
  EXPECT_EQ(app->openedURLs().back(), "itms-apps://itunes.example/app/1");
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"ping", "leave", "ping"}));
  auto mail = std::dynamic_pointer_cast<messageui::MFMailComposeViewController>(root->presentedViewController());
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->toRecipients(), std::vector<std::string>{"someone@example.com"});
  mail->finishWithResult(messageui::MFMailComposeResultCancelled);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !root->presentedViewController(); }));
  auto opener = std::dynamic_pointer_cast<QMAOpener>(delegate->opener());
  ASSERT_TRUE(opener);
  EXPECT_EQ(opener->navigationURL(), "file:///etc/hosts");
  EXPECT_EQ(opener->viewController(), root);
}

TEST_F(LinkPolicy, AWebLinkThatIsNoTapLoadsAndTheRecordedURLFollowsButATapInAnMRAIDAdOpensTheBrowser) {
  EXPECT_TRUE(decide("https://landing.example/a", webkit::NavigationType::Other));
  ASSERT_TRUE(view->URL());
  EXPECT_EQ(view->URL()->absoluteString(), "https://landing.example/a");
  slot->mraid = true;
  EXPECT_TRUE(decide("https://landing.example/b", webkit::NavigationType::Other));
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(decide("https://landing.example/c"));
  auto browser = std::dynamic_pointer_cast<QMABrowserViewController>(root->presentedViewController());
  ASSERT_TRUE(browser);
  EXPECT_EQ(browser->supportedInterfaceOrientations(), 30u);
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ping"});
}

}  // namespace
