// MRAID resize carried out: the properties judged against the screen, the resized ad shown
// over the host where it asked (moved onto the screen when it may not leave it), a resize
// in place, the creative told of every refusal, the way back, and a turn of the interface
// that leaves the ad no room.
#include <gtest/gtest.h>

#include "ads/model/ad.h"
#include "ads/present/ad_app_view_controller.h"
#include "ads/present/mraid_resize_overlay_presenter.h"
#include "ads/present/opener.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/test_support.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

struct ResizeSlot : render_test::StubSlot<QMAPresentationSlot>, QMAMRAIDEventHandling {
  std::vector<std::string> errors;
  int clickPings = 0;
  std::weak_ptr<QMAIntermission> held;
  std::shared_ptr<QMAAd> current = QMAAd::initWithDictionary({});
  std::shared_ptr<QMAAdView> banner;
  std::shared_ptr<QMAAdView> adView() const override { return banner; }
  bool isMRAIDEnabled() const override { return true; }
  void pingClickURLs() override { ++clickPings; }
  std::shared_ptr<QMAIntermission> intermission() const override { return held.lock(); }
  void setIntermission(std::weak_ptr<QMAIntermission> i) override { held = std::move(i); }
  std::vector<std::string> takeover;
  void adWillPresentScreen() override { takeover.push_back("willPresent"); }
  void adWillDismissScreen() override { takeover.push_back("willDismiss"); }
  void adDidDismissScreen() override { takeover.push_back("didDismiss"); }
  void interstitialViewWillAppear() override {}
  void interstitialViewWillDisappear() override {}
  const std::shared_ptr<QMAAd>& ad() const override { return current; }
  std::shared_ptr<QMAInterstitial> interstitial() const override { return nullptr; }
  void MRAIDAdDidLoad() override {}
  void MRAIDAdDidUnload() override {}
  void updateVisibility(bool) override {}
  void updatePositionFromView(const std::shared_ptr<uikit::View>&) override {}
  // As the slot does: the ad view's size reaches its page with each state.
  foundation::Dictionary MRAIDValuesFromView(const std::shared_ptr<uikit::View>& view) override {
    if (!view) return {};
    return {{"currentPosition", foundation::Dictionary{{"width", view->bounds().size.width},
                                                       {"height", view->bounds().size.height}}}};
  }
  void handleErrorAction(const std::string& message, const std::string& action) override {
    errors.push_back(action + ": " + message);
  }
};

foundation::Dictionary properties(double w, double h, double x, double y, const char* close, bool offscreen) {
  auto text = [](double v) {
    std::string s = std::to_string(v);
    return s;
  };
  return {{"width", text(w)},          {"height", text(h)},
          {"offsetX", text(x)},        {"offsetY", text(y)},
          {"customClosePosition", close}, {"allowOffscreen", offscreen ? "true" : "false"}};
}

std::shared_ptr<QMAMRAIDResizeProperties> resize(double w, double h, double x, double y, const char* close,
                                                 bool offscreen) {
  return QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(properties(w, h, x, y, close, offscreen));
}

