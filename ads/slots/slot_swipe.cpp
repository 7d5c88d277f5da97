// The slot's swipe to the store page. While an ad with a swipe set-up shows, a checker
// tells the creative where the banner lies ("onAdVisible", on change only); the creative
// switches the swipe on with a bridge message, and a pan that begins inside one of the
// set-up's rectangles pulls the store page over the banner under the finger. The creative
// hears how the presentation ended and when the page was closed.
//
// A presentation ends in finish or cancel however the pan ends: a pan the system cancels
// cancels the presentation under way, and a cancelled presentation leaves the slot's
// intermission (the page never showed) and releases the slot's hold on itself.

#include "ads/present/overlay_proxy.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/scroll_view.h"
#include "platform/uikit/window.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

std::optional<Dictionary> swipeEventParameters(const std::shared_ptr<QMAAd>& ad) {
  auto configuration = ad ? ad->swipeToViewControllerConfigurations() : nullptr;
  return configuration ? configuration->swipeEventCreativeMetadata() : std::nullopt;
}

}  // namespace

// ---- the checker

void QMASlot::scheduleSwipeToViewControllerChecker() {
  WV_DCHECK_MAIN_THREAD();
  if (swipeToViewControllerChecker_) return;
  double period = QMASDKCoreController::sharedInstance()->swipeToViewSamplingInterval();
  // The server's default is 0: a repeating timer of no period would keep the main thread busy.
  if (!(period > 0)) period = kDefaultSwipeToViewSamplingInterval;
  swipeToViewControllerChecker_ = QMAScheduler::initWithInterval(period);
  if (!swipeToViewControllerChecker_) return;
  std::weak_ptr<QMASlot> weak = self();
  swipeToViewControllerCheckerTaskID_ =
      swipeToViewControllerChecker_->taskIDScheduledOnQueueBlock(dispatch::Queue::main(), [weak] {
        if (auto slot = weak.lock()) slot->canEnableSwipeToViewController();
      });
  swipeToViewControllerChecker_->start();
}

void QMASlot::unscheduleSwipeToViewControllerChecker() {
  WV_DCHECK_MAIN_THREAD();
  if (!swipeToViewControllerChecker_) return;
  swipeToViewControllerChecker_->unscheduleTaskWithID(swipeToViewControllerCheckerTaskID_);
  swipeToViewControllerChecker_->stop();
  swipeToViewControllerChecker_.reset();
}

void QMASlot::canEnableSwipeToViewController() {
  WV_DCHECK_MAIN_THREAD();
  if (!ad_ || !ad_->swipeToViewControllerConfigurations()) return;
  if (strongSlotForSwipeToViewController_) return;  // a presentation is under way
  if (!adView_) return;
  bool scrollable = false;
  for (auto up = adView_->superview(); up && !scrollable; up = up->superview())
    scrollable = dynamic_cast<uikit::ScrollView*>(up.get()) != nullptr;
  Dictionary params{
      {"creativeFrame", QMADictionaryFromCGRect(adView_->convertRectToView(adView_->bounds(), nullptr))},
      {"deviceFrame", QMADictionaryFromCGRect(QMAApplicationFrame(uikit::Screen::mainScreen()))},
      {"deviceOrientation", QMADevice::sharedInstance()->isOrientationLandscape() ? "landscape" : "portrait"},
      {"anySuperViewScrollable", scrollable ? "1" : "0"},
  };
  if (savedParamsForCheckingSwipeToViewController_ == params) return;
  savedParamsForCheckingSwipeToViewController_ = params;
  adView_->postJSNotificationUserInfo("onAdVisible", params);
}

// ---- switching on and off

void QMASlot::setUpAnimationController() {
  WV_DCHECK_MAIN_THREAD();
  if (swipeToViewControllerAnimationControllerInitialized_) return;
  animation_ = QMAViewControllerFullScreenSwipeAnimation::init();
  auto configuration = ad_ ? ad_->swipeToViewControllerConfigurations() : nullptr;
  if (animation_) animation_->setTransitionDuration(configuration ? configuration->swipeAnimationTransitionDuration() : 0);
  animationController_ = QMAPercentDrivenUserInteractionAnimationController::initWithAnimation(animation_);
  swipeGestureRecognizer_ = std::make_shared<uikit::PanGestureRecognizer>();
  swipeToViewControllerAnimationControllerInitialized_ = true;
}

void QMASlot::enableSwipeToViewController() {
  WV_DCHECK_MAIN_THREAD();
  auto owner = slotDelegate();
  auto swipeView = owner ? owner->swipeToViewControllerView() : nullptr;
  if (!swipeView) return;
  setUpAnimationController();
  if (!swipeGestureRecognizer_) return;
  swipeView->addGestureRecognizer(swipeGestureRecognizer_);
  swipeToViewControllerEnabled_ = true;
  if (animationController_)
    animationController_->setDelegate(std::static_pointer_cast<QMAPercentDrivenUserInteractionAnimationControllerDelegate>(self()));
  std::weak_ptr<QMASlot> weak = self();
  swipeGestureRecognizer_->addTargetForKey(this, [weak](uikit::GestureRecognizer& recognizer) {
    auto slot = weak.lock();
    if (auto* pan = dynamic_cast<uikit::PanGestureRecognizer*>(&recognizer); slot && pan) slot->handlePanGesture(*pan);
  });
  auto configuration = ad_ ? ad_->swipeToViewControllerConfigurations() : nullptr;
  if (animation_) {
    animation_->direction = configuration ? configuration->swipeDirection() : 0;
    animation_->draggableView = configuration && configuration->isAdDraggable() ? swipeView : nullptr;
  }
}

