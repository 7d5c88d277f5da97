#include "ads/mediation/ad_manager.h"

#include <utility>

#include "ads/mediation/ad_url_adapter.h"
#include "ads/mediation/custom_event_adapter.h"
#include "ads/mediation/house_adapter.h"
#include "ads/mediation/html_adapter.h"
#include "ads/mediation/mediation_pings.h"
#include "ads/services/utilities.h"
#include "ads/slots/native/native_app_install_ad_source.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

namespace {

constexpr double kTimeoutTolerance = 0.01;

bool isMainThread() { return dispatch::isMainThread(); }

}  // namespace

std::shared_ptr<QMAMAdManager> QMAMAdManager::init() { return std::shared_ptr<QMAMAdManager>(new QMAMAdManager()); }

void QMAMAdManager::install() {
  // The built-in adapters a configuration may name.
  QMAMAdapterCustomEvents::registerClass();
  QMAMAdapterQuillonPelmarkAds::registerClass();
  QMAMAdURLAdapter::registerClass();
  QMAMAdapterHTML::registerClass();
  QMASlot::setMediationManagerFactory([](const std::shared_ptr<QMASlot>& slot) -> std::shared_ptr<QMASlotMediationManager> {
    auto manager = init();
    manager->setSlot(slot);
    return manager;
  });
}

QMAMAdManager::~QMAMAdManager() {
  if (adNetworkTimeoutTimer_) adNetworkTimeoutTimer_->invalidate();
  if (requestingConnector_) requestingConnector_->setAdManager({});
  if (receivedConnector_) receivedConnector_->setAdManager({});
}

std::shared_ptr<QMAMConfig> QMAMAdManager::configurationWithAppKeyBodyError(const std::optional<std::string>& appKey,
                                                                           const std::string& body,
                                                                           std::optional<QMARequestError>* error) {
  // A body that is no JSON object is no configuration: it fails as a missing network list.
  auto decoded = qma_decodedJSONObjectError(body);
  std::optional<foundation::Dictionary> dictionary;
  if (decoded && decoded->asDictionary()) dictionary = *decoded->asDictionary();
  return QMAMConfig::initWithAppKeyConfigDictError(appKey, dictionary, error);
}

// ---- the waterfall

void QMAMAdManager::mediateForAdTypeConfig(const std::shared_ptr<QMAAdType>& type, const std::shared_ptr<QMAMConfig>& config) {
  WV_DCHECK_MAIN_THREAD();
  adType_ = type;
  config_ = config;
  // A waterfall under way goes on with the new type and configuration for its remaining
  // networks.
  if (requestInProgress_) return;
  networkQueue_.clear();
  if (config_)
    for (const auto& network : config_->adNetworkConfigs()) networkQueue_.push_back(network);
  if (auto s = slot(); s && s->slotStats()) s->slotStats()->resetTimingAdapters();
  makeAdRequest();
}

void QMAMAdManager::makeAdRequest() {
  if (!isMainThread()) {
    std::weak_ptr<QMAMAdManager> weak = weak_from_this();
    const std::int64_t group = pendingActionGroup_;
    dispatch::Queue::main()->async([weak, group] {
      auto self = weak.lock();
      if (self && self->pendingActionGroup_ == group) self->makeAdRequest();
    });
    return;
  }
  auto keep = shared_from_this();
  auto s = slot();
  auto delegate = s && s->ad() ? s->ad()->mediationDelegate() : nullptr;
  const std::string connectorClass = delegate ? delegate->connectorClassForAd(s->ad()) : std::string();
  if (!QMAMAdNetworkConnector::isConnectorClassName(connectorClass)) {
    endWaterfallWithError(QMARequestErrorCodeNoAdapter);
    return;
  }
  auto network = dequeueAdNetworkConfig();
  if (!network) {
    endWaterfallWithError(QMARequestErrorCodeNoAdFromAnyNetwork);
    return;
  }
  requestInProgress_ = true;
  auto connector = QMAMAdNetworkConnector::connectorOfClassNamed(connectorClass, config_, network);
  connector->setUpAdapter();
  connector->setAdManager(weak_from_this());
  if (requestingConnector_ && requestingConnector_ != receivedConnector_) release(requestingConnector_);
  requestingConnector_ = connector;

  stopTimer();
  const double timeout = config_ ? config_->adNetworkTimeout() : QMAMConfig::kDefaultAdNetworkTimeout;
  std::weak_ptr<QMAMAdManager> weak = weak_from_this();
  std::weak_ptr<QMAMAdNetworkConnector> asked = connector;
  adNetworkTimeoutTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      timeout, false, kTimeoutTolerance, [weak, asked](const std::shared_ptr<QMATimer>&) {
        auto self = weak.lock();
        // The time-out belongs to the network it was started for.
        if (self && self->requestingConnector_ && self->requestingConnector_ == asked.lock()) self->adNetworkTimedOut();
      });
  connector->getAdFromAdapterWithType(adType_);
}

