// The swipe transition: the finger's progress and release, the frames of both directions
// with and without the banner carried along, and whole presentations and dismissals run
// by the platform on the hand clock.
#include "ads/present/swipe_animation.h"

#include <gtest/gtest.h>

#include "ads/model/test_support.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace {

struct Recorder : QMAPercentDrivenUserInteractionAnimationControllerDelegate {
  std::vector<std::string> heard;
  void animationControllerDidFinishAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) override {
    heard.push_back("finished");
  }
  void animationControllerDidCancelAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) override {
    heard.push_back("cancelled");
  }
};

struct SwipeAnimation : model_test::ModelTest {
  std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> animation;
  std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController> controller;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  // A 320 x 568 window with a root controller whose view holds a 320 x 50 banner at y 500.
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();
  std::shared_ptr<uikit::ViewController> page = std::make_shared<uikit::ViewController>();
  std::shared_ptr<uikit::View> banner = std::make_shared<uikit::View>(uikit::Rect{{0, 500}, {320, 50}});

  void SetUp() override {
    ModelTest::SetUp();
    animation = QMAViewControllerFullScreenSwipeAnimation::init();
    ASSERT_TRUE(animation);
    animation->setTransitionDuration(0.25);
    controller = QMAPercentDrivenUserInteractionAnimationController::initWithAnimation(animation);
    ASSERT_TRUE(controller);
    controller->setDelegate(recorder);
    window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 568}});
    window->addSubview(root->view());
    root->view()->setFrame(window->bounds());
    root->view()->addSubview(banner);
    window->setHidden(false);
    page->setTransitioningDelegate(controller);
  }
  std::shared_ptr<uikit::ViewControllerContextTransitioning> contextFor(bool presenting) {
    auto container = std::make_shared<uikit::View>(window->bounds());
    window->addSubview(container);
    return std::make_shared<uikit::ViewControllerContextTransitioning>(presenting ? root : page, presenting ? page : root,
                                                                       container, true, nullptr);
  }
  void pan(uikit::PanGestureRecognizer& recognizer, uikit::GestureRecognizerState state) {
    recognizer.setState(state);
    controller->handlePanGesture(recognizer);
  }
};

