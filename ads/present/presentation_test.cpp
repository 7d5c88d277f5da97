// The full-screen takeover: the intermission's bookkeeping of participants, what it changes
// of the application for the time and puts back, the return to the foreground, and the
// full-screen view controller's presentation and relinquishment.
#include <gtest/gtest.h>

#include "ads/present/ad_app_view_controller.h"
#include "ads/present/browser_view_controller.h"
#include "ads/present/intrinsic_images.h"
#include "ads/render/ad_view_delegate.h"
#include "tools/adserver/ad_server.h"
#include "ads/present/intermission.h"
#include "ads/present/overlay_presenters.h"
#include "ads/present/opener.h"
#include "ads/present/overlay_proxy.h"
#include "ads/present/view_controller.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/ad_settings_parameters.h"
#include "ads/services/logging.h"
#include "ads/services/test_support.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/application.h"
#include "platform/uikit/device.h"
#include "platform/uikit/window.h"

namespace {

struct TakeoverSlot : render_test::StubSlot<QMAPresentationSlot> {
  std::vector<std::string> heard;
  std::weak_ptr<QMAIntermission> held;
  std::shared_ptr<QMAAd> none = QMAAd::initWithDictionary({});
  std::shared_ptr<QMAAdView> banner;
  std::shared_ptr<QMAAdView> adView() const override { return banner; }
  bool mraid = false;
  bool isMRAIDEnabled() const override { return mraid; }
  std::shared_ptr<QMAIntermission> intermission() const override { return held.lock(); }
  void setIntermission(std::weak_ptr<QMAIntermission> i) override { held = std::move(i); }
  void adWillPresentScreen() override { heard.push_back("willPresent"); }
  void adWillDismissScreen() override { heard.push_back("willDismiss"); }
  void adDidDismissScreen() override { heard.push_back("didDismiss"); }
  void interstitialViewWillAppear() override {}
  void interstitialViewWillDisappear() override {}
  const std::shared_ptr<QMAAd>& ad() const override { return none; }
  std::shared_ptr<QMAInterstitial> interstitial() const override { return nullptr; }
};

// A participant that holds the intermission while "on screen" and leaves when asked, its
// dismissal finishing only when the test says so.
struct TakeoverParticipant : QMAIntermitting, std::enable_shared_from_this<TakeoverParticipant> {
  std::shared_ptr<QMAIntermission> joined;
  bool wantsToGo = true;
  std::vector<std::string>* log = nullptr;
  std::string name;
  bool leaving = false;
  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>&, Completion) override {}
  bool shouldDismissOnApplicationEnteringForeground() override { return wantsToGo; }
  void relinquishScreenWithCompletion(Completion) override {
    if (log) log->push_back(name + " leaves");
    leaving = true;
    joined->participantWillRelinquishScreen(shared_from_this());
  }
  void finishLeaving() {
    if (log) log->push_back(name + " gone");
    auto i = std::move(joined);
    i->participantDidRelinquishScreen(shared_from_this());
  }
  std::shared_ptr<QMAIntermission> intermission() const override { return joined; }
};

struct Takeover : qma_test::DeviceRootTest {
  std::shared_ptr<TakeoverSlot> slot = std::make_shared<TakeoverSlot>();
  std::shared_ptr<uikit::Application> app = uikit::Application::sharedApplication();
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
  }
  void TearDown() override {
    app->setIdleTimerDisabled(false);
    app->setStatusBarHidden(false);
    DeviceRootTest::TearDown();
  }
  std::shared_ptr<TakeoverParticipant> join(const std::shared_ptr<QMAIntermission>& intermission, std::string name = "") {
    auto p = std::make_shared<TakeoverParticipant>();
    p->joined = intermission;
    p->name = std::move(name);
    intermission->addParticipant(p);
    return p;
  }
};

