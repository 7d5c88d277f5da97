#include "ads/slots/banner_view.h"

#include <cmath>

#include "ads/services/geometry.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/color.h"
#include "platform/uikit/window.h"

using foundation::Dictionary;
using foundation::Value;

// The banner's answers as the slot's delegate. The slot holds it weakly; it holds the
// banner weakly, so a banner that has gone answers nothing.
class QMABannerView::SlotOwner : public QMASlotDelegate {
 public:
  explicit SlotOwner(std::weak_ptr<QMABannerView> banner) : banner_(std::move(banner)) {}

  std::optional<std::shared_ptr<QMAInAppPurchaseDelegate>> inAppPurchaseDelegate() const override {
    auto b = banner_.lock();
    if (!b) return std::nullopt;
    return b->inAppPurchaseDelegate();
  }
  std::optional<bool> slotShouldLoadRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override {
    auto b = banner_.lock();
    return b ? b->slotShouldLoadRequest(slot, request) : std::nullopt;
  }
  std::optional<bool> slotShouldReloadCurrentRequest(QMASlot& slot) override {
    auto b = banner_.lock();
    return b ? b->slotShouldReloadCurrentRequest(slot) : std::nullopt;
  }
  std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot& slot) override {
    auto b = banner_.lock();
    return b ? b->slotShouldPreemptInProgressRequest(slot) : std::nullopt;
  }
  std::optional<uikit::Rect> frame() override {
    auto b = banner_.lock();
    return b ? std::optional<uikit::Rect>(b->uikit::View::frame()) : std::nullopt;
  }
  std::optional<uikit::Rect> frameInInterface() override {
    auto b = banner_.lock();
    return b ? std::optional<uikit::Rect>(b->frameInInterface()) : std::nullopt;
  }
  std::optional<uikit::Rect> bounds() override {
    auto b = banner_.lock();
    return b ? std::optional<uikit::Rect>(b->uikit::View::bounds()) : std::nullopt;
  }
  std::optional<Value> coordinatesOfContentInScreen(const uikit::Screen& screen) override {
    auto b = banner_.lock();
    return b ? b->coordinatesOfContentInScreen(screen) : std::nullopt;
  }
  std::shared_ptr<uikit::View> swipeToViewControllerView() override { return banner_.lock(); }
  std::shared_ptr<uikit::ViewController> rootViewController() override {
    auto b = banner_.lock();
    return b ? b->rootViewController() : nullptr;
  }
  void slotDidReceiveAdView(QMASlot& slot, const std::shared_ptr<uikit::View>& view) override {
    if (auto b = banner_.lock()) b->slotDidReceiveAdView(slot, view);
  }
  void setAdSizeAndReload(QMAAdSize size, bool reload) override {
    if (auto b = banner_.lock()) b->setAdSizeAndReload(size, reload);
  }
  std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes() override {
    auto b = banner_.lock();
    return b ? b->validAdSizes() : std::nullopt;
  }
  void slotWillResizeToAdSize(QMASlot& slot, QMAAdSize size) override {
    if (auto b = banner_.lock()) b->slotWillResizeToAdSize(slot, size);
  }
  void slotDidReceiveAppEventWithInfo(QMASlot& slot, const std::string& name,
                                      const std::optional<std::string>& info) override {
    if (auto b = banner_.lock()) b->slotDidReceiveAppEventWithInfo(slot, name, info);
  }
  std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot& slot, const std::shared_ptr<QMAAd>& ad,
                                                                       std::optional<foundation::Error>* error) override {
    auto b = banner_.lock();
    return b ? b->slotNotifyPublisherToRenderCustomRenderingAdError(slot, ad, error) : std::nullopt;
  }
  void slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override {
    if (auto b = banner_.lock()) b->slotWillLoadAdWithRequest(slot, request);
  }
  QMASlotOwnerFormat slotOwnerFormat() const override { return QMASlotOwnerFormat::Banner; }

 private:
  std::weak_ptr<QMABannerView> banner_;
};

// ---- creation

