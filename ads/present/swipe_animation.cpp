#include "ads/present/swipe_animation.h"

#include <cmath>

#include "ads/services/device.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/animation.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/screen.h"

namespace {

bool systemHasCustomTransitions() { return QMADevice::sharedInstance()->isOSAtLeastMajorMinorPatch(7, 0, 0); }

std::shared_ptr<uikit::View> viewOf(const std::shared_ptr<uikit::ViewController>& vc) {
  return vc ? vc->view() : nullptr;
}

}  // namespace

// ---- QMAViewControllerFullScreenSwipeAnimation

std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> QMAViewControllerFullScreenSwipeAnimation::init() {
  if (!systemHasCustomTransitions()) return nullptr;
  return std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation>(new QMAViewControllerFullScreenSwipeAnimation());
}

std::shared_ptr<uikit::View> QMAViewControllerFullScreenSwipeAnimation::snapshotViewAfterScreenUpdates(
    const uikit::View& view) {
  const uikit::Rect b = view.bounds();
  auto snapshot = std::make_shared<uikit::ImageView>(uikit::Rect{{0, 0}, b.size});
  const double w = std::floor(b.size.width), h = std::floor(b.size.height);
  if (w >= 1 && h >= 1 && w <= 16384 && h <= 16384) {
    uikit::GraphicsContext context(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
    view.renderInContext(context);
    snapshot->setImage(context.makeImage(1));
  }
  return snapshot;
}

double QMAViewControllerFullScreenSwipeAnimation::transitionDuration(
    const std::shared_ptr<uikit::ViewControllerContextTransitioning>&) {
  return transitionDuration_;
}

QMAAnimationContext QMAViewControllerFullScreenSwipeAnimation::presentationContext(
    const uikit::ViewControllerContextTransitioning& context, bool topToBottom) {
  const auto& container = context.containerView();
  const uikit::Rect C = container ? container->bounds() : uikit::Rect{};
  const double Hc = C.size.height;
  QMAAnimationContext result;
  result.animatedViewController = context.toViewController();
  double pageY = topToBottom ? startY - Hc : startY;
  draggableViewShownOnPresentation = false;
  if (draggableView) {
    const uikit::Rect Dc = draggableView->convertRectToView(draggableView->bounds(), container.get());
    result.draggableViewSnapshot = snapshotViewAfterScreenUpdates(*draggableView);
    result.draggableViewStartFrame = Dc;
    // The banner leaves by the edge the page comes away from.
    result.draggableViewEndFrame = topToBottom ? uikit::Rect{{Dc.origin.x, Hc}, Dc.size}
                                               : uikit::Rect{{Dc.origin.x, -Dc.size.height}, Dc.size};
    draggableViewEndFrameAfterAnimation = result.draggableViewEndFrame;
    if (!removeDraggableViewAnimationIfInvalidForAnimationContext(result)) {
      draggableViewShownOnPresentation = true;
      // The page's leading edge lies on the banner's edge.
      pageY = topToBottom ? Dc.origin.y - Hc : Dc.origin.y + Dc.size.height;
    }
  }
  result.animatedViewStartFrame = {{C.origin.x, pageY}, C.size};
  result.animatedViewEndFrame = C;
  animatedViewFrameBeforeAnimation = result.animatedViewStartFrame;
  return result;
}

QMAAnimationContext
QMAViewControllerFullScreenSwipeAnimation::animationContextForTopToBottomAnimationPresentationWithTransitionContext(
    const uikit::ViewControllerContextTransitioning& context) {
  return presentationContext(context, true);
}

QMAAnimationContext
QMAViewControllerFullScreenSwipeAnimation::animationContextForBottomToTopAnimationPresentationWithTransitionContext(
    const uikit::ViewControllerContextTransitioning& context) {
  return presentationContext(context, false);
}

QMAAnimationContext
QMAViewControllerFullScreenSwipeAnimation::animationContextForTopToBottomAnimationDismissalWithTransitionContext(
    const uikit::ViewControllerContextTransitioning& context) {
  return animationContextForRestoringAnimationToSavedState(context);
}

QMAAnimationContext
QMAViewControllerFullScreenSwipeAnimation::animationContextForBottomToTopAnimationDismissalWithTransitionContext(
    const uikit::ViewControllerContextTransitioning& context) {
  return animationContextForRestoringAnimationToSavedState(context);
}

QMAAnimationContext QMAViewControllerFullScreenSwipeAnimation::animationContextForRestoringAnimationToSavedState(
    const uikit::ViewControllerContextTransitioning& context) {
  const auto& container = context.containerView();
  QMAAnimationContext result;
  result.animatedViewController = context.fromViewController();
  if (draggableView && draggableViewShownOnPresentation) {
    result.draggableViewSnapshot = snapshotViewAfterScreenUpdates(*draggableView);
    result.draggableViewStartFrame = draggableViewEndFrameAfterAnimation;
    // Back to where the banner is now.
    result.draggableViewEndFrame = draggableView->convertRectToView(draggableView->bounds(), container.get());
  }
  removeDraggableViewAnimationIfInvalidForAnimationContext(result);
  auto page = viewOf(result.animatedViewController);
  result.animatedViewStartFrame = page ? page->frame() : uikit::Rect{};
  result.animatedViewEndFrame = animatedViewFrameBeforeAnimation;
  return result;
}

bool QMAViewControllerFullScreenSwipeAnimation::removeDraggableViewAnimationIfInvalidForAnimationContext(
    QMAAnimationContext& context) {
  const uikit::Size size = draggableView ? draggableView->bounds().size : uikit::Size{};
  if (context.draggableViewStartFrame.size == size && context.draggableViewEndFrame.size == size) return false;
  context.draggableViewSnapshot = nullptr;
  context.draggableViewStartFrame = {};
  context.draggableViewEndFrame = {};
  draggableViewEndFrameAfterAnimation = {};
  return true;
}

void QMAViewControllerFullScreenSwipeAnimation::animateTransition(
    const std::shared_ptr<uikit::ViewControllerContextTransitioning>& context) {
  WV_DCHECK_MAIN_THREAD();
  if (!context) return;
  auto source = context->fromViewController();
  auto destination = context->toViewController();
  auto container = context->containerView();
  if (!container) {
    context->completeTransition(false);
    return;
  }
  // The page on top, whichever way it goes.
  auto below = presenting_ ? viewOf(source) : viewOf(destination);
  auto above = presenting_ ? viewOf(destination) : viewOf(source);
  if (below) container->addSubview(below);
  if (above) container->addSubview(above);
  QMAAnimationContext frames;
  if (direction == 1) {
    frames = presenting_ ? animationContextForTopToBottomAnimationPresentationWithTransitionContext(*context)
                         : animationContextForTopToBottomAnimationDismissalWithTransitionContext(*context);
  } else {
    frames = presenting_ ? animationContextForBottomToTopAnimationPresentationWithTransitionContext(*context)
                         : animationContextForBottomToTopAnimationDismissalWithTransitionContext(*context);
  }
  auto snapshot = frames.draggableViewSnapshot;
  if (snapshot) {
    snapshot->setFrame(frames.draggableViewStartFrame);
    container->addSubview(snapshot);
  }
  auto page = viewOf(frames.animatedViewController);
  if (page) page->setFrame(frames.animatedViewStartFrame);
  uikit::animateWithDuration(
      transitionDuration(context),
      [snapshot, page, frames] {
        if (snapshot) snapshot->setFrame(frames.draggableViewEndFrame);
        if (page) page->setFrame(frames.animatedViewEndFrame);
      },
      [context](bool) { context->completeTransition(!context->transitionWasCancelled()); });
}

// ---- QMAPercentDrivenUserInteractionAnimationController

std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController>
QMAPercentDrivenUserInteractionAnimationController::initWithAnimation(
    std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> animation) {
  if (!systemHasCustomTransitions()) return nullptr;
  std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController> controller(
      new QMAPercentDrivenUserInteractionAnimationController());
  controller->animation_ = std::move(animation);
  return controller;
}

bool QMAPercentDrivenUserInteractionAnimationController::isAnimatingTopToBottom() const {
  if (!animation_) return false;
  return animation_->isPresenting() ? animation_->direction == 1 : animation_->direction == 2;
}

double QMAPercentDrivenUserInteractionAnimationController::progressForLocationY(double y, double height) const {
  const double startY = animation_ ? animation_->startY : 0;
  const bool topToBottom = animation_ && animation_->direction == 1;
  const double travelled = topToBottom ? y - startY : startY - y;
  const double room = topToBottom ? height - startY : startY;
  // No room to go in the swipe's direction: nothing of the way is done.
  if (room == 0) return 0;
  const double progress = travelled / room;
  return std::isfinite(progress) ? progress : 0;
}

void QMAPercentDrivenUserInteractionAnimationController::handlePanGesture(uikit::PanGestureRecognizer& recognizer) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  switch (recognizer.state()) {
    case uikit::GestureRecognizerState::Began:
      break;  // the slot has just asked for the presentation
    case uikit::GestureRecognizerState::Changed: {
      const double y = recognizer.locationInView(nullptr).y;
      updateInteractiveTransition(progressForLocationY(y, uikit::Screen::mainScreen().bounds().size.height));
      break;
    }
    case uikit::GestureRecognizerState::Ended: {
      const double vy = recognizer.velocityInView(nullptr).y;
      const bool finishes = isAnimatingTopToBottom() ? vy > 0 : vy < 0;
      if (finishes) finish();
      else cancel();
      break;
    }
    default:
      cancel();
      break;
  }
}