TEST_F(Takeover, TheHostHearsOnceThatAScreenBeginsAndOnceThatItEndsHoweverManyStackUp) {
  auto intermission = QMAIntermission::initWithSlot(slot);
  ASSERT_TRUE(intermission);
  EXPECT_FALSE(QMAIntermission::initWithSlot(nullptr));
  auto bottom = join(intermission), top = join(intermission);
  intermission.reset();  // the participants keep it
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  top->relinquishScreenWithCompletion(nullptr);
  top->finishLeaving();
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  bottom->relinquishScreenWithCompletion(nullptr);
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss"}));
  bottom->finishLeaving();
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

TEST_F(Takeover, AParticipantThatGoesAwayWithoutLeavingStillEndsTheTakeover) {
  auto intermission = QMAIntermission::initWithSlot(slot);
  join(intermission).reset();  // gone at once, never relinquished
  intermission.reset();
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

// A participant joins while the takeover is on its way out (its will-dismiss heard, its last
// participant still leaving): the end is heard once, and the newcomer's takeover begins only
// after it, or is never heard when it left before the end; the host's own settings come back
// at the very end.
TEST_F(Takeover, AParticipantJoiningAnEndingTakeoverIsHeardOnlyAfterItsEnd) {
  using Heard = std::vector<std::string>;
  for (const bool newcomerStays : {true, false}) {
    SCOPED_TRACE(newcomerStays ? "the newcomer stays" : "the newcomer leaves first");
    slot->heard.clear();
    app->setIdleTimerDisabled(false);
    app->setStatusBarHidden(false);
    auto intermission = QMAIntermission::initWithSlot(slot);
    auto old = join(intermission);
    intermission->participantWillOverrideStatusBarVisibility(old);
    app->setStatusBarHidden(true);
    old->relinquishScreenWithCompletion(nullptr);
    EXPECT_EQ(slot->heard, (Heard{"willPresent", "willDismiss"}));
    EXPECT_FALSE(app->isStatusBarHidden());
    auto newcomer = join(intermission);
    app->setStatusBarHidden(true);
    EXPECT_EQ(slot->heard, (Heard{"willPresent", "willDismiss"}));
    if (!newcomerStays) {
      newcomer->relinquishScreenWithCompletion(nullptr);
      newcomer->finishLeaving();
      EXPECT_EQ(slot->heard, (Heard{"willPresent", "willDismiss"}));
    }
    old->finishLeaving();
    if (newcomerStays) {
      EXPECT_EQ(slot->heard, (Heard{"willPresent", "willDismiss", "didDismiss", "willPresent"}));
      EXPECT_TRUE(app->isIdleTimerDisabled());
      newcomer->relinquishScreenWithCompletion(nullptr);
      newcomer->finishLeaving();
    }
    const Heard whole = newcomerStays ? Heard{"willPresent", "willDismiss", "didDismiss", "willPresent", "willDismiss",
                                              "didDismiss"}
                                      : Heard{"willPresent", "willDismiss", "didDismiss"};
    EXPECT_EQ(slot->heard, whole);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    EXPECT_FALSE(app->isStatusBarHidden());
    intermission.reset();
    EXPECT_EQ(slot->heard, whole);
  }
}

TEST_F(Takeover, TheIdleTimerAndAnOverriddenStatusBarGoBackToTheHostsOwnSettings) {
  for (const bool hostHadTimerOff : {false, true}) {
    for (const bool overridden : {false, true}) {
      SCOPED_TRACE(std::to_string(hostHadTimerOff) + std::to_string(overridden));
      app->setIdleTimerDisabled(hostHadTimerOff);
      app->setStatusBarHidden(false);
      auto intermission = QMAIntermission::initWithSlot(slot);
      auto p = join(intermission);
      EXPECT_TRUE(app->isIdleTimerDisabled());
      if (overridden) intermission->participantWillOverrideStatusBarVisibility(p);
      app->setStatusBarHidden(true);
      p->relinquishScreenWithCompletion(nullptr);
      EXPECT_EQ(app->isIdleTimerDisabled(), hostHadTimerOff);
      EXPECT_EQ(app->isStatusBarHidden(), !overridden);
      p->finishLeaving();
    }
  }
}

TEST_F(Takeover, BackInTheForegroundTheParticipantsThatAskLeaveOneAfterTheOther) {
  std::vector<std::string> log;
  auto intermission = QMAIntermission::initWithSlot(slot);
  auto first = join(intermission, "first"), storePage = join(intermission, "store"), second = join(intermission, "second");
  storePage->wantsToGo = false;
  for (auto* p : {first.get(), storePage.get(), second.get()}) p->log = &log;
  foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationWillEnterForegroundNotification,
                                                                       app);
  drainMain();
  EXPECT_EQ(log, std::vector<std::string>{"first leaves"});
  drainMain();
  EXPECT_EQ(log, std::vector<std::string>{"first leaves"});  // the next waits for this dismissal to end
  first->finishLeaving();
  drainMain();
  EXPECT_EQ(log, (std::vector<std::string>{"first leaves", "first gone", "second leaves"}));
  second->finishLeaving();
  drainMain();
  EXPECT_FALSE(storePage->leaving);
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  storePage->relinquishScreenWithCompletion(nullptr);
  storePage->finishLeaving();
}

// A presenter that puts nothing on screen and finishes a dismissal when the test says so.
struct FakePresenter : QMAOverlayPresenting {
  std::weak_ptr<QMAViewController> presented;
  std::vector<std::string>* log;
  Completion pendingDismissal;
  explicit FakePresenter(std::vector<std::string>* l) : log(l) {}
  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>&, Completion done) override {
    log->push_back("presenter presents");
    if (done) done();
  }
  std::shared_ptr<uikit::ViewController> presentationViewController() override { return presented.lock(); }
  void dismissWithCompletionHandler(Completion done) override {
    log->push_back("presenter dismisses");
    pendingDismissal = std::move(done);
  }
  std::shared_ptr<QMAViewController> presentedViewController() const override { return presented.lock(); }
  void setPresentedViewController(std::weak_ptr<QMAViewController> vc) override { presented = std::move(vc); }
  bool isReadyToPresent() override { return presented.lock() != nullptr; }
};

