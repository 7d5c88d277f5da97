#pragma once
// Banner and interstitial ads from other ad networks come from adapters: classes registered
// by name in the runtime's class registry that adopt QMAMAdNetworkAdapter
// (runtime::Class::addProtocol), answer getBannerWithSize: or getInterstitial in their
// method table, and whose instances (made by the class's factory) serve the C++ interface
// of the same name. Each adapter talks only to its connector, one per waterfall step: the
// connector makes and owns the adapter, answers what it asks about the request, and turns
// its callbacks into the mediation manager's answers, the slot's full-screen events and the
// network's click and impression pings. One connector class per format decides which
// callbacks count (QMAMAdNetworkConnectorBanner, QMAMAdNetworkConnectorInterstitial,
// QMAMAdNetworkConnectorNativeAd), chosen by name by the ad's format (connectorClassForAd).
//
// Native ads come from adapters that also serve QMAMAdNetworkAdapterInternalProtocol (the
// selector "getNativeAd" in their class's method table): the native connector asks them for
// one native app-install ad, which they hand back as a QMAForwardingNativeAppInstallAd.
//
// Threads: the connector lives on the main thread. Adapters should call it there; a
// callback from another thread is handed to the main thread, in order.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/mediation/mediation_config.h"
#include "ads/model/ad_size.h"
#include "ads/model/ad_type.h"
#include "ads/services/location.h"
#include "ads/model/request.h"
#include "platform/foundation/error.h"
#include "platform/runtime/runtime.h"

class QMAForwardingNativeAppInstallAd;
class QMAMAdManager;
class QMAMAdNetworkConnectorProtocol;
class QMASlot;

namespace uikit {
class View;
class ViewController;
}  // namespace uikit

// The adapter interface. Optional messages are sent only when the adapter's class answers
// their selector: "presentInterstitialFromRootViewController:", "changeAdSizeTo:",
// "+adapterVersion" and "+networkExtrasClass" (class methods returning text).
class QMAMAdNetworkAdapter {
 public:
  virtual ~QMAMAdNetworkAdapter() = default;
  // Keeps the connector (weakly) for everything it reports.
  virtual void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector) = 0;
  virtual void getBannerWithSize(QMAAdSize size) = 0;
  virtual void getInterstitial() = 0;
  // No callback reaches the connector after this.
  virtual void stopBeingDelegate() = 0;
  virtual bool isBannerAnimationOK(long) { return true; }
  virtual void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>&) {}
  virtual void changeAdSizeTo(QMAAdSize) {}
};

// The adapter's native side: one native app-install ad, answered through the native
// connector's adapterDidReceiveForwardingNativeAppInstallAd (or its failure). Asked only of
// an adapter whose class answers "getNativeAd".
inline constexpr const char* kQMAMGetNativeAdSelector = "getNativeAd";
class QMAMAdNetworkAdapterInternalProtocol {
 public:
  virtual ~QMAMAdNetworkAdapterInternalProtocol() = default;
  virtual void getNativeAd() = 0;
};

// The runtime class `name` of the built-in adapter `Adapter`, adopting the adapter
// protocol and answering what every adapter answers (banner, interstitial, presenting
// it); the caller adds the rest its class answers, then registers it. Null when a class
// of that name is already registered.
template <class Adapter>
runtime::ClassRef makeAdapterClass(const char* name) {
  if (runtime::objc_getClass(name)) return nullptr;
  auto cls = runtime::Class::make(name);
  cls->addProtocol(kQMAMAdNetworkAdapterProtocol);
  cls->addMethod<void(QMAAdSize)>("getBannerWithSize:", [](const runtime::Id& o, QMAAdSize size) {
    if (auto adapter = std::dynamic_pointer_cast<Adapter>(o)) adapter->getBannerWithSize(size);
  });
  cls->addMethod<void()>("getInterstitial", [](const runtime::Id& o) {
    if (auto adapter = std::dynamic_pointer_cast<Adapter>(o)) adapter->getInterstitial();
  });
  cls->addMethod<void(const std::shared_ptr<uikit::ViewController>&)>(
      "presentInterstitialFromRootViewController:",
      [](const runtime::Id& o, const std::shared_ptr<uikit::ViewController>& root) {
        if (auto adapter = std::dynamic_pointer_cast<Adapter>(o)) adapter->presentInterstitialFromRootViewController(root);
      });
  cls->setFactory([](const runtime::ClassRef& c) -> runtime::Id { return std::make_shared<Adapter>(c); });
  return cls;
}

