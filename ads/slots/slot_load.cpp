// The start of every ad request of a slot and the timer that repeats it: the gate, the
// request object, the three roads to an ad (a ready ad in the extras, an ad URL in the
// extras, the SDK-core page) and the reload timer.

#include <any>

#include "ads/model/kvr_request.h"
#include "ads/render/ad_network_javascript_ad_view_delegate.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/services/csi.h"
#include "ads/services/device.h"
#include "ads/services/logging.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

using foundation::Dictionary;

namespace {

// The test-device hint goes out once per process (main thread).
bool testAdInstructionsLogged = false;

std::uint64_t orientationMaskFromExtras(const std::optional<Dictionary>& parameters) {
  if (!parameters) return 0;
  const std::string* orientation = foundation::stringForKey(*parameters, "_orientation");
  if (!orientation) return 0;
  if (*orientation == "p") return 6;
  if (*orientation == "l") return 24;
  return 0;
}

template <class T>
std::optional<T> objectExtra(const std::shared_ptr<QMAExtras>& extras, std::string_view key) {
  if (!extras) return std::nullopt;
  const std::any* object = extras->additionalObjectForKey(key);
  if (!object) return std::nullopt;
  if (const T* typed = std::any_cast<T>(object)) return *typed;
  return std::nullopt;
}

}  // namespace

void QMASlot::resetTestAdInstructionsForTesting() { testAdInstructionsLogged = false; }

void QMASlot::loadRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  nextRequest_ = request ? request->copy() : nullptr;
  loadNextRequestWithAutoRefresh(false);
}

void QMASlot::loadNextRequestWithAutoRefresh(bool autoRefresh) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  QMADevice::sharedInstance()->updateDynamicParameters();
  auto csi = QMACSI::sharedInstance();
  auto recorder = csi->timeRecorderForAction("load_ad_ios");
  csi->didMakeAdRequest();
  csi->sendReport();
  if (recorder) {
    recorder->startTimingVariableWithNameKey("arf_ios", adResponseKey_);
    recorder->startTimingVariableWithNameKey("ttc_ios", totalTimeKey_);
  }
  slotHasAttemptedAnAdRequestAtLeastOnce_ = true;
  if (!shouldMakeRequest(nextRequest_)) return;

  cancelLoad();
  willRequestAdURL();
  if (!nextRequest_) nextRequest_ = QMARequest::request();
  updateLoadRequestTimeValuesForRequest(*nextRequest_);
  request_ = nextRequest_->copy();
  if (auto d = slotDelegate()) d->slotWillLoadAdWithRequest(*this, request_);
  hasAutoRefreshed_ = autoRefresh;
  if (!testAdInstructionsLogged) {
    testAdInstructionsLogged = true;
    if (!request_->isATestDevice()) logRequestTestAdInstructions();
  }

  // The extras object is taken before its parameters are read: extras meant for one use
  // leave the request when read, and leave the slot's next request with them, so a reload
  // asks the network instead of showing the same ready ad again.
  auto extras = request_->adNetworkExtrasFor<QMAExtras>();
  const std::optional<Dictionary> parameters = request_->networkExtrasAdditionalParameters();
  if (extras && !request_->adNetworkExtrasFor<QMAExtras>()) nextRequest_->removeAdNetworkExtrasFor(QMAExtras::kClassName);
  const std::uint64_t orientations = orientationMaskFromExtras(parameters);

  std::shared_ptr<QMAAd> preset = objectExtra<std::shared_ptr<QMAAd>>(extras, "_ad").value_or(nullptr);
  if (!preset && parameters) {
    if (const Dictionary* description = foundation::dictionaryForKey(*parameters, "_ad")) {
      preset = adType_ && adType_->isInterstitial()
                   ? std::static_pointer_cast<QMAAd>(QMAInterstitialAd::initWithDictionary(*description))
                   : std::static_pointer_cast<QMAAd>(QMABannerAd::initWithDictionary(*description));
    }
  }
  if (preset) {
    if (orientations) preset->setSupportedOrientations(orientations);
    std::optional<Dictionary> headers;
    if (parameters) {
      if (const Dictionary* given = foundation::dictionaryForKey(*parameters, "_adHeaders")) headers = *given;
    }
    loadAdHeaders(preset, headers);
    return;
  }
  if (auto url = objectExtra<net::URL>(extras, "_requestUrl")) {
    QMAMRAIDInterceptor::allow();
    auto ad = QMAAd::init();
    ad->setAdURL(*url);
    if (orientations) ad->setSupportedOrientations(orientations);
    loadAdHeaders(ad, std::nullopt);
    return;
  }
  armSDKCoreAnswerTimer();
  QMASDKCoreController::sharedInstance()->buildAdURL(std::static_pointer_cast<QMASDKCoreControllerDelegate>(keep));
}

bool QMASlot::shouldMakeRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  if (state_ == QMASlotStateInvalidated) return false;
  auto delegate = slotDelegate();
  if (isMakingRequest()) {
    const bool preempt = delegate && delegate->slotShouldPreemptInProgressRequest(*this).value_or(false);
    if (!preempt) return false;
  }
  if (delegate && delegate->slotShouldLoadRequest(*this, request) == std::optional<bool>(false)) {
    if (auto events = adEventDelegate())
      events->slotDidFailToLoadAdContentWithError(
          *this, QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidRequest, request));
    return false;
  }
  if (!QMAApplication::sharedInstance()->isAppActive()) return false;
  return QMADevice::sharedInstance()->OSIsSupported();
}

