// The slot's side of the conversation with the SDK-core controller: the request-parameter
// dictionary, the page's answers, and loadAdHeaders, where every road to an ad becomes a
// fetch.

#include <cmath>

#include "ads/services/ad_settings_parameters.h"
#include "ads/services/content_hashing.h"
#include "ads/services/geometry.h"
#include "ads/services/token_dispenser.h"
#include "ads/render/ad_network_javascript_ad_view_delegate.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

std::string QMASlot::requestID() const {
  std::lock_guard lock(requestIDMutex_);
  return requestID_;
}

void QMASlot::setRequestID(const std::string& requestID) {
  std::lock_guard lock(requestIDMutex_);
  requestID_ = requestID;
}

std::string QMASlot::multipleAdSizeParameterFromSizes(const std::vector<std::shared_ptr<const QMABoxedValue>>& sizes) {
  std::string text;
  for (const auto& boxed : sizes) {
    if (!boxed) continue;
    const QMAAdSize size = QMAAdSizeFromNSValue(boxed);
    if (QMAAdSizeEqualToSize(size, kQMAAdSizeInvalid)) continue;
    const uikit::Size points = CGSizeFromQMAAdSize(size);
    // Whole points only: a size that is negative, not finite or beyond any screen has no
    // such text, and would have none an unsigned conversion could give it.
    auto whole = [](double v) { return std::isfinite(v) && v >= 0 && v < 1e9; };
    if (!whole(points.width) || !whole(points.height)) continue;
    if (!text.empty()) text += "|";
    text += foundation::stringWithFormat("%lux%lu", static_cast<unsigned long>(points.width),
                                         static_cast<unsigned long>(points.height));
  }
  return text;
}

std::optional<Dictionary> QMASlot::requestParameters() {
  // On the SDK core's request queue. The token waits for its dispenser's queue, which may
  // be busy for a while: it is asked here, never on the main thread; what the slot and its
  // owner hold is read on the main thread, which this queue waits for.
  const std::optional<std::string> token = QMATokenDispenser::sharedInstance()->token();
  const std::optional<std::string> fingerprint = QMAContentHashing::sharedInstance().fingerprintWithServedPenaltyDeduction();
  auto& analytics = QMAAdSettingsParameters::sharedInstance();
  analytics.updateClientID();
  const std::optional<std::string> clientID = analytics.clientID();
  const std::optional<std::string> hitID = QMAAdSettingsParameters::currentHitID();
  Dictionary parameters;
  auto build = [&] { parameters = requestParametersOnMainThread(token, fingerprint, clientID, hitID); };
  if (dispatch::isMainThread()) {
    build();
  } else {
    dispatch::Queue::main()->sync(build);
  }
  return parameters;
}

