#include "ads/mediation/reward_based_video_connector.h"

#include "ads/mediation/mediation_pings.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

using foundation::Dictionary;
using foundation::Value;

std::shared_ptr<QMAMRewardBasedVideoAdNetworkConnector> QMAMRewardBasedVideoAdNetworkConnector::init() {
  return std::shared_ptr<QMAMRewardBasedVideoAdNetworkConnector>(new QMAMRewardBasedVideoAdNetworkConnector());
}

QMAMRewardBasedVideoAdNetworkConnector::~QMAMRewardBasedVideoAdNetworkConnector() {
  if (adapter_) adapter_->stopBeingDelegate();
}

void QMAMRewardBasedVideoAdNetworkConnector::setAdNetworkConfig(const std::shared_ptr<QMAMAdNetworkConfig>& config) {
  if (adNetworkConfig_ && config && adNetworkConfig_->adapterClass() != config->adapterClass()) return;
  adNetworkConfig_ = config;
  networkData_.clear();
  isLocationShared_ = false;
  if (!config || !config->credentials()) return;
  networkData_ = *config->credentials();
  if (auto it = networkData_.find("fennik_share_location"); it != networkData_.end()) {
    const auto* text = it->second.asString();
    isLocationShared_ = text && *text == "1";
    networkData_.erase(it);
  }
}

void QMAMRewardBasedVideoAdNetworkConnector::setUpAdapterWithUserID(const std::optional<std::string>& userID) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto fail = [&](long code, const std::string& message) {
    if (auto d = delegate())
      d->connectorDidFailToSetUpRewardBasedVideoAdWithError(*this,
                                                            QMARequestError::errorWithCodeCustomMessage(code, message));
  };
  if (!adNetworkConfig_) return fail(QMARequestErrorCodeInvalidMediationResponse, "No network config to initialize adapter.");
  const auto& cls = adNetworkConfig_->adapterClass();
  if (!cls) return fail(QMARequestErrorCodeNoAdapter, "Adapter class is empty.");
  if (!adapter_) {
    auto instance = cls->conformsToProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol) ? cls->createInstance() : nullptr;
    adapter_ = std::dynamic_pointer_cast<QMAMRewardBasedVideoAdNetworkAdapter>(instance);
    if (!adapter_) {
      return fail(QMARequestErrorCodeNoAdapter,
                  foundation::stringWithFormat("Adapter class doesn't conform to protocol %@.",
                                               kQMAMRewardBasedVideoAdNetworkAdapterProtocol));
    }
    adapter_->initWithQMAMAdNetworkConnector(std::static_pointer_cast<QMAMRewardBasedVideoAdNetworkConnectorProtocol>(keep));
  }
  adapter_->setUpWithUserID(userID);
}

void QMAMRewardBasedVideoAdNetworkConnector::requestRewardBasedVideoAd() {
  WV_DCHECK_MAIN_THREAD();
  if (adapter_) adapter_->requestRewardBasedVideoAd();
}

void QMAMRewardBasedVideoAdNetworkConnector::presentRewardBasedVideoAdFromRootViewController(
    const std::shared_ptr<uikit::ViewController>& root) {
  WV_DCHECK_MAIN_THREAD();
  pingImpressionURLs();
  if (adapter_) adapter_->presentRewardBasedVideoAdWithRootViewController(root);
}

void QMAMRewardBasedVideoAdNetworkConnector::askAdapterToStopBeingDelegate() {
  if (adapter_) adapter_->stopBeingDelegate();
}

std::optional<std::string> QMAMRewardBasedVideoAdNetworkConnector::qdata() const {
  return mediationConfig_ ? QMAMTextOf(mediationConfig_->qdata()) : std::nullopt;
}

void QMAMRewardBasedVideoAdNetworkConnector::pingURLsDefaultTemplate(const std::optional<foundation::Array>& urls,
                                                                     const std::optional<std::string>& defaultTemplate) {
  QMATrackMediationURLsFromTemplates(urls, defaultTemplate, std::nullopt, std::nullopt, qdata(),
                                     mediationConfig_ ? mediationConfig_->appKey() : std::nullopt, false, std::nullopt,
                                     std::nullopt);
}

void QMAMRewardBasedVideoAdNetworkConnector::pingClickURLs() {
  pingURLsDefaultTemplate(adNetworkConfig_ ? adNetworkConfig_->clickURLs() : std::nullopt,
                          QMAMUtilities::defaultTemplate(kQMAMClickTemplatePath));
}

void QMAMRewardBasedVideoAdNetworkConnector::pingImpressionURLs() {
  pingURLsDefaultTemplate(adNetworkConfig_ ? adNetworkConfig_->impressionURLs() : std::nullopt,
                          QMAMUtilities::defaultTemplate(kQMAMImpressionTemplatePath));
}

void QMAMRewardBasedVideoAdNetworkConnector::pingVideoStartPlayingURLs() {
  pingURLsDefaultTemplate(adNetworkConfig_ ? adNetworkConfig_->videoStartURLs() : std::nullopt, std::nullopt);
}

