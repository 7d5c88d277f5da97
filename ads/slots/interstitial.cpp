#include "ads/slots/interstitial.h"

#include "ads/services/device.h"
#include "ads/services/geometry.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

using foundation::Value;

// The interstitial's answers as the slot's delegate; it holds the interstitial weakly.
class QMAInterstitial::SlotOwner : public QMASlotDelegate {
 public:
  explicit SlotOwner(std::weak_ptr<QMAInterstitial> interstitial) : interstitial_(std::move(interstitial)) {}

  std::optional<std::shared_ptr<QMAInAppPurchaseDelegate>> inAppPurchaseDelegate() const override {
    auto i = interstitial_.lock();
    if (!i) return std::nullopt;
    return i->inAppPurchaseDelegate();
  }
  std::optional<bool> slotShouldLoadRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override {
    auto i = interstitial_.lock();
    return i ? i->slotShouldLoadRequest(slot, request) : std::nullopt;
  }
  std::optional<bool> slotShouldReloadCurrentRequest(QMASlot&) override { return false; }
  std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot& slot) override {
    auto i = interstitial_.lock();
    return i ? i->slotShouldPreemptInProgressRequest(slot) : std::nullopt;
  }
  std::optional<Value> coordinatesOfContentInScreen(const uikit::Screen& screen) override {
    auto i = interstitial_.lock();
    return i ? i->coordinatesOfContentInScreen(screen) : std::nullopt;
  }
  void slotDidReceiveAppEventWithInfo(QMASlot& slot, const std::string& name,
                                      const std::optional<std::string>& info) override {
    if (auto i = interstitial_.lock()) i->slotDidReceiveAppEventWithInfo(slot, name, info);
  }
  std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot& slot, const std::shared_ptr<QMAAd>& ad,
                                                                       std::optional<foundation::Error>* error) override {
    auto i = interstitial_.lock();
    return i ? i->slotNotifyPublisherToRenderCustomRenderingAdError(slot, ad, error) : std::nullopt;
  }
  void slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override {
    if (auto i = interstitial_.lock()) i->slotWillLoadAdWithRequest(slot, request);
  }
  void slotDidReceiveAdClick(QMASlot& slot) override {
    if (auto i = interstitial_.lock()) i->slotDidReceiveAdClick(slot);
  }
  QMASlotOwnerFormat slotOwnerFormat() const override { return QMASlotOwnerFormat::Interstitial; }

 private:
  std::weak_ptr<QMAInterstitial> interstitial_;
};

std::shared_ptr<QMAInterstitial> QMAInterstitial::initWithAdUnitID(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  return make<QMAInterstitial>(adUnitID);
}

void QMAInterstitial::initWithAdUnitIDSteps(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  slot_ = QMASlot::initWithFrame(QMADevice::sharedInstance()->standardizedPortraitScreenBounds());
  slot_->setInterstitial(self());
  slotOwner_ = std::make_shared<SlotOwner>(self());
  slot_->setSlotDelegate(slotOwner_);
  slot_->setAdEventDelegate(std::static_pointer_cast<QMASlotAdEventDelegate>(self()));
  if (auto view = slot_->adView()) view->configureAsInterstitialAdView();
  slot_->setAdResponseDelegate(std::static_pointer_cast<QMASlotAdResponseDelegate>(self()));
  viewController_ = QMAInterstitialViewController::initWithSlot(slot_);
  if (adUnitID) slot_->setAdUnitID(adUnitID);
}

QMAInterstitial::~QMAInterstitial() {
  auto slot = std::move(slot_);
  if (!slot) return;
  QMARunOnMainThread([slot] {
    // A takeover keeps its ad object until it ends, so none is normally left; should one
    // be, it ends with the object.
    slot->endTakeover();
    slot->finishVistraceReporting();
    if (auto view = slot->adView()) view->setViewController({});
    slot->setInterstitial({});
    slot->cancelPendingAndFutureActions();
  });
}

