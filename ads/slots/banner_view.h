#pragma once
// QMABannerView: the public banner, a view that a host places in its layout, gives an ad
// unit ID, a root view controller and a request, and that then shows ads of its ad size and
// refreshes them on its slot's reload timer while it is visible. It owns one slot that does
// the work. It answers the slot as its slot delegate through a small object of its own
// (the slot's frame and bounds questions share their names with the view's), and itself
// in the other three slot protocols and as the mediation delegate of the ads it receives.
// The publisher-edition banner (KVRBannerView) is its subclass.
//
// Sizes: the banner takes a size when it is made and from setAdSize; an invalid size is
// logged and refused. Its frame follows its ad size, and a frame or bounds set to another
// size becomes its ad size. Once it has shown an ad it reloads only while it is visible.
//
// Threads: main thread (checked). Every message to the host's delegate is delivered on the
// main thread; a banner let go of elsewhere takes its slot down on the main thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ads/model/ad_size.h"
#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "ads/services/in_app_purchase.h"
#include "ads/slots/slot.h"
#include "platform/uikit/view.h"

class QMABannerView;

// The host's delegate. Every message is optional: the banner sends one only when
// respondsToSelector answers YES for its selector (the constants below).
class QMABannerViewDelegate {
 public:
  static constexpr const char* kAdViewDidReceiveAd = "adViewDidReceiveAd:";
  static constexpr const char* kAdViewDidFailToReceiveAdWithError = "adView:didFailToReceiveAdWithError:";
  static constexpr const char* kAdViewWillPresentScreen = "adViewWillPresentScreen:";
  static constexpr const char* kAdViewWillDismissScreen = "adViewWillDismissScreen:";
  static constexpr const char* kAdViewDidDismissScreen = "adViewDidDismissScreen:";
  static constexpr const char* kAdViewWillLeaveApplication = "adViewWillLeaveApplication:";

  virtual ~QMABannerViewDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return false; }
  virtual void adViewDidReceiveAd(QMABannerView&) {}
  virtual void adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError&) {}
  virtual void adViewWillPresentScreen(QMABannerView&) {}
  virtual void adViewWillDismissScreen(QMABannerView&) {}
  virtual void adViewDidDismissScreen(QMABannerView&) {}
  virtual void adViewWillLeaveApplication(QMABannerView&) {}
};

