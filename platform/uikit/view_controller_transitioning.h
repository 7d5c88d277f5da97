#pragma once
// Custom presentation transitions: a presented controller's transitioning delegate may
// give an animator for its presentation and dismissal, and an interaction controller that
// lets a finger drive the presentation (a percent-driven one). The platform makes a
// container view over the window, hands the animator a context naming the controllers
// and the container, and ends the transition when the animator says it completed: a
// presentation that did not complete is undone, and the presented controller never
// appears.
//
// On the headless screen animations take their final values at once and end after their
// duration on the process clock. A finger-driven transition is held until the finger
// decides it: the animator's completion waits for finish or cancel.
//
// Threads: main thread.

#include <functional>
#include <memory>

namespace uikit {

class View;
class ViewController;

class ViewControllerContextTransitioning {
 public:
  ViewControllerContextTransitioning(std::shared_ptr<ViewController> from, std::shared_ptr<ViewController> to,
                                     std::shared_ptr<View> container, bool interactive,
                                     std::function<void(bool didComplete)> onComplete);

  // The platform's from and to view controller keys.
  const std::shared_ptr<ViewController>& fromViewController() const { return from_; }
  const std::shared_ptr<ViewController>& toViewController() const { return to_; }
  const std::shared_ptr<View>& containerView() const { return container_; }
  bool isInteractive() const { return interactive_; }
  bool transitionWasCancelled() const { return cancelled_; }
  bool isCompleted() const { return completed_; }
  double percentComplete() const { return percent_; }

  // The animator's word that its animation ended; held while a finger still drives it.
  void completeTransition(bool didComplete);
  // The interaction controller's reports.
  void updateInteractiveTransition(double percent);
  void finishInteractiveTransition();
  void cancelInteractiveTransition();

 private:
  void end(bool didComplete);
  std::shared_ptr<ViewController> from_;
  std::shared_ptr<ViewController> to_;
  std::shared_ptr<View> container_;
  bool interactive_;
  bool decided_ = false;
  bool cancelled_ = false;
  bool completed_ = false;
  bool completionPending_ = false;
  double percent_ = 0;
  std::function<void(bool)> onComplete_;
};

class ViewControllerAnimatedTransitioning {
 public:
  virtual ~ViewControllerAnimatedTransitioning() = default;
  virtual double transitionDuration(const std::shared_ptr<ViewControllerContextTransitioning>& context) = 0;
  virtual void animateTransition(const std::shared_ptr<ViewControllerContextTransitioning>& context) = 0;
};

class ViewControllerInteractiveTransitioning {
 public:
  virtual ~ViewControllerInteractiveTransitioning() = default;
  virtual void startInteractiveTransition(const std::shared_ptr<ViewControllerContextTransitioning>& context,
                                          const std::shared_ptr<ViewControllerAnimatedTransitioning>& animator) = 0;
};

// Runs the animator at the start and passes the finger's progress, finish and cancel on
// to the transition under way; nothing when none is.
class PercentDrivenInteractiveTransition : public ViewControllerInteractiveTransitioning {
 public:
  void startInteractiveTransition(const std::shared_ptr<ViewControllerContextTransitioning>& context,
                                  const std::shared_ptr<ViewControllerAnimatedTransitioning>& animator) override;
  virtual void updateInteractiveTransition(double percent);
  virtual void finishInteractiveTransition();
  virtual void cancelInteractiveTransition();
  double percentComplete() const { return percent_; }
  std::shared_ptr<ViewControllerContextTransitioning> transitionContext() const { return context_.lock(); }

 private:
  std::weak_ptr<ViewControllerContextTransitioning> context_;
  double percent_ = 0;
};

class ViewControllerTransitioningDelegate {
 public:
  virtual ~ViewControllerTransitioningDelegate() = default;
  virtual std::shared_ptr<ViewControllerAnimatedTransitioning> animationControllerForPresentedController(
      const std::shared_ptr<ViewController>& presented, const std::shared_ptr<ViewController>& presenting,
      const std::shared_ptr<ViewController>& source) {
    return nullptr;
  }
  virtual std::shared_ptr<ViewControllerAnimatedTransitioning> animationControllerForDismissedController(
      const std::shared_ptr<ViewController>& dismissed) {
    return nullptr;
  }
  virtual std::shared_ptr<ViewControllerInteractiveTransitioning> interactionControllerForPresentation(
      const std::shared_ptr<ViewControllerAnimatedTransitioning>& animator) {
    return nullptr;
  }
  virtual std::shared_ptr<ViewControllerInteractiveTransitioning> interactionControllerForDismissal(
      const std::shared_ptr<ViewControllerAnimatedTransitioning>& animator) {
    return nullptr;
  }
};

}  // namespace uikit
