#include "ads/mediation/custom_event_adapter.h"

#include "ads/model/request_error.h"
#include "ads/services/logging.h"
#include "ads/services/sdk_version.h"
#include "platform/foundation/format.h"

using foundation::Dictionary;

// ---- extras and the request

void QMACustomEventExtras::setExtrasForLabel(const std::optional<Dictionary>& extras,
                                             const std::optional<std::string>& label) {
  if (!label) {
    QMALogger::sharedInstance()->logPublicMessage("Must specify a label for extras.");
    return;
  }
  if (extras) {
    extras_[*label] = *extras;
  } else {
    extras_.erase(*label);
  }
}

std::optional<Dictionary> QMACustomEventExtras::extrasForLabel(const std::string& label) const {
  auto it = extras_.find(label);
  if (it == extras_.end()) return std::nullopt;
  return it->second;
}

QMACustomEventRequest::QMACustomEventRequest(const QMAMAdNetworkConnectorProtocol& connector)
    : userGender_(connector.userGender()),
      userBirthday_(connector.userBirthday()),
      userHasLocation_(connector.userHasLocation()),
      userLatitude_(connector.userLatitude()),
      userLongitude_(connector.userLongitude()),
      userLocationAccuracyInMeters_(connector.userLocationAccuracyInMeters()),
      userLocationDescription_(connector.userLocationDescription()),
      userKeywords_(connector.userKeywords()),
      isTesting_(connector.testMode()) {
  const Dictionary credentials = connector.credentials();
  const std::string* label = foundation::stringForKey(credentials, "label");
  auto extras = std::dynamic_pointer_cast<QMACustomEventExtras>(connector.networkExtras());
  if (extras && label) additionalParameters_ = extras->extrasForLabel(*label);
}

// ---- the adapter class

void QMAMAdapterCustomEvents::registerClass() {
  auto cls = makeAdapterClass<QMAMAdapterCustomEvents>(kQMAMAdapterCustomEventsClassName);
  if (!cls) return;
  cls->addMethod<void()>(kQMAMGetNativeAdSelector, [](const runtime::Id& self) {
    if (auto adapter = std::dynamic_pointer_cast<QMAMAdapterCustomEvents>(self)) adapter->getNativeAd();
  });
  cls->addClassMethod<std::string()>("adapterVersion", [] { return std::string(kQMASDKVersion); });
  cls->addClassMethod<std::string()>("networkExtrasClass", [] { return std::string(QMACustomEventExtras::kClassName); });
  runtime::objc_registerClassPair(cls);
}

QMAMAdapterCustomEvents::~QMAMAdapterCustomEvents() {
  if (customEventBanner_) customEventBanner_->setDelegate({});
  if (customEventInterstitial_) customEventInterstitial_->setDelegate({});
}