std::shared_ptr<QMAMAdNetworkConfig> QMAMAdManager::dequeueAdNetworkConfig() {
  auto s = slot();
  const auto& stats = s ? s->slotStats() : nullptr;
  while (!networkQueue_.empty()) {
    auto network = networkQueue_.front();
    networkQueue_.pop_front();
    if (stats) stats->startTimingAdapter();
    if (network && network->adapterClass()) return network;
    recordExitCode(4);
  }
  return nullptr;
}

void QMAMAdManager::endWaterfallWithError(long code) {
  stopTimer();
  requestInProgress_ = false;
  reportNoFill();
  if (auto s = slot()) s->didFailToReceiveAdWithErrorShouldCancelPendingActions(QMARequestError::errorWithCode(code), false);
}

void QMAMAdManager::reportNoFill() {
  std::optional<std::string> exitCodes, durations;
  if (auto s = slot(); s && s->slotStats()) {
    exitCodes = s->slotStats()->adapterExitCodesParameter();
    durations = s->slotStats()->adapterDurationsParameter();
    s->slotStats()->resetTimingAdapters();
  }
  std::optional<foundation::Array> templates;
  if (config_ && config_->noFillURLs()) {
    templates.emplace();
    for (const auto& t : *config_->noFillURLs()) templates->push_back(t);
  }
  QMATrackMediationURLsFromTemplates(templates, QMAMUtilities::defaultTemplate(kQMAMNoFillTemplatePath), std::nullopt,
                                     std::nullopt, config_ ? QMAMTextOf(config_->qdata()) : std::nullopt,
                                     config_ ? config_->appKey() : std::nullopt, false, durations, exitCodes);
}

void QMAMAdManager::recordExitCode(long code) {
  if (auto s = slot(); s && s->slotStats()) s->slotStats()->endTimingAdapterWithExitCode(code);
}

void QMAMAdManager::stopTimer() {
  if (adNetworkTimeoutTimer_) adNetworkTimeoutTimer_->invalidate();
  adNetworkTimeoutTimer_.reset();
}

void QMAMAdManager::resetRequestingState() {
  stopTimer();
  requestInProgress_ = false;
}

void QMAMAdManager::release(const std::shared_ptr<QMAMAdNetworkConnector>& connector) {
  if (connector && connector->adManager().get() == this) connector->setAdManager({});
}

bool QMAMAdManager::shouldProcessResponseFromConnector(const QMAMAdNetworkConnector& connector) {
  // Only the connector being asked or the one shown is heard; a stray answer from one let
  // go of leaves the network being asked and its time-out alone.
  const bool requesting = &connector == requestingConnector_.get();
  const bool received = &connector == receivedConnector_.get();
  if (requesting) resetRequestingState();
  return requesting || received;
}

void QMAMAdManager::becomeReceivedConnector(QMAMAdNetworkConnector& connector) {
  if (receivedConnector_.get() == &connector) return;
  if (receivedConnector_) {
    if (receivedConnector_->adManager().get() == this) cancelPendingActions();
    receivedConnector_->setAdManager({});
  }
  receivedConnector_ = connector.shared_from_this();
}

void QMAMAdManager::adRequestReturnsFromConnectorWithView(QMAMAdNetworkConnector& connector,
                                                          const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (!shouldProcessResponseFromConnector(connector)) return;
  recordExitCode(0);
  becomeReceivedConnector(connector);
  if (auto s = slot()) {
    s->setViewForAdUsingView(view);
    s->didReceiveValidAd();
    s->adFinishedLoadingContent();
  }
}

void QMAMAdManager::adRequestReturnsFromConnectorWithInterstitial(QMAMAdNetworkConnector& connector,
                                                                  const std::shared_ptr<void>&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (!shouldProcessResponseFromConnector(connector)) return;
  if (receivedConnector_.get() != &connector) {
    recordExitCode(0);
    becomeReceivedConnector(connector);
  }
  if (auto s = slot()) {
    s->didReceiveValidAd();
    s->adFinishedLoadingContent();
  }
  requestingConnector_.reset();
}

void QMAMAdManager::adRequestReturnsFromConnectorWithForwardingNativeAppInstallAd(
    QMAMAdNetworkConnector& connector, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto hold = connector.shared_from_this();
  if (!shouldProcessResponseFromConnector(connector)) return;
  // A native ad is shown once: a second one (of this network or another) changes nothing.
  if (receivedConnector_) return;
  auto s = slot();
  auto ownerAd = s ? s->ad() : nullptr;
  auto receiver = std::dynamic_pointer_cast<QMANativeAppInstallAdSourceReceiver>(
      ownerAd ? ownerAd->mediationDelegate() : nullptr);
  auto source = QMANativeAppInstallAdSource::initWithForwardingNativeAppInstallAd(ad);
  if (!receiver || !source) {
    // Nobody here can show it (or there is nothing to show): the next network is asked.
    if (requestingConnector_.get() == &connector) {
      release(requestingConnector_);
      requestingConnector_.reset();
    }
    makeAdRequest();
    return;
  }
  becomeReceivedConnector(connector);
  // The ad keeps its network's connector (and adapter) for as long as the host keeps the ad:
  // its click and impression are pinged also after the loader has moved on to another load.
  std::shared_ptr<QMAMAdNetworkConnector> shown = hold;
  source->addClickHandlingBlock([shown](const std::shared_ptr<uikit::View>&, const std::string&,
                                        const std::optional<foundation::Dictionary>&) { shown->reportClick(); });
  source->addImpressionHandlingBlock([shown] { shown->reportImpression(); });
  receiver->adDidReceiveNativeAppInstallAdSource(ownerAd, source);
  if (s) {
    s->didReceiveValidAd();
    s->adFinishedLoadingContent();
  }
  requestingConnector_.reset();
}

