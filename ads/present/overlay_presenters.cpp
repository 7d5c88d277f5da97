#include "ads/present/overlay_presenters.h"

#include <algorithm>
#include <numbers>

#include "ads/services/device.h"
#include "ads/services/geometry.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/animation.h"
#include "platform/uikit/application.h"
#include "platform/uikit/color.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace {

long statusBarOrientation() { return static_cast<long>(system_facts::screen().orientation); }

// The device's facts, read once on the main thread (the early activities normally have).
const std::shared_ptr<QMADevice>& device() {
  const auto& d = QMADevice::sharedInstance();
  d->cacheStaticParameters();
  return d;
}

bool isBeforeSystem8() { return !device()->isOSAtLeastMajorMinorPatch(8, 0, 0); }

}  // namespace

// ---- QMAUnclickableView

std::shared_ptr<uikit::View> QMAUnclickableView::hitTest(uikit::Point p) {
  auto hit = uikit::View::hitTest(p);
  return hit.get() == this ? nullptr : hit;
}

// ---- QMATransparentOverlayPresenter

std::shared_ptr<QMATransparentOverlayPresenter> QMATransparentOverlayPresenter::init() {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMATransparentOverlayPresenter> presenter(new QMATransparentOverlayPresenter());
  presenter->makeViews();
  return presenter;
}

void QMATransparentOverlayPresenter::makeViews() {
  const auto portrait = device()->standardizedPortraitScreenBounds();
  const double side = std::max(portrait.width(), portrait.height());
  pivotView_ = std::make_shared<QMAUnclickableView>(uikit::Rect{0, 0, side, side});
  cropView_ = std::make_shared<QMAUnclickableView>(uikit::Rect{});
}

QMATransparentOverlayPresenter::~QMATransparentOverlayPresenter() { removeObservers(); }

void QMATransparentOverlayPresenter::removeObservers() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (orientationChangeListener_) center.removeObserver(*orientationChangeListener_);
  orientationChangeListener_.reset();
  if (placementDisappearanceObserver_) center.removeObserver(*placementDisappearanceObserver_);
  placementDisappearanceObserver_.reset();
}

uikit::Rect QMATransparentOverlayPresenter::frameWithSizeCenteredInFrame(uikit::Size size, uikit::Rect frame) {
  const double dx = (frame.size.width - size.width) / 2;
  const double dy = (frame.size.height - size.height) / 2;
  return {frame.origin.x + dx, frame.origin.y + dy, frame.size.width - 2 * dx, frame.size.height - 2 * dy};
}

double QMATransparentOverlayPresenter::rotationForOrientation(long orientation) {
  if (!isBeforeSystem8()) return 0;
  switch (orientation) {
    case 2: return std::numbers::pi;
    case 3: return std::numbers::pi / 2;
    case 4: return -std::numbers::pi / 2;
    default: return 0;
  }
}

uikit::Rect QMATransparentOverlayPresenter::pivotedApplicationFrameForOrientation(long) {
  const auto frame = device()->standardizedOrientedApplicationFrame();
  return frameWithSizeCenteredInFrame(frame.size, pivotView_->bounds());
}

std::shared_ptr<uikit::ViewController> QMATransparentOverlayPresenter::presentationViewController() {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  std::shared_ptr<uikit::Window> window;
  if (presented && presented->isViewLoaded()) window = presented->view()->window();
  if (!window) window = uikit::Window::keyWindow();
  auto top = window ? window->rootViewController() : nullptr;
  while (top && top->presentedViewController()) top = top->presentedViewController();
  return top;
}

void QMATransparentOverlayPresenter::presentFromViewControllerCompletion(
    const std::shared_ptr<uikit::ViewController>& from, Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<uikit::Window> window;
  if (from && from->isViewLoaded()) window = from->view()->window();
  if (!window) window = uikit::Window::keyWindow();
  if (window) window->addSubview(pivotView_);
  composeTransparentInterstitialViewsForPresentation();
  // Laid into the window without a presentation: the controller hears of its appearance here.
  if (auto presented = presentedViewController(); presented && window && !window->isHidden())
    presented->setAppeared(true, true);
  animateTransparentInterstitialPresentationWithCompletionHandler(std::move(completion));
}