struct FullScreen : Takeover {
  std::vector<std::string> log;
  std::vector<foundation::NotificationCenter::ObserverToken> tokens;
  void SetUp() override {
    Takeover::SetUp();
    for (const char* name : {kQMAAdModalViewControllerWillPresentFullScreen, kQMAAdModalViewControllerDidDismissFullScreen})
      tokens.push_back(foundation::NotificationCenter::defaultCenter().addObserverForName(
          name, nullptr, nullptr, [this](const foundation::Notification& n) { log.push_back(n.name); }));
  }
  void TearDown() override {
    for (auto& t : tokens) foundation::NotificationCenter::defaultCenter().removeObserver(t);
    Takeover::TearDown();
  }
};

TEST_F(FullScreen, PresentingFromNothingOnlyLogs) {
  std::vector<std::string> lines;
  auto previous = foundation::setLogSink([&](const std::string& line) { lines.push_back(line); });
  auto vc = QMAViewController::init();
  bool called = false;
  vc->presentFromViewControllerCompletion(nullptr, [&] { called = true; });
  QMALogQueue()->sync([] {});
  foundation::setLogSink(previous);
  EXPECT_FALSE(called);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(vc->presenter());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("<Quillon> No UIViewController supplied to the ad. Cannot continue."), std::string::npos);
}

TEST_F(FullScreen, TheTakeoverIsAnnouncedBeforeThePresenterIsAskedAndTheReturnBeforeTheDismissalEnds) {
  auto vc = QMAViewController::init();
  vc->setSlot(slot);
  vc->setPresenter(std::make_shared<FakePresenter>(&log));
  int dismissals = 0;
  vc->setDismissalCompletion([&] { ++dismissals; });
  vc->presentFromViewControllerCompletion(std::make_shared<uikit::ViewController>(), [&] {
    log.push_back(std::string("shown, interaction ") + (vc->view()->isUserInteractionEnabled() ? "on" : "off"));
  });
  EXPECT_EQ(log, (std::vector<std::string>{kQMAAdModalViewControllerWillPresentFullScreen, "presenter presents",
                                           "shown, interaction on"}));
  EXPECT_TRUE(vc->isHoldingItself());
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  EXPECT_EQ(slot->intermission(), vc->intermission());

  log.clear();
  std::weak_ptr<QMAViewController> weak = vc;
  vc->relinquishScreenWithCompletion([&] { log.push_back("caller's callback"); });
  vc.reset();  // the pending dismissal keeps it
  EXPECT_EQ(log, (std::vector<std::string>{"presenter dismisses", kQMAAdModalViewControllerDidDismissFullScreen}));
  auto presenter = std::static_pointer_cast<FakePresenter>(weak.lock()->presenter());
  auto finish = std::move(presenter->pendingDismissal);
  presenter.reset();
  finish();
  EXPECT_EQ(log.back(), "caller's callback");
  EXPECT_EQ(dismissals, 1);
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  finish = nullptr;
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(dismissals, 1);  // not again at teardown
}

TEST_F(FullScreen, AControllerTornDownBeforeItsDismissalFinishedStillRunsItsDismissalCallback) {
  int dismissals = 0;
  {
    auto vc = QMAViewController::init();
    vc->setDismissalCompletion([&] { ++dismissals; });
  }
  EXPECT_EQ(dismissals, 1);
}

TEST_F(FullScreen, TheModalPresenterShowsTheControllerOverTheHostAndHidesTheStatusBar) {
  auto window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 375, 667});
  auto root = std::make_shared<uikit::ViewController>();
  window->setRootViewController(root);
  window->makeKeyAndVisible();
  auto vc = QMAViewController::init();
  vc->setSlot(slot);
  vc->presentFromViewControllerCompletion(root, nullptr);
  ASSERT_TRUE(std::dynamic_pointer_cast<QMAModalOverlayPresenter>(vc->presenter()));
  EXPECT_EQ(vc->presenter()->presentedViewController(), vc);
  EXPECT_EQ(root->presentedViewController(), vc);
  EXPECT_TRUE(app->isStatusBarHidden());
  app->setStatusBarHidden(false);
  foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationWillEnterForegroundNotification,
                                                                       app);
  drainMain();  // back in the foreground: the status bar is hidden again, and the ad leaves
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(app->isStatusBarHidden());  // put back as the host had it when the ad came
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  window->setHidden(true);
}