void QMAMAdManager::adRequestFailedFromConnectorWithError(QMAMAdNetworkConnector& connector,
                                                          const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto hold = connector.shared_from_this();
  if (!shouldProcessResponseFromConnector(connector)) return;
  if (auto presented = presentedConnector_.lock(); presented && presented.get() == &connector) {
    // The interstitial the host asked to show did not show. The host was told of an ad and
    // an interstitial shows once, so the waterfall does not go on behind its back: it hears
    // this failure, as from an interstitial of the component's own.
    presentedConnector_.reset();
    requestingConnector_.reset();
    if (auto s = slot()) s->didFailToReceiveAdWithErrorShouldCancelPendingActions(presentationError(error), true);
    return;
  }
  const bool onRefresh = connector.didNetworkRefresh();
  if (requestingConnector_ && requestingConnector_ != receivedConnector_) {
    if (requestingConnector_->adManager().get() == this) cancelPendingActions();
    requestingConnector_->setAdManager({});
  }
  requestingConnector_.reset();
  if (onRefresh && !(adType_ && adType_->isInterstitial())) {
    // The network refreshed its banner by itself and failed: the ad shown stays, and the
    // waterfall does not start over behind the host's back.
    if (auto s = slot()) {
      s->mediatedAdNetworkAutoRefreshed();
      s->adFailedToReceiveContentWithError(
          QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeServerError, error.localizedDescription()));
    }
    return;
  }
  recordExitCode(error.domain == kQMAErrorDomain && error.code == QMARequestErrorCodeNoAd ? 1 : 2);
  makeAdRequest();
}

void QMAMAdManager::adNetworkTimedOut() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  recordExitCode(3);
  resetRequestingState();
  auto timedOut = std::exchange(requestingConnector_, nullptr);
  if (timedOut) {
    timedOut->askAdapterToStopBeingDelegate();
    if (timedOut != receivedConnector_) {
      if (timedOut->adManager().get() == this) cancelPendingActions();
      timedOut->setAdManager({});
    }
  }
  makeAdRequest();
}

// ---- cancel and the shown ad

void QMAMAdManager::cancel() {
  std::weak_ptr<QMAMAdManager> weak = weak_from_this();
  QMARunOnMainThread([weak] {
    if (auto self = weak.lock()) self->cancelPendingActions();
  });
  auto requesting = std::exchange(requestingConnector_, nullptr);
  auto received = std::exchange(receivedConnector_, nullptr);
  presentedConnector_.reset();
  for (const auto& connector : {requesting, received}) {
    if (!connector) continue;
    connector->askAdapterToStopBeingDelegate();
    release(connector);
  }
  QMARunOnMainThread([weak] {
    if (auto self = weak.lock()) self->resetRequestingState();
  });
}

void QMAMAdManager::cancelPendingActions() {
  ++pendingActionGroup_;
  stopTimer();
}

bool QMAMAdManager::changeAdTypeTo(const std::shared_ptr<QMAAdType>& type) {
  WV_DCHECK_MAIN_THREAD();
  adType_ = type;
  const auto& object = receivedConnector_ ? receivedConnector_->adapterObject() : nullptr;
  if (!object || !runtime::respondsToSelector(object, "changeAdSizeTo:")) return false;
  receivedConnector_->adapter()->changeAdSizeTo(type ? type->adSize() : QMAAdSize{});
  return true;
}

void QMAMAdManager::presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) {
  WV_DCHECK_MAIN_THREAD();
  const auto& object = receivedConnector_ ? receivedConnector_->adapterObject() : nullptr;
  if (!object || !runtime::respondsToSelector(object, "presentInterstitialFromRootViewController:")) return;
  presentedConnector_ = receivedConnector_;
  auto keep = receivedConnector_;
  keep->adapter()->presentInterstitialFromRootViewController(root);
}

QMARequestError QMAMAdManager::presentationError(const foundation::Error& error) {
  // The component's own interstitials fail with their request error (11 for a presentation
  // the platform refused), which goes on unchanged; another network's error is described.
  if (error.domain == kQMAErrorDomain)
    return QMARequestError::errorWithCodeCustomMessage(error.code, error.localizedDescription());
  return QMARequestError::errorWithCodeUnderlyingError(QMARequestErrorCodeInternalError, error);
}

std::optional<std::string> QMAMAdManager::receivedAdapterClassName() const {
  const auto& network = receivedConnector_ ? receivedConnector_->networkConfig() : nullptr;
  if (!network || !network->adapterClass()) return std::nullopt;
  return network->adapterClass()->name();
}
