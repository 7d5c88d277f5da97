#include "ads/slots/reward_based_video_ad.h"

#include "ads/services/logging.h"
#include "ads/services/url_utilities.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

std::mutex& rewardMediationFactoryMutex() {
  static std::mutex m;
  return m;
}
QMARewardBasedVideoAd::MediationFactory& rewardMediationFactory() {
  static QMARewardBasedVideoAd::MediationFactory factory;
  return factory;
}

}  // namespace

void QMARewardBasedVideoAd::setMediationFactory(MediationFactory factory) {
  std::lock_guard lock(rewardMediationFactoryMutex());
  rewardMediationFactory() = std::move(factory);
}

const std::shared_ptr<QMARewardBasedVideoAd>& QMARewardBasedVideoAd::sharedInstance() {
  WV_DCHECK_MAIN_THREAD();
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* shared = new std::shared_ptr<QMARewardBasedVideoAd>(create());
  return *shared;
}

std::shared_ptr<QMARewardBasedVideoAd> QMARewardBasedVideoAd::create() {
  std::shared_ptr<QMARewardBasedVideoAd> ad(new QMARewardBasedVideoAd());
  MediationFactory makeMediation;
  {
    std::lock_guard lock(rewardMediationFactoryMutex());
    makeMediation = rewardMediationFactory();
  }
  if (makeMediation) ad->mediation_ = makeMediation(std::static_pointer_cast<QMARewardBasedVideoAdMediationHost>(ad));
  return ad;
}

std::string QMARewardBasedVideoAd::requestID() const {
  std::lock_guard lock(requestIDMutex_);
  return requestID_;
}

void QMARewardBasedVideoAd::setRequestID(const std::string& requestID) {
  std::lock_guard lock(requestIDMutex_);
  requestID_ = requestID;
}

// ---- the host's side

void QMARewardBasedVideoAd::loadRequestWithAdUnitIDUserID(const std::shared_ptr<QMARequest>& request,
                                                          const std::optional<std::string>& adUnitID,
                                                          const std::optional<std::string>& userID) {
  WV_DCHECK_MAIN_THREAD();
  if (requestInProgress_) {
    QMALogger::sharedInstance()->logPublicMessage("Ignoring request. Another request is already in progress.");
    return;
  }
  requestInProgress_ = true;
  ready_ = false;
  fetchAdForRequestWithAdUnitIDUserID(request, adUnitID, userID);
}

void QMARewardBasedVideoAd::presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) {
  WV_DCHECK_MAIN_THREAD();
  if (requestInProgress_ || !ready_) return;
  auto keep = shared_from_this();
  if (mediation_) mediation_->presentMediatedRewardBasedVideoAdFromViewController(root);
  ready_ = false;
}

// ---- the two ends of a load

void QMARewardBasedVideoAd::adLoadedSuccessfully() {
  WV_DCHECK_MAIN_THREAD();
  if (!requestInProgress_) return;  // the load has already ended
  requestInProgress_ = false;
  ready_ = true;
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidReceiveAd,
                 [this](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdDidReceiveAd(*this); });
}

void QMARewardBasedVideoAd::failedToLoadAdWithError(const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  // A fetch that cannot start has told its delegate already: one load, one outcome.
  if (!requestInProgress_) return;
  requestInProgress_ = false;
  ready_ = false;
  adFetcher_.reset();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidFailToLoadwithError,
                 [this, error](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdDidFailToLoadwithError(*this, error); });
}

void QMARewardBasedVideoAd::loadAd(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (!mediation_) {
    failedToLoadAdWithError(QMARequestError::errorWithCodeRequest(QMARequestErrorCodeNoAdapter, request_));
    return;
  }
  mediation_->processMediationAd(ad);
}

