// The slot's numbered state and the events that move it, each with its side effects on
// the statistics, the latency timings, the MRAID script interceptor and the impression.

#include "ads/render/mraid_interceptor.h"
#include "ads/services/absolute_time.h"
#include "ads/services/csi.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"

using foundation::Value;

namespace {

std::shared_ptr<QMACSITimeRecorder> loadAdRecorder() { return QMACSI::sharedInstance()->timeRecorderForAction("load_ad_ios"); }

bool isInFlight(std::int64_t state) { return state >= QMASlotStateRequestingAdURL && state <= QMASlotStateRendering; }

}  // namespace

void QMASlot::takeMRAIDInterceptorShare() {
  if (holdsMRAIDInterceptorShare_) return;
  holdsMRAIDInterceptorShare_ = true;
  QMAMRAIDInterceptor::enableCanInitWithRequest();
}

void QMASlot::giveBackMRAIDInterceptorShare() {
  if (!holdsMRAIDInterceptorShare_) return;
  holdsMRAIDInterceptorShare_ = false;
  QMAMRAIDInterceptor::disableCanInitWithRequest();
}

void QMASlot::setState(std::int64_t state) {
  WV_DCHECK_MAIN_THREAD();
  if (state == state_ || state_ == QMASlotStateInvalidated) return;
  // A request in flight holds one share of the interceptor's counter, taken when it
  // starts and given back when it ends. Idle (0) passes between two steps of one request
  // (a fetch begins with a reset), so it neither takes nor gives; a cancel that leaves the
  // slot idle gives the share back itself.
  if (isInFlight(state)) {
    takeMRAIDInterceptorShare();
  } else if (state != QMASlotStateIdle) {
    giveBackMRAIDInterceptorShare();
  }
  if (state_ == QMASlotStateRequestingAdURL && SDKCoreAnswerTimer_) {
    SDKCoreAnswerTimer_->invalidate();
    SDKCoreAnswerTimer_.reset();
  }
  // The ad page's load ends with any state but its own two (another network's script
  // loads its page while the slot still fetches, and is checked for what it drew after).
  if (adPageLoadTimer_ && state != QMASlotStateFetchingAd && state != QMASlotStateRendering) {
    adPageLoadTimer_->invalidate();
    adPageLoadTimer_.reset();
  }
  const std::int64_t previous = state_;
  state_ = state;
  if (stateChangeHandler_) stateChangeHandler_(previous, state);
}

bool QMASlot::isMakingRequest() const {
  switch (state_) {
    case QMASlotStateIdle:
    case QMASlotStateSDKCoreFailed:
    case QMASlotStateAdReady:
    case QMASlotStateFailed:
      return false;
    default:
      return true;
  }
}

void QMASlot::resetState() { setState(QMASlotStateIdle); }

void QMASlot::willRequestAdURL() {
  WV_DCHECK_MAIN_THREAD();
  setState(QMASlotStateRequestingAdURL);
  {
    std::lock_guard lock(requestIDMutex_);
    requestID_.clear();
  }
  ++requestGeneration_;
  applicationStatistics_ = QMAApplication::sharedInstance()->nextRequestStatisticsDictionaryForSlot(this);
}

void QMASlot::didFailToRetrieveSDKCoreWithError(const QMARequestError& error) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  setState(QMASlotStateSDKCoreFailed);
  if (auto d = adEventDelegate()) d->slotDidFailToLoadAdContentWithError(*this, error);
  requestDidEndWithoutAd();
}

void QMASlot::requestDidEndWithoutAd() {
  // A shown page whose process ended while this request was in flight waited for its
  // replacement; none comes.
  if (auto delegate = adViewDelegate_) delegate->slotRequestDidEndWithoutAd();
}

void QMASlot::didReceiveAdURL() { setState(QMASlotStateReceivedAdURL); }

void QMASlot::willFetchAdContent() {
  WV_DCHECK_MAIN_THREAD();
  setState(QMASlotStateFetchingAd);
  if (!loadingAd_) return;
  auto stats = loadingAd_->statistics();
  if (!stats) return;
  const Value now = QMAAbsoluteTime::absoluteTimeInMilliseconds();
  const Value* requested = applicationStatistics_.count("currts") ? &applicationStatistics_.at("currts") : nullptr;
  stats->setObjectForKeyShouldNotifyDelegate(requested ? *requested : now, "treq", false);
  stats->setObjectForKeyShouldNotifyDelegate(now, "tfetch", false);
  if (adUnitID_) stats->setObjectForKeyShouldNotifyDelegate(Value(*adUnitID_), "slotid", false);
  if (auto it = applicationStatistics_.find("seq_num"); it != applicationStatistics_.end())
    stats->setObjectForKeyShouldNotifyDelegate(it->second, "seq_num", false);
}