// A key window with a host controller, hidden again at the end.
struct OnScreen : FullScreen {
  std::shared_ptr<uikit::Window> window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  void SetUp() override {
    FullScreen::SetUp();
    QMAOpener::install();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window->setHidden(true);
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    FullScreen::TearDown();
  }
  std::shared_ptr<QMAViewController> adController() {
    auto vc = QMAViewController::init();
    vc->setSlot(slot);
    return vc;
  }
};

TEST_F(OnScreen, ABrowserOnTopOfAnInterstitialJoinsItsTakeoverWhichEndsOnlyWhenBothLeft) {
  auto interstitial = adController(), browser = adController();
  interstitial->presentFromViewControllerCompletion(root, nullptr);
  browser->presentFromViewControllerCompletion(interstitial, nullptr);
  EXPECT_EQ(root->presentedViewController(), interstitial);
  EXPECT_EQ(interstitial->presentedViewController(), browser);
  EXPECT_EQ(browser->intermission(), interstitial->intermission());
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  bool closed = false;
  browser->relinquishScreenWithCompletion([&] { closed = true; });
  EXPECT_TRUE(closed);
  EXPECT_FALSE(interstitial->presentedViewController());
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  interstitial->relinquishScreenWithCompletion(nullptr);
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  EXPECT_FALSE(root->presentedViewController());
}

// Whichever participant asks (the ad's close button under a browser, the browser's page
// closing its ad), the whole takeover ends: nothing is left presented, the host hears one
// end, and a presentation ended on its way in never reports its arrival.
TEST_F(OnScreen, EndingTheTakeoverFromAnyParticipantTakesDownTheWholeStackOnce) {
  for (const bool fromTop : {false, true}) {
    SCOPED_TRACE(fromTop ? "from the top" : "from the bottom");
    slot->heard.clear();
    auto interstitial = adController(), browser = adController();
    interstitial->presentFromViewControllerCompletion(root, nullptr);
    bool arrived = false;
    browser->presentFromViewControllerCompletion(interstitial, [&] { arrived = true; });
    (fromTop ? browser : interstitial)->endTakeover();
    drainMain();
    EXPECT_FALSE(arrived) << "a controller taken down on its way in reported its arrival";
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_FALSE(interstitial->isHoldingItself());
    EXPECT_FALSE(browser->isHoldingItself());
    EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  }
}

// A takeover that forced an orientation gives the interface back when it ends: where it was
// while the device stood still, where the device points when it turned meanwhile.
TEST_F(OnScreen, AnOrientationTheTakeoverForcedEndsWithIt) {
  auto device = uikit::Device::currentDevice();
  struct Case {
    uikit::DeviceOrientation turnedTo;  // during the takeover
    long interfaceAfter;
  };
  for (const Case& c : {Case{uikit::DeviceOrientation::Portrait, 1}, Case{uikit::DeviceOrientation::LandscapeLeft, 3}}) {
    SCOPED_TRACE(static_cast<long>(c.turnedTo));
    device->setOrientation(uikit::DeviceOrientation::Portrait);
    app->setStatusBarOrientation(1);
    auto vc = adController();
    vc->setCreativeSupportedInterfaceOrientations(24);  // landscape only
    vc->presentFromViewControllerCompletion(root, nullptr);
    EXPECT_EQ(app->statusBarOrientation(), 4);
    device->setOrientation(c.turnedTo);
    vc->endTakeover();
    drainMain();
    EXPECT_EQ(app->statusBarOrientation(), c.interfaceAfter);
  }
  device->setOrientation(uikit::DeviceOrientation::Portrait);
  app->setStatusBarOrientation(1);
}