// Adds "changeAdSizeTo:" to an adapter class made by makeAdapterClass.
template <class Adapter>
void addChangeAdSizeTo(const runtime::ClassRef& cls) {
  cls->addMethod<void(QMAAdSize)>("changeAdSizeTo:", [](const runtime::Id& o, QMAAdSize size) {
    if (auto adapter = std::dynamic_pointer_cast<Adapter>(o)) adapter->changeAdSizeTo(size);
  });
}

// What an adapter may call on its connector.
class QMAMAdNetworkConnectorProtocol {
 public:
  virtual ~QMAMAdNetworkConnectorProtocol() = default;
  virtual std::optional<std::string> publisherId() const = 0;
  // The network's credentials without "fennik_share_location".
  virtual foundation::Dictionary credentials() const = 0;
  virtual bool testMode() const = 0;
  virtual std::shared_ptr<QMAAdNetworkExtras> networkExtras() const = 0;
  virtual std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const = 0;
  virtual std::optional<bool> childDirectedTreatment() const = 0;
  virtual long userGender() const = 0;
  virtual std::optional<foundation::Date> userBirthday() const = 0;
  virtual bool userHasLocation() const = 0;
  virtual double userLatitude() const = 0;
  virtual double userLongitude() const = 0;
  virtual double userLocationAccuracyInMeters() const = 0;
  virtual std::optional<std::string> userLocationDescription() const = 0;
  virtual std::vector<std::string> userKeywords() const = 0;