std::optional<std::string> QMAInterstitial::adUnitID() const { return slot_->adUnitID(); }

void QMAInterstitial::setAdUnitID(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  slot_->setAdUnitID(adUnitID);
}

void QMAInterstitial::loadRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  // Once its screen has been dismissed the slot is gone for good and would refuse the load
  // without a word: the host hears why, as it does before the dismissal.
  if (hasBeenUsed_ && slot_->state() == QMASlotStateInvalidated && alreadyUsedError_) {
    sendInterstitialError(*alreadyUsedError_);
    return;
  }
  slot_->loadRequest(request);
}

void QMAInterstitial::cancel() {
  WV_DCHECK_MAIN_THREAD();
  slot_->cancelPendingAndFutureActions();
}

bool QMAInterstitial::isReady() const { return slot_ && slot_->state() == QMASlotStateAdReady; }

std::optional<std::string> QMAInterstitial::adNetworkClassName() const { return slot_->adNetworkClassName(); }

void QMAInterstitial::sendInterstitialError(const QMARequestError& error) {
  QMALogger::sharedInstance()->logPublicMessage(error.localizedDescription());
  slot_->didFailToReceiveAdWithErrorShouldCancelPendingActions(error, true);
}

bool QMAInterstitial::canPresentFullScreen() {
  if (hasBeenUsed_) {
    if (alreadyUsedError_) sendInterstitialError(*alreadyUsedError_);
    return false;
  }
  // A slot that holds no ad gives the empty mask, which no view supports.
  const auto& ad = slot_->ad();
  const std::uint64_t orientations = ad ? ad->supportedOrientations() : 0;
  auto view = slot_->adView();
  if (!view || !qma_supportsOrientations(*view, orientations)) {
    sendInterstitialError(QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidResponse, slot_->request()));
    return false;
  }
  if (!isReady()) {
    QMALogger::sharedInstance()->logPublicMessage("Cannot present interstitial. It is not ready.");
    return false;
  }
  return true;
}

void QMAInterstitial::presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (!canPresentFullScreen()) return;
  if (slot_->isMediating()) {
    slot_->presentMediatedInterstitialFromRootViewController(rootViewController);
  } else {
    if (auto view = slot_->adView()) view->setDelegate({});
    const auto& ad = slot_->ad();
    auto controller = std::move(viewController_);
    if (controller) {
      // What the creative asked for before it was shown is what it is shown in.
      controller->setSupportedInterfaceOrientations(
          controller->creativeSupportedInterfaceOrientations().value_or(ad ? ad->supportedOrientations() : 0));
      controller->setSlot(slot_);
    }
    // The impression is counted before the presentation, but not for one the platform
    // refuses: that ad is never seen (the refusal still reaches the host below).
    if (!controller || !controller->presentationWouldBeRefusedFromViewController(rootViewController))
      slot_->didMakeAdImpression();
    try {
      if (controller) controller->presentFromViewControllerCompletion(rootViewController, nullptr);
    } catch (const std::exception& exception) {
      sendInterstitialError(QMARequestError::errorWithCodeCustomMessage(
          QMARequestErrorCodeInternalError,
          foundation::stringWithFormat("Presenting the interstitial threw exception: %@ with trace: %@",
                                       std::string(exception.what()), "()")));
    }
  }
  hasBeenUsed_ = true;
  alreadyUsedError_ = QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInterstitialAlreadyUsed, slot_->request());
}

// ---- answers to the slot

std::optional<bool> QMAInterstitial::slotShouldLoadRequest(QMASlot&, const std::shared_ptr<QMARequest>&) {
  WV_DCHECK_MAIN_THREAD();
  if (!hasBeenUsed_) return true;
  if (alreadyUsedError_) sendInterstitialError(*alreadyUsedError_);
  return false;
}

