#include "ads/mediation/reward_based_video_mediation.h"

#include <algorithm>
#include <cmath>

#include "ads/mediation/mediation_pings.h"
#include "ads/model/string_values.h"
#include "ads/services/absolute_time.h"
#include "ads/services/utilities.h"
#include "ads/slots/reward_based_video_ad.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

using foundation::Dictionary;
using foundation::Value;

std::shared_ptr<QMARewardBasedVideoAdMediationAdditions> QMARewardBasedVideoAdMediationAdditions::initWithRewardBasedVideoAd(
    std::weak_ptr<QMARewardBasedVideoAdMediationHost> rewardBasedVideoAd) {
  return std::shared_ptr<QMARewardBasedVideoAdMediationAdditions>(
      new QMARewardBasedVideoAdMediationAdditions(std::move(rewardBasedVideoAd)));
}

void QMARewardBasedVideoAdMediationAdditions::install() {
  QMARewardBasedVideoAd::setMediationFactory(
      [](std::weak_ptr<QMARewardBasedVideoAdMediationHost> ad) -> std::shared_ptr<QMARewardBasedVideoAdMediating> {
        return initWithRewardBasedVideoAd(std::move(ad));
      });
}

std::string QMARewardBasedVideoAdMediationAdditions::classNameOf(const Connector& connector) {
  const auto& config = connector.adNetworkConfig();
  return config && config->adapterClass() ? config->adapterClass()->name() : std::string();
}

std::shared_ptr<QMARewardBasedVideoAdMediationAdditions::Connector> QMARewardBasedVideoAdMediationAdditions::connectorFor(
    const Connector& connector) const {
  auto it = connectors_.find(classNameOf(connector));
  if (it != connectors_.end() && it->second.get() == &connector) return it->second;
  if (requestingConnector_.get() == &connector) return requestingConnector_;
  if (receivedConnector_.get() == &connector) return receivedConnector_;
  return nullptr;
}

// ---- reading the response

std::optional<Dictionary> QMARewardBasedVideoAdMediationAdditions::parseJSONResponseFromAdError(
    const std::shared_ptr<QMAAd>& ad, std::optional<QMARequestError>* error) {
  auto invalid = [&](long code) {
    if (error) *error = QMARequestError::errorWithCodeCustomMessage(code, "Invalid server response.");
    return std::nullopt;
  };
  const auto& headers = ad ? ad->responseHeaders() : std::nullopt;
  const std::string* mediation = headers ? foundation::stringForKey(*headers, "x-qvra-mediation") : nullptr;
  const std::string* contentType = headers ? foundation::stringForKey(*headers, "content-type") : nullptr;
  if (!mediation || !QMAStringBoolValue(*mediation) || !contentType || !contentType->starts_with("application/json"))
    return invalid(QMARequestErrorCodeInvalidResponse);
  foundation::Error decodeError;
  auto decoded = qma_decodedJSONObjectError(ad->adHTML().value_or(""), &decodeError);
  if (!decoded) return invalid(QMARequestErrorCodeInvalidMediationResponse);
  if (!decoded->asDictionary()) return invalid(QMARequestErrorCodeInvalidResponse);
  return *decoded->asDictionary();
}

// ---- a load

void QMARewardBasedVideoAdMediationAdditions::fail(const foundation::Error& error) {
  if (auto ad = rewardBasedVideoAd_.lock()) ad->failedToLoadAdWithError(error);
}

void QMARewardBasedVideoAdMediationAdditions::processMediationAd(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  std::optional<QMARequestError> error;
  auto json = parseJSONResponseFromAdError(ad, &error);
  if (!json) {
    if (error) fail(*error);
    return;
  }
  std::optional<QMARequestError> configError;
  mediationConfig_ = QMAMConfig::initWithAppKeyConfigDictError(std::nullopt, json, &configError);
  if (configError) return fail(configError->error());
  if (!mediationConfig_)
    return fail(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInvalidMediationResponse,
                                                            "Failed to parse mediation config."));
  if (!mediationConfig_->adType() || !mediationConfig_->adType()->isInterstitial())
    return fail(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInvalidMediationResponse,
                                                            "Invalid mediation adtype returned."));
  setUpAdapters();
  buildPendingAdRequestConnectorsList();
  makeNextAdRequest();
}