std::optional<std::string> QMAMAdapterCustomEvents::credential(const char* key) const {
  auto c = connector();
  if (!c) return std::nullopt;
  const Dictionary credentials = c->credentials();
  const std::string* text = foundation::stringForKey(credentials, key);
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

void QMAMAdapterCustomEvents::callBackToConnectorWithErrorIsInterstitial(const std::string& message,
                                                                         bool isInterstitial) {
  auto c = connector();
  if (!c) return;
  const foundation::Error error{kQMACustomEventErrorDomain, 1, Dictionary{{foundation::kLocalizedDescriptionKey, message}}};
  if (isInterstitial) {
    c->adapterDidFailInterstitial(*this, error);
  } else {
    c->adapterDidFailAd(*this, error);
  }
}

runtime::ClassRef QMAMAdapterCustomEvents::customEventClassWithCredentials(bool isInterstitial) {
  const auto className = credential("class_name");
  if (!className) {
    callBackToConnectorWithErrorIsInterstitial("No class name for the Custom Event.", isInterstitial);
    return nullptr;
  }
  auto cls = runtime::objc_getClass(*className);
  if (!cls) {
    const std::string message = foundation::stringWithFormat("Cannot find Custom Event class named %@.", QMALogQuote(*className));
    QMALogger::sharedInstance()->logPublicMessage(message);
    callBackToConnectorWithErrorIsInterstitial(message, isInterstitial);
    return nullptr;
  }
  return cls;
}

runtime::Id QMAMAdapterCustomEvents::customEventWithCredentialsProtocol(const char* protocol, bool isInterstitial) {
  auto cls = customEventClassWithCredentials(isInterstitial);
  if (!cls) return nullptr;
  const std::string className = cls->name();
  // The class is checked before anything of it runs: the server names it, and making an
  // object of an arbitrary class could do anything its maker does.
  if (!cls->conformsToProtocol(protocol)) {
    const std::string message =
        foundation::stringWithFormat("Custom Event class %@ does not conform to the %@ protocol.", className, protocol);
    QMALogger::sharedInstance()->logPublicMessage(message);
    callBackToConnectorWithErrorIsInterstitial(message, isInterstitial);
    return nullptr;
  }
  return cls->createInstance();
}

void QMAMAdapterCustomEvents::getBannerWithSize(QMAAdSize size) {
  auto keep = shared_from_this();
  auto object = customEventWithCredentialsProtocol(kQMACustomEventBannerProtocol, false);
  if (!object) return;
  auto c = connector();
  if (!c) return;
  auto request = std::make_shared<QMACustomEventRequest>(*c);
  auto event = std::dynamic_pointer_cast<QMACustomEventBanner>(object);
  if (!event) {
    callBackToConnectorWithErrorIsInterstitial(
        foundation::stringWithFormat("Custom Event class %@ does not conform to the %@ protocol.", object->isa()->name(),
                                     kQMACustomEventBannerProtocol),
        false);
    return;
  }
  event->setDelegate(std::static_pointer_cast<QMACustomEventBannerDelegate>(keep));
  event->requestBannerAdParameterLabelRequest(size, credential("parameter"), credential("label"), request);
  if (customEventBanner_ && customEventBanner_ != event) customEventBanner_->setDelegate({});
  customEventBanner_ = event;
  customEventBannerObject_ = object;
}

void QMAMAdapterCustomEvents::getInterstitial() {
  auto keep = shared_from_this();
  auto object = customEventWithCredentialsProtocol(kQMACustomEventInterstitialProtocol, true);
  if (!object) return;
  auto c = connector();
  if (!c) return;
  auto request = std::make_shared<QMACustomEventRequest>(*c);
  auto event = std::dynamic_pointer_cast<QMACustomEventInterstitial>(object);
  if (!event) {
    callBackToConnectorWithErrorIsInterstitial(
        foundation::stringWithFormat("Custom Event class %@ does not conform to the %@ protocol.", object->isa()->name(),
                                     kQMACustomEventInterstitialProtocol),
        true);
    return;
  }
  event->setDelegate(std::static_pointer_cast<QMACustomEventInterstitialDelegate>(keep));
  event->requestInterstitialAdWithParameterLabelRequest(credential("parameter"), credential("label"), request);
  if (customEventInterstitial_ && customEventInterstitial_ != event) customEventInterstitial_->setDelegate({});
  customEventInterstitial_ = event;
  customEventInterstitialObject_ = object;
}

void QMAMAdapterCustomEvents::getNativeAd() {
  auto keep = shared_from_this();
  auto cls = customEventClassWithCredentials(false);
  if (!cls) return;
  auto c = connector();
  if (!c) return;
  auto request = std::make_shared<QMACustomEventRequest>(*c);
  // As for the other kinds, the class is checked before an object of it is made: its method
  // table must answer the request, and the object must then serve the native interface.
  const std::string message = foundation::stringWithFormat("Custom event class %@ doesn't implement method %@.",
                                                           cls->name(), kQMACustomEventNativeAdRequestSelector);
  std::shared_ptr<QMACustomEventNativeAd> event;
  runtime::Id object;
  if (cls->instancesRespondToSelector(kQMACustomEventNativeAdRequestSelector)) {
    object = cls->createInstance();
    event = std::dynamic_pointer_cast<QMACustomEventNativeAd>(object);
  }
  if (!event) {
    QMALogger::sharedInstance()->logPublicMessage(message);
    callBackToConnectorWithErrorIsInterstitial(message, false);
    return;
  }
  event->setDelegate(std::static_pointer_cast<QMACustomEventNativeAdDelegate>(keep));
  event->requestNativeAdWithParameterRequestRootViewController(credential("parameter"), request,
                                                               c->viewControllerForPresentingModalView());
  if (customEventNativeAd_ && customEventNativeAd_ != event) customEventNativeAd_->setDelegate({});
  customEventNativeAd_ = event;
  customEventNativeAdObject_ = object;
}

void QMAMAdapterCustomEvents::stopBeingDelegate() {
  if (customEventBanner_) customEventBanner_->setDelegate({});
  if (customEventInterstitial_) customEventInterstitial_->setDelegate({});
}

void QMAMAdapterCustomEvents::presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) {
  if (customEventInterstitial_) customEventInterstitial_->presentFromRootViewController(root);
}