  virtual void adapterDidReceiveAdView(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<uikit::View>& view) = 0;
  virtual void adapterDidFailAd(QMAMAdNetworkAdapter& adapter, const foundation::Error& error) = 0;
  virtual void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& adapter) = 0;
  // The older form, with the network's interstitial object.
  virtual void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<void>& interstitial) = 0;
  virtual void adapterDidFailInterstitial(QMAMAdNetworkAdapter& adapter, const foundation::Error& error) = 0;
  virtual void adapterDidGetAdClick(QMAMAdNetworkAdapter& adapter) = 0;
  // The older form of adapterDidGetAdClick.
  virtual void adapterClickDidOccurInBanner(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<uikit::View>& view) = 0;
  virtual void adapterWillPresentFullScreenModal(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterWillDismissFullScreenModal(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidDismissFullScreenModal(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterWillPresentInterstitial(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterWillDismissInterstitial(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidDismissInterstitial(QMAMAdNetworkAdapter& adapter) = 0;
  virtual void adapterWillLeaveApplication(QMAMAdNetworkAdapter& adapter) = 0;
};

// The base connector: every accessor, the pings, and callbacks that do nothing; the
// format subclasses decide which callbacks count.
class QMAMAdNetworkConnector : public QMAMAdNetworkConnectorProtocol,
                               public std::enable_shared_from_this<QMAMAdNetworkConnector> {
 public:
  // The connector classes by name, as formats name them.
  static std::shared_ptr<QMAMAdNetworkConnector> connectorOfClassNamed(const std::string& name,
                                                                       const std::shared_ptr<QMAMConfig>& config,
                                                                       const std::shared_ptr<QMAMAdNetworkConfig>& network);
  static bool isConnectorClassName(const std::string& name);

  // Tells its adapter to stop being its delegate.
  ~QMAMAdNetworkConnector() override;
  virtual std::string className() const { return "QMAMAdNetworkConnector"; }

  // Makes the adapter from the network's adapter class (none when the class makes no
  // adapter).
  void setUpAdapter();
  // Asks the adapter for an ad of the type; a type the format cannot serve fails at once.
  virtual void getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type);
  void askAdapterToStopBeingDelegate();
  void reportClick();
  void reportImpression();
  void pingMediationURLsDefaultURLDurationsExitCodes(const std::optional<foundation::Array>& templates,
                                                     const std::string& defaultURL,
                                                     const std::optional<std::string>& durations,
                                                     const std::optional<std::string>& exitCodes);

  std::shared_ptr<QMAMAdManager> adManager() const { return adManager_.lock(); }
  void setAdManager(std::weak_ptr<QMAMAdManager> manager) { adManager_ = std::move(manager); }
  const std::shared_ptr<QMAMConfig>& mediationConfig() const { return mediationConfig_; }
  const std::shared_ptr<QMAMAdNetworkConfig>& networkConfig() const { return networkConfig_; }
  const std::shared_ptr<QMAMAdNetworkAdapter>& adapter() const { return adapter_; }
  const runtime::Id& adapterObject() const { return adapterObject_; }
  bool didNetworkRefresh() const { return didNetworkRefresh_; }
  bool isClicked() const { return clicked_; }
  bool isLocationShared() const { return isLocationShared_; }
  // The manager's slot; none once detached.
  std::shared_ptr<QMASlot> slot() const;
  std::shared_ptr<QMALocation> userLocation() const;
  std::optional<std::string> requestAgent() const;
  // The outer slot's guard against clicks the user did not make (its ad-view delegate's
  // opener); the built-in adapters give their inner ads the same.
  bool isAutoClickProtected() const;
  std::shared_ptr<QMAAdNetworkExtras> networkExtrasForClass(const std::string& className) const;
  std::string adapterVersion() const;

  // ---- QMAMAdNetworkConnectorProtocol
  std::optional<std::string> publisherId() const override;
  foundation::Dictionary credentials() const override { return credentials_; }
  bool testMode() const override;
  std::shared_ptr<QMAAdNetworkExtras> networkExtras() const override;
  std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const override;
  std::optional<bool> childDirectedTreatment() const override;
  long userGender() const override;
  std::optional<foundation::Date> userBirthday() const override;
  bool userHasLocation() const override;
  double userLatitude() const override;
  double userLongitude() const override;
  double userLocationAccuracyInMeters() const override;
  std::optional<std::string> userLocationDescription() const override;
  std::vector<std::string> userKeywords() const override;

  void adapterDidReceiveAdView(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<uikit::View>& view) override;
  void adapterDidFailAd(QMAMAdNetworkAdapter& adapter, const foundation::Error& error) override;
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& adapter) override;
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<void>& interstitial) override;
  void adapterDidFailInterstitial(QMAMAdNetworkAdapter& adapter, const foundation::Error& error) override;
  void adapterDidGetAdClick(QMAMAdNetworkAdapter& adapter) override;
  void adapterClickDidOccurInBanner(QMAMAdNetworkAdapter& adapter, const std::shared_ptr<uikit::View>& view) override;
  void adapterWillPresentFullScreenModal(QMAMAdNetworkAdapter& adapter) override;
  void adapterWillDismissFullScreenModal(QMAMAdNetworkAdapter& adapter) override;
  void adapterDidDismissFullScreenModal(QMAMAdNetworkAdapter& adapter) override;
  void adapterWillPresentInterstitial(QMAMAdNetworkAdapter& adapter) override;
  void adapterWillDismissInterstitial(QMAMAdNetworkAdapter& adapter) override;
  void adapterDidDismissInterstitial(QMAMAdNetworkAdapter& adapter) override;
  void adapterWillLeaveApplication(QMAMAdNetworkAdapter& adapter) override;

 protected:
  QMAMAdNetworkConnector(std::shared_ptr<QMAMConfig> config, std::shared_ptr<QMAMAdNetworkConfig> network);
  // The format's handling of each callback, run on the main thread for the connector's own
  // adapter only (a stale adapter's callback changes nothing).
  virtual void didReceiveAdView(const std::shared_ptr<uikit::View>&) {}
  virtual void didFailAd(const foundation::Error&) {}
  virtual void didReceiveInterstitial() {}
  virtual void didFailInterstitial(const foundation::Error&) {}
  virtual void didGetAdClick() { reportClick(); }
  virtual void clickDidOccurInBanner() { reportClick(); }
  virtual void willPresentFullScreenModal() {}
  virtual void willDismissFullScreenModal() {}
  virtual void didDismissFullScreenModal() {}
  virtual void willPresentInterstitial() {}
  virtual void willDismissInterstitial() {}
  virtual void didDismissInterstitial() {}
  virtual void willLeaveApplication() {}

  // Runs `report` on the main thread (at once there) when `adapter` is this connector's.
  void fromOwnAdapter(QMAMAdNetworkAdapter& adapter, std::function<void(QMAMAdNetworkConnector&)> report);
  void failRequest(long code, const std::string& message);

  std::weak_ptr<QMAMAdManager> adManager_;
  std::shared_ptr<QMAMConfig> mediationConfig_;
  std::shared_ptr<QMAMAdNetworkConfig> networkConfig_;
  std::shared_ptr<QMAMAdNetworkAdapter> adapter_;
  runtime::Id adapterObject_;
  foundation::Dictionary credentials_;
  bool isLocationShared_ = false;
  bool didNetworkRefresh_ = false;
  bool clicked_ = false;
};

class QMAMAdNetworkConnectorBanner : public QMAMAdNetworkConnector {
 public:
  static constexpr const char* kClassName = "QMAMAdNetworkConnectorBanner";
  QMAMAdNetworkConnectorBanner(std::shared_ptr<QMAMConfig> config, std::shared_ptr<QMAMAdNetworkConfig> network)
      : QMAMAdNetworkConnector(std::move(config), std::move(network)) {}
  std::string className() const override { return kClassName; }
  void getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type) override;
  bool didNetworkReturn() const { return didNetworkReturn_; }

 protected:
  void didReceiveAdView(const std::shared_ptr<uikit::View>& view) override;
  void didFailAd(const foundation::Error& error) override;
  void willPresentFullScreenModal() override;
  void willDismissFullScreenModal() override;
  void didDismissFullScreenModal() override;
  void willLeaveApplication() override;

 private:
  bool didNetworkReturn_ = false;
};

