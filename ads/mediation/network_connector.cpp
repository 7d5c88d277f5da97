#include "ads/mediation/network_connector.h"

#include "ads/mediation/ad_manager.h"
#include "ads/mediation/mediation_pings.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

// The configuration's templates followed by the network's; none when together they hold
// nothing, so that the built-in template is used.
std::optional<Array> joinedTemplates(const std::optional<std::vector<std::string>>& config,
                                     const std::optional<Array>& network) {
  Array all;
  if (config)
    for (const auto& t : *config) all.push_back(t);
  if (network) all.insert(all.end(), network->begin(), network->end());
  if (all.empty()) return std::nullopt;
  return all;
}

void postFullScreenNotification(const char* name) { foundation::NotificationCenter::defaultCenter().postNotificationName(name); }

}  // namespace

bool QMAMAdNetworkConnector::isConnectorClassName(const std::string& name) {
  return name == QMAMAdNetworkConnectorBanner::kClassName || name == QMAMAdNetworkConnectorInterstitial::kClassName ||
         name == QMAMAdNetworkConnectorNativeAd::kClassName;
}

std::shared_ptr<QMAMAdNetworkConnector> QMAMAdNetworkConnector::connectorOfClassNamed(
    const std::string& name, const std::shared_ptr<QMAMConfig>& config, const std::shared_ptr<QMAMAdNetworkConfig>& network) {
  if (name == QMAMAdNetworkConnectorBanner::kClassName)
    return std::make_shared<QMAMAdNetworkConnectorBanner>(config, network);
  if (name == QMAMAdNetworkConnectorInterstitial::kClassName)
    return std::make_shared<QMAMAdNetworkConnectorInterstitial>(config, network);
  if (name == QMAMAdNetworkConnectorNativeAd::kClassName)
    return std::make_shared<QMAMAdNetworkConnectorNativeAd>(config, network);
  return nullptr;
}

QMAMAdNetworkConnector::QMAMAdNetworkConnector(std::shared_ptr<QMAMConfig> config,
                                               std::shared_ptr<QMAMAdNetworkConfig> network)
    : mediationConfig_(std::move(config)), networkConfig_(std::move(network)) {
  if (networkConfig_ && networkConfig_->credentials()) credentials_ = *networkConfig_->credentials();
  if (auto it = credentials_.find("fennik_share_location"); it != credentials_.end()) {
    const auto* text = it->second.asString();
    isLocationShared_ = text && *text == "1";
    credentials_.erase(it);
  }
}

QMAMAdNetworkConnector::~QMAMAdNetworkConnector() {
  if (adapter_) adapter_->stopBeingDelegate();
}

void QMAMAdNetworkConnector::setUpAdapter() {
  WV_DCHECK_MAIN_THREAD();
  const auto& cls = networkConfig_ ? networkConfig_->adapterClass() : nullptr;
  // Only a class that adopts the adapter protocol is made: a name from the server never
  // makes an object of any other class.
  if (!cls || !cls->conformsToProtocol(kQMAMAdNetworkAdapterProtocol)) return;
  auto object = cls->createInstance();
  auto adapter = std::dynamic_pointer_cast<QMAMAdNetworkAdapter>(object);
  if (!adapter) return;
  adapterObject_ = object;
  adapter_ = adapter;
  adapter_->initWithQMAMAdNetworkConnector(weak_from_this());
}

void QMAMAdNetworkConnector::failRequest(long code, const std::string& message) {
  const auto error = QMARequestError::errorWithCodeCustomMessage(code, message);
  if (auto manager = adManager()) manager->adRequestFailedFromConnectorWithError(*this, error);
}

void QMAMAdNetworkConnector::getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>&) {
  WV_DCHECK_MAIN_THREAD();
  // The base class serves no format; its failure goes nowhere.
  (void)QMARequestError::errorWithCodeCustomMessage(
      QMARequestErrorCodeInternalError, foundation::stringWithFormat("Instantiated connector %@ can't request an ad.", className()));
}

void QMAMAdNetworkConnector::askAdapterToStopBeingDelegate() {
  if (adapter_) adapter_->stopBeingDelegate();
}

// ---- pings

void QMAMAdNetworkConnector::pingMediationURLsDefaultURLDurationsExitCodes(const std::optional<Array>& templates,
                                                                          const std::string& defaultURL,
                                                                          const std::optional<std::string>& durations,
                                                                          const std::optional<std::string>& exitCodes) {
  QMATrackMediationURLsFromTemplates(templates, defaultURL, networkConfig_ ? networkConfig_->networkID() : std::nullopt,
                                     networkConfig_ ? QMAMTextOf(networkConfig_->allocationID()) : std::nullopt,
                                     mediationConfig_ ? QMAMTextOf(mediationConfig_->qdata()) : std::nullopt,
                                     mediationConfig_ ? mediationConfig_->appKey() : std::nullopt, didNetworkRefresh_,
                                     durations, exitCodes);
}