void QMAPercentDrivenUserInteractionAnimationController::finish() {
  finishInteractiveTransition();
  if (auto d = delegate()) d->animationControllerDidFinishAnimationTransition(*this);
}

void QMAPercentDrivenUserInteractionAnimationController::cancel() {
  cancelInteractiveTransition();
  if (auto d = delegate()) d->animationControllerDidCancelAnimationTransition(*this);
}

std::shared_ptr<uikit::ViewControllerAnimatedTransitioning>
QMAPercentDrivenUserInteractionAnimationController::animationControllerForPresentedController(
    const std::shared_ptr<uikit::ViewController>&, const std::shared_ptr<uikit::ViewController>&,
    const std::shared_ptr<uikit::ViewController>&) {
  if (!animation_) return nullptr;
  animation_->willAnimatePresentation();
  return animation_;
}

std::shared_ptr<uikit::ViewControllerAnimatedTransitioning>
QMAPercentDrivenUserInteractionAnimationController::animationControllerForDismissedController(
    const std::shared_ptr<uikit::ViewController>&) {
  if (!animation_) return nullptr;
  animation_->willAnimateDismissal();
  return animation_;
}

std::shared_ptr<uikit::ViewControllerInteractiveTransitioning>
QMAPercentDrivenUserInteractionAnimationController::interactionControllerForPresentation(
    const std::shared_ptr<uikit::ViewControllerAnimatedTransitioning>&) {
  return shared_from_this();
}