// The default screen: 375 x 667 points in portrait under a 20-point status bar. The banner
// sits 100 points down the host's window; its ad view fills it.
struct Resize : qma_test::DeviceRootTest {
  std::shared_ptr<ResizeSlot> slot = std::make_shared<ResizeSlot>();
  std::shared_ptr<uikit::Window> window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 375, 667});
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  std::shared_ptr<uikit::View> bannerView = std::make_shared<uikit::View>(uikit::Rect{0, 100, 375, 50});
  std::shared_ptr<QMAOpener> opener;

  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMAOpener::install();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    root->view()->addSubview(bannerView);
    slot->current->setMRAIDEventHandler(std::static_pointer_cast<QMAMRAIDEventHandling>(slot));
    slot->banner = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    bannerView->addSubview(slot->banner);
    bool loaded = false;
    struct Loaded : QMAAdViewDelegateProtocol {
      bool* f;
      void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
    };
    auto watcher = std::make_shared<Loaded>();
    watcher->f = &loaded;
    slot->banner->setDelegate(watcher);
    slot->banner->loadHTMLStringBaseURL(
        "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) {"
        " var p = m.currentPosition; got.push(n + ' ' + (m.state ? m.state + (p ? ' ' + p.width + 'x' + p.height : '')"
        " : (m.width !== undefined ? m.width + 'x' + m.height : ''))); }</script></body>",
        net::URL::fromString("https://ads.example/banner"));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return loaded; }));
    slot->banner->setDelegate({});
    opener = QMAOpener::init();
    opener->setViewController(root);
    opener->setAdView(slot->banner);
    opener->setSlot(std::static_pointer_cast<QMARenderingSlot>(slot));
  }
  void TearDown() override {
    if (auto vc = resized()) vc->relinquishScreenWithCompletion(nullptr);
    settle();
    window->setHidden(true);
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    DeviceRootTest::TearDown();
  }
  // The slide-in and fade-out have run.
  void settle() {
    foundation::Clock::advance(1);
    drainMain();
  }
  std::string heard(std::size_t count) {
    auto eval = [&](const std::string& s) { return slot->banner->stringByEvaluatingJavaScriptFromString(s); };
    const std::string want = std::to_string(count);
    EXPECT_TRUE(qma_test::pumpMainLoop([&] { return eval("got.length") == want; })) << eval("got.join('|')");
    return eval("got.join('|')");
  }
  std::shared_ptr<QMAExpandedAdAppViewController> resized() const {
    return std::dynamic_pointer_cast<QMAExpandedAdAppViewController>(slot->banner->viewController());
  }
  std::shared_ptr<QMAMRAIDResizeOverlayPresenter> presenter() const {
    auto vc = resized();
    return vc ? std::dynamic_pointer_cast<QMAMRAIDResizeOverlayPresenter>(vc->presenter()) : nullptr;
  }
  void turnTo(system_facts::InterfaceOrientation orientation) {
    auto screen = system_facts::screen();
    screen.orientation = orientation;
    system_facts::setScreen(screen);
    foundation::NotificationCenter::defaultCenter().postNotificationName(
        uikit::kUIApplicationDidChangeStatusBarOrientationNotification, uikit::Application::sharedApplication());
    drainMain();
  }
};

TEST_F(Resize, PropertiesAreJudgedAgainstTheScreenWhereTheBannerIs) {
  auto presenter = QMAMRAIDResizeOverlayPresenter::initWithReferenceView(bannerView);
  ASSERT_TRUE(presenter);
  EXPECT_FALSE(QMAMRAIDResizeOverlayPresenter::initWithReferenceView(nullptr));
  // In the banner's coordinates the screen below the status bar is (0, -80, 375, 647).
  struct Case {
    const char* what;
    std::shared_ptr<QMAMRAIDResizeProperties> p;
    bool valid;
  } cases[] = {
      {"in place", resize(320, 50, 0, 0, "top-right", false), true},
      {"10 past the right edge, moved back", resize(320, 50, 65, 0, "top-right", false), true},
      {"past the edge with its close area", resize(320, 50, 65, 0, "top-right", true), false},
      {"off screen with its close area on it", resize(600, 50, -500, 0, "top-right", true), true},
      {"wider than the screen", resize(400, 50, 0, 0, "top-left", false), false},
      {"taller than the screen", resize(320, 700, 0, 0, "top-left", false), false},
      {"above the status bar, moved down", resize(320, 250, 0, -200, "center", false), true},
      {"close area under the status bar", resize(320, 250, 0, -100, "top-left", true), false},
      {"an unknown close position is the top right", resize(320, 50, 65, 0, "middle", true), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.p);
    EXPECT_EQ(presenter->resizePropertiesAreValidRelativeToView(*c.p, bannerView), c.valid);
    EXPECT_EQ(presenter->setResizeProperties(c.p), c.valid);
  }
  EXPECT_TRUE(slot->errors.empty()) << "no handler, no report";
  presenter->setMRAIDEventHandler(std::static_pointer_cast<QMAMRAIDEventHandling>(slot));
  auto kept = presenter->resizeProperties();
  EXPECT_FALSE(presenter->setResizeProperties(resize(400, 50, 0, 0, "top-left", false)));
  EXPECT_FALSE(presenter->setResizeProperties(nullptr));
  EXPECT_EQ(presenter->resizeProperties(), kept) << "a refused set changes nothing";
  EXPECT_EQ(slot->errors,
            (std::vector<std::string>{"setResizeProperties: Received invalid resize properties {width: 400, height: 50, "
                                      "offsetX: 0, offsetY: 0, customClosePosition: top-left, allowOffscreen: false}",
                                      "setResizeProperties: Received invalid resize properties (null)"}));
  auto fresh = QMAMRAIDResizeOverlayPresenter::initWithReferenceView(bannerView);
  EXPECT_FALSE(fresh->isReadyToPresent()) << "without properties, and without a word";
  EXPECT_TRUE(fresh->dismissToDefaultState());
}