TEST_F(OnScreen, AControllerThePlatformPresentsAndDismissesStillJoinsAndLeavesTheTakeover) {
  auto vc = adController();
  ASSERT_TRUE(root->presentViewController(vc, true, nullptr));
  EXPECT_TRUE(vc->intermission());
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  bool dismissed = false;
  ASSERT_TRUE(root->dismissViewControllerAnimated(true, [&] { dismissed = true; }));
  EXPECT_TRUE(dismissed);
  EXPECT_FALSE(vc->intermission());
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

TEST_F(OnScreen, ADismissalWithoutAPresenterIsThePlatformsOwnAndRunsItsCompletion) {
  auto vc = QMAViewController::init();
  ASSERT_TRUE(root->presentViewController(vc, false, nullptr));
  ASSERT_FALSE(vc->presenter());
  bool ran = false;
  EXPECT_TRUE(vc->dismissViewControllerAnimated(true, [&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(root->presentedViewController());
}

TEST_F(OnScreen, APresentationThePlatformWouldRefuseAnnouncesNothing) {
  ASSERT_TRUE(root->presentViewController(std::make_shared<uikit::ViewController>(), false, nullptr));
  auto vc = adController();
  EXPECT_THROW(vc->presentFromViewControllerCompletion(root, nullptr), QMAPresentationRefused);
  EXPECT_TRUE(log.empty());  // no will-present notification
  EXPECT_TRUE(slot->heard.empty());
  EXPECT_FALSE(vc->isHoldingItself());
  EXPECT_FALSE(app->isIdleTimerDisabled());
}

TEST_F(OnScreen, TheModalPresenterLeavesTheStatusBarAloneForAPresentationThatIsNotFullScreen) {
  auto vc = adController();
  vc->setModalPresentationStyle(2);
  vc->presentFromViewControllerCompletion(root, nullptr);
  EXPECT_FALSE(app->isStatusBarHidden());
  EXPECT_FALSE(vc->intermission()->statusBarOverridden());
  vc->relinquishScreenWithCompletion(nullptr);
}

TEST_F(OnScreen, AnOverlayProxyTakesPartForASystemControllerAndNeverWithoutOneToPresentFrom) {
  auto system = std::make_shared<uikit::ViewController>();
  auto proxy = QMAOverlayProxy::initWithViewController(system);
  ASSERT_TRUE(proxy);
  EXPECT_FALSE(QMAOverlayProxy::initWithViewController(system));
  EXPECT_EQ(QMAOverlayProxy::overlayProxyForViewController(system), proxy);
  EXPECT_FALSE(proxy->shouldDismissOnApplicationEnteringForeground());
  proxy->setSlot(slot);
  int shown = 0;
  proxy->presentFromViewControllerCompletion(nullptr, [&] { ++shown; });
  EXPECT_TRUE(slot->heard.empty());
  EXPECT_FALSE(proxy->intermission());
  proxy->presentFromViewControllerCompletion(root, [&] { ++shown; });
  proxy->presentFromViewControllerCompletion(root, [&] { ++shown; });  // on screen already: nothing
  EXPECT_EQ(shown, 0) << "once the transition has ended";
  drainMain();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(root->presentedViewController(), system);
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});
  std::vector<std::string> order;
  proxy->relinquishScreenWithCompletion([&] { order.push_back("callback, " + std::to_string(slot->heard.size())); });
  EXPECT_EQ(order, std::vector<std::string>{"callback, 2"});  // the callback runs before the end is told
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  EXPECT_FALSE(proxy->intermission());
  // The proxy lives as long as its controller.
  std::weak_ptr<QMAOverlayProxy> weak = proxy;
  proxy.reset();
  EXPECT_FALSE(weak.expired());
  system.reset();
  EXPECT_TRUE(weak.expired());
}

TEST_F(OnScreen, TheTransparentPresenterSlidesTheAdOverTheWindowAndFadesItOutWhenTheBannerLeaves) {
  auto vc = adController();
  auto presenter = QMATransparentOverlayPresenter::init();
  vc->setPresenter(presenter);
  bool shown = false;
  vc->presentFromViewControllerCompletion(root, [&] { shown = true; });
  EXPECT_EQ(presenter->pivotView()->superview(), window);
  EXPECT_EQ(vc->view()->superview(), presenter->cropView());
  EXPECT_EQ(presenter->presentationViewController(), root);
  EXPECT_EQ(presenter->pivotRotation(), 0);
  const double h = QMAApplicationFrame(uikit::Screen::mainScreen()).height();
  EXPECT_EQ(presenter->slideInOffset().y, h);
  EXPECT_FALSE(shown);
  foundation::Clock::advance(0.39);
  drainMain();
  EXPECT_FALSE(shown);
  foundation::Clock::advance(0.02);
  drainMain();
  EXPECT_TRUE(shown);
  EXPECT_TRUE(presenter->isObservingPlacement());
  EXPECT_EQ(slot->heard, std::vector<std::string>{"willPresent"});

  // Touches beside a smaller ad reach the host below.
  vc->view()->setFrame({0, 0, 50, 50});
  auto hit = window->hitTest({200, 300});
  EXPECT_NE(hit, presenter->pivotView());
  EXPECT_NE(hit, presenter->cropView());

  foundation::NotificationCenter::defaultCenter().postNotificationName(kQMASlotDidLeaveWindowNotificationName,
                                                                       std::static_pointer_cast<void>(slot));
  drainMain();
  EXPECT_FALSE(presenter->isObservingPlacement());
  EXPECT_EQ(vc->view()->alpha(), 0);
  foundation::Clock::advance(0.21);
  drainMain();
  EXPECT_FALSE(presenter->pivotView()->superview());
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

TEST_F(OnScreen, TheBrowserSitsAboveItsToolbarWhoseItemsFollowTheLoad) {
  auto browser = QMABrowserViewController::init();
  browser->setSlot(slot);
  browser->load(net::URL::fromString("about:blank"));
  EXPECT_TRUE(browser->URLToLoad());
  browser->presentFromViewControllerCompletion(root, nullptr);
  ASSERT_TRUE(browser->adView());
  EXPECT_FALSE(browser->URLToLoad());
  EXPECT_EQ(browser->adView()->frame(), (uikit::Rect{0, 0, 320, 437}));
  EXPECT_EQ(browser->toolbar()->frame(), (uikit::Rect{0, 437, 320, 44}));
  EXPECT_EQ(browser->adView()->browserViewController(), browser);
  browser->adView()->setViewController(root);  // another kind of controller is ignored
  EXPECT_EQ(browser->adView()->browserViewController(), browser);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !browser->adView()->isLoading(); }));
  browser->refreshToolbar();
  const auto& items = browser->toolbar()->items();
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items[0], browser->backButton());
  EXPECT_EQ(items[2], browser->forwardButton());
  EXPECT_EQ(items[4], browser->reloadButton());
  EXPECT_EQ(items[6], browser->safariButton());
  EXPECT_EQ(items[8], browser->doneButton());
  for (int i : {1, 3, 5, 7}) EXPECT_EQ(items[i], browser->flexibleSpaceButton());
  EXPECT_FALSE(browser->backButton()->isEnabled());
  EXPECT_FALSE(browser->forwardButton()->isEnabled());
  EXPECT_TRUE(browser->safariButton()->isEnabled());
  EXPECT_FALSE(browser->spinner()->isAnimating());
  EXPECT_EQ(browser->backButton()->accessibilityLabel(), "Back");
  EXPECT_EQ(browser->safariButton()->accessibilityLabel(), "View in Safari");
  ASSERT_TRUE(browser->toolbar()->itemWithLabel("Done")->tap());
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(slot->heard, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

TEST_F(OnScreen, InLandscapeOnAPhoneTheBrowsersToolbarIsThirtyPointsHigh) {
  auto screen = system_facts::screen();
  screen.orientation = system_facts::InterfaceOrientation::LandscapeLeft;
  system_facts::setScreen(screen);
  auto browser = QMABrowserViewController::init();
  browser->presentFromViewControllerCompletion(root, nullptr);
  ASSERT_TRUE(browser->toolbar());
  EXPECT_EQ(browser->toolbar()->frame().height(), 30);
  browser->relinquishScreenWithCompletion(nullptr);
}

TEST(UnclickableView, TouchesOnItsEmptyPartsGoThrough) {
  auto below = std::make_shared<uikit::View>(uikit::Rect{0, 0, 100, 100});
  auto unclickable = std::make_shared<QMAUnclickableView>(uikit::Rect{0, 0, 100, 100});
  auto button = std::make_shared<uikit::View>(uikit::Rect{10, 10, 20, 20});
  below->addSubview(unclickable);
  unclickable->addSubview(button);
  EXPECT_EQ(below->hitTest({15, 15}), button);
  EXPECT_EQ(below->hitTest({80, 80}), below);
}

TEST_F(OnScreen, TheBrowserSendsTheReferringHostAloneCountsLandingPagesAndOpensThePageOutside) {
  adserver::AdServer server;
  ASSERT_TRUE(server.start());
  auto browser = QMABrowserViewController::init();
  browser->setSlot(slot);
  browser->loadReferringURL(net::URL::fromString(server.baseURL() + "/landing"),
                            net::URL::fromString("https://ads.example:8443/creative/page?x=1#top"));
  browser->presentFromViewControllerCompletion(root, nullptr);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !server.requestsForPath("/landing").empty(); }));
  const auto request = server.requestsForPath("/landing").front();
  ASSERT_TRUE(request.headers.count("referer"));
  EXPECT_EQ(request.headers.at("referer"), "ads.example");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !browser->adView()->isLoading(); }));
  auto stats = slot->ad()->statistics();
  EXPECT_FALSE(stats->objectForKey("tlanding_page_load_start").isNull());
  EXPECT_FALSE(stats->objectForKey("tlanding_page_load_end").isNull());

  auto& delegate = *browser->adViewDelegate();
  for (const char* link : {"http://a.example/", "https://b.example/", "https://c.example/", "ftp://d.example/"})
    delegate.adViewShouldStartLoadWithRequestNavigationType(*browser->adView(), net::URLRequest(*net::URL::fromString(link)),
                                                          webkit::NavigationType::LinkClicked);
  delegate.adViewShouldStartLoadWithRequestNavigationType(
      *browser->adView(), net::URLRequest(*net::URL::fromString("http://e.example/")), webkit::NavigationType::Other);
  EXPECT_EQ(stats->objectForKey("plpnc"), foundation::Value(1));
  EXPECT_EQ(stats->objectForKey("plpsnc"), foundation::Value(2));

  drainMain();  // the ftp link left for another application
  EXPECT_EQ(app->openedURLs().back(), "ftp://d.example/");
  const auto openedBefore = app->openedURLs().size();
  browser->openInSafari();
  drainMain();
  EXPECT_EQ(stats->objectForKey("pcbo"), foundation::Value(true));
  ASSERT_EQ(app->openedURLs().size(), openedBefore + 1);
  EXPECT_EQ(app->openedURLs().back().rfind(server.baseURL(), 0), 0u);
  browser->relinquishScreenWithCompletion(nullptr);
  server.stop();
}