Dictionary QMASlot::requestParametersOnMainThread(const std::optional<std::string>& token,
                                                  const std::optional<std::string>& fingerprint,
                                                  const std::optional<std::string>& clientID,
                                                  const std::optional<std::string>& hitID) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  Dictionary parameters = request_ ? request_->parameters() : Dictionary{};
  auto application = QMAApplication::sharedInstance();
  pendingAdStatistics_ = application->pendingAdStatistics();

  // 1. quality signals, each part only when there is something in it
  Dictionary quality;
  if (!applicationStatistics_.empty()) quality["app"] = applicationStatistics_;
  if (Dictionary slots = application->slotStatisticsDictionary(); !slots.empty()) quality["slots"] = std::move(slots);
  if (request_ && request_->privateMediationExtras() && !request_->privateMediationExtras()->empty())
    quality["request"] = *request_->privateMediationExtras();
  Array ads;
  for (const auto& stats : pendingAdStatistics_)
    if (stats) ads.emplace_back(stats->dictionary());
  if (!ads.empty()) quality["ads"] = std::move(ads);
  if (!quality.empty()) parameters["quality_signals"] = std::move(quality);

  // 2. the slot
  if (adUnitID_ && !adUnitID_->empty()) parameters["slotname"] = *adUnitID_;
  auto delegate = slotDelegate();
  const bool interstitial = adType_ && adType_->isInterstitial();
  if (!interstitial) {
    if (delegate) {
      if (auto sizes = delegate->validAdSizes()) {
        if (std::string sz = multipleAdSizeParameterFromSizes(*sizes); !sz.empty()) parameters["sz"] = sz;
      }
    }
    const uikit::Rect frame = (delegate ? delegate->frame() : std::nullopt).value_or(adView_ ? adView_->frame() : uikit::Rect{});
    const uikit::Rect bounds =
        (delegate ? delegate->bounds() : std::nullopt).value_or(adView_ ? adView_->bounds() : uikit::Rect{});
    parameters["ad_frame"] = QMADictionaryWithRect(frame);
    parameters["ad_bounds"] = QMADictionaryWithRect(bounds);
  } else {
    parameters["format"] = "interstitial_mb";
  }
  if (adType_ && QMAAdSizeIsFullWidth(adType_->adSize())) {
    parameters["smart_w"] = "full";
    if (QMAAdSizeIsSmartBanner(adType_->adSize())) parameters["smart_h"] = "auto";
  }
  if (std::string id = requestID(); !id.empty()) parameters["request_id"] = id;
  if (delegate) {
    if (auto position = delegate->coordinatesOfContentInScreen(uikit::Screen::mainScreen()); position && !position->isNull())
      parameters["ad_pos"] = *position;
  }
  if (fingerprint) parameters["content_info"] = Dictionary{{"fingerprint", *fingerprint}, {"v", 1}};
  if (manualImpressionsEnabled_) parameters["d_imp_hdr"] = "1";
  if (inAppPurchaseDelegate()) parameters["iap_set"] = "1";
  const Value useHTTPS = foundation::UserDefaults::standardUserDefaults()->objectForKey(QMAAdFetcher::kUseHTTPSKey);
  if (useHTTPS.isNull() || useHTTPS.boolValue().value_or(false)) parameters["force_https"] = "1";
  if (token) {
    parameters["pan"] = Dictionary{{"token", *token}};
    parameters["force_https"] = "1";
  }
  if (clientID) parameters["wj_cid"] = *clientID;
  if (hitID) parameters["wj_hid"] = *hitID;
  if (auto keyDelegate = adKeyDelegate()) {
    if (auto hierarchy = keyDelegate->viewHierarchyInformationForSlot(*this); hierarchy && !hierarchy->isNull())
      parameters["view_hierarchy"] = *hierarchy;
  }
  return parameters;
}

long QMASlot::requestedAdType() {
  WV_DCHECK_MAIN_THREAD();
  auto delegate = slotDelegate();
  if (!delegate) return 0;
  switch (delegate->slotOwnerFormat()) {
    case QMASlotOwnerFormat::Banner: return 1;
    case QMASlotOwnerFormat::Interstitial: return 2;
    default: return 0;
  }
}

bool QMASlot::wantsAnswerForRequestID(const std::string& requestID) {
  WV_DCHECK_MAIN_THREAD();
  // Only the request the slot is waiting for: an answer to a request it has cancelled,
  // replaced or given up on (a late one from a page that was reloaded) would revive it.
  return state_ == QMASlotStateRequestingAdURL && !requestID.empty() && requestID == this->requestID();
}

void QMASlot::loadAdURLWithParameters(const Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  const std::string* answeredID = foundation::stringForKey(parameters, "request_id");
  if (!answeredID || !wantsAnswerForRequestID(*answeredID)) return;
  auto keep = self();
  didReceiveAdURL();
  if (parameters.count("errors")) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(
        QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidRequest, request_), false);
    return;
  }
  auto application = QMAApplication::sharedInstance();
  auto stats = application->statistics();
  auto copySequenceNumber = [&] {
    Value sequence = stats->objectForKey("seq_num");
    if (!sequence.isNull()) stats->setObjectForKeyShouldNotifyDelegate(sequence, "losn", false);
  };
  if (const std::string* scenario = foundation::stringForKey(parameters, "request_scenario")) {
    if (*scenario == "offline_empty") {
      stats->incrementNumberForKeyShouldNotifyDelegate("oar", false);
      copySequenceNumber();
    } else if (*scenario == "offline_buffer") {
      stats->incrementNumberForKeyShouldNotifyDelegate("bas_off", false);
      stats->incrementNumberForKeyShouldNotifyDelegate("oar", false);
      copySequenceNumber();
    } else if (*scenario == "online_buffer") {
      stats->incrementNumberForKeyShouldNotifyDelegate("bas_on", false);
    }
  }
  if (const std::string* protection = foundation::stringForKey(parameters, "enable_auto_click_protection");
      protection && *protection == "1" && adViewDelegate_ && adViewDelegate_->opener()) {
    adViewDelegate_->opener()->setAutoClickProtected(true);
  }
  auto ad = QMAAd::init();
  // A "url" that is no text is no URL: the fetch then finds nothing to show.
  if (const std::string* url = foundation::stringForKey(parameters, "url")) ad->setAdURL(net::URL::fromString(*url));
  loadAdHeaders(ad, std::nullopt);
}