void QMASlot::didFetchAdContent() {
  WV_DCHECK_MAIN_THREAD();
  if (loadingAd_) {
    if (auto stats = loadingAd_->statistics())
      stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(), "tresponse", false);
  }
  const auto& application = QMAApplication::sharedInstance()->statistics();
  for (const char* key : {"oar", "bas_on", "bas_off"})
    application->setObjectForKeyShouldNotifyDelegate(QMAStatisticValue::decimalNumber(Value(0)), key, false);
}

void QMASlot::willProcessMediationResponse() {
  WV_DCHECK_MAIN_THREAD();
  if (loadingAd_) {
    if (auto stats = loadingAd_->statistics()) stats->setObjectForKeyShouldNotifyDelegate(Value(true), "ismediation", true);
  }
  setState(QMASlotStateFetchingAd);
}

void QMASlot::willStartAdRendering() { setState(QMASlotStateRendering); }

void QMASlot::willLoadAdHTMLInWebView() {
  willStartAdRendering();
  // Once per ad page: a script ad's page was bounded from its start.
  if (state_ == QMASlotStateRendering && !adPageLoadTimer_) armAdPageLoadTimer();
}

void QMASlot::didReceiveValidAd() {
  WV_DCHECK_MAIN_THREAD();
  if (auto recorder = loadAdRecorder()) {
    recorder->endTimingVariableWithNameKey("awr_ios", adRenderingKey_);
    recorder->endTimingVariableWithNameKey("ttc_ios", totalTimeKey_);
  }
  setState(QMASlotStateAdReady);
  pendingAdStatistics_.clear();
  // The new ad replaces a page whose process ended meanwhile, whatever shows it (another
  // network's view included).
  if (auto delegate = adViewDelegate_) delegate->slotRequestDidEndWithAd();
}

void QMASlot::didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>& error,
                                                                    bool cancelPendingActions) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (auto recorder = loadAdRecorder()) {
    recorder->cancelTimingVariableWithNameKey("awr_ios", adRenderingKey_);
    recorder->cancelTimingVariableWithNameKey("ttc_ios", totalTimeKey_);
  }
  setState(QMASlotStateFailed);
  loadingAd_.reset();
  QMAApplication::sharedInstance()->didNotSendAdStatistics(pendingAdStatistics_);
  pendingAdStatistics_.clear();
  if (cancelPendingActions) this->cancelPendingActions();
  const QMARequestError reported = error ? *error : QMARequestError::errorWithCode(QMARequestErrorCodeInternalError);
  if (auto d = adEventDelegate()) d->slotDidFailToLoadAdContentWithError(*this, reported);
  requestDidEndWithoutAd();
}

void QMASlot::didLoadAdHTMLInWebView() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  finishedLoadingAdResponse(loadingAd_);
  if (adView_) adView_->setTouched(false);
  const Value now = QMAAbsoluteTime::absoluteTimeInMilliseconds();
  if (ad_) {
    if (auto stats = ad_->statistics()) stats->setObjectForKeyShouldNotifyDelegate(now, "tload", true);
  }
  timeLastLoaded_ = static_cast<std::uint64_t>(now.longLongValue().value_or(0));
}

void QMASlot::didMakeAdImpression() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  QMAApplication::sharedInstance()->statistics()->incrementNumberForKeyShouldNotifyDelegate("pimp", false);
  pingImpressionURLs();
  // Reporting starts with the first impression of an ad; a second one (a publisher's own
  // impression after ours) does not start it again.
  if (viewHasMadeImpression_) return;
  setViewHasMadeImpression(true);
  startVistraceReportingIfEnabled();
}

void QMASlot::willLeaveAppDueToClick() {
  WV_DCHECK_MAIN_THREAD();
  if (!ad_) return;
  if (auto stats = ad_->statistics()) stats->setObjectForKeyShouldNotifyDelegate(Value(true), "pclb", true);
}

void QMASlot::invalidateState() { setState(QMASlotStateInvalidated); }