std::shared_ptr<uikit::ViewController> QMAMAdapterCustomEvents::viewControllerForPresentingModalView() const {
  auto c = connector();
  return c ? c->viewControllerForPresentingModalView() : nullptr;
}

// ---- relayed callbacks

void QMAMAdapterCustomEvents::customEventBannerDidReceiveAd(QMACustomEventBanner&, const std::shared_ptr<uikit::View>& view) {
  if (auto c = connector()) c->adapterDidReceiveAdView(*this, view);
}
void QMAMAdapterCustomEvents::customEventBannerDidFailAd(QMACustomEventBanner&, const foundation::Error& error) {
  if (auto c = connector()) c->adapterDidFailAd(*this, error);
}
void QMAMAdapterCustomEvents::customEventBannerWasClicked(QMACustomEventBanner&) {
  if (auto c = connector()) c->adapterDidGetAdClick(*this);
}
void QMAMAdapterCustomEvents::customEventBannerWillPresentModal(QMACustomEventBanner&) {
  if (auto c = connector()) c->adapterWillPresentFullScreenModal(*this);
}
void QMAMAdapterCustomEvents::customEventBannerWillDismissModal(QMACustomEventBanner&) {
  if (auto c = connector()) c->adapterWillDismissFullScreenModal(*this);
}
void QMAMAdapterCustomEvents::customEventBannerDidDismissModal(QMACustomEventBanner&) {
  if (auto c = connector()) c->adapterDidDismissFullScreenModal(*this);
}
void QMAMAdapterCustomEvents::customEventBannerWillLeaveApplication(QMACustomEventBanner&) {
  if (auto c = connector()) c->adapterWillLeaveApplication(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialDidReceiveAd(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterDidReceiveInterstitial(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialDidFailAd(QMACustomEventInterstitial&, const foundation::Error& error) {
  if (auto c = connector()) c->adapterDidFailInterstitial(*this, error);
}
void QMAMAdapterCustomEvents::customEventInterstitialWasClicked(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterDidGetAdClick(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialWillPresent(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterWillPresentInterstitial(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialWillDismiss(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterWillDismissInterstitial(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialDidDismiss(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterDidDismissInterstitial(*this);
}
void QMAMAdapterCustomEvents::customEventInterstitialWillLeaveApplication(QMACustomEventInterstitial&) {
  if (auto c = connector()) c->adapterWillLeaveApplication(*this);
}

void QMAMAdapterCustomEvents::customEventNativeAdDidLoadForwardingNativeAppInstallAd(
    QMACustomEventNativeAd&, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad) {
  auto c = connector();
  if (!c) return;
  if (auto native = std::dynamic_pointer_cast<QMAMAdNetworkConnectorNativeAd>(c)) {
    native->adapterDidReceiveForwardingNativeAppInstallAd(*this, ad);
    return;
  }
  c->adapterDidFailAd(*this, QMARequestError::errorWithCodeCustomMessage(
                                 QMARequestErrorCodeInternalError,
                                 std::string("Native ad response received for connector which can't processed native ad.")));
}

void QMAMAdapterCustomEvents::customEventNativeAdDidFailToLoadAdWithError(QMACustomEventNativeAd&,
                                                                          const foundation::Error& error) {
  if (auto c = connector()) c->adapterDidFailAd(*this, error);
}