void QMAMAdNetworkConnector::reportClick() {
  if (clicked_) return;
  clicked_ = true;
  pingMediationURLsDefaultURLDurationsExitCodes(
      joinedTemplates(mediationConfig_ ? mediationConfig_->clickURLs() : std::nullopt,
                      networkConfig_ ? networkConfig_->clickURLs() : std::nullopt),
      QMAMUtilities::defaultTemplate(kQMAMClickTemplatePath), std::nullopt, std::nullopt);
}

void QMAMAdNetworkConnector::reportImpression() {
  std::optional<std::string> exitCodes, durations;
  if (auto s = slot(); s && s->slotStats()) {
    exitCodes = s->slotStats()->adapterExitCodesParameter();
    durations = s->slotStats()->adapterDurationsParameter();
    s->slotStats()->resetTimingAdapters();
  }
  pingMediationURLsDefaultURLDurationsExitCodes(
      joinedTemplates(mediationConfig_ ? mediationConfig_->impressionURLs() : std::nullopt,
                      networkConfig_ ? networkConfig_->impressionURLs() : std::nullopt),
      QMAMUtilities::defaultTemplate(kQMAMImpressionTemplatePath), durations, exitCodes);
}

// ---- what adapters ask

std::shared_ptr<QMASlot> QMAMAdNetworkConnector::slot() const {
  auto manager = adManager();
  return manager ? manager->slot() : nullptr;
}

std::shared_ptr<QMALocation> QMAMAdNetworkConnector::userLocation() const {
  auto s = slot();
  return s && s->request() ? s->request()->location() : nullptr;
}

std::optional<std::string> QMAMAdNetworkConnector::requestAgent() const {
  auto s = slot();
  return s && s->request() ? s->request()->requestAgent() : std::nullopt;
}

bool QMAMAdNetworkConnector::isAutoClickProtected() const {
  auto s = slot();
  if (!s || !s->adViewDelegate() || !s->adViewDelegate()->opener()) return false;
  return s->adViewDelegate()->opener()->isAutoClickProtected();
}

std::shared_ptr<QMAAdNetworkExtras> QMAMAdNetworkConnector::networkExtrasForClass(const std::string& className) const {
  auto s = slot();
  return s && s->request() ? s->request()->adNetworkExtrasFor(className) : nullptr;
}

std::string QMAMAdNetworkConnector::adapterVersion() const {
  const auto& cls = networkConfig_ ? networkConfig_->adapterClass() : nullptr;
  std::string version = "unknown";
  if (cls && cls->respondsToClassSelector("adapterVersion"))
    version = runtime::msgSendClass<std::string()>(cls, "adapterVersion");
  return foundation::stringWithFormat("adapter: %@, version: %@", cls ? Value(cls->name()) : Value(), version);
}

std::optional<std::string> QMAMAdNetworkConnector::publisherId() const {
  return networkConfig_ ? networkConfig_->publisherID() : std::nullopt;
}

bool QMAMAdNetworkConnector::testMode() const {
  auto s = slot();
  return s && s->request() && s->request()->isATestDevice();
}

std::shared_ptr<QMAAdNetworkExtras> QMAMAdNetworkConnector::networkExtras() const {
  const auto& cls = networkConfig_ ? networkConfig_->adapterClass() : nullptr;
  if (!cls || !cls->respondsToClassSelector("networkExtrasClass")) {
    QMALogger::sharedInstance()->logPublicMessage(
        foundation::stringWithFormat("Adapter class %@ does not respond to %@. Unable to retrieve network extras.",
                                     cls ? Value(cls->name()) : Value(), "networkExtrasClass"));
    return nullptr;
  }
  return networkExtrasForClass(runtime::msgSendClass<std::string()>(cls, "networkExtrasClass"));
}

std::shared_ptr<uikit::ViewController> QMAMAdNetworkConnector::viewControllerForPresentingModalView() const {
  auto s = slot();
  return s ? s->viewControllerForPresentingModalView() : nullptr;
}

std::optional<bool> QMAMAdNetworkConnector::childDirectedTreatment() const {
  auto s = slot();
  return s && s->request() ? s->request()->childDirectedTreatment() : std::nullopt;
}

long QMAMAdNetworkConnector::userGender() const {
  auto s = slot();
  return s && s->request() ? s->request()->gender() : 0;
}

std::optional<foundation::Date> QMAMAdNetworkConnector::userBirthday() const {
  auto s = slot();
  return s && s->request() ? s->request()->birthday() : std::nullopt;
}