void QMARewardBasedVideoAdMediationAdditions::setUpAdapters() {
  removeStaleConnectors();
  auto ad = rewardBasedVideoAd_.lock();
  auto self = shared_from_this();
  for (const auto& network : mediationConfig_->adNetworkConfigs()) {
    if (!network || !network->adapterClass()) continue;
    const std::string name = network->adapterClass()->name();
    if (connectors_.count(name)) continue;
    auto connector = Connector::init();
    connector->setAdNetworkConfig(network);
    connector->setMediationConfig(mediationConfig_);
    connector->setDelegate(std::static_pointer_cast<QMAMRewardBasedVideoAdConnectorDelegate>(self));
    connectors_[name] = connector;
    pendingSetUpConnectorsTimestamp_[name] = QMACurrentAbsoluteTimeInMilliseconds();
    connector->setRequest(ad ? ad->request() : nullptr);
    connector->setUpAdapterWithUserID(ad ? ad->userID() : std::nullopt);
  }
}

void QMARewardBasedVideoAdMediationAdditions::removeStaleConnectors() {
  const double now = static_cast<double>(QMACurrentAbsoluteTimeInMilliseconds());
  const double limit = mediationConfig_->adNetworkTimeout() * 1000;
  std::vector<std::string> stale;
  for (const auto& [name, started] : pendingSetUpConnectorsTimestamp_)
    if (now - static_cast<double>(started) > limit) stale.push_back(name);
  for (const auto& name : stale) {
    if (auto it = connectors_.find(name); it != connectors_.end() && it->second) {
      it->second->askAdapterToStopBeingDelegate();
      it->second->setDelegate({});
    }
    connectors_.erase(name);
    pendingSetUpConnectorsTimestamp_.erase(name);
  }
}

void QMARewardBasedVideoAdMediationAdditions::buildPendingAdRequestConnectorsList() {
  pendingAdRequestConnectors_.clear();
  for (const auto& network : mediationConfig_->adNetworkConfigs()) {
    if (!network || !network->adapterClass()) continue;
    auto it = connectors_.find(network->adapterClass()->name());
    if (it != connectors_.end()) pendingAdRequestConnectors_.push_back(it->second);
  }
}

void QMARewardBasedVideoAdMediationAdditions::makeNextAdRequest() {
  WV_DCHECK_MAIN_THREAD();
  if (receivedConnector_) receivedConnector_->setRewardBasedVideoAd({});
  receivedConnector_.reset();
  if (pendingAdRequestConnectors_.empty()) {
    pingNoFillURLs();
    fail(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeNoAdFromAnyNetwork,
                                                     "No ad returned from any ad server.")
             .error());
    return;
  }
  auto connector = pendingAdRequestConnectors_.front();
  pendingAdRequestConnectors_.erase(pendingAdRequestConnectors_.begin());
  // A connector whose set-up failed since the queue was built has nothing to ask.
  if (auto it = connectors_.find(classNameOf(*connector)); it == connectors_.end() || it->second != connector) {
    makeNextAdRequest();
    return;
  }
  requestingConnector_ = connector;
  // The time-out is never cancelled: it looks whether the very request it was started for
  // is still being asked.
  std::weak_ptr<QMARewardBasedVideoAdMediationAdditions> weakSelf = shared_from_this();
  std::weak_ptr<Connector> weakConnector = connector;
  const std::uint64_t generation = ++adRequestGeneration_;
  const double timeout = mediationConfig_ ? mediationConfig_->adNetworkTimeout() : QMAMConfig::kDefaultAdNetworkTimeout;
  dispatch::after(std::trunc(timeout * 1e9) / 1e9, dispatch::Queue::main(), [weakSelf, weakConnector, generation] {
    auto self = weakSelf.lock();
    auto asked = weakConnector.lock();
    if (!self || !asked || self->requestingConnector_ != asked || self->adRequestGeneration_ != generation) return;
    self->connectorDidFailToReceiveRewardBasedVideoAdWithError(
        *asked, QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeTimeout, "Ad request timeout."));
  });
  if (!pendingSetUpConnectorsTimestamp_.count(classNameOf(*connector))) requestAdFromConnector(connector);
}

void QMARewardBasedVideoAdMediationAdditions::requestAdFromConnector(const std::shared_ptr<Connector>& connector) {
  auto ad = rewardBasedVideoAd_.lock();
  connector->setRequest(ad ? ad->request() : nullptr);
  connector->requestRewardBasedVideoAd();
}

void QMARewardBasedVideoAdMediationAdditions::presentMediatedRewardBasedVideoAdFromViewController(
    const std::shared_ptr<uikit::ViewController>& root) {
  WV_DCHECK_MAIN_THREAD();
  if (!receivedConnector_) return;
  auto keep = shared_from_this();
  pingImpressionURLs();
  receivedConnector_->setRewardBasedVideoAd(rewardBasedVideoAd_);
  receivedConnector_->presentRewardBasedVideoAdFromRootViewController(root);
}