void QMASlot::loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<Dictionary>& headers) {
  WV_DCHECK_MAIN_THREAD();
  // A ready ad comes while the slot waits for one (state 2, from the page or the request's
  // extras), an ad URL's ad once the URL arrived (3).
  if (state_ != QMASlotStateRequestingAdURL && state_ != QMASlotStateReceivedAdURL) return;
  auto keep = self();
  if (mediationManager_) mediationManager_->cancel();
  if (adFetcher_) adFetcher_->cancel();
  resetRequestState();
  loadingAd_ = ad ? ad : QMAAd::init();
  willFetchAdContent();
  if (loadingAd_->hasAdNetworkJavaScript()) {
    loadAdNetworkJavaScriptRequest(loadingAd_);
    return;
  }
  if (!(adType_ && adType_->isInterstitial())) {
    if (auto banner = std::dynamic_pointer_cast<QMABannerAd>(loadingAd_)) {
      newAdSize_ = banner->size().size;
      setReloadInterval(banner->reloadInterval());
    }
  }
  adFetcher_ = QMAAdFetcher::init();
  adFetcher_->fetchRemainingContentForAdHeadersDelegateRequestError(
      loadingAd_, headers, std::static_pointer_cast<QMAAdFetcherDelegate>(keep), request_, nullptr);
}

void QMASlot::invalidJavaScriptRequest() {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != QMASlotStateRequestingAdURL) return;
  didFailToReceiveAdWithErrorShouldCancelPendingActions(
      QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidRequest, request_), false);
}

void QMASlot::failedJavaScriptFile() {
  WV_DCHECK_MAIN_THREAD();
  // The page failed before it was given this request: a request it was given is past the
  // page's loading, and a stale entry for an earlier request must not end this one.
  if (state_ != QMASlotStateRequestingAdURL || !requestID().empty()) return;
  didFailToRetrieveSDKCoreWithError(QMARequestError::errorWithCode(QMARequestErrorCodeNetworkError));
}

void QMASlot::failedJavaScriptFileForRequestID(const std::string& requestID) {
  WV_DCHECK_MAIN_THREAD();
  // The page given this very request is gone: it fails now, as a page that failed to load
  // does, rather than at the answer's time-out.
  if (!wantsAnswerForRequestID(requestID)) return;
  didFailToRetrieveSDKCoreWithError(QMARequestError::errorWithCode(QMARequestErrorCodeNetworkError));
}

void QMASlot::loadAdNetworkJavaScriptRequest(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  const std::string html = ad && ad->adHTML() ? QMATrimmedString(*ad->adHTML()) : std::string();
  if (html.empty()) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(
        QMARequestError::errorWithCodeRequestHTTPStatusCodeCustomMessage(QMARequestErrorCodeNetworkError, request_, 0,
                                                                         "Empty ad HTML."),
        false);
    scheduleAdReloadTimer();
    return;
  }
  // The network's script draws late or passes back: its own delegate watches for both
  // and finishes the load only once something shows.
  adViewDelegate_ = QMAAdNetworkJavaScriptAdViewDelegate::initWithSlotPassbackURL(
      std::static_pointer_cast<QMARenderingSlot>(keep), ad->adNetworkPassbackURL());
  if (adView_) {
    adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(adViewDelegate_));
    adView_->loadHTMLStringBaseURL(*ad->adHTML(), ad->adBaseURL());
    armAdPageLoadTimer();
  }
  setViewForAdUsingView(adView_);
}