class QMABannerView : public uikit::View,
                      public QMAAdMediationDelegate,
                      public QMASlotAdEventDelegate,
                      public QMASlotAdKeyDelegate,
                      public QMASlotAdResponseDelegate {
 public:
  static constexpr const char* kParentViewCountKey = "/quillon/ads/ad_key_parent_view_count";
  static constexpr long kDefaultParentViewCount = 20;
  static constexpr const char* kConnectorClassName = "QMAMAdNetworkConnectorBanner";

  // The designated initialiser: null (and a public log line) for an invalid size.
  static std::shared_ptr<QMABannerView> initWithFrameAdSize(uikit::Rect frame, QMAAdSize size);
  static std::shared_ptr<QMABannerView> initWithAdSize(QMAAdSize size);
  static std::shared_ptr<QMABannerView> initWithAdSizeOrigin(QMAAdSize size, uikit::Point origin);
  // The size the frame measures.
  static std::shared_ptr<QMABannerView> initWithFrame(uikit::Rect frame);
  static std::shared_ptr<QMABannerView> init() { return initWithFrame({}); }
  // A banner a layout file describes, with the frame it gives: made whatever the size (an
  // invalid one is only logged, and the slot keeps the ad type it was made with).
  static std::shared_ptr<QMABannerView> initWithCoder(uikit::Rect decodedFrame);
  ~QMABannerView() override;
  std::string className() const override { return "QMABannerView"; }

  // ---- the host's side
  void loadRequest(const std::shared_ptr<QMARequest>& request);
  std::optional<std::string> adUnitID() const;
  void setAdUnitID(const std::optional<std::string>& adUnitID);
  std::shared_ptr<uikit::ViewController> rootViewController() const { return rootViewController_.lock(); }
  void setRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController);
  std::shared_ptr<QMABannerViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMABannerViewDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate() const { return inAppPurchaseDelegate_.lock(); }
  void setInAppPurchaseDelegate(std::weak_ptr<QMAInAppPurchaseDelegate> delegate) {
    inAppPurchaseDelegate_ = std::move(delegate);
  }
  bool isAutoloadEnabled() const { return autoloadEnabled_; }
  // Switching it on queues a load with no request on the main queue.
  void setAutoloadEnabled(bool enabled);
  // The size of the slot's ad type (all zero while it has none).
  QMAAdSize adSize() const;
  // Reloads when the new size's whole width or height differs from the old one's, or when
  // it has no whole width or height and other flags.
  void setAdSize(QMAAdSize size);
  std::shared_ptr<QMAAdView> adView() const;
  // The view that shows the current ad (the slot's ad view, or a mediated network's).
  const std::shared_ptr<uikit::View>& rootAdView() const { return rootAdView_; }
  std::shared_ptr<uikit::View> mediatedAdView() const;
  std::optional<std::string> adNetworkClassName() const;
  bool hasAutoRefreshed() const;
  const std::shared_ptr<QMASlot>& slot() const { return slot_; }
  bool hasLoadedAd() const { return hasLoadedAd_; }

  // ---- the view
  void setFrame(uikit::Rect frame) override;
  void setBounds(uikit::Rect bounds) override;
  // 0 stays 0; anything else shows the banner fully.
  void setAlpha(double alpha) override;
  uikit::Size intrinsicContentSize() const override;
  void didMoveToWindow() override;

  // ---- answers to the slot (QMASlotDelegate); the publisher edition adds to them
  virtual std::optional<bool> slotShouldLoadRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request);
  virtual std::optional<bool> slotShouldReloadCurrentRequest(QMASlot& slot);
  virtual std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot&) { return std::nullopt; }
  uikit::Rect frameInInterface() const;
  std::optional<foundation::Value> coordinatesOfContentInScreen(const uikit::Screen& screen) const;
  void slotDidReceiveAdView(QMASlot& slot, const std::shared_ptr<uikit::View>& view);
  // Sizes the banner (not through setFrame) and gives the slot the banner type of the size.
  void setAdSizeAndReload(QMAAdSize size, bool reload);
  virtual std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes() { return std::nullopt; }
  virtual void slotWillResizeToAdSize(QMASlot&, QMAAdSize) {}
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
  std::optional<foundation::Value> viewHierarchyInformationForSlot(QMASlot& slot) override;
  void slotFinishedLoadingAdContent(QMASlot& slot) override;
  void slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) override;
  void slotWillPresentScreen(QMASlot& slot) override;
  void slotWillDismissScreen(QMASlot& slot) override;
  void slotDidDismissScreen(QMASlot& slot) override;
  void slotWillLeaveApplication(QMASlot& slot) override;

 protected:
  explicit QMABannerView(uikit::Rect frame) : uikit::View(frame) {}
  // Makes a banner of the kind T (this class or a subclass) with the frame and size; null
  // for an invalid size when `checkSize`.
  template <class T>
  static std::shared_ptr<T> make(uikit::Rect frame, QMAAdSize size, bool checkSize) {
    if (checkSize && !sizeIsValidLoggingFailure(size)) return nullptr;
    std::shared_ptr<T> banner(new T(frame));
    banner->commonInitializationWithAdSize(size);
    return banner;
  }
  static bool sizeIsValidLoggingFailure(QMAAdSize size);
  void commonInitializationWithAdSize(QMAAdSize size);
  std::shared_ptr<QMABannerView> self() { return std::static_pointer_cast<QMABannerView>(shared_from_this()); }
  // Sends the host one message on the main thread when its delegate implements it.
  void sendToDelegate(const char* selector, std::function<void(QMABannerViewDelegate&, QMABannerView&)> message,
                      std::function<void(QMABannerView&)> after = nullptr);

 private:
  class SlotOwner;

  bool hasLoadedAd_ = false;
  bool hasInitialised_ = false;
  bool autoloadEnabled_ = false;
  std::weak_ptr<uikit::ViewController> rootViewController_;
  std::weak_ptr<QMABannerViewDelegate> delegate_;
  std::weak_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate_;
  std::shared_ptr<uikit::View> rootAdView_;
  std::shared_ptr<QMASlot> slot_;
  // Answers the slot in the banner's name; the slot holds it weakly, the banner strongly.
  std::shared_ptr<SlotOwner> slotOwner_;
};
