#pragma once
// QMAInterstitial: the public full-screen ad. A host makes one with an ad unit ID, loads a
// request, waits until it is ready and presents it once from a view controller of its own.
// It is one-shot: after one presentation it can neither be presented nor loaded again (each
// attempt reports request error 6), and it never refreshes by itself. It owns a slot sized
// to the portrait screen and the full-screen controller (QMAInterstitialViewController)
// that shows the slot's ad view; a mediated interstitial is presented by its network. It
// answers its slot as the slot's delegate through a small object of its own, and itself in
// the other slot protocols and as the mediation delegate. The publisher-edition
// interstitial (KVRInterstitial) is its subclass.
//
// Threads: main thread (checked). Messages to the host's delegate arrive on the main
// thread; the click message arrives on the thread of the click.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "ads/present/ad_app_view_controller.h"
#include "ads/services/in_app_purchase.h"
#include "ads/slots/interstitial_ad_click_delegate.h"
#include "ads/slots/slot.h"

// The host's delegate. Every message is optional: the interstitial sends one only when
// respondsToSelector answers YES for its selector (the constants below, and
// QMAInterstitialAdClickDelegate's for a delegate that also adopts that protocol).
class QMAInterstitialDelegate {
 public:
  static constexpr const char* kInterstitialDidReceiveAd = "interstitialDidReceiveAd:";
  static constexpr const char* kInterstitialDidFailToReceiveAdWithError = "interstitial:didFailToReceiveAdWithError:";
  static constexpr const char* kInterstitialWillPresentScreen = "interstitialWillPresentScreen:";
  static constexpr const char* kInterstitialWillDismissScreen = "interstitialWillDismissScreen:";
  static constexpr const char* kInterstitialDidDismissScreen = "interstitialDidDismissScreen:";
  static constexpr const char* kInterstitialWillLeaveApplication = "interstitialWillLeaveApplication:";

  virtual ~QMAInterstitialDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return false; }
  virtual void interstitialDidReceiveAd(QMAInterstitial&) {}
  virtual void interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError&) {}
  virtual void interstitialWillPresentScreen(QMAInterstitial&) {}
  virtual void interstitialWillDismissScreen(QMAInterstitial&) {}
  virtual void interstitialDidDismissScreen(QMAInterstitial&) {}
  virtual void interstitialWillLeaveApplication(QMAInterstitial&) {}
};

class QMAInterstitial : public QMAAdMediationDelegate,
                        public QMASlotAdEventDelegate,
                        public QMASlotAdResponseDelegate,
                        public std::enable_shared_from_this<QMAInterstitial> {
 public:
  static constexpr const char* kConnectorClassName = "QMAMAdNetworkConnectorInterstitial";

  static std::shared_ptr<QMAInterstitial> initWithAdUnitID(const std::optional<std::string>& adUnitID);
  static std::shared_ptr<QMAInterstitial> init() { return initWithAdUnitID(std::nullopt); }
  ~QMAInterstitial() override;
  virtual std::string className() const { return "QMAInterstitial"; }

  // ---- the host's side
  std::shared_ptr<QMAInterstitialDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAInterstitialDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate() const { return inAppPurchaseDelegate_.lock(); }
  void setInAppPurchaseDelegate(std::weak_ptr<QMAInAppPurchaseDelegate> delegate) {
    inAppPurchaseDelegate_ = std::move(delegate);
  }
  std::optional<std::string> adUnitID() const;
  void setAdUnitID(const std::optional<std::string>& adUnitID);
  void loadRequest(const std::shared_ptr<QMARequest>& request);
  // Presents the ready ad once; a used interstitial (6), one without an ad its orientations
  // allow (13), or one not ready yet (a log line only) does not present.
  virtual void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController);
  void cancel();
  // The slot holds a ready ad (state 6).
  bool isReady() const;
  bool hasBeenUsed() const { return hasBeenUsed_; }
  std::optional<std::string> adNetworkClassName() const;
  const std::shared_ptr<QMAInterstitialViewController>& viewController() const { return viewController_; }
  const std::shared_ptr<QMASlot>& slot() const { return slot_; }

  // ---- answers to the slot (QMASlotDelegate); the publisher edition adds to them
  virtual std::optional<bool> slotShouldLoadRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request);
  virtual std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot&) { return std::nullopt; }
  std::optional<foundation::Value> coordinatesOfContentInScreen(const uikit::Screen& screen) const;
  void slotDidReceiveAdClick(QMASlot& slot);
  virtual void slotDidReceiveAppEventWithInfo(QMASlot&, const std::string&, const std::optional<std::string>&) {}
  virtual std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot&, const std::shared_ptr<QMAAd>&,
                                                                               std::optional<foundation::Error>*) {
    return std::nullopt;
  }
  virtual void slotWillLoadAdWithRequest(QMASlot&, const std::shared_ptr<QMARequest>&) {}

  // ---- the other slot protocols
  bool slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) override;
  void slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) override;
  std::string connectorClassForAd(const std::shared_ptr<QMAAd>& ad) override { return kConnectorClassName; }
  void slotFinishedLoadingAdContent(QMASlot& slot) override;
  void slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) override;
  void slotWillPresentScreen(QMASlot& slot) override;
  void slotWillDismissScreen(QMASlot& slot) override;
  void slotDidDismissScreen(QMASlot& slot) override;
  void slotWillLeaveApplication(QMASlot& slot) override;

 protected:
  QMAInterstitial() = default;
  template <class T>
  static std::shared_ptr<T> make(const std::optional<std::string>& adUnitID) {
    std::shared_ptr<T> interstitial(new T());
    interstitial->initWithAdUnitIDSteps(adUnitID);
    return interstitial;
  }
  void initWithAdUnitIDSteps(const std::optional<std::string>& adUnitID);
  std::shared_ptr<QMAInterstitial> self() { return shared_from_this(); }
  // Logs the error's description, then fails the slot's request with it, dropping what it
  // loaded; the host hears it as a failure to receive an ad.
  void sendInterstitialError(const QMARequestError& error);
  bool canPresentFullScreen();
  void sendToDelegate(const char* selector, std::function<void(QMAInterstitialDelegate&, QMAInterstitial&)> message,
                      std::function<void(QMAInterstitial&)> before = nullptr);

 private:
  class SlotOwner;

  std::optional<QMARequestError> alreadyUsedError_;
  bool hasBeenUsed_ = false;
  std::weak_ptr<QMAInterstitialDelegate> delegate_;
  std::weak_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate_;
  std::shared_ptr<QMAInterstitialViewController> viewController_;
  std::shared_ptr<QMASlot> slot_;
  std::shared_ptr<SlotOwner> slotOwner_;
};