void QMASlot::disableSwipeToViewController() {
  WV_DCHECK_MAIN_THREAD();
  if (!swipeToViewControllerEnabled_) return;
  savedParamsForCheckingSwipeToViewController_.reset();
  swipeToViewControllerEnabled_ = false;
  if (!swipeGestureRecognizer_) return;
  swipeGestureRecognizer_->removeTarget(this);
  auto owner = slotDelegate();
  if (auto swipeView = owner ? owner->swipeToViewControllerView() : nullptr)
    swipeView->removeGestureRecognizer(swipeGestureRecognizer_);
}

// ---- the pan

bool QMASlot::shouldProcessTouchInView(uikit::Point point, const uikit::View* view) {
  WV_DCHECK_MAIN_THREAD();
  auto owner = slotDelegate();
  auto swipeView = owner ? owner->swipeToViewControllerView() : nullptr;
  auto configuration = ad_ ? ad_->swipeToViewControllerConfigurations() : nullptr;
  if (!swipeView || !configuration || !configuration->swipeableRectangles()) return false;
  const uikit::Point p = swipeView->convertPointFromView(point, view);
  for (const auto& r : *configuration->swipeableRectangles())
    if (r.contains(p)) return true;
  return false;
}

void QMASlot::handlePanGesture(uikit::PanGestureRecognizer& recognizer) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  switch (recognizer.state()) {
    case uikit::GestureRecognizerState::Began: {
      const uikit::Point p = recognizer.locationOfTouchInView(0, nullptr);
      if (!shouldProcessTouchInView(p, nullptr)) {
        recognizer.setEnabled(false);  // cancels this pan
        return;
      }
      if (animation_) animation_->startY = p.y;
      auto owner = slotDelegate();
      auto root = owner ? owner->rootViewController() : nullptr;
      auto configuration = ad_ ? ad_->swipeToViewControllerConfigurations() : nullptr;
      if (root && configuration && configuration->swipeableInAppStoreProductID()) {
        strongSlotForSwipeToViewController_ = keep;
        loadStoreProductViewController();
        if (auto proxy = QMAOverlayProxy::initWithViewController(swipeableStoreProductViewController_)) {
          proxy->setSlot(std::static_pointer_cast<QMAPresentationSlot>(keep));
          proxy->presentFromViewControllerCompletion(root, nullptr);
        }
      }
      if (animationController_) animationController_->handlePanGesture(recognizer);
      return;
    }
    case uikit::GestureRecognizerState::Cancelled: {
      // A disabled recognizer is the refusal of a pan that began outside every rectangle:
      // undone for the next pan. Any other cancel comes from the system in the middle of
      // a swipe, and ends its presentation as a cancel.
      const bool refused = !recognizer.isEnabled();
      recognizer.setEnabled(true);
      if (!refused && animationController_) animationController_->handlePanGesture(recognizer);
      return;
    }
    default:
      if (animationController_) animationController_->handlePanGesture(recognizer);
      return;
  }
}

void QMASlot::loadStoreProductViewController() {
  WV_DCHECK_MAIN_THREAD();
  auto configuration = ad_ ? ad_->swipeToViewControllerConfigurations() : nullptr;
  auto page = std::make_shared<QMASwipeableStoreProductViewController>();
  Dictionary parameters;
  if (configuration && configuration->swipeableInAppStoreProductID())
    parameters[SKStoreProductParameterITunesItemIdentifier] = *configuration->swipeableInAppStoreProductID();
  page->loadProductWithParameters(parameters, nullptr);
  swipeableStoreProductViewController_ = page;
  page->setDelegate(std::static_pointer_cast<QMAStoreProductViewControllerDelegate>(self()));
  page->setTransitioningDelegate(
      std::static_pointer_cast<uikit::ViewControllerTransitioningDelegate>(animationController_));
  page->setModalPresentationStyle(0);
}

// ---- how the presentation ended, and the page closed

void QMASlot::animationControllerDidFinishAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) {
  WV_DCHECK_MAIN_THREAD();
  // The slot keeps holding itself: the store page is showing now.
  if (adView_) adView_->postJSNotificationUserInfo("onSwipeableViewControllerPresentationFinished", swipeEventParameters(ad_));
}

void QMASlot::animationControllerDidCancelAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (adView_) adView_->postJSNotificationUserInfo("onSwipeableViewControllerPresentationCanceled", swipeEventParameters(ad_));
  // The page never showed: its proxy leaves the intermission (the host hears the screen
  // go again) and the page goes.
  if (auto page = std::exchange(swipeableStoreProductViewController_, nullptr)) {
    if (auto proxy = QMAOverlayProxy::overlayProxyForViewController(page)) proxy->relinquishScreenWithCompletion(nullptr);
  }
  strongSlotForSwipeToViewController_.reset();
}

void QMASlot::productViewControllerDidFinish(QMASwipeableStoreProductViewController& controller) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  auto page = std::static_pointer_cast<uikit::ViewController>(controller.shared_from_this());
  if (auto proxy = QMAOverlayProxy::overlayProxyForViewController(page)) {
    proxy->relinquishScreenWithCompletion(nullptr);
  } else if (auto presenting = page->presentingViewController()) {
    presenting->dismissViewControllerAnimated(true, nullptr);
  }
  if (adView_) adView_->postJSNotificationUserInfo("onSwipeToViewControllerDismissed", swipeEventParameters(ad_));
  swipeableStoreProductViewController_.reset();
  strongSlotForSwipeToViewController_.reset();
}