bool QMABannerView::sizeIsValidLoggingFailure(QMAAdSize size) {
  foundation::Error error;
  if (QMAAdSizeIsValidWithError(size, &error)) return true;
  QMALogger::sharedInstance()->logPublicMessage(
      foundation::stringWithFormat("Unable to set adSize property. %@", error.localizedDescription()));
  return false;
}

std::shared_ptr<QMABannerView> QMABannerView::initWithFrameAdSize(uikit::Rect frame, QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  return make<QMABannerView>(frame, size, true);
}

std::shared_ptr<QMABannerView> QMABannerView::initWithAdSize(QMAAdSize size) { return initWithFrameAdSize({}, size); }

std::shared_ptr<QMABannerView> QMABannerView::initWithAdSizeOrigin(QMAAdSize size, uikit::Point origin) {
  auto banner = initWithAdSize(size);
  if (banner) banner->setFrame({origin, banner->uikit::View::frame().size});
  return banner;
}

std::shared_ptr<QMABannerView> QMABannerView::initWithFrame(uikit::Rect frame) {
  return initWithFrameAdSize(frame, QMAAdSizeFromCGSize(frame.size));
}

std::shared_ptr<QMABannerView> QMABannerView::initWithCoder(uikit::Rect decodedFrame) {
  WV_DCHECK_MAIN_THREAD();
  return make<QMABannerView>(decodedFrame, QMAAdSizeFromCGSize(decodedFrame.size), false);
}

void QMABannerView::commonInitializationWithAdSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  slot_ = QMASlot::initWithFrame(uikit::View::bounds());
  slot_->setReloadable(true);
  slotOwner_ = std::make_shared<SlotOwner>(self());
  slot_->setSlotDelegate(slotOwner_);
  slot_->setAdEventDelegate(std::static_pointer_cast<QMASlotAdEventDelegate>(self()));
  slot_->setAdResponseDelegate(std::static_pointer_cast<QMASlotAdResponseDelegate>(self()));
  slot_->setAdKeyDelegate(std::static_pointer_cast<QMASlotAdKeyDelegate>(self()));
  auto view = slot_->adView();
  view->configureAsBannerAdView();
  rootAdView_ = view;
  addSubview(view);
  setBackgroundColor(uikit::Color::clearColor());
  setClipsToBounds(true);
  hasInitialised_ = true;
  setAdSizeAndReload(size, false);
}

QMABannerView::~QMABannerView() {
  // The slot stops for good, on the main thread, where it lives.
  auto slot = std::move(slot_);
  if (!slot) return;
  QMARunOnMainThread([slot] {
    // A takeover keeps its ad object until it ends, so none is normally left; should one
    // be, it ends with the object.
    slot->endTakeover();
    slot->finishVistraceReporting();
    slot->cancelPendingAndFutureActions();
  });
}

// ---- the host's side

void QMABannerView::loadRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  slot_->loadRequest(request);
}

std::optional<std::string> QMABannerView::adUnitID() const { return slot_->adUnitID(); }

void QMABannerView::setAdUnitID(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  slot_->setAdUnitID(adUnitID);
}

void QMABannerView::setRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController) {
  WV_DCHECK_MAIN_THREAD();
  if (rootViewController == rootViewController_.lock()) return;
  rootViewController_ = rootViewController;
  if (auto view = slot_->adView()) view->setViewController(rootViewController);
  // A banner nested in this one by the built-in mediation adapter presents from the same.
  if (auto nested = std::dynamic_pointer_cast<QMABannerView>(rootAdView_)) nested->setRootViewController(rootViewController);
}

void QMABannerView::setAutoloadEnabled(bool enabled) {
  WV_DCHECK_MAIN_THREAD();
  if (enabled == autoloadEnabled_) return;
  autoloadEnabled_ = enabled;
  if (!enabled) return;
  std::weak_ptr<QMABannerView> weak = self();
  dispatch::Queue::main()->async([weak] {
    if (auto banner = weak.lock()) banner->loadRequest(nullptr);
  });
}

QMAAdSize QMABannerView::adSize() const {
  auto type = slot_ ? slot_->adType() : nullptr;
  return type ? type->adSize() : QMAAdSize{};
}

