#pragma once
// The built-in adapter QMAMAdapterQuillonPelmarkAds: the component's own ad network as one
// network of a waterfall. It serves a request with an inner public ad of the component (a
// QMABannerView or a QMAInterstitial) loaded with a request built for its connector
// (QMARequestMediationAdditions), and turns the inner ad's delegate messages into its
// connector's callbacks. The inner banner never refreshes by itself: refreshing is the
// waterfall's.
//
// The built request carries the connector's targeting, says it comes from mediation ("fk"),
// names the waterfall's adapters for the ad server, and hands the network entry's extras
// and its ready ad ("_ad") to the inner slot. It gets extras of its own: the publisher's
// extras object, which the host's request and its copies share, is copied and never written
// to, so the host's next load asks the server as before.
//
// Threads: main thread, as the connector and the inner ads.

#include <memory>
#include <string>

#include "ads/mediation/network_connector.h"
#include "ads/model/request.h"
#include "ads/slots/banner_view.h"
#include "ads/slots/interstitial.h"
#include "platform/runtime/runtime.h"

inline constexpr const char* kQMAMAdapterQuillonPelmarkAdsClassName = "QMAMAdapterQuillonPelmarkAds";

// The requests the built-in adapters load their inner ads with.
struct QMARequestMediationAdditions {
  // A new request with the connector's targeting, the network's extras and the waterfall's
  // adapter names; none without a connector or an adapter.
  static std::shared_ptr<QMARequest> requestWithConnectorAdapter(
      const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector, const runtime::Object* adapter);
  // "man": the adapter names of every network of the connector's configuration (or the
  // adapter's own class name for a connector of another kind); "mcan": the adapter's class.
  static void addAdapterListWithConnectorAdapter(QMARequest& request,
                                                 const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector,
                                                 const runtime::Object* adapter);
  // Registers on the request a copy of the publisher's QMAExtras (new ones when there are
  // none) with the mediation parameters written over the publisher's.
  static void configureNetworkExtrasWithConnectorAdapter(QMARequest& request,
                                                         const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector,
                                                         const runtime::Object* adapter);
};

class QMAMAdapterQuillonPelmarkAds : public runtime::Object,
                                     public QMAMAdNetworkAdapter,
                                     public QMABannerViewDelegate,
                                     public QMAInterstitialDelegate,
                                     public QMAInterstitialAdClickDelegate,
                                     public std::enable_shared_from_this<QMAMAdapterQuillonPelmarkAds> {
 public:
  // Registers the class by name (idempotent).
  static void registerClass();
  using runtime::Object::Object;
  ~QMAMAdapterQuillonPelmarkAds() override;

  static std::string adapterVersion();
  static std::string networkExtrasClass() { return QMAExtras::kClassName; }
  std::shared_ptr<QMAMAdNetworkConnectorProtocol> connector() const { return connector_.lock(); }
  const std::shared_ptr<QMABannerView>& bannerView() const { return bannerView_; }
  const std::shared_ptr<QMAInterstitial>& interstitial() const { return interstitial_; }
  std::shared_ptr<QMARequest> request();

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

  // ---- the inner ads' delegate messages (all implemented)
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
  std::shared_ptr<QMABannerView> bannerView_;
  std::shared_ptr<QMAInterstitial> interstitial_;
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector_;
};

// What both built-in adapters that wrap the component's own formats share.
namespace mediation_adapters {
// The opener's guard against clicks the user did not make, on the inner slot, as the
// outer slot has it (only a connector of the waterfall knows the outer slot).
void copyAutoClickProtection(const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& connector,
                             const std::shared_ptr<QMASlot>& innerSlot);
}  // namespace mediation_adapters
