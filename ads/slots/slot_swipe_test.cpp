// The swipe to the store page end to end: an ad with a swipe set-up in a banner, its
// creative hearing "onAdVisible" and switching the swipe on over the bridge, and pans that
// begin outside the set-up's rectangles, finish, are released back, or are cancelled by
// the system. The checker and the transition run on the hand clock.
#include <gtest/gtest.h>

#include "ads/render/swipe_qomb_handler.h"
#include "ads/slots/slot.h"
#include "ads/slots/slot_test_support.h"
#include "platform/uikit/application.h"
#include "platform/uikit/scroll_view.h"
#include "platform/uikit/window.h"

namespace {

using foundation::Dictionary;
using nlohmann::json;
using slots_test::SlotFixture;

// A banner's owner: the swipe view is the banner, presented from its root controller.
struct SwipeOwner : slots_test::Owner {
  std::shared_ptr<uikit::View> swipeView;
  std::shared_ptr<uikit::ViewController> root;
  std::shared_ptr<uikit::View> swipeToViewControllerView() override { return swipeView; }
  std::shared_ptr<uikit::ViewController> rootViewController() override { return root; }
  void slotWillPresentScreen(QMASlot&) override { events.push_back("willPresent"); }
  void slotDidDismissScreen(QMASlot&) override { events.push_back("didDismiss"); }
};

// The creative records what it hears; it switches the swipe on when asked to by the test.
const char* kSwipeCreative =
    "<body style='margin:0;background:#3060ff'><script>var heard = [];"
    "function QVRA_ReceiveMessage(n, m) { heard.push(n + (m ? ' ' + JSON.stringify(m) : '')); }"
    "</script></body>";

json swipeSetUp() {
  return {{"app_store_product_id", 123456},
          {"swipeable_rectangles", json::array({{{"x", 0}, {"y", 0}, {"width", 160}, {"height", 50}}})},
          {"swipe_event_creative_metadata", {{"campaign", "c1"}}},
          {"swipe_animation_transition_duration", 0.25}};
}

struct SlotSwipe : SlotFixture {
  std::shared_ptr<SwipeOwner> swipeOwner = std::make_shared<SwipeOwner>();
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  std::shared_ptr<uikit::View> banner = std::make_shared<uikit::View>(uikit::Rect{{0, 400}, {320, 50}});
  std::shared_ptr<QMASlot> slot;

  void SetUp() override {
    SlotFixture::SetUp();
    owner = swipeOwner;
    window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
    window->setHidden(false);
    window->addSubview(root->view());
    root->view()->setFrame(window->bounds());
    root->view()->addSubview(banner);
    swipeOwner->swipeView = banner;
    swipeOwner->root = root;
  }
  void TearDown() override {
    // A store page still up is closed as its user would, so the slot's takeover ends and
    // gives the host its idle timer back; dismissing it behind the slot's back would not.
    if (slot) {
      if (auto page = slot->swipeableStoreProductViewController()) {
        page->userDidFinish();
        finishTransitions();
      }
    }
    EXPECT_FALSE(uikit::Application::sharedApplication()->isIdleTimerDisabled());
    if (slot) {
      slot->unscheduleSwipeToViewControllerChecker();
      slot->disableSwipeToViewController();
    }
    if (root->presentedViewController()) root->dismissViewControllerAnimated(false, nullptr);
    slot.reset();
    SlotFixture::TearDown();
  }
  std::string eval(const std::string& s) { return slot->adView()->stringByEvaluatingJavaScriptFromString(s); }
  std::string heard() { return eval("heard.join('|')"); }
  // A banner slot showing the creative with this swipe set-up.
  void show(const json& setUp) {
    useScenario({{"ads", {{"ad", {{"body", kSwipeCreative}, {"headers", {{"X-Qvra-Swipe-To-View-Controller", setUp.dump()}}}}}}},
                 {"default_ad", "ad"}});
    slot = makeSlot();
    slot->adView()->setFrame({{0, 0}, {320, 50}});
    banner->addSubview(slot->adView());
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pump([&] { return owner->count("finished") > 0 || owner->count("failed 2") > 0; }));
    ASSERT_EQ(owner->count("finished"), 1);
  }
  void tick() {
    ASSERT_TRUE(slot->swipeToViewControllerChecker());
    foundation::Clock::advance(slot->swipeToViewControllerChecker()->interval());
    drainMain();
  }
  // The creative's message, as the bridge gives it to the handlers of the slot's delegate.
  void message(const std::string& url) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString(url));
    ASSERT_TRUE(note);
    auto handler = QMASwipeToViewControllerQOMBHandler::initWithSlot(std::static_pointer_cast<QMARenderingSlot>(slot));
    EXPECT_TRUE(handler->handleNotificationAdView(note, slot->adView()));
  }
  // A pan on the banner from `from` to `to` (banner coordinates): a first small move where
  // the finger came down, then the rest a frame apart; lifted, or cancelled by the system
  // before it lifts.
  void pan(uikit::Point from, uikit::Point to, bool systemCancels = false) {
    auto recognizer = slot->swipeGestureRecognizer();
    ASSERT_TRUE(recognizer);
    recognizer->touchesBegan({{from, from}});
    uikit::Point at = from;
    for (const double f : {0.02, 0.25, 0.5, 0.75, 1.0}) {
      if (recognizer->state() == uikit::GestureRecognizerState::Cancelled) break;
      const uikit::Point next{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f};
      foundation::Clock::advance(1.0 / 60);
      recognizer->touchesMoved({{next, at}});
      at = next;
    }
    if (systemCancels) recognizer->touchesCancelled({{at, at}});
    else recognizer->touchesEnded({{at, at}});
    recognizer->reset();
  }
  void finishTransitions() {
    foundation::Clock::advance(0.5);
    drainMain();
  }
};

