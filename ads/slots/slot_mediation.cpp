// The slot's mediation entry: a mediation response's configuration goes to the slot's
// mediation manager after the checks that the requested ad type can be served by it; the
// manager's waterfall ends in a mediated ad or a request error, both reported here.

#include "ads/services/logging.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

bool QMASlot::isMediating() const { return ad_ && ad_->responseType() == QMAAdResponseTypeMediation; }

bool QMASlot::changeAdTypeTo(const std::shared_ptr<QMAAdType>& type) {
  WV_DCHECK_MAIN_THREAD();
  const bool interstitial = (adType_ && adType_->isInterstitial()) || (type && type->isInterstitial());
  if (interstitial || !mediationManager_) return false;
  return mediationManager_->changeAdTypeTo(type);
}

void QMASlot::processMediationAdResponse(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (!ad || !ad->mediationDelegate()) {
    // The format does not mediate. The request ends here, and the owner hears it as any
    // other failure instead of a slot left fetching.
    const auto error = QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInvalidMediationResponse,
                                                                   "Current class not set up for processing mediation.");
    didFailToReceiveAdWithErrorShouldCancelPendingActions(error, false);
    QMASlot::slotDidFailToReceiveAdWithError(*this, error);
    return;
  }
  willProcessMediationResponse();
  if (!mediationManager_) {
    // No mediation part was installed: nothing here can run a waterfall.
    didFailToReceiveAdWithErrorShouldCancelPendingActions(QMARequestError::errorWithCode(QMARequestErrorCodeNoAdapter),
                                                          false);
    scheduleAdReloadTimer();
    return;
  }
  std::optional<QMARequestError> configError;
  auto config = mediationManager_->configurationWithAppKeyBodyError(adUnitID_, ad->adHTML().value_or(""), &configError);
  if (!config) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(
        configError ? *configError : QMARequestError::errorWithCode(QMARequestErrorCodeInvalidMediationResponse), false);
    return;
  }
  finishedLoadingAdResponse(ad);
  if (ad->customAdSizeString()) newAdSize_ = QMAAdSizeFromString(*ad->customAdSizeString());
  const bool interstitialSlot = adType_ && adType_->isInterstitial();
  std::shared_ptr<QMAAdType> requested = adType_;
  if (!interstitialSlot && (newAdSize_.width != 0 || newAdSize_.height != 0))
    requested = QMAAdType::bannerAdTypeForSize(QMAAdSizeFromCGSize(newAdSize_));
  auto configType = mediationManager_->adTypeOfConfiguration(*config);
  if (!configType || !configType->isValid()) {
    QMALogger::sharedInstance()->logPublicMessage(
        foundation::stringWithFormat("Warning: mediated ad type is unknown or invalid. Resetting type to %@.",
                                     requested ? foundation::Value(requested->description()) : foundation::Value()));
    mediationManager_->setAdTypeOfConfiguration(*config, requested);
  }
  requestAdWithTypeMediationConfig(requested, config);
  if (!interstitialSlot) {
    setReloadInterval(mediationManager_->refreshIntervalOfConfiguration(*config));
    scheduleAdReloadTimer();
  }
}

void QMASlot::requestAdWithTypeMediationConfig(const std::shared_ptr<QMAAdType>& type,
                                               const std::shared_ptr<QMAMConfig>& config) {
  WV_DCHECK_MAIN_THREAD();
  mediationConfiguration_ = config;
  if (mediationManager_ && hasConsistentMediationConfigForAdType(type)) {
    mediationManager_->mediateForAdTypeConfig(type, config);
  } else {
    scheduleAdReloadTimer();
  }
}

bool QMASlot::hasConsistentMediationConfigForAdType(const std::shared_ptr<QMAAdType>& requested) {
  WV_DCHECK_MAIN_THREAD();
  auto fail = [&](long code, const std::string& message) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(QMARequestError::errorWithCodeCustomMessage(code, message),
                                                          false);
    return false;
  };
  const foundation::Value none;
  if (!requested)
    return fail(QMARequestErrorCodeInvalidRequest, foundation::stringWithFormat("Invalid requested QMAAdType: %@.", none));
  auto configured = mediationConfiguration_ && mediationManager_
                        ? mediationManager_->adTypeOfConfiguration(*mediationConfiguration_)
                        : nullptr;
  if (!configured)
    return fail(QMARequestErrorCodeInvalidMediationResponse,
                foundation::stringWithFormat("Invalid mediation configuration QMAAdType: %@.", none));
  if (requested->isInterstitial() && !configured->isInterstitial())
    return fail(QMARequestErrorCodeIncompatibleAdType,
                "Unable to request an interstitial when mediation configuration was for " +
                    NSStringFromQMAAdSize(configured->adSize()) + ".");
  if (!requested->isInterstitial() && configured->isInterstitial())
    return fail(QMARequestErrorCodeIncompatibleAdType, "Unable to request " + NSStringFromQMAAdSize(requested->adSize()) +
                                                           " when mediation configuration was for an interstitial.");
  if (requested->isInterstitial()) return true;
  if (QMAAdSizeIsValid(requested->adSize())) return true;
  return fail(QMARequestErrorCodeIncompatibleAdType,
              "Unable to request ad with invalid size: " + NSStringFromQMAAdSize(requested->adSize()) + ".");
}

void QMASlot::presentMediatedInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) {
  WV_DCHECK_MAIN_THREAD();
  if (!isMediating() || !adType_ || !adType_->isInterstitial() || !mediationManager_) return;
  mediationManager_->presentInterstitialFromRootViewController(root);
}

std::shared_ptr<uikit::ViewController> QMASlot::viewControllerForPresentingModalView() const {
  WV_DCHECK_MAIN_THREAD();
  auto owner = slotDelegate();
  return owner ? owner->rootViewController() : nullptr;
}

std::optional<std::string> QMASlot::adNetworkClassName() const {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != QMASlotStateAdReady) return std::nullopt;
  if (isMediating()) return mediationManager_ ? mediationManager_->receivedAdapterClassName() : std::nullopt;
  return std::string(kQMAHouseAdapterClassName);
}