TEST_F(Resize, TheAdGrowsOverTheHostMovesInPlaceAndGoesBackToItsDefaultState) {
  opener->openWebAppWithResizeProperties(resize(320, 250, 65, 0, "bottom-left", false));
  auto vc = resized();
  ASSERT_TRUE(vc);
  ASSERT_TRUE(presenter());
  EXPECT_EQ(presenter()->referenceView(), bannerView);
  EXPECT_EQ(vc->supportedInterfaceOrientations(), kQMAInterfaceOrientationMaskAll);
  EXPECT_TRUE(vc->useCustomClose());
  // Moved 10 points back onto the screen; the crop view starts under the status bar.
  EXPECT_EQ(vc->view()->frame(), (uikit::Rect{55, 80, 320, 250}));
  EXPECT_EQ(vc->view()->autoresizingMask(), uikit::ViewAutoresizingNone);
  EXPECT_EQ(vc->view()->convertRectToView(vc->view()->bounds(), nullptr), (uikit::Rect{55, 100, 320, 250}));
  EXPECT_EQ(slot->banner->superview(), vc->view());
  EXPECT_EQ(vc->closeButton()->frame(), (uikit::Rect{0, 200, 50, 50}));
  EXPECT_EQ(slot->clickPings, 0) << "the click counts once the ad is shown";
  settle();
  EXPECT_EQ(slot->clickPings, 1);
  // The state comes after the ad view's new size.
  EXPECT_EQ(heard(2), "onStateChanged resized 320x250|onSizeChanged 320x250");

  // Resized again from inside: in place, no new click.
  auto inside = QMAOpener::init();
  inside->setViewController(vc);
  inside->setAdView(slot->banner);
  inside->setSlot(std::static_pointer_cast<QMARenderingSlot>(slot));
  inside->openWebAppWithResizeProperties(resize(200, 100, 10, -40, "top-center", false));
  EXPECT_EQ(resized(), vc);
  EXPECT_EQ(vc->view()->frame(), (uikit::Rect{10, 40, 200, 100}));
  // The ad view and its page take the new size, narrower than the banner they came from.
  EXPECT_EQ(slot->banner->frame(), (uikit::Rect{0, 0, 200, 100}));
  auto pageSize = [&] { return slot->banner->stringByEvaluatingJavaScriptFromString("innerWidth + 'x' + innerHeight"); };
  EXPECT_TRUE(qma_test::pumpMainLoop([&] { return pageSize() == "200x100"; })) << pageSize();
  EXPECT_EQ(vc->customClosePosition(), QMAMRAIDCustomClosePositionTopCenter);
  EXPECT_EQ(heard(4), "onStateChanged resized 320x250|onSizeChanged 320x250|onStateChanged resized 200x100|"
                      "onSizeChanged 200x100");
  // Refused in place: the creative hears why, and nothing moves or reports a resize.
  inside->openWebAppWithResizeProperties(resize(5000, 5000, 0, 0, "top-right", false));
  inside->openWebAppWithResizeProperties(nullptr);
  EXPECT_EQ(vc->view()->frame(), (uikit::Rect{10, 40, 200, 100}));
  ASSERT_EQ(slot->errors.size(), 2u);
  EXPECT_EQ(slot->errors[0].substr(0, 57), "setResizeProperties: Received invalid resize properties {");
  EXPECT_EQ(slot->errors[1], "resize: Received invalid resize properties (null)");
  settle();
  EXPECT_EQ(slot->clickPings, 1);

  // Closed: the live ad view goes back into the banner, which is in its default state.
  vc->closeButtonPressed();
  settle();
  EXPECT_EQ(slot->banner->superview(), bannerView);
  const std::string all = heard(5);
  EXPECT_EQ(all.substr(all.rfind("onStateChanged")), "onStateChanged default 320x50");
}

