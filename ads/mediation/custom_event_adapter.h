#pragma once
// The built-in adapter QMAMAdapterCustomEvents: a publisher puts its own ad code into a
// waterfall as a custom event, a class registered by name in the runtime's class registry
// that adopts "QMACustomEventBanner" or "QMACustomEventInterstitial" and whose instances
// serve the C++ interface of that name, or, for native ads, one whose method table answers
// "requestNativeAdWithParameter:request:rootViewController:" and whose instances serve
// QMACustomEventNativeAd (it delivers a native app-install ad). The network's credentials name it ("class_name")
// and give it a "parameter" and a "label" (the key of the publisher's extras for it). The
// adapter makes the custom event at request time, and only from a class that adopts the
// protocol of the kind asked for: a name from the server never makes an object of any other
// class. It relays the custom event's callbacks to its connector.
//
// Threads: main thread, as the connector it talks to.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/mediation/network_connector.h"
#include "ads/model/request.h"
#include "platform/foundation/error.h"
#include "platform/runtime/runtime.h"

namespace uikit {
class View;
class ViewController;
}  // namespace uikit

inline constexpr const char* kQMAMAdapterCustomEventsClassName = "QMAMAdapterCustomEvents";
inline constexpr const char* kQMACustomEventBannerProtocol = "QMACustomEventBanner";
inline constexpr const char* kQMACustomEventInterstitialProtocol = "QMACustomEventInterstitial";
inline constexpr const char* kQMACustomEventNativeAdProtocol = "QMACustomEventNativeAd";
inline constexpr const char* kQMACustomEventNativeAdRequestSelector = "requestNativeAdWithParameter:request:rootViewController:";
// The errors of custom-event lookups: this domain, code 1.
inline constexpr const char* kQMACustomEventErrorDomain = "ad_mediation";

// The publisher's parameters for each custom event, by label.
class QMACustomEventExtras : public QMAAdNetworkExtras {
 public:
  static constexpr const char* kClassName = "QMACustomEventExtras";
  std::string extrasClassName() const override { return kClassName; }
  // None removes the label's entry; an empty label stores nothing and is logged.
  void setExtrasForLabel(const std::optional<foundation::Dictionary>& extras, const std::optional<std::string>& label);
  std::optional<foundation::Dictionary> extrasForLabel(const std::string& label) const;
  void removeAllExtras() { extras_.clear(); }
  const std::map<std::string, foundation::Dictionary>& allExtras() const { return extras_; }

 private:
  std::map<std::string, foundation::Dictionary> extras_;
};

// The targeting a custom event gets: a snapshot of its connector's.
class QMACustomEventRequest {
 public:
  explicit QMACustomEventRequest(const QMAMAdNetworkConnectorProtocol& connector);
  long userGender() const { return userGender_; }
  const std::optional<foundation::Date>& userBirthday() const { return userBirthday_; }
  bool userHasLocation() const { return userHasLocation_; }
  double userLatitude() const { return userLatitude_; }
  double userLongitude() const { return userLongitude_; }
  double userLocationAccuracyInMeters() const { return userLocationAccuracyInMeters_; }
  const std::optional<std::string>& userLocationDescription() const { return userLocationDescription_; }
  const std::vector<std::string>& userKeywords() const { return userKeywords_; }
  const std::optional<foundation::Dictionary>& additionalParameters() const { return additionalParameters_; }
  bool isTesting() const { return isTesting_; }

 private:
  long userGender_ = 0;
  std::optional<foundation::Date> userBirthday_;
  bool userHasLocation_ = false;
  double userLatitude_ = 0;
  double userLongitude_ = 0;
  double userLocationAccuracyInMeters_ = 0;
  std::optional<std::string> userLocationDescription_;
  std::vector<std::string> userKeywords_;
  std::optional<foundation::Dictionary> additionalParameters_;
  bool isTesting_ = false;
};

class QMACustomEventBanner;
class QMACustomEventInterstitial;
class QMACustomEventNativeAd;
class QMAForwardingNativeAppInstallAd;