TEST_F(OnScreen, TheCloseButtonFollowsCustomCloseAndTheMRAIDClosePosition) {
  struct Case {
    bool mraid, customClose;
    std::int64_t position;
    bool shown, transparent;
    uikit::Rect frame;
  };
  const Case cases[] = {
      {false, false, 0, true, false, {0, 0, 32, 32}},
      {false, true, 0, false, false, {0, 0, 32, 32}},
      {true, false, 3, true, false, {135, 215, 50, 50}},
      {true, true, 0, true, true, {270, 0, 50, 50}},
      {true, true, 6, true, true, {0, 430, 50, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mraid) + std::to_string(c.customClose) + std::to_string(c.position));
    slot->mraid = c.mraid;
    auto vc = QMASupplementalAdAppViewController::init();
    vc->setSlot(slot);
    vc->setCustomClosePosition(c.position);
    vc->setUseCustomClose(c.customClose);
    vc->loadHTMLBaseURL("<body>app</body>", std::nullopt);
    vc->presentFromViewControllerCompletion(root, nullptr);
    drainMain();  // on screen: the controller takes touches
    const auto& button = vc->closeButton();
    EXPECT_EQ(button->superview() == vc->view(), c.shown);
    EXPECT_EQ(button->accessibilityLabel(), "Close Advertisement");
    if (c.shown) {
      EXPECT_EQ(button->frame(), c.frame);
      auto& images = QMAIntrinsicImages::sharedInstance();
      EXPECT_EQ(button->image(), c.transparent ? images.transparentImage() : images.closeButton());
    }
    if (c.shown) {
      ASSERT_TRUE(button->userTap());
    } else {
      vc->relinquishScreenWithCompletion(nullptr);
    }
    EXPECT_FALSE(root->presentedViewController());
  }
  slot->mraid = false;
}