bool QMAMAdNetworkConnector::userHasLocation() const {
  auto location = userLocation();
  return isLocationShared_ && location && location->isPreciseLocation();
}

double QMAMAdNetworkConnector::userLatitude() const { return userHasLocation() ? userLocation()->latitude() : 0; }
double QMAMAdNetworkConnector::userLongitude() const { return userHasLocation() ? userLocation()->longitude() : 0; }
double QMAMAdNetworkConnector::userLocationAccuracyInMeters() const {
  return userHasLocation() ? userLocation()->accuracy() : 0;
}

std::optional<std::string> QMAMAdNetworkConnector::userLocationDescription() const {
  auto location = userLocation();
  if (!isLocationShared_ || !location) return std::nullopt;
  return location->locationDescription();
}

std::vector<std::string> QMAMAdNetworkConnector::userKeywords() const {
  auto s = slot();
  return s && s->request() && s->request()->keywords() ? *s->request()->keywords() : std::vector<std::string>{};
}

// ---- the adapter's callbacks

void QMAMAdNetworkConnector::fromOwnAdapter(QMAMAdNetworkAdapter& adapter,
                                            std::function<void(QMAMAdNetworkConnector&)> report) {
  if (&adapter != adapter_.get()) return;
  std::weak_ptr<QMAMAdNetworkConnector> weak = weak_from_this();
  const QMAMAdNetworkAdapter* caller = &adapter;
  QMARunOnMainThread([weak, caller, report = std::move(report)] {
    auto connector = weak.lock();
    // The adapter may have been replaced on the way to the main thread.
    if (connector && connector->adapter_.get() == caller) report(*connector);
  });
}

void QMAMAdNetworkConnector::adapterDidReceiveAdView(QMAMAdNetworkAdapter& a, const std::shared_ptr<uikit::View>& view) {
  fromOwnAdapter(a, [view](QMAMAdNetworkConnector& c) { c.didReceiveAdView(view); });
}
void QMAMAdNetworkConnector::adapterDidFailAd(QMAMAdNetworkAdapter& a, const foundation::Error& error) {
  fromOwnAdapter(a, [error](QMAMAdNetworkConnector& c) { c.didFailAd(error); });
}
void QMAMAdNetworkConnector::adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.didReceiveInterstitial(); });
}
void QMAMAdNetworkConnector::adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& a, const std::shared_ptr<void>&) {
  adapterDidReceiveInterstitial(a);
}
void QMAMAdNetworkConnector::adapterDidFailInterstitial(QMAMAdNetworkAdapter& a, const foundation::Error& error) {
  fromOwnAdapter(a, [error](QMAMAdNetworkConnector& c) { c.didFailInterstitial(error); });
}
void QMAMAdNetworkConnector::adapterDidGetAdClick(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.didGetAdClick(); });
}
void QMAMAdNetworkConnector::adapterClickDidOccurInBanner(QMAMAdNetworkAdapter& a, const std::shared_ptr<uikit::View>&) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.clickDidOccurInBanner(); });
}
void QMAMAdNetworkConnector::adapterWillPresentFullScreenModal(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.willPresentFullScreenModal(); });
}
void QMAMAdNetworkConnector::adapterWillDismissFullScreenModal(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.willDismissFullScreenModal(); });
}
void QMAMAdNetworkConnector::adapterDidDismissFullScreenModal(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.didDismissFullScreenModal(); });
}
void QMAMAdNetworkConnector::adapterWillPresentInterstitial(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.willPresentInterstitial(); });
}
void QMAMAdNetworkConnector::adapterWillDismissInterstitial(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.willDismissInterstitial(); });
}
void QMAMAdNetworkConnector::adapterDidDismissInterstitial(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.didDismissInterstitial(); });
}
void QMAMAdNetworkConnector::adapterWillLeaveApplication(QMAMAdNetworkAdapter& a) {
  fromOwnAdapter(a, [](QMAMAdNetworkConnector& c) { c.willLeaveApplication(); });
}

// ---- banner

void QMAMAdNetworkConnectorBanner::getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type) {
  WV_DCHECK_MAIN_THREAD();
  if (type && type->isInterstitial())
    return failRequest(QMARequestErrorCodeInternalError,
                       foundation::stringWithFormat("Connector %@ doesn't support interstitial", className()));
  if (!type || !QMAAdSizeIsValid(type->adSize()))
    return failRequest(QMARequestErrorCodeInternalError, "Banner adType requested is invalid.");
  if (adapter_) adapter_->getBannerWithSize(type->adSize());
}

void QMAMAdNetworkConnectorBanner::didReceiveAdView(const std::shared_ptr<uikit::View>& view) {
  didNetworkRefresh_ = didNetworkReturn_;
  didNetworkReturn_ = true;
  clicked_ = false;
  auto keep = shared_from_this();
  if (auto manager = adManager()) manager->adRequestReturnsFromConnectorWithView(*this, view);
  reportImpression();
}