void QMATransparentOverlayPresenter::composeTransparentInterstitialViewsForPresentation() {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  if (!presented) return;
  auto presentedView = presented->view();
  presentedView->setBackgroundColor(uikit::Color::clearColor());
  const auto applicationFrame = QMAApplicationFrame(uikit::Screen::mainScreen());
  pivotView_->setFrame(frameWithSizeCenteredInFrame(pivotView_->bounds().size, applicationFrame));
  pivotView_->setBackgroundColor(uikit::Color::clearColor());
  const long orientation = statusBarOrientation();
  cropView_->setFrame(pivotedApplicationFrameForOrientation(orientation));
  presentedView->setFrame(cropView_->bounds());
  presentedView->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  pivotView_->addSubview(cropView_);
  cropView_->addSubview(presentedView);
  pivotRotation_ = rotationForOrientation(orientation);
  presented->viewChangedToOrientation(orientation);

  std::weak_ptr<QMATransparentOverlayPresenter> weak = shared_from_this();
  auto& center = foundation::NotificationCenter::defaultCenter();
  removeObservers();
  orientationChangeListener_ = center.addObserverForName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification, nullptr, dispatch::OperationQueue::mainQueue(),
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->updateTransparentInterstitialOrientation();
      });
  if (auto slot = presented->slot()) {
    std::weak_ptr<QMAViewController> weakPresented = presented;
    placementDisappearanceObserver_ = center.addObserverForName(
        kQMASlotDidLeaveWindowNotificationName, dynamic_cast<const void*>(slot.get()),
        dispatch::OperationQueue::mainQueue(), [weakPresented](const foundation::Notification&) {
          auto vc = weakPresented.lock();
          if (vc && vc->isViewLoaded() && vc->view()->window()) vc->relinquishScreenWithCompletion(nullptr);
        });
  }
}

void QMATransparentOverlayPresenter::animateTransparentInterstitialPresentationWithCompletionHandler(
    Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  const auto frame = QMAApplicationFrame(uikit::Screen::mainScreen());
  const double w = frame.width(), h = frame.height();
  uikit::Point offset{0, h};
  if (isBeforeSystem8()) {
    switch (statusBarOrientation()) {
      case 2: offset = {0, -h}; break;
      case 3: offset = {-w, 0}; break;
      case 4: offset = {w, 0}; break;
      default: break;
    }
  }
  slideInOffset_ = offset;
  pivotView_->setFrame(pivotView_->frame().offsetBy(offset.x, offset.y));
  auto pivot = pivotView_;
  uikit::animateWithDuration(
      kSlideInDuration, [pivot, offset] { pivot->setFrame(pivot->frame().offsetBy(-offset.x, -offset.y)); },
      [completion = std::move(completion)](bool) {
        if (completion) completion();
      });
}

void QMATransparentOverlayPresenter::updateTransparentInterstitialOrientation() {
  WV_DCHECK_MAIN_THREAD();
  const auto applicationFrame = QMAApplicationFrame(uikit::Screen::mainScreen());
  const long orientation = statusBarOrientation();
  const double rotation = rotationForOrientation(orientation);
  const auto crop = pivotedApplicationFrameForOrientation(orientation);
  auto pivot = pivotView_;
  auto cropView = cropView_;
  uikit::animateWithDuration(
      uikit::kStatusBarOrientationAnimationDuration,
      [this, pivot, cropView, crop, applicationFrame, rotation] {
        cropView->setFrame(crop);
        pivot->setFrame(frameWithSizeCenteredInFrame(pivot->frame().size, applicationFrame));
        pivotRotation_ = rotation;
      },
      [weak = presented_, orientation](bool) {
        if (auto vc = weak.lock()) vc->viewChangedToOrientation(orientation);
      });
}

void QMATransparentOverlayPresenter::dismissWithCompletionHandler(Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  removeObservers();
  auto presented = presentedViewController();
  auto presentedView = presented && presented->isViewLoaded() ? presented->view() : nullptr;
  auto pivot = pivotView_;
  uikit::animateWithDuration(
      kFadeOutDuration,
      [presentedView] {
        if (presentedView) presentedView->setAlpha(0);
      },
      [pivot, presentedView, weak = presented_, completion = std::move(completion)](bool) {
        if (auto vc = weak.lock()) vc->setAppeared(false, true);
        pivot->removeFromSuperview();
        if (presentedView) presentedView->removeFromSuperview();
        if (completion) completion();
      });
}