class QMAMAdNetworkConnectorInterstitial : public QMAMAdNetworkConnector {
 public:
  static constexpr const char* kClassName = "QMAMAdNetworkConnectorInterstitial";
  QMAMAdNetworkConnectorInterstitial(std::shared_ptr<QMAMConfig> config, std::shared_ptr<QMAMAdNetworkConfig> network)
      : QMAMAdNetworkConnector(std::move(config), std::move(network)) {}
  std::string className() const override { return kClassName; }
  void getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type) override;
  bool calledWillDismissInterstitial() const { return calledWillDismissInterstitial_; }

 protected:
  void didReceiveInterstitial() override;
  void didFailInterstitial(const foundation::Error& error) override;
  void clickDidOccurInBanner() override {}
  void willPresentInterstitial() override;
  void willDismissInterstitial() override;
  void didDismissInterstitial() override;
  void willLeaveApplication() override;

 private:
  bool calledWillDismissInterstitial_ = false;
};

// The native connector: one native app-install ad from the adapter's getNativeAd,
// whatever ad type the waterfall names. A failure moves the waterfall on; clicks are
// pinged. The full-screen, interstitial and leave-application callbacks change nothing: a
// native ad has no screen of its own here, and its network reports clicks through
// adapterDidGetAdClick. Views and interstitials are not native answers either.
class QMAMAdNetworkConnectorNativeAd : public QMAMAdNetworkConnector {
 public:
  static constexpr const char* kClassName = "QMAMAdNetworkConnectorNativeAd";
  QMAMAdNetworkConnectorNativeAd(std::shared_ptr<QMAMConfig> config, std::shared_ptr<QMAMAdNetworkConfig> network)
      : QMAMAdNetworkConnector(std::move(config), std::move(network)) {}
  std::string className() const override { return kClassName; }
  void getAdFromAdapterWithType(const std::shared_ptr<QMAAdType>& type) override;
  // The adapter's native ad, from any thread (handed to the main thread like every other
  // callback); an adapter that is not this connector's changes nothing.
  void adapterDidReceiveForwardingNativeAppInstallAd(QMAMAdNetworkAdapter& adapter,
                                                     const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad);

 protected:
  void didFailAd(const foundation::Error& error) override;
};