std::optional<Value> QMAInterstitial::coordinatesOfContentInScreen(const uikit::Screen& screen) const {
  WV_DCHECK_MAIN_THREAD();
  auto view = slot_->adView();
  if (!view) return std::nullopt;
  auto position = QMAViewUtilities::positionOfViewInScreen(*view, screen);
  if (!position) return std::nullopt;
  std::optional<Value> coordinates;
  coordinates.emplace(std::move(*position));
  return coordinates;
}

void QMAInterstitial::slotDidReceiveAdClick(QMASlot&) {
  auto d = delegate();
  auto clicks = std::dynamic_pointer_cast<QMAInterstitialAdClickDelegate>(d);
  if (clicks && d->respondsToSelector(QMAInterstitialAdClickDelegate::kInterstitialDidReceiveAdClick))
    clicks->interstitialDidReceiveAdClick(*this);
}

bool QMAInterstitial::slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto view = slot.adView();
  if (!ad || !view || !qma_supportsOrientations(*view, ad->supportedOrientations())) return false;
  ad->setMediationDelegate(std::static_pointer_cast<QMAAdMediationDelegate>(self()));
  return slot.QMASlot::slotDidReceiveAd(slot, ad);
}

void QMAInterstitial::slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) {
  WV_DCHECK_MAIN_THREAD();
  slot.QMASlot::slotDidFailToReceiveAdWithError(slot, error);
}

// ---- ad events

void QMAInterstitial::sendToDelegate(const char* selector,
                                     std::function<void(QMAInterstitialDelegate&, QMAInterstitial&)> message,
                                     std::function<void(QMAInterstitial&)> before) {
  std::weak_ptr<QMAInterstitial> weak = self();
  QMARunOnMainThread([weak, selector, message = std::move(message), before = std::move(before)] {
    auto interstitial = weak.lock();
    if (!interstitial) return;
    if (before) before(*interstitial);
    auto d = interstitial->delegate();
    if (d && d->respondsToSelector(selector)) message(*d, *interstitial);
  });
}

void QMAInterstitial::slotFinishedLoadingAdContent(QMASlot&) {
  sendToDelegate(QMAInterstitialDelegate::kInterstitialDidReceiveAd,
                 [](QMAInterstitialDelegate& d, QMAInterstitial& i) { d.interstitialDidReceiveAd(i); });
}

void QMAInterstitial::slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& error) {
  sendToDelegate(QMAInterstitialDelegate::kInterstitialDidFailToReceiveAdWithError,
                 [error](QMAInterstitialDelegate& d, QMAInterstitial& i) {
                   d.interstitialDidFailToReceiveAdWithError(i, error);
                 });
}

void QMAInterstitial::slotWillPresentScreen(QMASlot&) {
  sendToDelegate(QMAInterstitialDelegate::kInterstitialWillPresentScreen,
                 [](QMAInterstitialDelegate& d, QMAInterstitial& i) { d.interstitialWillPresentScreen(i); });
}

void QMAInterstitial::slotWillDismissScreen(QMASlot&) {
  sendToDelegate(QMAInterstitialDelegate::kInterstitialWillDismissScreen,
                 [](QMAInterstitialDelegate& d, QMAInterstitial& i) { d.interstitialWillDismissScreen(i); });
}

void QMAInterstitial::slotDidDismissScreen(QMASlot&) {
  sendToDelegate(
      QMAInterstitialDelegate::kInterstitialDidDismissScreen,
      [](QMAInterstitialDelegate& d, QMAInterstitial& i) { d.interstitialDidDismissScreen(i); },
      [](QMAInterstitial& i) {
        i.slot_->finishVistraceReporting();
        i.slot_->invalidate();
        i.viewController_.reset();
      });
}

void QMAInterstitial::slotWillLeaveApplication(QMASlot&) {
  sendToDelegate(QMAInterstitialDelegate::kInterstitialWillLeaveApplication,
                 [](QMAInterstitialDelegate& d, QMAInterstitial& i) { d.interstitialWillLeaveApplication(i); });
}
