#include "ads/present/mraid_resize_overlay_presenter.h"

#include "ads/services/geometry.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/screen.h"

std::shared_ptr<QMAMRAIDResizeOverlayPresenter> QMAMRAIDResizeOverlayPresenter::initWithReferenceView(
    const std::shared_ptr<uikit::View>& referenceView) {
  WV_DCHECK_MAIN_THREAD();
  if (!referenceView) return nullptr;
  std::shared_ptr<QMAMRAIDResizeOverlayPresenter> presenter(new QMAMRAIDResizeOverlayPresenter());
  presenter->makeViews();
  presenter->referenceView_ = referenceView;
  return presenter;
}

void QMAMRAIDResizeOverlayPresenter::reportError(const std::string& message, const std::string& action) const {
  if (auto handler = MRAIDEventHandler()) handler->handleErrorAction(message, action);
}

bool QMAMRAIDResizeOverlayPresenter::resizePropertiesAreValidRelativeToView(
    const QMAMRAIDResizeProperties& properties, const std::shared_ptr<uikit::View>& view) const {
  WV_DCHECK_MAIN_THREAD();
  if (!view) return false;
  const uikit::Rect screenBounds =
      view->convertRectFromView(QMAApplicationFrame(uikit::Screen::mainScreen()), nullptr);
  return properties.areValidInBounds(screenBounds);
}

bool QMAMRAIDResizeOverlayPresenter::setResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& properties) {
  WV_DCHECK_MAIN_THREAD();
  if (!properties || !resizePropertiesAreValidRelativeToView(*properties, referenceView_)) {
    reportError("Received invalid resize properties " + (properties ? properties->description() : std::string("(null)")),
                "setResizeProperties");
    return false;
  }
  resizeProperties_ = properties;
  return true;
}

uikit::Rect QMAMRAIDResizeOverlayPresenter::contentFrame() const {
  WV_DCHECK_MAIN_THREAD();
  if (!resizeProperties_) return {};
  const auto& crop = cropView();
  const uikit::Rect bounds = crop->bounds();
  uikit::Rect frame = crop->convertRectFromView(
      referenceView_->convertRectToView(resizeProperties_->requestedContentFrame(), nullptr), nullptr);
  if (!resizeProperties_->allowOffscreen() &&
      !QMAMRAIDResizeProperties::isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(
          frame, bounds, false, resizeProperties_->customClosePosition()))
    frame = QMAMRAIDResizeProperties::adjustedContentFrameInBounds(frame, bounds);
  return frame;
}

void QMAMRAIDResizeOverlayPresenter::repositionContentIfNeeded() {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  if (!presented || !resizeProperties_) return;
  auto view = presented->view();
  const uikit::Rect frame = contentFrame();
  if (view->frame() != frame) {
    view->setFrame(frame);
    // Checked again once the frame has settled in place.
    std::weak_ptr<QMAMRAIDResizeOverlayPresenter> weak =
        std::static_pointer_cast<QMAMRAIDResizeOverlayPresenter>(shared_from_this());
    dispatch::after(kRepositionCheckDelay, dispatch::Queue::main(), [weak] {
      if (auto self = weak.lock()) self->repositionContentIfNeeded();
    });
    return;
  }
  if (QMAMRAIDResizeProperties::isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(
          frame, cropView()->bounds(), resizeProperties_->allowOffscreen(), resizeProperties_->customClosePosition()))
    return;
  std::weak_ptr<QMAMRAIDEventHandling> handler = MRAIDEventHandler_;
  std::weak_ptr<QMAViewController> weakPresented = presented;
  dispatch::OperationQueue::mainQueue()->addOperationWithBlock([handler, weakPresented] {
    if (auto h = handler.lock())
      h->handleErrorAction("Resize properties became invalid after device rotation.", "resize");
    // The whole takeover ends, with whatever the resized ad opened over itself.
    if (auto vc = weakPresented.lock()) vc->endTakeover();
  });
}

bool QMAMRAIDResizeOverlayPresenter::isReadyToPresent() {
  WV_DCHECK_MAIN_THREAD();
  if (!resizeProperties_) return false;
  if (!resizePropertiesAreValidRelativeToView(*resizeProperties_, referenceView_)) {
    reportError("Tried to resize with invalid resize properties " + resizeProperties_->description(), "resize");
    return false;
  }
  return QMATransparentOverlayPresenter::isReadyToPresent();
}

void QMAMRAIDResizeOverlayPresenter::composeTransparentInterstitialViewsForPresentation() {
  WV_DCHECK_MAIN_THREAD();
  QMATransparentOverlayPresenter::composeTransparentInterstitialViewsForPresentation();
  auto presented = presentedViewController();
  if (!presented) return;
  auto view = presented->view();
  view->setAutoresizingMask(uikit::ViewAutoresizingNone);
  view->setFrame(contentFrame());
}

void QMAMRAIDResizeOverlayPresenter::updateTransparentInterstitialOrientation() {
  WV_DCHECK_MAIN_THREAD();
  QMATransparentOverlayPresenter::updateTransparentInterstitialOrientation();
  repositionContentIfNeeded();
}
