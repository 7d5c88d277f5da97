#pragma once
// The built-in adapter QMAMAdURLAdapter: a network whose ads come through the component's
// own ad path without an adapter of the network's own. It asks the SDK-core page for an ad
// for the network's credentials (as a requester of the SDK-core controller, its parameters
// marked "quillon-ad-url-mediation" so the page asks its mediation entry), and shows what
// comes back in an inner QMABannerView or QMAInterstitial through one-use extras of a fresh
// request, so the inner slot renders it without asking anybody. One adapter serves one
// request: a second is refused with code 0.
//
// Threads: main thread, except what the SDK-core controller calls on its request queue
// (setRequestID, requestParameters). Those read only what the main thread wrote down before
// the request went out: the inner banner's geometry is main-thread state and is never read
// from the request queue.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ads/mediation/network_connector.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/slots/banner_view.h"
#include "ads/slots/interstitial.h"
#include "platform/runtime/runtime.h"

inline constexpr const char* kQMAMAdURLAdapterClassName = "QMAMAdURLAdapter";
inline constexpr const char* kQMAMAdURLAdapterErrorDomain = "com.quillon.ads.QMAMAdURLAdapter";

class QMAMAdURLAdapter : public runtime::Object,
                         public QMAMAdNetworkAdapter,
                         public QMASDKCoreControllerDelegate,
                         public QMABannerViewDelegate,
                         public QMAInterstitialDelegate,
                         public QMAInterstitialAdClickDelegate,
                         public std::enable_shared_from_this<QMAMAdURLAdapter> {
 public:
  // Registers the class by name (idempotent).
  static void registerClass();
  using runtime::Object::Object;
  ~QMAMAdURLAdapter() override;

  static std::string adapterVersion() { return "1.0.0"; }
  static std::string networkExtrasClass() { return QMAExtras::kClassName; }
  std::shared_ptr<QMAMAdNetworkConnectorProtocol> connector() const { return connector_.lock(); }
  bool shouldRespondToSDKCore() const { return shouldRespondToSDKCore_; }
  const std::shared_ptr<QMABannerView>& banner() const { return banner_; }
  const std::shared_ptr<QMAInterstitial>& interstitial() const { return interstitial_; }
  std::string requestID() const;

  // Asks the SDK core for the ad.
  void loadRequest();
  void reportAdLoadFailureWithCodeErrorMessage(long code, const std::string& message);
  void reportBannerLoadFailureWithCodeErrorMessage(long code, const std::string& message);
  void reportInterstitialLoadFailureWithCodeErrorMessage(long code, const std::string& message);

  // ---- QMAMAdNetworkAdapter
  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector) override {
    connector_ = std::move(connector);
  }
  void getBannerWithSize(QMAAdSize size) override;
  void getInterstitial() override;
  void stopBeingDelegate() override;
  bool isBannerAnimationOK(long) override { return true; }
  void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) override;
  void changeAdSizeTo(QMAAdSize size) override;

  // ---- QMASDKCoreControllerDelegate
  long CSIIdentifier() override { return -1; }
  void setRequestID(const std::string& requestID) override;
  std::optional<foundation::Dictionary> requestParameters() override;
  long requestedAdType() override;
  void loadAdURLWithParameters(const foundation::Dictionary& parameters) override;
  void loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<foundation::Dictionary>& headers) override;
  void invalidJavaScriptRequest() override;
  void failedJavaScriptFile() override;

  // ---- the inner ads' messages (all implemented)
  bool respondsToSelector(std::string_view) const override { return true; }
  void adViewDidReceiveAd(QMABannerView& view) override;
  void adViewDidFailToReceiveAdWithError(QMABannerView& view, const QMARequestError& error) override;
  void adViewWillPresentScreen(QMABannerView& view) override;
  void adViewWillDismissScreen(QMABannerView& view) override;
  void adViewDidDismissScreen(QMABannerView& view) override;
  void adViewWillLeaveApplication(QMABannerView& view) override;
  void interstitialDidReceiveAd(QMAInterstitial& interstitial) override;
  void interstitialDidFailToReceiveAdWithError(QMAInterstitial& interstitial, const QMARequestError& error) override;
  void interstitialWillPresentScreen(QMAInterstitial& interstitial) override;
  void interstitialWillDismissScreen(QMAInterstitial& interstitial) override;
  void interstitialDidDismissScreen(QMAInterstitial& interstitial) override;
  void interstitialWillLeaveApplication(QMAInterstitial& interstitial) override;
  void interstitialDidReceiveAdClick(QMAInterstitial& interstitial) override;

 private:
  static foundation::Error errorWithCodeMessage(long code, const std::string& message);
  // Writes down, on the main thread, everything requestParameters answers but the request ID.
  void prepareRequestParameters();

  bool shouldRespondToSDKCore_ = true;
  std::shared_ptr<QMABannerView> banner_;
  std::shared_ptr<QMAInterstitial> interstitial_;
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector_;

  // Written on the main thread before the request goes out, read on the request queue.
  mutable std::mutex mutex_;
  std::string requestID_;
  std::optional<foundation::Dictionary> preparedParameters_;
};