void QMAMAdNetworkConnectorBanner::didFailAd(const foundation::Error& error) {
  didNetworkRefresh_ = didNetworkReturn_;
  didNetworkReturn_ = true;
  auto keep = shared_from_this();
  if (auto manager = adManager()) manager->adRequestFailedFromConnectorWithError(*this, error);
}

void QMAMAdNetworkConnectorBanner::willPresentFullScreenModal() {
  postFullScreenNotification(kAdModalViewControllerWillPresentFullScreen);
  if (auto s = slot()) s->adWillPresentScreen();
  reportClick();
}

void QMAMAdNetworkConnectorBanner::willDismissFullScreenModal() {
  if (auto s = slot()) s->adWillDismissScreen();
}

void QMAMAdNetworkConnectorBanner::didDismissFullScreenModal() {
  postFullScreenNotification(kAdModalViewControllerDidDismissFullScreen);
  if (auto s = slot()) s->adDidDismissScreen();
}

void QMAMAdNetworkConnectorBanner::willLeaveApplication() {
  if (auto s = slot()) {
    s->adWillLeaveApplication();
    s->willLeaveAppDueToClick();
  }
  reportClick();
}

// ---- interstitial

void QMAMAdNetworkConnectorInterstitial::getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type) {
  WV_DCHECK_MAIN_THREAD();
  if (!type || !type->isInterstitial())
    return failRequest(QMARequestErrorCodeInternalError, "Invalid mediation ad requested from interstitial object.");
  if (adapter_) adapter_->getInterstitial();
}

void QMAMAdNetworkConnectorInterstitial::didReceiveInterstitial() {
  clicked_ = false;
  auto keep = shared_from_this();
  if (auto manager = adManager()) manager->adRequestReturnsFromConnectorWithInterstitial(*this, nullptr);
}

void QMAMAdNetworkConnectorInterstitial::didFailInterstitial(const foundation::Error& error) {
  auto keep = shared_from_this();
  if (auto manager = adManager()) manager->adRequestFailedFromConnectorWithError(*this, error);
}

void QMAMAdNetworkConnectorInterstitial::willPresentInterstitial() {
  postFullScreenNotification(kAdModalViewControllerWillPresentFullScreen);
  if (auto s = slot()) s->adWillPresentScreen();
  reportImpression();
}

void QMAMAdNetworkConnectorInterstitial::willDismissInterstitial() {
  calledWillDismissInterstitial_ = true;
  if (auto s = slot()) s->adWillDismissScreen();
}

void QMAMAdNetworkConnectorInterstitial::didDismissInterstitial() {
  if (!calledWillDismissInterstitial_) willDismissInterstitial();
  postFullScreenNotification(kAdModalViewControllerDidDismissFullScreen);
  if (auto s = slot()) s->adDidDismissScreen();
}

void QMAMAdNetworkConnectorInterstitial::willLeaveApplication() {
  if (auto s = slot()) {
    s->adWillLeaveApplication();
    s->willLeaveAppDueToClick();
  }
  reportClick();
}

// ---- native

void QMAMAdNetworkConnectorNativeAd::getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>&) {
  WV_DCHECK_MAIN_THREAD();
  auto native = std::dynamic_pointer_cast<QMAMAdNetworkAdapterInternalProtocol>(adapter_);
  // The class's method table says whether it serves native ads; a network that cannot fails
  // at once instead of holding the waterfall until its time-out.
  if (!native || !adapterObject_ || !runtime::respondsToSelector(adapterObject_, kQMAMGetNativeAdSelector)) {
    const foundation::Value name = adapterObject_ ? foundation::Value(adapterObject_->isa()->name()) : foundation::Value();
    return failRequest(QMARequestErrorCodeInternalError,
                       foundation::stringWithFormat("%@ adapter doesn't implement protocol for fetching native ad.", name));
  }
  native->getNativeAd();
}

void QMAMAdNetworkConnectorNativeAd::adapterDidReceiveForwardingNativeAppInstallAd(
    QMAMAdNetworkAdapter& adapter, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad) {
  fromOwnAdapter(adapter, [ad](QMAMAdNetworkConnector& c) {
    auto keep = c.shared_from_this();
    if (auto manager = c.adManager())
      manager->adRequestReturnsFromConnectorWithForwardingNativeAppInstallAd(c, ad);
  });
}

void QMAMAdNetworkConnectorNativeAd::didFailAd(const foundation::Error& error) {
  auto keep = shared_from_this();
  if (auto manager = adManager()) manager->adRequestFailedFromConnectorWithError(*this, error);
}