TEST_F(Takeover, AnInterstitialsControllerNamesItsAnalyticsScreenWithTheSwitchOnAndTheLibraryThere) {
  // The optional analytics library: screen views that take a name, and its category on the
  // platform's controllers that answers each controller's screen view.
  std::vector<std::string> named;
  std::vector<std::shared_ptr<uikit::ViewController>> asked;
  auto info = runtime::Class::make("WJQScreenViewInfo");
  info->addMethod<std::string()>("screenName", [](const runtime::Id&) { return std::string(); });
  info->addMethod<void(std::string)>("setScreenName:", [&](const runtime::Id&, std::string name) { named.push_back(name); });
  auto screenView = std::make_shared<runtime::Object>(info);
  auto category = [&](const runtime::Id& self) -> runtime::Id {
    auto controller = std::dynamic_pointer_cast<uikit::ViewControllerObject>(self);
    asked.push_back(controller ? controller->controller() : nullptr);
    return screenView;
  };
  uikit::ViewController::runtimeClass()->addMethod<runtime::Id()>("wjq_screenView", category);
  auto& settings = QMAAdSettingsParameters::sharedInstance();
  auto forget = [] { QMAAdSettingsParameters::forgetLibraryLookups(); };
  forget();

  struct Case {
    const char* name;
    bool switchOn, screenViewClass;
    bool namesIt;
  };
  const Case cases[] = {
      {"switch off", false, true, false},
      {"no screen-view class", true, false, false},
      {"switch on, library there", true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    named.clear();
    asked.clear();
    settings.setSettingsServiceEnabled(c.switchOn);
    if (c.screenViewClass) runtime::objc_registerClassPair(info);
    auto vc = QMAInterstitialViewController::initWithSlot(slot);
    ASSERT_TRUE(vc);
    EXPECT_EQ(named, c.namesIt ? std::vector<std::string>{"Interstitial Ad"} : std::vector<std::string>{});
    if (c.namesIt) {
      EXPECT_EQ(asked, std::vector<std::shared_ptr<uikit::ViewController>>{vc});
    }
    runtime::objc_disposeClassPair("WJQScreenViewInfo");
    forget();
  }
  // A controller class without the category: nothing is asked, nothing breaks.
  runtime::objc_disposeClassPair("UIViewController");
  settings.setSettingsServiceEnabled(true);
  runtime::objc_registerClassPair(info);
  named.clear();
  EXPECT_TRUE(QMAInterstitialViewController::initWithSlot(slot));
  EXPECT_TRUE(named.empty());
  runtime::objc_disposeClassPair("WJQScreenViewInfo");
  runtime::objc_disposeClassPair("UIViewController");
  settings.setSettingsServiceEnabled(false);
  forget();
}

TEST(IntrinsicImages, ArtworkOfItsNominalSizeAtTheScreensDensityAndAnInvisibleCloseImage) {
  dispatch::RunLoop::main();
  auto& images = QMAIntrinsicImages::sharedInstance();
  for (const auto& image : {images.browserBackButton(), images.browserForwardButton()}) {
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->pixelWidth() == 27 || image->pixelWidth() == 54);
    EXPECT_EQ(image->pixelWidth(), image->pixelHeight());
    EXPECT_GT(image->scale(), 0);
  }
  ASSERT_TRUE(images.closeButton());
  EXPECT_TRUE(images.closeButton()->pixelWidth() == 25 || images.closeButton()->pixelWidth() == 50);
  EXPECT_EQ(images.closeButton(), images.closeButton());  // made once
  auto clear = images.transparentImage();
  ASSERT_TRUE(clear);
  EXPECT_DOUBLE_EQ(clear->size().width, 10);
  for (auto byte : clear->rgba()) EXPECT_EQ(byte, 0);
  EXPECT_FALSE(QMAIntrinsicImages::imageWithBase64EncodedString("not base64!"));
}