// What a custom banner calls on its delegate.
class QMACustomEventBannerDelegate {
 public:
  virtual ~QMACustomEventBannerDelegate() = default;
  virtual void customEventBannerDidReceiveAd(QMACustomEventBanner& event, const std::shared_ptr<uikit::View>& view) = 0;
  virtual void customEventBannerDidFailAd(QMACustomEventBanner& event, const foundation::Error& error) = 0;
  virtual void customEventBannerWasClicked(QMACustomEventBanner& event) = 0;
  virtual void customEventBannerWillPresentModal(QMACustomEventBanner& event) = 0;
  virtual void customEventBannerWillDismissModal(QMACustomEventBanner& event) = 0;
  virtual void customEventBannerDidDismissModal(QMACustomEventBanner& event) = 0;
  virtual void customEventBannerWillLeaveApplication(QMACustomEventBanner& event) = 0;
  // The older form of customEventBannerWasClicked.
  virtual void customEventBannerClickDidOccurInAd(QMACustomEventBanner& event, const std::shared_ptr<uikit::View>& view) = 0;
  virtual std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const = 0;
};

// What a custom interstitial calls on its delegate.
class QMACustomEventInterstitialDelegate {
 public:
  virtual ~QMACustomEventInterstitialDelegate() = default;
  virtual void customEventInterstitialDidReceiveAd(QMACustomEventInterstitial& event) = 0;
  virtual void customEventInterstitialDidFailAd(QMACustomEventInterstitial& event, const foundation::Error& error) = 0;
  virtual void customEventInterstitialWasClicked(QMACustomEventInterstitial& event) = 0;
  virtual void customEventInterstitialWillPresent(QMACustomEventInterstitial& event) = 0;
  virtual void customEventInterstitialWillDismiss(QMACustomEventInterstitial& event) = 0;
  virtual void customEventInterstitialDidDismiss(QMACustomEventInterstitial& event) = 0;
  virtual void customEventInterstitialWillLeaveApplication(QMACustomEventInterstitial& event) = 0;
  // The older form of customEventInterstitialDidReceiveAd; the object means nothing.
  virtual void customEventInterstitialDidReceiveAd(QMACustomEventInterstitial& event, const runtime::Id& ad) = 0;
};

// What a native custom event calls on its delegate.
class QMACustomEventNativeAdDelegate {
 public:
  virtual ~QMACustomEventNativeAdDelegate() = default;
  virtual void customEventNativeAdDidLoadForwardingNativeAppInstallAd(
      QMACustomEventNativeAd& event, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad) = 0;
  virtual void customEventNativeAdDidFailToLoadAdWithError(QMACustomEventNativeAd& event,
                                                           const foundation::Error& error) = 0;
};

// A publisher's custom banner (every method required).
class QMACustomEventBanner {
 public:
  virtual ~QMACustomEventBanner() = default;
  virtual void requestBannerAdParameterLabelRequest(QMAAdSize size, const std::optional<std::string>& parameter,
                                                    const std::optional<std::string>& label,
                                                    const std::shared_ptr<QMACustomEventRequest>& request) = 0;
  // Held weakly.
  virtual void setDelegate(std::weak_ptr<QMACustomEventBannerDelegate> delegate) = 0;
};

// A publisher's custom interstitial (every method required).
class QMACustomEventInterstitial {
 public:
  virtual ~QMACustomEventInterstitial() = default;
  virtual void requestInterstitialAdWithParameterLabelRequest(const std::optional<std::string>& parameter,
                                                              const std::optional<std::string>& label,
                                                              const std::shared_ptr<QMACustomEventRequest>& request) = 0;
  virtual void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) = 0;
  virtual void setDelegate(std::weak_ptr<QMACustomEventInterstitialDelegate> delegate) = 0;
};

// A publisher's native custom event: asked for one native app-install ad; it may answer
// from inside its request method. It keeps its delegate (weakly) until it goes away.
class QMACustomEventNativeAd {
 public:
  virtual ~QMACustomEventNativeAd() = default;
  virtual void setDelegate(std::weak_ptr<QMACustomEventNativeAdDelegate> delegate) = 0;
  virtual void requestNativeAdWithParameterRequestRootViewController(
      const std::optional<std::string>& parameter, const std::shared_ptr<QMACustomEventRequest>& request,
      const std::shared_ptr<uikit::ViewController>& rootViewController) = 0;
};