TEST_F(SwipeAnimation, ProgressFollowsTheFingerAndAStartWithNoRoomIsNoProgress) {
  const double H = 600;
  struct Case {
    long direction;
    double startY, y, progress;
  };
  const Case cases[] = {
      {1, 100, 350, 0.5},  {1, 100, 600, 1},    {1, 100, 50, -0.1},  // a finger above the start: passed on
      {2, 400, 200, 0.5},  {2, 400, 0, 1},      {0, 400, 200, 0.5},  // 0 behaves as bottom to top
      {1, 600, 600, 0},    {1, 600, 580, 0},    {2, 0, 10, 0},       // no room in the swipe's direction
      {0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    animation->direction = c.direction;
    animation->startY = c.startY;
    EXPECT_DOUBLE_EQ(controller->progressForLocationY(c.y, H), c.progress)
        << c.direction << " from " << c.startY << " at " << c.y;
  }
}

TEST_F(SwipeAnimation, TheReleaseVelocityAloneDecidesAndOtherEndsCancel) {
  // No transition under way: the decision is still heard, nothing else happens.
  struct Case {
    long direction;
    bool presenting;
    double vy;
    const char* heard;
  };
  const Case cases[] = {
      {1, true, 20, "finished"},  {1, true, 0, "cancelled"},  {1, true, -5, "cancelled"},
      {2, true, -20, "finished"}, {2, true, 0, "cancelled"},  {0, true, -1, "finished"},
      {2, false, 3, "finished"},  {1, false, 3, "cancelled"},  // dismissing, the roles turn
  };
  for (const auto& c : cases) {
    animation->direction = c.direction;
    if (c.presenting) animation->willAnimatePresentation();
    else animation->willAnimateDismissal();
    recorder->heard.clear();
    auto recognizer = std::make_shared<uikit::PanGestureRecognizer>();
    root->view()->addGestureRecognizer(recognizer);
    recognizer->touchesBegan({{{10, 300}, {10, 300}}});
    recognizer->touchesMoved({{{10, 300 + c.vy / 60}, {10, 300}}});  // one frame at vy
    pan(*recognizer, uikit::GestureRecognizerState::Ended);
    EXPECT_EQ(recorder->heard, std::vector<std::string>{c.heard}) << c.direction << " " << c.vy;
  }
  recorder->heard.clear();
  auto recognizer = std::make_shared<uikit::PanGestureRecognizer>();
  pan(*recognizer, uikit::GestureRecognizerState::Began);
  EXPECT_TRUE(recorder->heard.empty());
  pan(*recognizer, uikit::GestureRecognizerState::Failed);
  pan(*recognizer, uikit::GestureRecognizerState::Cancelled);
  EXPECT_EQ(recorder->heard, (std::vector<std::string>{"cancelled", "cancelled"}));
}

TEST_F(SwipeAnimation, FramesCarryTheBannerOutAndPutThePageEdgeOnIt) {
  struct Case {
    const char* name;
    long direction;
    bool draggable;
    double startY;
    double pageStartY;
    double snapshotEndY;  // unused without the banner
  };
  const Case cases[] = {
      {"top to bottom with the banner", 1, true, 300, -68, 568},
      {"bottom to top with the banner", 2, true, 300, 550, -50},
      {"direction 0 as bottom to top", 0, true, 300, 550, -50},
      {"top to bottom, banner not draggable", 1, false, 300, -268, 0},
      {"bottom to top, banner not draggable", 2, false, 300, 300, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    animation->direction = c.direction;
    animation->startY = c.startY;
    animation->draggableView = c.draggable ? banner : nullptr;
    animation->willAnimatePresentation();
    auto context = contextFor(true);
    const auto frames = c.direction == 1
                            ? animation->animationContextForTopToBottomAnimationPresentationWithTransitionContext(*context)
                            : animation->animationContextForBottomToTopAnimationPresentationWithTransitionContext(*context);
    EXPECT_EQ(frames.animatedViewController, page);
    EXPECT_EQ(frames.animatedViewStartFrame, (uikit::Rect{{0, c.pageStartY}, {320, 568}}));
    EXPECT_EQ(frames.animatedViewEndFrame, window->bounds());
    EXPECT_EQ(animation->animatedViewFrameBeforeAnimation, frames.animatedViewStartFrame);
    EXPECT_EQ(animation->draggableViewShownOnPresentation, c.draggable);
    EXPECT_EQ(bool(frames.draggableViewSnapshot), c.draggable);
    if (c.draggable) {
      EXPECT_EQ(frames.draggableViewStartFrame, banner->frame());
      EXPECT_EQ(frames.draggableViewEndFrame, (uikit::Rect{{0, c.snapshotEndY}, {320, 50}}));
      EXPECT_EQ(animation->draggableViewEndFrameAfterAnimation, frames.draggableViewEndFrame);
    }
    context->containerView()->removeFromSuperview();
  }
}

TEST_F(SwipeAnimation, AScaledBannerIsNeverCarriedAlongAndTheDismissalRestoresTheSavedState) {
  // Frames that do not keep the banner's size (a banner scaled in its container): the
  // snapshot goes, and the frames the dismissal would use with it.
  animation->draggableView = banner;
  animation->draggableViewEndFrameAfterAnimation = {{0, 568}, {160, 25}};
  QMAAnimationContext scaled;
  scaled.draggableViewSnapshot = std::make_shared<uikit::View>();
  scaled.draggableViewStartFrame = {{0, 250}, {160, 25}};
  scaled.draggableViewEndFrame = {{0, 568}, {160, 25}};
  EXPECT_TRUE(animation->removeDraggableViewAnimationIfInvalidForAnimationContext(scaled));
  EXPECT_FALSE(scaled.draggableViewSnapshot);
  EXPECT_EQ(scaled.draggableViewStartFrame, uikit::Rect{});
  EXPECT_EQ(scaled.draggableViewEndFrame, uikit::Rect{});
  EXPECT_EQ(animation->draggableViewEndFrameAfterAnimation, uikit::Rect{});
  QMAAnimationContext kept;
  kept.draggableViewStartFrame = {{0, 500}, {320, 50}};
  kept.draggableViewEndFrame = {{0, 568}, {320, 50}};
  EXPECT_FALSE(animation->removeDraggableViewAnimationIfInvalidForAnimationContext(kept));
  EXPECT_EQ(kept.draggableViewEndFrame, (uikit::Rect{{0, 568}, {320, 50}}));

  // The dismissal takes the page back to where the presentation began it.
  animation->direction = 1;
  animation->startY = 260;
  animation->willAnimatePresentation();
  const auto frames = animation->animationContextForTopToBottomAnimationPresentationWithTransitionContext(*contextFor(true));
  page->view()->setFrame(window->bounds());
  animation->willAnimateDismissal();
  const auto back = animation->animationContextForTopToBottomAnimationDismissalWithTransitionContext(*contextFor(false));
  EXPECT_EQ(back.animatedViewController, page);
  EXPECT_EQ(back.animatedViewStartFrame, window->bounds());
  EXPECT_EQ(back.animatedViewEndFrame, frames.animatedViewStartFrame);
  ASSERT_TRUE(back.draggableViewSnapshot);
  EXPECT_EQ(back.draggableViewStartFrame, (uikit::Rect{{0, 568}, {320, 50}}));
  EXPECT_EQ(back.draggableViewEndFrame, banner->frame());
}

TEST_F(SwipeAnimation, TheFingerDrivesAPresentationThatCompletesOrIsUndone) {
  animation->direction = 1;
  animation->startY = 100;
  animation->draggableView = banner;
  auto recognizer = std::make_shared<uikit::PanGestureRecognizer>();
  window->addGestureRecognizer(recognizer);
  for (const bool finishes : {false, true}) {
    SCOPED_TRACE(finishes ? "finished" : "cancelled");
    recorder->heard.clear();
    ASSERT_TRUE(root->presentViewController(page, true, nullptr));
    ASSERT_TRUE(page->transitionContext());
    EXPECT_TRUE(animation->isPresenting());
    EXPECT_EQ(page->view()->frame().origin.y, 0);  // headless: the animation's end at once
    recognizer->touchesBegan({{{10, 100}, {10, 100}}});
    recognizer->touchesMoved({{{10, 200}, {10, 100}}});  // began
    recognizer->touchesMoved({{{10, 350}, {10, 200}}});  // changed
    controller->handlePanGesture(*recognizer);
    EXPECT_DOUBLE_EQ(page->transitionContext()->percentComplete(), 250.0 / (uikit::Screen::mainScreen().bounds().size.height - 100));
    // The animation's time passes while the finger holds it: nothing ends yet.
    foundation::Clock::advance(1);
    dispatch::RunLoop::main().drain();
    ASSERT_TRUE(page->transitionContext());
    recognizer->touchesMoved({{{10, finishes ? 360.0 : 340.0}, {10, 350}}});
    recognizer->touchesEnded({{{10, finishes ? 360.0 : 340.0}, {10, finishes ? 360.0 : 340.0}}});
    controller->handlePanGesture(*recognizer);
    EXPECT_EQ(recorder->heard, std::vector<std::string>{finishes ? "finished" : "cancelled"});
    EXPECT_FALSE(page->transitionContext());
    EXPECT_EQ(root->presentedViewController(), finishes ? page : nullptr);
    EXPECT_EQ(page->isAppeared(), finishes);
    EXPECT_EQ(root->view()->superview(), window);  // the container gave the root view back
    recognizer->reset();
  }
  // The dismissal runs backwards by itself, for the animation's duration.
  ASSERT_TRUE(root->dismissViewControllerAnimated(true, nullptr));
  EXPECT_FALSE(animation->isPresenting());
  EXPECT_EQ(root->presentedViewController(), page);
  foundation::Clock::advance(0.3);
  dispatch::RunLoop::main().drain();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_FALSE(page->isAppeared());
  EXPECT_EQ(root->view()->superview(), window);
}

}  // namespace