const char* kEventReceiver =
    "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) {"
    " got.push(n + ' ' + (m.state || m.visible || m.js || '')); }</script></body>";

TEST_F(OnScreen, ASupplementalWebAppTellsItselfAndTheBannerOfItsStates) {
  slot->banner = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
  bool loaded = false;
  struct Loaded : QMAAdViewDelegateProtocol {
    bool* f;
    void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
  };
  auto watcher = std::make_shared<Loaded>();
  watcher->f = &loaded;
  slot->banner->setDelegate(watcher);
  slot->banner->loadHTMLStringBaseURL(kEventReceiver, net::URL::fromString("https://ads.example/banner"));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return loaded; }));
  auto banner = [&](const std::string& js) { return slot->banner->stringByEvaluatingJavaScriptFromString(js); };

  auto app = QMASupplementalAdAppViewController::init();
  app->setSlot(slot);
  app->loadHTMLBaseURL(kEventReceiver, net::URL::fromString("https://ads.example/app"));
  app->presentFromViewControllerCompletion(root, nullptr);
  auto own = [&](const std::string& js) { return app->adView()->stringByEvaluatingJavaScriptFromString(js); };
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return own("got.length") == "3" && banner("got.length") == "1"; }));
  EXPECT_EQ(own("got.join('|')"), "onAdVisibilityChanged 1|onReadyEventReceived qvra-sdk-i-v7.4.1|onStateChanged expanded");
  EXPECT_EQ(banner("got[0]"), "onStateChanged expanded");
  app->relinquishScreenWithCompletion(nullptr);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return banner("got.length") == "2"; }));
  EXPECT_EQ(banner("got[1]"), "onStateChanged default");
  qma_test::pumpMainLoop([&] { return own("got.length") == "4"; });
  EXPECT_EQ(own("got[3]"), "onAdVisibilityChanged 0");
  slot->banner.reset();
}

TEST_F(OnScreen, TheTransparentOverlayFollowsTheInterfaceAsItTurns) {
  auto vc = adController();
  auto presenter = QMATransparentOverlayPresenter::init();
  vc->setPresenter(presenter);
  vc->presentFromViewControllerCompletion(root, nullptr);
  const auto portraitCrop = presenter->cropView()->frame();
  auto screen = system_facts::screen();
  screen.orientation = system_facts::InterfaceOrientation::LandscapeLeft;
  system_facts::setScreen(screen);
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification, app);
  drainMain();
  // The application frame turned with the interface (the status bar stays on top).
  EXPECT_GT(presenter->cropView()->frame().width(), presenter->cropView()->frame().height());
  EXPECT_LT(portraitCrop.width(), portraitCrop.height());
  EXPECT_EQ(presenter->pivotRotation(), 0);  // the system turns the window itself from 8.0 on
  vc->relinquishScreenWithCompletion(nullptr);
  foundation::Clock::advance(1);
  drainMain();
  EXPECT_FALSE(presenter->pivotView()->superview());
  EXPECT_FALSE(presenter->isObservingOrientation());
}

TEST(AdAppScreen, ACreativesBackgroundChoiceGivesTheTransparentPresenterOrTheDefaultOne) {
  dispatch::RunLoop::main();
  auto vc = QMAAdAppViewController::init();
  QMAAdAppScreen& screen = *vc;
  screen.setTransparentBackgroundPresentation(true);
  ASSERT_TRUE(std::dynamic_pointer_cast<QMATransparentOverlayPresenter>(vc->presenter()));
  EXPECT_EQ(vc->presenter()->presentedViewController(), vc);
  screen.setTransparentBackgroundPresentation(false);
  EXPECT_FALSE(vc->presenter()) << "the modal presenter is made when the controller is presented";
  screen.setUseCustomClose(true);
  EXPECT_TRUE(vc->useCustomClose());
}

}  // namespace