// ---- the connectors' answers

void QMARewardBasedVideoAdMediationAdditions::connectorDidSetUpRewardBasedVideoAd(Connector& connector) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  pendingSetUpConnectorsTimestamp_.erase(classNameOf(connector));
  if (requestingConnector_.get() == &connector) requestAdFromConnector(requestingConnector_);
}

void QMARewardBasedVideoAdMediationAdditions::connectorDidFailToSetUpRewardBasedVideoAdWithError(
    Connector& connector, const foundation::Error&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto held = connectorFor(connector);  // the connector may go with its entry
  const std::string name = classNameOf(connector);
  pendingSetUpConnectorsTimestamp_.erase(name);
  if (auto it = connectors_.find(name); it != connectors_.end() && it->second.get() == &connector) connectors_.erase(it);
  std::erase_if(pendingAdRequestConnectors_, [&](const std::shared_ptr<Connector>& c) { return c.get() == &connector; });
  if (requestingConnector_.get() == &connector) {
    requestingConnector_.reset();
    makeNextAdRequest();
  }
}

void QMARewardBasedVideoAdMediationAdditions::connectorDidReceiveRewardBasedVideoAd(Connector& connector) {
  WV_DCHECK_MAIN_THREAD();
  if (receivedConnector_ || requestingConnector_.get() != &connector) return;
  auto keep = shared_from_this();
  receivedConnector_ = std::move(requestingConnector_);
  pendingAdRequestConnectors_.clear();
  if (auto ad = rewardBasedVideoAd_.lock()) ad->adLoadedSuccessfully();
}

void QMARewardBasedVideoAdMediationAdditions::connectorDidFailToReceiveRewardBasedVideoAdWithError(
    Connector& connector, const foundation::Error&) {
  WV_DCHECK_MAIN_THREAD();
  if (requestingConnector_.get() != &connector) return;
  auto keep = shared_from_this();
  auto held = requestingConnector_;
  requestingConnector_.reset();
  makeNextAdRequest();
}

void QMARewardBasedVideoAdMediationAdditions::connectorDidReceiveClick(Connector&) {
  WV_DCHECK_MAIN_THREAD();
  pingClickURLs();
}

void QMARewardBasedVideoAdMediationAdditions::connectorDidRewardUserWithReward(Connector& connector,
                                                                              const std::shared_ptr<QMAAdReward>& reward) {
  WV_DCHECK_MAIN_THREAD();
  auto ad = rewardBasedVideoAd_.lock();
  if (receivedConnector_.get() != &connector || !ad || !ad->delegateRespondsToDidRewardUserWithReward()) return;
  const auto& rewards = mediationConfig_ ? mediationConfig_->rewards() : std::nullopt;
  if (rewards && !rewards->empty()) {
    // The configuration's reward wins over the adapter's, even when it cannot be read.
    const Dictionary* first = (*rewards)[0].asDictionary();
    ad->sendRewardBasedVideoAdDidRewardUserWithReward(
        QMAAdReward::initWithRewardDictionary(first ? std::optional<Dictionary>(*first) : std::nullopt));
  } else if (reward) {
    ad->sendRewardBasedVideoAdDidRewardUserWithReward(reward);
  }
}

// ---- pings

void QMARewardBasedVideoAdMediationAdditions::pingConfiguration(const std::optional<std::vector<std::string>>& templates,
                                                               const char* defaultPath) {
  std::optional<foundation::Array> list;
  if (templates) {
    list.emplace();
    for (const auto& t : *templates) list->push_back(t);
  }
  QMATrackMediationURLsFromTemplates(list, QMAMUtilities::defaultTemplate(defaultPath), std::nullopt, std::nullopt,
                                     mediationConfig_ ? QMAMTextOf(mediationConfig_->qdata()) : std::nullopt,
                                     mediationConfig_ ? mediationConfig_->appKey() : std::nullopt, false, std::nullopt,
                                     std::nullopt);
}

void QMARewardBasedVideoAdMediationAdditions::pingNoFillURLs() {
  pingConfiguration(mediationConfig_ ? mediationConfig_->noFillURLs() : std::nullopt, kQMAMNoFillTemplatePath);
}

void QMARewardBasedVideoAdMediationAdditions::pingClickURLs() {
  pingConfiguration(mediationConfig_ ? mediationConfig_->clickURLs() : std::nullopt, kQMAMClickTemplatePath);
}

void QMARewardBasedVideoAdMediationAdditions::pingImpressionURLs() {
  pingConfiguration(mediationConfig_ ? mediationConfig_->impressionURLs() : std::nullopt, kQMAMImpressionTemplatePath);
}
