#include "ads/mediation/house_adapter.h"

#include <any>

#include "ads/model/kvr_request.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/services/device.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace mediation_adapters {

void copyAutoClickProtection(const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector,
                             const std::shared_ptr<QMASlot>& innerSlot) {
  auto waterfallConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnector>(connector);
  if (!waterfallConnector || !innerSlot || !innerSlot->adViewDelegate()) return;
  if (const auto& opener = innerSlot->adViewDelegate()->opener())
    opener->setAutoClickProtected(waterfallConnector->isAutoClickProtected());
}

}  // namespace mediation_adapters

// ---- the built request

std::shared_ptr<QMARequest> QMARequestMediationAdditions::requestWithConnectorAdapter(
    const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector, const runtime::Object* adapter) {
  auto request = QMARequest::request();
  if (!connector) return request;
  if (connector->testMode()) {
    request->setTestDevices(
        Array{Value(kQMASimulatorID), Value(kKVRSimulatorID), Value(QMADevice::sharedInstance()->deviceIdentifier())});
  }
  if (auto childDirected = connector->childDirectedTreatment()) request->tagForChildDirectedTreatment(*childDirected);
  if (connector->userHasLocation()) {
    request->setLocationWithLatitudeLongitudeAccuracy(connector->userLatitude(), connector->userLongitude(),
                                                      connector->userLocationAccuracyInMeters());
  } else if (auto description = connector->userLocationDescription()) {
    request->setLocationWithDescription(*description);
  }
  request->setGender(connector->userGender());
  request->setBirthday(connector->userBirthday());
  request->setKeywords(connector->userKeywords());
  if (auto waterfallConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnector>(connector))
    request->setRequestAgent(waterfallConnector->requestAgent());
  configureNetworkExtrasWithConnectorAdapter(*request, connector, adapter);
  addAdapterListWithConnectorAdapter(*request, connector, adapter);
  return request;
}

void QMARequestMediationAdditions::addAdapterListWithConnectorAdapter(
    QMARequest& request, const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector, const runtime::Object* adapter) {
  if (!connector || !adapter) return;
  const std::string adapterClassName = adapter->isa()->name();
  Array names;
  auto waterfallConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnector>(connector);
  if (waterfallConnector && waterfallConnector->mediationConfig()) {
    for (const auto& network : waterfallConnector->mediationConfig()->adNetworkConfigs()) {
      if (network && network->adapterList()) {
        names.emplace_back(*network->adapterList());
      } else {
        names.emplace_back(Value());
      }
    }
  } else {
    names.emplace_back(Array{Value(adapterClassName)});
  }
  request.setPrivateMediationExtras(Dictionary{{"man", Value(std::move(names))}, {"mcan", Value(adapterClassName)}});
}

void QMARequestMediationAdditions::configureNetworkExtrasWithConnectorAdapter(
    QMARequest& request, const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector, const runtime::Object* adapter) {
  if (!connector || !adapter) return;
  // The publisher's extras object is shared by the host's request and every copy of it:
  // writing to it would make the host's next load show this network's ad again.
  auto publisher = std::dynamic_pointer_cast<QMAExtras>(connector->networkExtras());
  auto extras = publisher ? publisher->copy() : QMAExtras::init();
  Dictionary parameters = extras->additionalParameters().value_or(Dictionary{});
  if (auto it = parameters.find("_mediationRequestUrl"); it != parameters.end()) parameters["_requestUrl"] = it->second;
  if (const std::any* url = extras->additionalObjectForKey("_mediationRequestUrl"))
    extras->setAdditionalObjectForKey(*url, "_requestUrl");
  const Dictionary credentials = connector->credentials();
  if (auto it = credentials.find("mad_hac"); it != credentials.end()) parameters["mad_hac"] = it->second;
  parameters["fk"] = "1";
  auto waterfallConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnector>(connector);
  if (waterfallConnector && waterfallConnector->networkConfig()) {
    const auto& network = *waterfallConnector->networkConfig();
    if (network.extras()) {
      for (const auto& [key, value] : *network.extras())
        if (value.asString()) parameters[key] = value;
    }
    if (network.ad()) parameters["_ad"] = *network.ad();
  }
  extras->setAdditionalParameters(std::move(parameters));
  request.registerAdNetworkExtras(extras);
}

// ---- the adapter class

void QMAMAdapterQuillonPelmarkAds::registerClass() {
  auto cls = makeAdapterClass<QMAMAdapterQuillonPelmarkAds>(kQMAMAdapterQuillonPelmarkAdsClassName);
  if (!cls) return;
  addChangeAdSizeTo<QMAMAdapterQuillonPelmarkAds>(cls);
  cls->addClassMethod<std::string()>("adapterVersion", [] { return adapterVersion(); });
  cls->addClassMethod<std::string()>("networkExtrasClass", [] { return networkExtrasClass(); });
  runtime::objc_registerClassPair(cls);
}