TEST_F(Resize, ARefusedFirstResizeIsHeardAndShowsNothing) {
  struct Case {
    const char* what;
    std::shared_ptr<QMAMRAIDResizeProperties> p;
    bool touched, gate;
    const char* error;
  } cases[] = {
      {"too large for the screen", resize(5000, 5000, 0, 0, "top-right", false), false, false,
       "setResizeProperties: Received invalid resize properties {width: 5000, height: 5000, offsetX: 0, offsetY: 0, "
       "customClosePosition: top-right, allowOffscreen: false}"},
      {"its close area off screen", resize(320, 50, 65, 0, "top-right", true), false, false,
       "setResizeProperties: Received invalid resize properties {width: 320, height: 50, offsetX: 65, offsetY: 0, "
       "customClosePosition: top-right, allowOffscreen: true}"},
      {"no properties", nullptr, false, false, "resize: Received invalid resize properties (null)"},
      {"before the user touched the ad", resize(320, 50, 0, 0, "top-right", false), false, true,
       "resize: Resizing an ad is not allowed until the user interacts with the ad."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    slot->errors.clear();
    opener->setAutoClickProtected(c.gate);
    slot->banner->setTouched(c.touched);
    opener->openWebAppWithResizeProperties(c.p);
    settle();
    EXPECT_EQ(slot->errors, std::vector<std::string>{c.error});
    EXPECT_FALSE(resized());
    EXPECT_EQ(slot->banner->superview(), bannerView);
    EXPECT_EQ(slot->clickPings, 0);
  }
  // With the user's touch the gate opens.
  slot->errors.clear();
  slot->banner->setTouched(true);
  opener->openWebAppWithResizeProperties(resize(320, 50, 0, 0, "top-right", false));
  EXPECT_TRUE(resized());
  EXPECT_TRUE(slot->errors.empty());
}

TEST_F(Resize, ATurnThatLeavesTheAdNoRoomClosesItAfterTellingTheCreative) {
  opener->openWebAppWithResizeProperties(resize(300, 500, 0, -80, "top-right", false));
  ASSERT_TRUE(resized());
  settle();
  // A turn that keeps it fitting moves nothing and reports nothing.
  turnTo(system_facts::InterfaceOrientation::PortraitUpsideDown);
  settle();
  EXPECT_TRUE(slot->errors.empty());
  EXPECT_TRUE(resized());
  // In landscape 500 points no longer fit under the status bar.
  turnTo(system_facts::InterfaceOrientation::LandscapeLeft);
  foundation::Clock::advance(QMAMRAIDResizeOverlayPresenter::kRepositionCheckDelay + 0.01);
  drainMain();
  drainMain();
  EXPECT_EQ(slot->errors, std::vector<std::string>{"resize: Resize properties became invalid after device rotation."});
  settle();
  EXPECT_FALSE(resized());
  EXPECT_EQ(slot->banner->superview(), bannerView);
}

TEST_F(Resize, AnAdThatExpandsOrOpensMoreWhileResizedNoLongerFallsBackToDefault) {
  opener->openWebAppWithResizeProperties(resize(320, 250, 0, 0, "top-right", false));
  auto vc = resized();
  ASSERT_TRUE(vc);
  settle();
  auto inside = QMAOpener::init();
  inside->setViewController(vc);
  inside->setAdView(slot->banner);
  inside->setSlot(std::static_pointer_cast<QMARenderingSlot>(slot));
  auto p = presenter();
  inside->disableAutoCollapseForResize();
  EXPECT_FALSE(p->dismissToDefaultState());
  vc->closeButtonPressed();
  settle();
  EXPECT_EQ(heard(2), "onStateChanged resized 320x250|onSizeChanged 320x250") << "no \"default\" after all";
}

// Expanded from its resized state, the ad is one takeover: closing the expanded ad ends the
// resize beneath it too. The live ad view is back in its banner in its default state, the
// host hears the end once, the status bar is back, and nothing is left over the banner.
TEST_F(Resize, AnAdExpandedFromItsResizedStateClosesBackIntoItsBanner) {
  auto app = uikit::Application::sharedApplication();
  const bool statusBarHidden = app->isStatusBarHidden();
  const auto bannerController = slot->banner->viewController();
  opener->openWebAppWithResizeProperties(resize(320, 250, 0, 0, "top-right", false));
  auto vc = resized();
  ASSERT_TRUE(vc);
  settle();
  EXPECT_TRUE(vc->renderedBanner()->isHidden()) << "in place, the live ad shows itself";
  auto inside = QMAOpener::init();
  inside->setViewController(vc);
  inside->setAdView(slot->banner);
  inside->setSlot(std::static_pointer_cast<QMARenderingSlot>(slot));
  inside->expandToWebAppWithSupportedOrientationsUsingCustomClose(kQMAInterfaceOrientationMaskAll, false);
  auto expanded = std::dynamic_pointer_cast<QMAExpandedAdAppViewController>(root->presentedViewController());
  ASSERT_TRUE(expanded);
  EXPECT_EQ(expanded->resizedViewController(), vc);
  EXPECT_EQ(slot->banner->superview(), expanded->view());
  EXPECT_TRUE(app->isStatusBarHidden());
  // "expanding" first, then the full-screen size, then the state.
  std::string all = heard(4);
  EXPECT_EQ(all.substr(all.find("expanding")), "expanding |onStateChanged expanded 375x667");

  expanded->closeButtonPressed();
  settle();
  EXPECT_EQ(slot->banner->superview(), bannerView);
  EXPECT_EQ(slot->banner->frame(), (uikit::Rect{0, 0, 320, 50}));
  EXPECT_EQ(slot->banner->viewController(), bannerController);
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(vc->view()->window()) << "the resize is gone with it";
  EXPECT_FALSE(vc->isHoldingItself());
  EXPECT_EQ(slot->takeover, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
  EXPECT_EQ(app->isStatusBarHidden(), statusBarHidden);
  all = heard(6);
  EXPECT_EQ(all.substr(all.find("collapsed")), "collapsed |onStateChanged default 320x50");
  // Nothing over the banner takes its touches: a finger there reaches the live ad.
  auto hit = window->hitTest({160, 125});
  EXPECT_TRUE(hit && (hit == slot->banner || hit->isDescendantOfView(slot->banner.get())))
      << (hit ? hit->className() : "nothing");
}

// "setOrientationProperties" through the opener: the full-screen controller takes the
// creative's orientations and the interface turns into them when it stands in none.
TEST_F(Resize, AFullScreenAdTurnsTheInterfaceIntoTheOrientationsItsCreativeForces) {
  EXPECT_FALSE(opener->setMRAIDSupportedInterfaceOrientations(24)) << "a banner in the host's view turns nothing";
  auto vc = QMAViewController::init();
  vc->setSlot(std::static_pointer_cast<QMAPresentationSlot>(slot));
  vc->presentFromViewControllerCompletion(root, nullptr);
  settle();
  opener->setViewController(vc);
  auto orientation = [] { return static_cast<long>(system_facts::screen().orientation); };
  std::vector<long> heardTurns;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification, nullptr, nullptr,
      [&](const foundation::Notification&) { heardTurns.push_back(static_cast<long>(system_facts::screen().orientation)); });
  struct Case {
    std::uint64_t mask;
    long after;
  } cases[] = {{24, 4}, {30, 4}, {24, 4}, {6, 1}, {2, 1}, {8, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_TRUE(opener->setMRAIDSupportedInterfaceOrientations(c.mask));
    EXPECT_EQ(vc->supportedInterfaceOrientations(), c.mask);
    settle();
    settle();
    EXPECT_EQ(orientation(), c.after);
    EXPECT_FALSE(vc->presentedViewController()) << "the controller that turned it is gone again";
  }
  EXPECT_EQ(heardTurns, (std::vector<long>{4, 1, 3}));
  EXPECT_FALSE(opener->setMRAIDSupportedInterfaceOrientations(0));
  EXPECT_EQ(vc->supportedInterfaceOrientations(), 8u) << "never no orientation at all";
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  vc->relinquishScreenWithCompletion(nullptr);
  settle();
}

}  // namespace