void QMASlot::updateLoadRequestTimeValuesForRequest(QMARequest& request) {
  request.setCorrelationID(KVRRequestPrivate::sharedInstance()->correlationID());
}

void QMASlot::logRequestTestAdInstructions() {
  const std::string identifier = QMADevice::sharedInstance()->deviceIdentifier();
  if (!identifier.empty()) {
    QMALogger::sharedInstance()->logPublicMessage(foundation::stringWithFormat(
        "To get test ads on this device, call: request.testDevices = @[ %@ ];",
        foundation::stringWithFormat("@\"%@\"", identifier)));
  } else {
    QMALogger::sharedInstance()->logPublicMessage(
        "Advertising tracking may be disabled. To get test ads on this device, enable advertising tracking.");
  }
}

void QMASlot::setReloadInterval(double seconds) {
  WV_DCHECK_MAIN_THREAD();
  reloadInterval_ = seconds >= 1.0 ? seconds : 0.0;
}

void QMASlot::scheduleAdReloadTimer() {
  WV_DCHECK_MAIN_THREAD();
  deactivateReloadTimer();
  if (!reloadable_ || !slotHasAttemptedAnAdRequestAtLeastOnce_ || !(reloadInterval_ > 0.0)) return;
  std::weak_ptr<QMASlot> weak = shared_from_this();
  reloadTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      reloadInterval_, false, 0.0, [weak](const std::shared_ptr<QMATimer>&) {
        auto slot = weak.lock();
        if (!slot) return;
        slot->refreshedEarlyAfterEndedAd_ = false;
        slot->reloadCurrentRequest();
      });
}

void QMASlot::deactivateReloadTimer() {
  if (reloadTimer_) reloadTimer_->invalidate();
  reloadTimer_.reset();
}

void QMASlot::adWebContentDidEnd() {
  WV_DCHECK_MAIN_THREAD();
  if (state_ == QMASlotStateInvalidated) return;
  auto keep = self();
  // An empty banner is never left on screen with its owner unaware. The ad view stays
  // where it is (a banner refreshes only while its ad view can be seen) and shows the
  // next ad when it comes.
  if (state_ == QMASlotStateAdReady || !isMakingRequest()) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(
        QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                    "The ad's page ended and could not be shown again."),
        false);
  }
  if (isMakingRequest()) return;  // the next ad is on its way already
  // One early request; an ad that ends again waits for the ordinary refresh, so a creative
  // that always ends its process cannot drive requests back to back.
  if (!refreshedEarlyAfterEndedAd_ && reloadable_ && reloadInterval_ > 0.0 && slotHasAttemptedAnAdRequestAtLeastOnce_) {
    refreshedEarlyAfterEndedAd_ = true;
    reloadCurrentRequest();
  } else {
    scheduleAdReloadTimer();
  }
}

void QMASlot::reloadCurrentRequest() {
  WV_DCHECK_MAIN_THREAD();
  if (!reloadable_) return;
  auto keep = self();
  auto delegate = slotDelegate();
  if (delegate && delegate->slotShouldReloadCurrentRequest(*this) == std::optional<bool>(true)) {
    loadNextRequestWithAutoRefresh(true);
  } else {
    scheduleAdReloadTimer();
  }
}

void QMASlot::armSDKCoreAnswerTimer() {
  if (SDKCoreAnswerTimer_) SDKCoreAnswerTimer_->invalidate();
  std::weak_ptr<QMASlot> weak = shared_from_this();
  const std::uint64_t generation = requestGeneration_;
  SDKCoreAnswerTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      kSDKCoreAnswerTimeout, false, 0.0, [weak, generation](const std::shared_ptr<QMATimer>&) {
        if (auto slot = weak.lock()) slot->SDKCoreAnswerTimedOut(generation);
      });
}

void QMASlot::armAdPageLoadTimer() {
  if (adPageLoadTimer_) adPageLoadTimer_->invalidate();
  std::weak_ptr<QMASlot> weak = shared_from_this();
  const std::uint64_t generation = ++adPageLoadGeneration_;
  adPageLoadTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      adPageLoadTimeout_, false, 0.0, [weak, generation](const std::shared_ptr<QMATimer>&) {
        if (auto slot = weak.lock()) slot->adPageLoadTimedOut(generation);
      });
}

void QMASlot::adPageLoadTimedOut(std::uint64_t generation) {
  WV_DCHECK_MAIN_THREAD();
  if ((state_ != QMASlotStateFetchingAd && state_ != QMASlotStateRendering) || generation != adPageLoadGeneration_)
    return;
  auto keep = self();
  // Something of the page (a picture that drips, a frame that never ends) holds its load
  // open: the ad fails as a page that failed to load, and what it still loads is cut. A
  // network script's check of what it drew ends with it.
  QMALog("The ad's page did not finish loading within %.0f s; the ad failed.", adPageLoadTimeout_);
  if (auto script = std::dynamic_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(adViewDelegate_))
    script->stopRenderingTimer();
  if (adView_) adView_->stopLoading();
  didFailToReceiveAdWithErrorShouldCancelPendingActions(
      QMARequestError::errorWithCodeRequest(QMARequestErrorCodeNetworkError, request_), false);
}

void QMASlot::SDKCoreAnswerTimedOut(std::uint64_t generation) {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != QMASlotStateRequestingAdURL || generation != requestGeneration_) return;
  // The page never answered (it was reloaded between the call and the answer, or it
  // broke): the request ends here, and whatever the page says later is not wanted.
  didFailToReceiveAdWithErrorShouldCancelPendingActions(
      QMARequestError::errorWithCodeRequest(QMARequestErrorCodeTimeout, request_), false);
}
