#include "ads/mediation/ad_url_adapter.h"

#include <any>

#include "ads/mediation/house_adapter.h"
#include "ads/services/geometry.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/system/device_facts.h"

using foundation::Dictionary;
using foundation::Value;

void QMAMAdURLAdapter::registerClass() {
  auto cls = makeAdapterClass<QMAMAdURLAdapter>(kQMAMAdURLAdapterClassName);
  if (!cls) return;
  addChangeAdSizeTo<QMAMAdURLAdapter>(cls);
  cls->addClassMethod<std::string()>("adapterVersion", [] { return adapterVersion(); });
  cls->addClassMethod<std::string()>("networkExtrasClass", [] { return networkExtrasClass(); });
  runtime::objc_registerClassPair(cls);
}

QMAMAdURLAdapter::~QMAMAdURLAdapter() {
  if (banner_) banner_->setDelegate({});
  if (interstitial_) interstitial_->setDelegate({});
}

foundation::Error QMAMAdURLAdapter::errorWithCodeMessage(long code, const std::string& message) {
  return foundation::Error{kQMAMAdURLAdapterErrorDomain, code, Dictionary{{foundation::kLocalizedDescriptionKey, message}}};
}

std::string QMAMAdURLAdapter::requestID() const {
  std::lock_guard lock(mutex_);
  return requestID_;
}

// ---- serving

void QMAMAdURLAdapter::getBannerWithSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (banner_ || interstitial_)
    return reportBannerLoadFailureWithCodeErrorMessage(0, "Adapter already initialized. Please create new instance.");
  banner_ = QMABannerView::initWithAdSize(size);
  if (!banner_) {
    if (auto c = connector())
      c->adapterDidFailAd(*this, QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                                            "Banner adType requested is invalid."));
    return;
  }
  auto c = connector();
  banner_->setRootViewController(c ? c->viewControllerForPresentingModalView() : nullptr);
  banner_->slot()->setReloadable(false);
  banner_->setDelegate(std::static_pointer_cast<QMABannerViewDelegate>(keep));
  mediation_adapters::copyAutoClickProtection(c, banner_->slot());
  loadRequest();
}

void QMAMAdURLAdapter::getInterstitial() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (banner_ || interstitial_)
    return reportInterstitialLoadFailureWithCodeErrorMessage(0, "Adapter already initialized. Please create new instance.");
  interstitial_ = QMAInterstitial::initWithAdUnitID(std::nullopt);
  interstitial_->setDelegate(std::static_pointer_cast<QMAInterstitialDelegate>(keep));
  mediation_adapters::copyAutoClickProtection(connector(), interstitial_->slot());
  loadRequest();
}

void QMAMAdURLAdapter::loadRequest() {
  WV_DCHECK_MAIN_THREAD();
  prepareRequestParameters();
  QMASDKCoreController::sharedInstance()->buildAdURL(std::static_pointer_cast<QMASDKCoreControllerDelegate>(shared_from_this()));
}

void QMAMAdURLAdapter::prepareRequestParameters() {
  WV_DCHECK_MAIN_THREAD();
  auto c = connector();
  auto request = QMARequestMediationAdditions::requestWithConnectorAdapter(c, this);
  Dictionary requestParam = request->parameters();
  if (interstitial_) {
    requestParam["format"] = "interstitial_mb";
  } else if (banner_) {
    requestParam["format"] = "banner";
    requestParam["ad_frame"] = QMADictionaryWithRect(banner_->frame());
    requestParam["ad_bounds"] = QMADictionaryWithRect(banner_->bounds());
    const QMAAdSize size = banner_->adSize();
    if (QMAAdSizeIsFullWidth(size)) {
      requestParam["smart_w"] = "full";
      if (QMAAdSizeIsSmartBanner(size)) requestParam["smart_h"] = "auto";
    }
  }
  const auto device = system_facts::device();
  Dictionary parameters{
      {"request_param", Value(std::move(requestParam))},
      {"lat", device.advertisingTrackingEnabled ? "0" : "1"},
      {"adid", device.advertisingIdentifier.value_or("")},
      {"data", Value(c ? c->credentials() : Dictionary{})},
      {"quillon-ad-url-mediation", "1"},
  };
  std::lock_guard lock(mutex_);
  preparedParameters_ = std::move(parameters);
}

void QMAMAdURLAdapter::stopBeingDelegate() {
  if (banner_) banner_->setDelegate({});
  if (interstitial_) interstitial_->setDelegate({});
  shouldRespondToSDKCore_ = false;
}

void QMAMAdURLAdapter::presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) {
  if (interstitial_) interstitial_->presentFromRootViewController(root);
}

void QMAMAdURLAdapter::changeAdSizeTo(QMAAdSize size) {
  if (banner_) banner_->setAdSize(size);
}

// ---- failures