std::string QMAMAdapterQuillonPelmarkAds::adapterVersion() { return QMARequest::sdkVersion(); }

QMAMAdapterQuillonPelmarkAds::~QMAMAdapterQuillonPelmarkAds() { stopBeingDelegate(); }

std::shared_ptr<QMARequest> QMAMAdapterQuillonPelmarkAds::request() {
  return QMARequestMediationAdditions::requestWithConnectorAdapter(connector(), this);
}

void QMAMAdapterQuillonPelmarkAds::getBannerWithSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto c = connector();
  auto built = request();
  if (bannerView_) bannerView_->setDelegate({});
  bannerView_ = QMABannerView::initWithAdSize(size);
  if (!bannerView_) {
    if (c) c->adapterDidFailAd(*this, QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                                                 "Banner adType requested is invalid."));
    return;
  }
  bannerView_->setDelegate(std::static_pointer_cast<QMABannerViewDelegate>(keep));
  bannerView_->slot()->setReloadable(false);
  if (c) {
    bannerView_->setAdUnitID(c->publisherId());
    bannerView_->setRootViewController(c->viewControllerForPresentingModalView());
  }
  mediation_adapters::copyAutoClickProtection(c, bannerView_->slot());
  bannerView_->loadRequest(built);
}

void QMAMAdapterQuillonPelmarkAds::getInterstitial() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto c = connector();
  auto built = request();
  if (interstitial_) interstitial_->setDelegate({});
  interstitial_ = QMAInterstitial::initWithAdUnitID(c ? c->publisherId() : std::nullopt);
  interstitial_->setDelegate(std::static_pointer_cast<QMAInterstitialDelegate>(keep));
  mediation_adapters::copyAutoClickProtection(c, interstitial_->slot());
  interstitial_->loadRequest(built);
}

void QMAMAdapterQuillonPelmarkAds::stopBeingDelegate() {
  if (bannerView_) bannerView_->setDelegate({});
  if (interstitial_) interstitial_->setDelegate({});
}

void QMAMAdapterQuillonPelmarkAds::presentInterstitialFromRootViewController(
    const std::shared_ptr<uikit::ViewController>& root) {
  if (interstitial_) interstitial_->presentFromRootViewController(root);
}

void QMAMAdapterQuillonPelmarkAds::changeAdSizeTo(QMAAdSize size) {
  if (bannerView_) bannerView_->setAdSize(size);
}

// ---- the inner ads' messages. A banner counts a click when it opens a screen or leaves
// the application; an interstitial when its ad reports the click.

void QMAMAdapterQuillonPelmarkAds::adViewDidReceiveAd(QMABannerView& view) {
  auto c = connector();
  if (!c) return;
  std::shared_ptr<uikit::View> shown = &view == bannerView_.get() ? bannerView_ : nullptr;
  c->adapterDidReceiveAdView(*this, shown);
}
void QMAMAdapterQuillonPelmarkAds::adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError& error) {
  if (auto c = connector()) c->adapterDidFailAd(*this, error);
}
void QMAMAdapterQuillonPelmarkAds::adViewWillPresentScreen(QMABannerView&) {
  if (auto c = connector()) {
    c->adapterDidGetAdClick(*this);
    c->adapterWillPresentFullScreenModal(*this);
  }
}
void QMAMAdapterQuillonPelmarkAds::adViewWillDismissScreen(QMABannerView&) {
  if (auto c = connector()) c->adapterWillDismissFullScreenModal(*this);
}
void QMAMAdapterQuillonPelmarkAds::adViewDidDismissScreen(QMABannerView&) {
  if (auto c = connector()) c->adapterDidDismissFullScreenModal(*this);
}
void QMAMAdapterQuillonPelmarkAds::adViewWillLeaveApplication(QMABannerView&) {
  if (auto c = connector()) {
    c->adapterDidGetAdClick(*this);
    c->adapterWillLeaveApplication(*this);
  }
}
void QMAMAdapterQuillonPelmarkAds::interstitialDidReceiveAd(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidReceiveInterstitial(*this);
}
void QMAMAdapterQuillonPelmarkAds::interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError& error) {
  if (auto c = connector()) c->adapterDidFailInterstitial(*this, error);
}
void QMAMAdapterQuillonPelmarkAds::interstitialWillPresentScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillPresentInterstitial(*this);
}
void QMAMAdapterQuillonPelmarkAds::interstitialWillDismissScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillDismissInterstitial(*this);
}
void QMAMAdapterQuillonPelmarkAds::interstitialDidDismissScreen(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidDismissInterstitial(*this);
}
void QMAMAdapterQuillonPelmarkAds::interstitialWillLeaveApplication(QMAInterstitial&) {
  if (auto c = connector()) c->adapterWillLeaveApplication(*this);
}
void QMAMAdapterQuillonPelmarkAds::interstitialDidReceiveAdClick(QMAInterstitial&) {
  if (auto c = connector()) c->adapterDidGetAdClick(*this);
}