TEST_F(SlotSwipe, TheCheckerTellsTheCreativeWhereTheBannerIsOnlyWhenItChanged) {
  show(swipeSetUp());
  // The server gave no interval (0): a period of 0 would spin, the default stands in.
  ASSERT_EQ(QMASDKCoreController::sharedInstance()->swipeToViewSamplingInterval(), 0);
  ASSERT_TRUE(slot->swipeToViewControllerChecker());
  EXPECT_DOUBLE_EQ(slot->swipeToViewControllerChecker()->interval(), QMASlot::kDefaultSwipeToViewSamplingInterval);
  tick();
  ASSERT_TRUE(pump([&] { return !heard().empty(); }));
  const std::string first = heard();
  EXPECT_NE(first.find("onAdVisible"), std::string::npos);
  EXPECT_NE(first.find("\"creativeFrame\":{\"height\":50,\"width\":320,\"x\":0,\"y\":400}"), std::string::npos) << first;
  EXPECT_NE(first.find("\"anySuperViewScrollable\":\"0\""), std::string::npos);
  EXPECT_NE(first.find("\"deviceOrientation\":\"portrait\""), std::string::npos);
  tick();
  tick();
  drainMain();
  EXPECT_EQ(heard(), first);
  // Into a scroll view, and moved: a new report.
  auto scroll = std::make_shared<uikit::ScrollView>(root->view()->bounds());
  root->view()->addSubview(scroll);
  scroll->addSubview(banner);
  scroll->setContentOffset({0, 100});
  tick();
  ASSERT_TRUE(pump([&] { return eval("heard.length") == "2"; }));
  EXPECT_NE(eval("heard[1]").find("\"anySuperViewScrollable\":\"1\""), std::string::npos);
  EXPECT_NE(eval("heard[1]").find("\"y\":300"), std::string::npos);
  // The next ad's processing stops the checker.
  slot->willProcessAd();
  EXPECT_FALSE(slot->swipeToViewControllerChecker());
}

TEST_F(SlotSwipe, TheCreativesMessagesSetTheDirectionAndDragAndSwitchTheSwipe) {
  show(swipeSetUp());
  auto configuration = slot->ad()->swipeToViewControllerConfigurations();
  ASSERT_TRUE(configuration);
  struct Case {
    const char* query;
    long direction;
    bool draggable;
  };
  const Case cases[] = {
      {"swipe_direction=bottom_to_top&ad_draggable=1", 2, true},
      {"swipe_direction=top_to_bottom&ad_draggable=true", 1, false},
      {"swipe_direction=TOP_TO_BOTTOM&ad_draggable=1", 0, true},
      {"", 0, false},
  };
  for (const auto& c : cases) {
    message(std::string("qomb://a/enableSwipeToViewController?") + c.query);
    EXPECT_EQ(configuration->swipeDirection(), c.direction) << c.query;
    EXPECT_EQ(configuration->isAdDraggable(), c.draggable) << c.query;
    EXPECT_TRUE(slot->swipeToViewControllerEnabled());
    EXPECT_EQ(slot->animation()->direction, c.direction);
    EXPECT_EQ(slot->animation()->draggableView, c.draggable ? banner : nullptr);
  }
  // Switched on again and again: one recognizer and one target.
  EXPECT_EQ(banner->gestureRecognizers().size(), 1u);
  EXPECT_EQ(slot->swipeGestureRecognizer()->targetCount(), 1u);
  EXPECT_DOUBLE_EQ(slot->animation()->transitionDuration(), 0.25);
  slot->setSavedParamsForCheckingSwipeToViewController(Dictionary{{"x", "1"}});
  message("qomb://a/disableSwipeToViewController");
  EXPECT_FALSE(slot->swipeToViewControllerEnabled());
  EXPECT_TRUE(banner->gestureRecognizers().empty());
  EXPECT_EQ(slot->swipeGestureRecognizer()->targetCount(), 0u);
  EXPECT_FALSE(slot->savedParamsForCheckingSwipeToViewController());
  // Off when off: the settings are still cleared.
  configuration->setSwipeDirection(2);
  configuration->setAdDraggable(true);
  message("qomb://a/disableSwipeToViewController");
  EXPECT_EQ(configuration->swipeDirection(), 0);
  EXPECT_FALSE(configuration->isAdDraggable());
}