void QMABannerView::setAdSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  const QMAAdSize old = adSize();
  const double oldWidth = std::trunc(old.size.width), oldHeight = std::trunc(old.size.height);
  const double newWidth = std::trunc(size.size.width), newHeight = std::trunc(size.size.height);
  const bool reload = oldWidth != newWidth || oldHeight != newHeight ||
                      ((newWidth == 0 || newHeight == 0) && old.flags != size.flags);
  setAdSizeAndReload(size, reload);
  if (!translatesAutoresizingMaskIntoConstraints()) invalidateIntrinsicContentSize();
}

std::shared_ptr<QMAAdView> QMABannerView::adView() const { return slot_ ? slot_->adView() : nullptr; }

std::shared_ptr<uikit::View> QMABannerView::mediatedAdView() const {
  return slot_ && slot_->isMediating() ? rootAdView_ : nullptr;
}

std::optional<std::string> QMABannerView::adNetworkClassName() const {
  return slot_ ? slot_->adNetworkClassName() : std::nullopt;
}

bool QMABannerView::hasAutoRefreshed() const { return slot_ && slot_->hasAutoRefreshed(); }

// ---- the view

void QMABannerView::setFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  uikit::View::setFrame(frame);
  if (!hasInitialised_) return;
  if (frame.size != CGSizeFromQMAAdSize(adSize())) setAdSize(QMAAdSizeFromCGSize(frame.size));
}

void QMABannerView::setBounds(uikit::Rect bounds) {
  WV_DCHECK_MAIN_THREAD();
  uikit::View::setBounds(bounds);
  if (!hasInitialised_) return;
  // Bounds that measure what the ad size measures change nothing: a smart or full-width
  // banner keeps its size instead of becoming a custom one of the same measure.
  if (bounds.size != CGSizeFromQMAAdSize(adSize())) setAdSize(QMAAdSizeFromCGSize(bounds.size));
}

void QMABannerView::setAlpha(double alpha) { uikit::View::setAlpha(alpha == 0 ? 0.0 : 1.0); }

uikit::Size QMABannerView::intrinsicContentSize() const { return CGSizeFromQMAAdSize(adSize()); }

void QMABannerView::didMoveToWindow() {
  WV_DCHECK_MAIN_THREAD();
  if (slot_) slot_->bannerDidMoveToWindow(window());
}

// ---- answers to the slot

std::optional<bool> QMABannerView::slotShouldLoadRequest(QMASlot&, const std::shared_ptr<QMARequest>&) {
  WV_DCHECK_MAIN_THREAD();
  if (rootViewController()) return true;
  QMALogger::sharedInstance()->logPublicMessage(foundation::stringWithFormat(
      "Must set the rootViewController property of %@ before loading the ad.", className()));
  return false;
}

std::optional<bool> QMABannerView::slotShouldReloadCurrentRequest(QMASlot&) {
  WV_DCHECK_MAIN_THREAD();
  if (!hasLoadedAd_) return true;
  // Only while the ad can be seen: no hidden view up to a window, and a window reached.
  for (auto v = rootAdView_; v; v = v->superview()) {
    if (v->isHidden()) return false;
    if (std::dynamic_pointer_cast<uikit::Window>(v)) return true;
  }
  return false;
}

uikit::Rect QMABannerView::frameInInterface() const {
  WV_DCHECK_MAIN_THREAD();
  auto w = window();
  if (!w) return {};
  return QMAInterfaceOrientedRect(convertRectToView(uikit::View::bounds(), w.get()));
}

std::optional<Value> QMABannerView::coordinatesOfContentInScreen(const uikit::Screen& screen) const {
  WV_DCHECK_MAIN_THREAD();
  auto view = adView();
  if (!view) return std::nullopt;
  auto position = QMAViewUtilities::positionOfViewInScreen(*view, screen);
  if (!position) return std::nullopt;
  std::optional<Value> coordinates;
  coordinates.emplace(std::move(*position));
  return coordinates;
}

void QMABannerView::slotDidReceiveAdView(QMASlot&, const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  if (view == rootAdView_) return;
  if (rootAdView_) rootAdView_->removeFromSuperview();
  rootAdView_ = view;
  if (rootAdView_) addSubview(rootAdView_);
}