void QMAMAdURLAdapter::reportAdLoadFailureWithCodeErrorMessage(long code, const std::string& message) {
  if (banner_) {
    reportBannerLoadFailureWithCodeErrorMessage(code, message);
  } else if (interstitial_) {
    reportInterstitialLoadFailureWithCodeErrorMessage(code, message);
  }
}

void QMAMAdURLAdapter::reportBannerLoadFailureWithCodeErrorMessage(long code, const std::string& message) {
  if (auto c = connector()) c->adapterDidFailAd(*this, errorWithCodeMessage(code, message));
}

void QMAMAdURLAdapter::reportInterstitialLoadFailureWithCodeErrorMessage(long code, const std::string& message) {
  if (auto c = connector()) c->adapterDidFailInterstitial(*this, errorWithCodeMessage(code, message));
}

// ---- the SDK core's side

void QMAMAdURLAdapter::setRequestID(const std::string& requestID) {
  std::lock_guard lock(mutex_);
  requestID_ = requestID;
}

std::optional<Dictionary> QMAMAdURLAdapter::requestParameters() {
  std::lock_guard lock(mutex_);
  Dictionary parameters = preparedParameters_.value_or(Dictionary{{"quillon-ad-url-mediation", "1"}});
  parameters["request_id"] = requestID_;
  return parameters;
}

long QMAMAdURLAdapter::requestedAdType() {
  WV_DCHECK_MAIN_THREAD();
  if (banner_) return 1;
  if (interstitial_) return 2;
  return 0;
}

void QMAMAdURLAdapter::loadAdURLWithParameters(const Dictionary&) {
  WV_DCHECK_MAIN_THREAD();
  if (shouldRespondToSDKCore_) reportAdLoadFailureWithCodeErrorMessage(1, "Adapter can't load ad URL.");
}

void QMAMAdURLAdapter::loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<Dictionary>& headers) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldRespondToSDKCore_ || (!banner_ && !interstitial_)) return;
  if (!ad) return reportAdLoadFailureWithCodeErrorMessage(3, "Ad received is empty.");
  auto extras = QMAExtras::init();
  // One use: the inner slot takes the ad from these extras once, and a later load of it
  // would ask the network.
  extras->setAdditionalParameters(Dictionary{{"_adHeaders", Value(headers.value_or(Dictionary{}))}, {"_useOnce", true}});
  extras->setAdditionalObjectForKey(std::any(ad), "_ad");
  auto request = QMARequest::request();
  request->registerAdNetworkExtras(extras);
  if (banner_) {
    banner_->loadRequest(request);
  } else {
    interstitial_->loadRequest(request);
  }
}

void QMAMAdURLAdapter::invalidJavaScriptRequest() {
  WV_DCHECK_MAIN_THREAD();
  if (shouldRespondToSDKCore_) reportAdLoadFailureWithCodeErrorMessage(4, "Failed to load ad. Check network connection.");
}

void QMAMAdURLAdapter::failedJavaScriptFile() {
  WV_DCHECK_MAIN_THREAD();
  if (shouldRespondToSDKCore_) reportAdLoadFailureWithCodeErrorMessage(5, "Failed to load ad. Check network connection.");
}

// ---- the inner ads' messages: only an interstitial's own click report counts as a click

void QMAMAdURLAdapter::adViewDidReceiveAd(QMABannerView&) {
  if (auto c = connector()) c->adapterDidReceiveAdView(*this, banner_);
}
void QMAMAdURLAdapter::adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError& error) {
  if (auto c = connector()) c->adapterDidFailAd(*this, error);
}
void QMAMAdURLAdapter::adViewWillPresentScreen(QMABannerView&) {
  if (auto c = connector()) c->adapterWillPresentFullScreenModal(*this);
}
void QMAMAdURLAdapter::adViewWillDismissScreen(QMABannerView&) {
  if (auto c = connector()) c->adapterWillDismissFullScreenModal(*this);
}
void QMAMAdURLAdapter::adViewDidDismissScreen(QMABannerView&) {
  if (auto c = connector()) c->adapterDidDismissFullScreenModal(*this);
}
void QMAMAdURLAdapter::adViewWillLeaveApplication(QMABannerView&) {
  if (auto c = connector()) c->adapterWillLeaveApplication(*this);
}
void QMAMAdURLAdapter::interstitialDidReceiveAd(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidReceiveInterstitial(*this);
}
void QMAMAdURLAdapter::interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError& error) {
  if (auto c = connector()) c->adapterDidFailInterstitial(*this, error);
}
void QMAMAdURLAdapter::interstitialWillPresentScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillPresentInterstitial(*this);
}
void QMAMAdURLAdapter::interstitialWillDismissScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillDismissInterstitial(*this);
}
void QMAMAdURLAdapter::interstitialDidDismissScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidDismissInterstitial(*this);
}
void QMAMAdURLAdapter::interstitialWillLeaveApplication(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillLeaveApplication(*this);
}
void QMAMAdURLAdapter::interstitialDidReceiveAdClick(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidGetAdClick(*this);
}