TEST_F(SlotSwipe, APanOutsideTheRectanglesIsCancelledAtOnceAndTheNextIsRecognised) {
  show(swipeSetUp());
  message("qomb://a/enableSwipeToViewController?swipe_direction=bottom_to_top&ad_draggable=1");
  pan({200, 25}, {200, -200});  // right half: no rectangle there
  drainMain();
  EXPECT_FALSE(slot->strongSlotForSwipeToViewController());
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_TRUE(slot->swipeGestureRecognizer()->isEnabled());
  EXPECT_EQ(heard().find("Swipe"), std::string::npos);
  pan({50, 25}, {50, -200});
  finishTransitions();
  EXPECT_TRUE(slot->strongSlotForSwipeToViewController());
  EXPECT_TRUE(root->presentedViewController());
}

TEST_F(SlotSwipe, AFinishedSwipeShowsTheStorePageUntilTheUserClosesIt) {
  show(swipeSetUp());
  message("qomb://a/enableSwipeToViewController?swipe_direction=bottom_to_top&ad_draggable=1");
  pan({50, 25}, {50, -300});  // upwards, fast: finishes
  EXPECT_TRUE(slot->strongSlotForSwipeToViewController());
  auto page = slot->swipeableStoreProductViewController();
  ASSERT_TRUE(page);
  EXPECT_EQ(*page->productParameters(), (Dictionary{{SKStoreProductParameterITunesItemIdentifier, 123456}}));
  finishTransitions();
  EXPECT_EQ(root->presentedViewController(), page);
  EXPECT_TRUE(page->isAppeared());
  EXPECT_EQ(swipeOwner->count("willPresent"), 1);
  ASSERT_TRUE(pump([&] { return heard().find("onSwipeableViewControllerPresentationFinished") != std::string::npos; }));
  EXPECT_NE(heard().find("onSwipeableViewControllerPresentationFinished {\"campaign\":\"c1\"}"), std::string::npos);
  // No report while the page is up.
  const std::string before = heard();
  banner->setFrame({{0, 100}, {320, 50}});
  tick();
  drainMain();
  EXPECT_EQ(heard(), before);

  page->userDidFinish();
  finishTransitions();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(slot->strongSlotForSwipeToViewController());
  EXPECT_FALSE(slot->swipeableStoreProductViewController());
  EXPECT_EQ(swipeOwner->count("didDismiss"), 1);
  ASSERT_TRUE(pump([&] { return heard().find("onSwipeToViewControllerDismissed") != std::string::npos; }));
}

TEST_F(SlotSwipe, ASwipeReleasedBackOrCancelledByTheSystemEndsAndLeavesTheScreenToTheHost) {
  for (const bool systemCancels : {false, true}) {
    SCOPED_TRACE(systemCancels ? "cancelled by the system" : "released back");
    swipeOwner->events.clear();
    if (slot) {
      slot->unscheduleSwipeToViewControllerChecker();
      slot->disableSwipeToViewController();
    }
    show(swipeSetUp());
    message("qomb://a/enableSwipeToViewController?swipe_direction=top_to_bottom&ad_draggable=0");
    if (systemCancels) pan({50, 10}, {50, 300}, true);
    else pan({50, 10}, {50, 5});  // down, then back up: released moving up
    EXPECT_FALSE(slot->strongSlotForSwipeToViewController());
    EXPECT_FALSE(slot->swipeableStoreProductViewController());
    EXPECT_EQ(swipeOwner->count("willPresent"), 1);
    EXPECT_EQ(swipeOwner->count("didDismiss"), 1);  // the intermission was left
    EXPECT_FALSE(slot->intermission());
    finishTransitions();
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(root->view()->superview(), window);
    ASSERT_TRUE(pump([&] { return heard().find("onSwipeableViewControllerPresentationCanceled") != std::string::npos; }));
    EXPECT_EQ(heard().find("Finished"), std::string::npos);
    EXPECT_TRUE(slot->swipeGestureRecognizer()->isEnabled());
  }
}

}  // namespace
