#pragma once
// The finger-driven transition that pulls the store page over a banner: the page slides in
// vertically from the side the swipe comes from, and a snapshot of the banner (when the
// banner is draggable) travels in front of the page's leading edge and leaves the screen.
// When the finger lifts, the vertical velocity alone decides whether the presentation
// completes or falls back; the dismissal runs the same movement backwards by itself.
//
// - QMAViewControllerFullScreenSwipeAnimation: the animator; computes and runs the frames.
// - QMAAnimationContext: the frames of one run.
// - QMAPercentDrivenUserInteractionAnimationController: the presented page's transitioning
//   delegate and the finger's driver; tells its delegate how each presentation ended.
//
// Direction 1 is top to bottom (the page comes down from above); any other value is
// bottom to top. A swipe that starts where it has no room to go (top to bottom at the
// screen's bottom edge, bottom to top at its top edge) reports progress 0.
//
// Threads: main thread, inside the platform's transition machinery.

#include <memory>

#include "platform/uikit/gesture_recognizer.h"
#include "platform/uikit/view.h"
#include "platform/uikit/view_controller.h"
#include "platform/uikit/view_controller_transitioning.h"

class QMAAnimationContext {
 public:
  std::shared_ptr<uikit::ViewController> animatedViewController;
  uikit::Rect animatedViewStartFrame;
  uikit::Rect animatedViewEndFrame;
  uikit::Rect draggableViewStartFrame;
  uikit::Rect draggableViewEndFrame;
  // The container view owns it once added.
  std::shared_ptr<uikit::View> draggableViewSnapshot;
};

class QMAViewControllerFullScreenSwipeAnimation : public uikit::ViewControllerAnimatedTransitioning,
                                                  public std::enable_shared_from_this<QMAViewControllerFullScreenSwipeAnimation> {
 public:
  // Null below system 7.0.0.
  static std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> init();

  long direction = 0;
  double startY = 0;
  std::shared_ptr<uikit::View> draggableView;
  uikit::Rect draggableViewEndFrameAfterAnimation;
  uikit::Rect animatedViewFrameBeforeAnimation;
  bool draggableViewShownOnPresentation = false;

  // Seconds of every run.
  double transitionDuration() const { return transitionDuration_; }
  void setTransitionDuration(double seconds) { transitionDuration_ = seconds; }
  bool isPresenting() const { return presenting_; }
  void willAnimatePresentation() { presenting_ = true; }
  void willAnimateDismissal() { presenting_ = false; }

  double transitionDuration(const std::shared_ptr<uikit::ViewControllerContextTransitioning>& context) override;
  void animateTransition(const std::shared_ptr<uikit::ViewControllerContextTransitioning>& context) override;

  QMAAnimationContext animationContextForTopToBottomAnimationPresentationWithTransitionContext(
      const uikit::ViewControllerContextTransitioning& context);
  QMAAnimationContext animationContextForBottomToTopAnimationPresentationWithTransitionContext(
      const uikit::ViewControllerContextTransitioning& context);
  QMAAnimationContext animationContextForTopToBottomAnimationDismissalWithTransitionContext(
      const uikit::ViewControllerContextTransitioning& context);
  QMAAnimationContext animationContextForBottomToTopAnimationDismissalWithTransitionContext(
      const uikit::ViewControllerContextTransitioning& context);
  QMAAnimationContext animationContextForRestoringAnimationToSavedState(
      const uikit::ViewControllerContextTransitioning& context);
  // YES when it took the snapshot out of the context (its frames do not keep the banner's size).
  bool removeDraggableViewAnimationIfInvalidForAnimationContext(QMAAnimationContext& context);

  // A picture of `view` as it is drawn now, in a view of its bounds' size.
  static std::shared_ptr<uikit::View> snapshotViewAfterScreenUpdates(const uikit::View& view);

 private:
  QMAViewControllerFullScreenSwipeAnimation() = default;
  QMAAnimationContext presentationContext(const uikit::ViewControllerContextTransitioning& context, bool topToBottom);
  bool presenting_ = false;
  double transitionDuration_ = 0;
};

class QMAPercentDrivenUserInteractionAnimationController;

class QMAPercentDrivenUserInteractionAnimationControllerDelegate {
 public:
  virtual ~QMAPercentDrivenUserInteractionAnimationControllerDelegate() = default;
  virtual void animationControllerDidFinishAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) = 0;
  virtual void animationControllerDidCancelAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) = 0;
};

class QMAPercentDrivenUserInteractionAnimationController
    : public uikit::PercentDrivenInteractiveTransition,
      public uikit::ViewControllerTransitioningDelegate,
      public std::enable_shared_from_this<QMAPercentDrivenUserInteractionAnimationController> {
 public:
  // Null below system 7.0.0 or without an animator.
  static std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController> initWithAnimation(
      std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> animation);

  std::shared_ptr<QMAPercentDrivenUserInteractionAnimationControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAPercentDrivenUserInteractionAnimationControllerDelegate> d) { delegate_ = std::move(d); }
  const std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation>& transitionAnimation() const { return animation_; }

  // The finger's pan, in window coordinates: progress while it moves, the release decides.
  void handlePanGesture(uikit::PanGestureRecognizer& recognizer);
  // The progress of a finger at `y` (window coordinates) on a screen `height` high.
  double progressForLocationY(double y, double height) const;
  bool isAnimatingTopToBottom() const;
  bool isAnimatingBottomToTop() const { return !isAnimatingTopToBottom(); }

  std::shared_ptr<uikit::ViewControllerAnimatedTransitioning> animationControllerForPresentedController(
      const std::shared_ptr<uikit::ViewController>& presented, const std::shared_ptr<uikit::ViewController>& presenting,
      const std::shared_ptr<uikit::ViewController>& source) override;
  std::shared_ptr<uikit::ViewControllerAnimatedTransitioning> animationControllerForDismissedController(
      const std::shared_ptr<uikit::ViewController>& dismissed) override;
  std::shared_ptr<uikit::ViewControllerInteractiveTransitioning> interactionControllerForPresentation(
      const std::shared_ptr<uikit::ViewControllerAnimatedTransitioning>& animator) override;

 private:
  QMAPercentDrivenUserInteractionAnimationController() = default;
  void finish();
  void cancel();
  std::weak_ptr<QMAPercentDrivenUserInteractionAnimationControllerDelegate> delegate_;
  std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> animation_;
};
