#include "platform/uikit/view_controller_transitioning.h"

#include "platform/uikit/view.h"
#include "platform/uikit/view_controller.h"

namespace uikit {

ViewControllerContextTransitioning::ViewControllerContextTransitioning(std::shared_ptr<ViewController> from,
                                                                       std::shared_ptr<ViewController> to,
                                                                       std::shared_ptr<View> container, bool interactive,
                                                                       std::function<void(bool)> onComplete)
    : from_(std::move(from)), to_(std::move(to)), container_(std::move(container)), interactive_(interactive),
      onComplete_(std::move(onComplete)) {}

void ViewControllerContextTransitioning::completeTransition(bool didComplete) {
  if (completed_) return;
  // A finger still drives it: the animation's end waits for the finger's decision.
  if (interactive_ && !decided_) {
    completionPending_ = true;
    return;
  }
  end(didComplete);
}

void ViewControllerContextTransitioning::end(bool didComplete) {
  if (completed_) return;
  completed_ = true;
  auto done = std::move(onComplete_);
  onComplete_ = nullptr;
  if (done) done(didComplete);
}

void ViewControllerContextTransitioning::updateInteractiveTransition(double percent) {
  if (decided_ || completed_) return;
  percent_ = percent;
}

void ViewControllerContextTransitioning::finishInteractiveTransition() {
  if (decided_ || completed_) return;
  decided_ = true;
  percent_ = 1;
  if (completionPending_) end(true);
}

void ViewControllerContextTransitioning::cancelInteractiveTransition() {
  if (decided_ || completed_) return;
  decided_ = true;
  cancelled_ = true;
  if (completionPending_) end(false);
}

void PercentDrivenInteractiveTransition::startInteractiveTransition(
    const std::shared_ptr<ViewControllerContextTransitioning>& context,
    const std::shared_ptr<ViewControllerAnimatedTransitioning>& animator) {
  context_ = context;
  percent_ = 0;
  if (animator && context) animator->animateTransition(context);
}

void PercentDrivenInteractiveTransition::updateInteractiveTransition(double percent) {
  percent_ = percent;
  if (auto c = context_.lock()) c->updateInteractiveTransition(percent);
}

void PercentDrivenInteractiveTransition::finishInteractiveTransition() {
  if (auto c = context_.lock()) c->finishInteractiveTransition();
  context_.reset();
}

void PercentDrivenInteractiveTransition::cancelInteractiveTransition() {
  if (auto c = context_.lock()) c->cancelInteractiveTransition();
  context_.reset();
}

}  // namespace uikit