void QMAMRewardBasedVideoAdNetworkConnector::pingRewardedUserURLs() {
  pingURLsDefaultTemplate(adNetworkConfig_ ? adNetworkConfig_->rewardedUserURLs() : std::nullopt, std::nullopt);
}

// ---- what adapters ask

std::optional<std::string> QMAMRewardBasedVideoAdNetworkConnector::publisherId() const {
  return adNetworkConfig_ ? adNetworkConfig_->publisherID() : std::nullopt;
}

std::shared_ptr<QMAAdNetworkExtras> QMAMRewardBasedVideoAdNetworkConnector::networkExtras() const {
  const auto cls = adNetworkConfig_ ? adNetworkConfig_->adapterClass() : nullptr;
  if (!cls || !cls->respondsToClassSelector("networkExtrasClass")) {
    QMALogger::sharedInstance()->logPublicMessage(
        foundation::stringWithFormat("Adapter class %@ does not respond to %@. Unable to retrieve network extras.",
                                     cls ? Value(cls->name()) : Value(), "networkExtrasClass"));
    return nullptr;
  }
  const std::string extrasClass = runtime::msgSendClass<std::string()>(cls, "networkExtrasClass");
  return request_ ? request_->adNetworkExtrasFor(extrasClass) : nullptr;
}

std::optional<bool> QMAMRewardBasedVideoAdNetworkConnector::childDirectedTreatment() const {
  return request_ ? request_->childDirectedTreatment() : std::nullopt;
}

std::optional<foundation::Date> QMAMRewardBasedVideoAdNetworkConnector::userBirthday() const {
  return request_ ? request_->birthday() : std::nullopt;
}

double QMAMRewardBasedVideoAdNetworkConnector::userLatitude() const {
  return userHasLocation() ? userLocation()->latitude() : 0;
}

double QMAMRewardBasedVideoAdNetworkConnector::userLongitude() const {
  return userHasLocation() ? userLocation()->longitude() : 0;
}

double QMAMRewardBasedVideoAdNetworkConnector::userLocationAccuracyInMeters() const {
  return userHasLocation() ? userLocation()->accuracy() : 0;
}

std::optional<std::string> QMAMRewardBasedVideoAdNetworkConnector::userLocationDescription() const {
  auto location = userLocation();
  if (!isLocationShared_ || !location) return std::nullopt;
  return location->locationDescription();
}

std::vector<std::string> QMAMRewardBasedVideoAdNetworkConnector::userKeywords() const {
  return request_ && request_->keywords() ? *request_->keywords() : std::vector<std::string>{};
}

// ---- the adapter's reports, each on the main thread

void QMAMRewardBasedVideoAdNetworkConnector::onMainThread(std::function<void(QMAMRewardBasedVideoAdNetworkConnector&)> report) {
  std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnector> weak = shared_from_this();
  QMARunOnMainThread([weak, report = std::move(report)] {
    if (auto connector = weak.lock()) report(*connector);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidSetUpRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto d = c.delegate()) d->connectorDidSetUpRewardBasedVideoAd(c);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidFailToSetUpRewardBasedVideoAdWithError(
    QMAMRewardBasedVideoAdNetworkAdapter&, const foundation::Error& error) {
  onMainThread([error](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto d = c.delegate()) d->connectorDidFailToSetUpRewardBasedVideoAdWithError(c, error);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidGetAdClick(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    c.pingClickURLs();
    if (auto d = c.delegate()) d->connectorDidReceiveClick(c);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidReceiveRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto d = c.delegate()) d->connectorDidReceiveRewardBasedVideoAd(c);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidOpenRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto ad = c.rewardBasedVideoAd()) ad->sendRewardBasedVideoAdDidOpen();
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidStartPlayingRewardBasedVideoAd(
    QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    c.pingVideoStartPlayingURLs();
    if (auto ad = c.rewardBasedVideoAd()) ad->sendRewardBasedVideoAdDidStartPlaying();
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidCloseRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto ad = c.rewardBasedVideoAd()) ad->sendRewardBasedVideoAdDidClose();
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidRewardUserWithReward(QMAMRewardBasedVideoAdNetworkAdapter&,
                                                                            const std::shared_ptr<QMAAdReward>& reward) {
  onMainThread([reward](QMAMRewardBasedVideoAdNetworkConnector& c) {
    c.pingRewardedUserURLs();
    if (auto d = c.delegate()) d->connectorDidRewardUserWithReward(c, reward);
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterWillLeaveApplication(QMAMRewardBasedVideoAdNetworkAdapter&) {
  onMainThread([](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto ad = c.rewardBasedVideoAd()) ad->sendRewardBasedVideoAdWillLeaveApplication();
  });
}

void QMAMRewardBasedVideoAdNetworkConnector::adapterDidFailToLoadRewardBasedVideoAdwithError(
    QMAMRewardBasedVideoAdNetworkAdapter&, const foundation::Error& error) {
  onMainThread([error](QMAMRewardBasedVideoAdNetworkConnector& c) {
    if (auto d = c.delegate()) d->connectorDidFailToReceiveRewardBasedVideoAdWithError(c, error);
  });
}