void QMARewardBasedVideoAd::fetchAdForRequestWithAdUnitIDUserID(const std::shared_ptr<QMARequest>& request,
                                                                const std::optional<std::string>& adUnitID,
                                                                const std::optional<std::string>& userID) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  {
    // The SDK core reads these on its own queue while a new load may set them here.
    std::lock_guard lock(parametersMutex_);
    request_ = request;
    userID_ = userID;
    adUnitID_ = adUnitID;
  }
  const auto extras = request_ ? request_->networkExtrasAdditionalParameters() : std::nullopt;
  if (extras) {
    if (const Dictionary* described = foundation::dictionaryForKey(*extras, "_ad")) {
      auto ad = QMAAd::initWithDictionary(*described);
      if (ad && ad->adURL()) {
        fetchAdURLWithParameters(Dictionary{{"url", ad->adURL()->absoluteString()}});
        return;
      }
    }
  }
  armSDKCoreAnswerTimer();
  QMASDKCoreController::sharedInstance()->buildAdURL(std::static_pointer_cast<QMASDKCoreControllerDelegate>(keep));
}

void QMARewardBasedVideoAd::armSDKCoreAnswerTimer() {
  if (SDKCoreAnswerTimer_) SDKCoreAnswerTimer_->invalidate();
  awaitingSDKCoreAnswer_ = true;
  const std::uint64_t generation = ++loadGeneration_;
  std::weak_ptr<QMARewardBasedVideoAd> weak = shared_from_this();
  SDKCoreAnswerTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      QMASlot::kSDKCoreAnswerTimeout, false, 0.0, [weak, generation](const std::shared_ptr<QMATimer>&) {
        if (auto ad = weak.lock()) ad->SDKCoreAnswerTimedOut(generation);
      });
}

bool QMARewardBasedVideoAd::takeSDKCoreAnswer() {
  if (!awaitingSDKCoreAnswer_) return false;
  awaitingSDKCoreAnswer_ = false;
  if (SDKCoreAnswerTimer_) SDKCoreAnswerTimer_->invalidate();
  SDKCoreAnswerTimer_.reset();
  return true;
}

void QMARewardBasedVideoAd::SDKCoreAnswerTimedOut(std::uint64_t generation) {
  WV_DCHECK_MAIN_THREAD();
  if (generation != loadGeneration_ || !takeSDKCoreAnswer()) return;
  // The page lost the request: the load ends, and the next load is taken.
  auto keep = shared_from_this();
  failedToLoadAdWithError(QMARequestError::errorWithCodeRequest(QMARequestErrorCodeTimeout, request_));
}

// ---- the SDK core's side

std::optional<Dictionary> QMARewardBasedVideoAd::requestParameters() {
  std::shared_ptr<QMARequest> request;
  std::optional<std::string> userID, adUnitID;
  {
    std::lock_guard lock(parametersMutex_);
    request = request_;
    userID = userID_;
    adUnitID = adUnitID_;
  }
  Dictionary parameters = request ? request->parameters() : Dictionary{};
  if (userID) parameters["rbv_user_id"] = *userID;
  if (adUnitID) parameters["slotname"] = *adUnitID;
  parameters["rbv"] = "1";
  if (const std::string id = requestID(); !id.empty()) parameters["request_id"] = id;
  parameters["format"] = "reward_mb";
  return parameters;
}

void QMARewardBasedVideoAd::loadAdURLWithParameters(const Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  if (!takeSDKCoreAnswer()) return;
  fetchAdURLWithParameters(parameters);
}

void QMARewardBasedVideoAd::fetchAdURLWithParameters(const Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (parameters.count("errors")) {
    failedToLoadAdWithError(QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidRequest, request_));
    return;
  }
  // A "url" that is no text counts as none: the fetch then finds nothing to show.
  const std::string* text = foundation::stringForKey(parameters, "url");
  const auto url = text ? net::URL::fromString(*text) : std::nullopt;
  const auto urlRequest = qma_requestForURLDataHeadersType(url, std::nullopt, std::nullopt, std::nullopt);
  adFetcher_ = QMAAdFetcher::init();
  foundation::Error error;
  auto fetcher = adFetcher_;
  if (!fetcher->fetchRequestURLDelegateError(urlRequest, std::static_pointer_cast<QMAAdFetcherDelegate>(keep), &error))
    failedToLoadAdWithError(error);
}

