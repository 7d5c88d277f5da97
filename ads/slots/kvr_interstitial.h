#pragma once
// KVRInterstitial: the publisher-edition interstitial. Beside the interstitial it gives
// the host app events from its ad, ads it renders itself (after which it presents nothing:
// the host shows its own view), and the pre-emption of a request in flight when the host
// has started a new page view (KVRRequest::updateCorrelator).
//
// Threads: main thread (checked), as the interstitial.

#include <memory>
#include <optional>

#include "ads/slots/app_event_delegate.h"
#include "ads/slots/custom_rendered_ad.h"
#include "ads/slots/interstitial.h"

class KVRInterstitial : public QMAInterstitial, public KVRCustomRenderedAdDelegate {
 public:
  static std::shared_ptr<KVRInterstitial> initWithAdUnitID(const std::optional<std::string>& adUnitID);
  static std::shared_ptr<KVRInterstitial> init() { return initWithAdUnitID(std::nullopt); }
  std::string className() const override { return "KVRInterstitial"; }

  bool isCustomAdRenderingEnabled() const { return customAdRenderingEnabled_; }
  std::shared_ptr<QMAAppEventDelegate> appEventDelegate() const { return appEventDelegate_.lock(); }
  void setAppEventDelegate(std::weak_ptr<QMAAppEventDelegate> d) { appEventDelegate_ = std::move(d); }
  std::shared_ptr<KVRCustomRenderedInterstitialDelegate> customRenderedInterstitialDelegate() const {
    return customRenderedInterstitialDelegate_.lock();
  }
  void setCustomRenderedInterstitialDelegate(std::weak_ptr<KVRCustomRenderedInterstitialDelegate> d) {
    customRenderedInterstitialDelegate_ = std::move(d);
  }

  // Once an ad was given to the host to render, only a public log line.
  void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController) override;

  void slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override;
  std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot& slot) override;
  void slotDidReceiveAppEventWithInfo(QMASlot& slot, const std::string& name,
                                      const std::optional<std::string>& info) override;
  std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot& slot, const std::shared_ptr<QMAAd>& ad,
                                                                       std::optional<foundation::Error>* error) override;

  void recordClick() override;
  void recordCustomAdImpression() override;
  void finishedRenderingAdView(const std::shared_ptr<uikit::View>& view) override;

 protected:
  friend class QMAInterstitial;
  KVRInterstitial() = default;

 private:
  std::uint64_t previousCorrelationID_ = 0;
  bool customAdRenderingEnabled_ = false;
  std::weak_ptr<QMAAppEventDelegate> appEventDelegate_;
  std::weak_ptr<KVRCustomRenderedInterstitialDelegate> customRenderedInterstitialDelegate_;
};
