// The slot's mediation entry. Mediation itself (the configuration, the waterfall over the
// ad networks, their connectors and adapters) is the mediation part's later work; what the
// slot does with a mediation response until then is decided here.

#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"

bool QMASlot::isMediating() const { return ad_ && ad_->responseType() == QMAAdResponseTypeMediation; }

bool QMASlot::changeAdTypeTo(const std::shared_ptr<QMAAdType>&) {
  WV_DCHECK_MAIN_THREAD();
  // Only a mediated network showing an ad could take a new size itself, and no network
  // shows one yet.
  return false;
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
  // No network connector exists in this build, which is what the mediation manager
  // reports as finding no adapter.
  didFailToReceiveAdWithErrorShouldCancelPendingActions(QMARequestError::errorWithCode(QMARequestErrorCodeNoAdapter),
                                                        false);
  scheduleAdReloadTimer();
}

void QMASlot::presentMediatedInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>&) {
  WV_DCHECK_MAIN_THREAD();
  // A mediated interstitial is presented by its network, which none is yet.
}

std::optional<std::string> QMASlot::adNetworkClassName() const {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != QMASlotStateAdReady) return std::nullopt;
  // A mediated ad names its network's adapter, which no waterfall delivers yet; the ad
  // network's own ads are the house adapter's.
  if (isMediating()) return std::nullopt;
  return std::string(kQMAHouseAdapterClassName);
}