void QMARewardBasedVideoAd::loadAdHeaders(const std::shared_ptr<QMAAd>&, const std::optional<Dictionary>&) {
  WV_DCHECK_MAIN_THREAD();
  if (!takeSDKCoreAnswer()) return;
  // Ads the page delivers itself are not taken here.
  failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(
                              QMARequestErrorCodeInternalError,
                              "Error loading ad. Check with QuillonPelmarkAdSDK support team.")
                              .error());
}

void QMARewardBasedVideoAd::invalidJavaScriptRequest() {
  WV_DCHECK_MAIN_THREAD();
  if (!takeSDKCoreAnswer()) return;
  failedToLoadAdWithError(
      QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInvalidRequest, "Request object configured wrong.")
          .error());
}

void QMARewardBasedVideoAd::failedJavaScriptFile() {
  WV_DCHECK_MAIN_THREAD();
  if (!takeSDKCoreAnswer()) return;
  failedToLoadAdWithError(
      QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeNetworkError, "No network connection.").error());
}

// ---- the fetcher's side

void QMARewardBasedVideoAd::adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (&fetcher != adFetcher_.get()) return;
  auto keep = shared_from_this();
  adFetcher_.reset();
  loadAd(ad);
}

void QMARewardBasedVideoAd::adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher,
                                                                           const std::shared_ptr<QMAAd>&,
                                                                           const std::optional<QMARequestError>& error,
                                                                           std::uint64_t) {
  WV_DCHECK_MAIN_THREAD();
  if (&fetcher != adFetcher_.get()) return;
  auto keep = shared_from_this();
  adFetcher_.reset();
  failedToLoadAdWithError(error ? static_cast<const foundation::Error&>(*error)
                                : static_cast<const foundation::Error&>(
                                      QMARequestError::errorWithCode(QMARequestErrorCodeInternalError)));
}

// ---- the host's delegate

void QMARewardBasedVideoAd::sendToDelegate(const char* selector,
                                           const std::function<void(QMARewardBasedVideoAdDelegate&)>& message) {
  auto d = delegate();
  if (d && d->respondsToSelector(selector)) message(*d);
}

bool QMARewardBasedVideoAd::delegateRespondsToDidRewardUserWithReward() const {
  auto d = delegate();
  return d && d->respondsToSelector(QMARewardBasedVideoAdDelegate::kDidRewardUserWithReward);
}

void QMARewardBasedVideoAd::sendRewardBasedVideoAdDidRewardUserWithReward(const std::shared_ptr<QMAAdReward>& reward) {
  WV_DCHECK_MAIN_THREAD();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidRewardUserWithReward, [this, reward](QMARewardBasedVideoAdDelegate& d) {
    d.rewardBasedVideoAdDidRewardUserWithReward(*this, reward);
  });
}

void QMARewardBasedVideoAd::sendRewardBasedVideoAdDidOpen() {
  WV_DCHECK_MAIN_THREAD();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidOpen,
                 [this](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdDidOpen(*this); });
}

void QMARewardBasedVideoAd::sendRewardBasedVideoAdDidStartPlaying() {
  WV_DCHECK_MAIN_THREAD();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidStartPlaying,
                 [this](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdDidStartPlaying(*this); });
}

void QMARewardBasedVideoAd::sendRewardBasedVideoAdDidClose() {
  WV_DCHECK_MAIN_THREAD();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kDidClose,
                 [this](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdDidClose(*this); });
}

void QMARewardBasedVideoAd::sendRewardBasedVideoAdWillLeaveApplication() {
  WV_DCHECK_MAIN_THREAD();
  sendToDelegate(QMARewardBasedVideoAdDelegate::kWillLeaveApplication,
                 [this](QMARewardBasedVideoAdDelegate& d) { d.rewardBasedVideoAdWillLeaveApplication(*this); });
}