class QMAMAdapterCustomEvents : public runtime::Object,
                                public QMAMAdNetworkAdapter,
                                public QMAMAdNetworkAdapterInternalProtocol,
                                public QMACustomEventBannerDelegate,
                                public QMACustomEventInterstitialDelegate,
                                public QMACustomEventNativeAdDelegate,
                                public std::enable_shared_from_this<QMAMAdapterCustomEvents> {
 public:
  // Registers the class by name (idempotent).
  static void registerClass();
  using runtime::Object::Object;
  ~QMAMAdapterCustomEvents() override;

  std::shared_ptr<QMAMAdNetworkConnectorProtocol> connector() const { return connector_.lock(); }
  const std::shared_ptr<QMACustomEventBanner>& customEventBanner() const { return customEventBanner_; }
  const std::shared_ptr<QMACustomEventInterstitial>& customEventInterstitial() const { return customEventInterstitial_; }
  const std::shared_ptr<QMACustomEventNativeAd>& customEventNativeAd() const { return customEventNativeAd_; }

  // ---- QMAMAdNetworkAdapter
  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector) override {
    connector_ = std::move(connector);
  }
  void getBannerWithSize(QMAAdSize size) override;
  void getInterstitial() override;
  void stopBeingDelegate() override;
  bool isBannerAnimationOK(long) override { return true; }
  void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) override;
  // ---- QMAMAdNetworkAdapterInternalProtocol
  void getNativeAd() override;

  // The custom event of the credentials' class when it adopts `protocol`; none with the
  // failure reported.
  runtime::Id customEventWithCredentialsProtocol(const char* protocol, bool isInterstitial);
  // The class named by the credentials; none with the failure reported (on the banner and
  // native path unless `isInterstitial`).
  runtime::ClassRef customEventClassWithCredentials(bool isInterstitial);
  void callBackToConnectorWithErrorIsInterstitial(const std::string& message, bool isInterstitial);

  // ---- QMACustomEventBannerDelegate
  void customEventBannerDidReceiveAd(QMACustomEventBanner&, const std::shared_ptr<uikit::View>& view) override;
  void customEventBannerDidFailAd(QMACustomEventBanner&, const foundation::Error& error) override;
  void customEventBannerWasClicked(QMACustomEventBanner&) override;
  void customEventBannerWillPresentModal(QMACustomEventBanner&) override;
  void customEventBannerWillDismissModal(QMACustomEventBanner&) override;
  void customEventBannerDidDismissModal(QMACustomEventBanner&) override;
  void customEventBannerWillLeaveApplication(QMACustomEventBanner&) override;
  void customEventBannerClickDidOccurInAd(QMACustomEventBanner& event, const std::shared_ptr<uikit::View>&) override {
    customEventBannerWasClicked(event);
  }
  std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const override;

  // ---- QMACustomEventInterstitialDelegate
  void customEventInterstitialDidReceiveAd(QMACustomEventInterstitial&) override;
  void customEventInterstitialDidFailAd(QMACustomEventInterstitial&, const foundation::Error& error) override;
  void customEventInterstitialWasClicked(QMACustomEventInterstitial&) override;
  void customEventInterstitialWillPresent(QMACustomEventInterstitial&) override;
  void customEventInterstitialWillDismiss(QMACustomEventInterstitial&) override;
  void customEventInterstitialDidDismiss(QMACustomEventInterstitial&) override;
  void customEventInterstitialWillLeaveApplication(QMACustomEventInterstitial&) override;
  void customEventInterstitialDidReceiveAd(QMACustomEventInterstitial& event, const runtime::Id&) override {
    customEventInterstitialDidReceiveAd(event);
  }

  // ---- QMACustomEventNativeAdDelegate
  // Forwarded to a native connector only; any other connector gets request error 11.
  void customEventNativeAdDidLoadForwardingNativeAppInstallAd(
      QMACustomEventNativeAd&, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad) override;
  void customEventNativeAdDidFailToLoadAdWithError(QMACustomEventNativeAd&, const foundation::Error& error) override;

 private:
  std::optional<std::string> credential(const char* key) const;
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector_;
  std::shared_ptr<QMACustomEventBanner> customEventBanner_;
  std::shared_ptr<QMACustomEventInterstitial> customEventInterstitial_;
  std::shared_ptr<QMACustomEventNativeAd> customEventNativeAd_;
  runtime::Id customEventBannerObject_;
  runtime::Id customEventInterstitialObject_;
  runtime::Id customEventNativeAdObject_;
};
