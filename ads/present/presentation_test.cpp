// The full-screen takeover: the intermission's bookkeeping of participants, what it changes
// of the application for the time and puts back, the return to the foreground, and the
// full-screen view controller's presentation and relinquishment.
#include <gtest/gtest.h>

#include "ads/present/intermission.h"
#include "ads/present/view_controller.h"
#include "ads/services/logging.h"
#include "ads/services/test_support.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

struct TakeoverSlot : QMAPresentationSlot {
  std::vector<std::string> heard;
  std::weak_ptr<QMAIntermission> held;
  std::shared_ptr<QMAAd> none;
  std::int64_t state() const override { return 6; }
  std::uint64_t timeLastLoaded() const override { return 0; }
  std::shared_ptr<QMAAdType> adType() const override { return nullptr; }
  std::shared_ptr<QMARequest> request() const override { return nullptr; }
  std::shared_ptr<QMAAdView> adView() const override { return nullptr; }
  bool isMRAIDEnabled() const override { return false; }
  void didReceiveValidAd() override {}
  void didLoadAdHTMLInWebView() override {}
  void didMakeAdImpression() override {}
  void adFinishedLoadingContent() override {}
  void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>&, bool) override {}
  void adWasClicked() override {}
  net::URL gestureClickURLWithURL(const net::URL& url) override { return url; }
  void pingClickURLs() override {}
  void adWillLeaveApplication() override {}
  void willLeaveAppDueToClick() override {}
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

}  // namespace