void QMABannerView::setAdSizeAndReload(QMAAdSize size, bool reload) {
  WV_DCHECK_MAIN_THREAD();
  if (!hasInitialised_) return;
  if (QMAAdSizeEqualToSize(size, adSize())) return;
  if (!sizeIsValidLoggingFailure(size)) return;
  // The view's own frame setter, so the banner's does not take the size for a new one.
  const uikit::Rect frame = uikit::View::frame();
  uikit::View::setFrame({frame.origin, CGSizeFromQMAAdSize(size)});
  slot_->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(size), reload);
}

// ---- the other slot protocols

bool QMABannerView::slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (ad) ad->setMediationDelegate(std::static_pointer_cast<QMAAdMediationDelegate>(self()));
  return slot.QMASlot::slotDidReceiveAd(slot, ad);
}

void QMABannerView::slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) {
  WV_DCHECK_MAIN_THREAD();
  slot.QMASlot::slotDidFailToReceiveAdWithError(slot, error);
}

std::optional<Value> QMABannerView::viewHierarchyInformationForSlot(QMASlot&) {
  WV_DCHECK_MAIN_THREAD();
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  const long count = defaults->objectForKey(kParentViewCountKey).isNull()
                         ? kDefaultParentViewCount
                         : static_cast<long>(defaults->integerForKey(kParentViewCountKey));
  foundation::Array parents;
  std::shared_ptr<uikit::View> child = self();
  for (auto ancestor = superview(); ancestor && static_cast<long>(parents.size()) < count;
       child = ancestor, ancestor = ancestor->superview()) {
    const auto& subviews = ancestor->subviews();
    const auto index = static_cast<std::uint64_t>(std::find(subviews.begin(), subviews.end(), child) - subviews.begin());
    parents.push_back(Value(Dictionary{{"type", ancestor->className()},
                                       {"index_of_child", index},
                                       {"is_hidden", ancestor->isHidden()},
                                       {"clips_to_bounds", ancestor->clipsToBounds()}}));
  }
  return Value(Dictionary{{"creator_class", className()}, {"parents", std::move(parents)}});
}

void QMABannerView::sendToDelegate(const char* selector,
                                   std::function<void(QMABannerViewDelegate&, QMABannerView&)> message,
                                   std::function<void(QMABannerView&)> after) {
  std::weak_ptr<QMABannerView> weak = self();
  QMARunOnMainThread([weak, selector, message = std::move(message), after = std::move(after)] {
    auto banner = weak.lock();
    if (!banner) return;
    auto d = banner->delegate();
    if (d && d->respondsToSelector(selector)) message(*d, *banner);
    if (after) after(*banner);
  });
}

void QMABannerView::slotFinishedLoadingAdContent(QMASlot&) {
  sendToDelegate(
      QMABannerViewDelegate::kAdViewDidReceiveAd, [](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewDidReceiveAd(b); },
      [](QMABannerView& b) { b.hasLoadedAd_ = true; });
}

void QMABannerView::slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& error) {
  sendToDelegate(
      QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError,
      [error](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewDidFailToReceiveAdWithError(b, error); },
      [](QMABannerView& b) {
        if (b.slot_) b.slot_->scheduleAdReloadTimer();
      });
}

void QMABannerView::slotWillPresentScreen(QMASlot&) {
  sendToDelegate(QMABannerViewDelegate::kAdViewWillPresentScreen,
                 [](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewWillPresentScreen(b); });
}

void QMABannerView::slotWillDismissScreen(QMASlot&) {
  sendToDelegate(QMABannerViewDelegate::kAdViewWillDismissScreen,
                 [](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewWillDismissScreen(b); });
}

void QMABannerView::slotDidDismissScreen(QMASlot&) {
  sendToDelegate(QMABannerViewDelegate::kAdViewDidDismissScreen,
                 [](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewDidDismissScreen(b); });
}

void QMABannerView::slotWillLeaveApplication(QMASlot&) {
  sendToDelegate(QMABannerViewDelegate::kAdViewWillLeaveApplication,
                 [](QMABannerViewDelegate& d, QMABannerView& b) { d.adViewWillLeaveApplication(b); });
}
