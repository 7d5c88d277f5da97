#pragma once
// QMASlot: the engine behind one ad placement. The banner view, the interstitial, the ad
// loader and each native ad own one. The slot takes one request at a time through its
// numbered states (0 idle ... 8 invalidated), asks the hidden SDK-core page for an ad URL
// with the request parameters, fetches the ad, dispatches the response by type (HTML into
// its ad web view, mediation, custom rendering), forwards the ad's events and reloads on
// its own timer. It never calls its owner directly: it talks to it through the four
// protocols below, each held weakly, so an owner that has gone silences the slot.
//
// The states, and what moves the slot between them:
//   0 QMASlotStateIdle            no request running (also after a cancelled load)
//   1 QMASlotStateSDKCoreFailed   the SDK-core page failed to load
//   2 QMASlotStateRequestingAdURL the SDK core was asked for an ad URL
//   3 QMASlotStateReceivedAdURL   the SDK core answered with an ad URL
//   4 QMASlotStateFetchingAd      the ad is being fetched, or mediated
//   5 QMASlotStateRendering       the ad's HTML is loading into the ad view
//   6 QMASlotStateAdReady         a valid ad was received
//   7 QMASlotStateFailed          the request failed
//   8 QMASlotStateInvalidated     terminal: the state never changes again
// setState is the single writer. While a request is in flight (states 2 to 5) the slot
// holds one share of the MRAID script interceptor's counter, taken once and given back
// once (on 1, 6, 7, 8, a cancel that leaves it idle, or its end).
//
// Threads: the slot is a main-thread object; every method checks it, except these, which
// the SDK-core controller calls on its request-building queue: setRequestID,
// requestParameters (which reads the slot and its owner on the main thread, waiting for
// it, so the main thread must never wait on that queue), CSIIdentifier (any thread). The
// SDK core's answers, the fetcher's reports, the ad view's events, the observers and the
// timers all arrive on the main thread. A slot whose last owner lets go of it on another
// thread hands its main-thread parts to the main queue to be taken down there.

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ads/model/ad.h"
#include "ads/model/ad_collaborators.h"
#include "ads/model/ad_fetcher.h"
#include "ads/model/ad_size.h"
#include "ads/model/ad_type.h"
#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "ads/present/presentation_slot.h"
#include "ads/present/swipe_animation.h"
#include "ads/present/swipeable_store_product_view_controller.h"
#include "ads/render/ad_view.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/render/rendering_slot.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/render/sdk_core_web_view.h"
#include "ads/render/vistrace_monitor.h"
#include "ads/services/application.h"
#include "ads/services/in_app_purchase.h"
#include "ads/services/scheduler.h"
#include "ads/services/slot_statistics.h"
#include "ads/slots/slot_mediation_manager.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/view.h"

class QMASlot;
class QMAIntermission;
class QMAInterstitial;
class QMAMConfig;

namespace uikit {
class GestureRecognizer;
class ViewController;
}  // namespace uikit

enum QMASlotState : std::int64_t {
  QMASlotStateIdle = 0,
  QMASlotStateSDKCoreFailed = 1,
  QMASlotStateRequestingAdURL = 2,
  QMASlotStateReceivedAdURL = 3,
  QMASlotStateFetchingAd = 4,
  QMASlotStateRendering = 5,
  QMASlotStateAdReady = 6,
  QMASlotStateFailed = 7,
  QMASlotStateInvalidated = 8,
};

// Posted on the default centre, with the slot as object, when a banner leaves its window.
inline constexpr const char* kQMASlotDidLeaveWindowNotification = "QMASlotDidLeaveWindowNotification";
// Posted by the full-screen presenters while a full-screen ad is up; every slot pauses its
// reload timer in between.
inline constexpr const char* kAdModalViewControllerWillPresentFullScreen = "kAdModalViewControllerWillPresentFullScreen";
inline constexpr const char* kAdModalViewControllerDidDismissFullScreen = "kAdModalViewControllerDidDismissFullScreen";

// The built-in adapter that serves the ad network's own ads inside a waterfall.
inline constexpr const char* kQMAHouseAdapterClassName = "QMAMAdapterQuillonPelmarkAds";

// What format owns a slot, for the ad model a delivered ad becomes.
inline constexpr const char* kQMASlotCreativeOrientationChangedNotification = "qma_slot_creative_orientation_changed";

enum class QMASlotOwnerFormat { Other = 0, Banner = 1, Interstitial = 2 };

// The format that owns the slot. All of it is optional: a message whose answer the slot
// acts on answers nullopt (or null) when the owner does not implement it; the others do
// nothing unless overridden. It is also the slot's in-app purchase owner.
class QMASlotDelegate : public QMASlotInAppPurchaseOwner {
 public:
  ~QMASlotDelegate() override = default;
  // NO refuses the request with request error 0.
  virtual std::optional<bool> slotShouldLoadRequest(QMASlot&, const std::shared_ptr<QMARequest>&) { return std::nullopt; }
  // YES reloads now; NO or nullopt re-arms the timer.
  virtual std::optional<bool> slotShouldReloadCurrentRequest(QMASlot&) { return std::nullopt; }
  // YES lets a new request replace one in flight; nullopt counts as NO.
  virtual std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot&) { return std::nullopt; }
  virtual std::optional<uikit::Rect> frame() { return std::nullopt; }
  virtual std::optional<uikit::Rect> frameInInterface() { return std::nullopt; }
  virtual std::optional<uikit::Rect> bounds() { return std::nullopt; }
  // The value of "ad_pos"; nullopt adds nothing.
  virtual std::optional<foundation::Value> coordinatesOfContentInScreen(const uikit::Screen&) { return std::nullopt; }
  virtual std::shared_ptr<uikit::View> swipeToViewControllerView() { return nullptr; }
  virtual std::shared_ptr<uikit::ViewController> rootViewController() { return nullptr; }
  // Show this view as the ad (null: no ad view).
  virtual void slotDidReceiveAdView(QMASlot&, const std::shared_ptr<uikit::View>&) {}
  virtual void setAdSizeAndReload(QMAAdSize, bool) {}
  // The sizes the owner accepts; nullopt when it does not say.
  virtual std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes() { return std::nullopt; }
  virtual void slotWillResizeToAdSize(QMASlot&, QMAAdSize) {}
  virtual void slotDidReceiveAppEventWithInfo(QMASlot&, const std::string&, const std::optional<std::string>&) {}
  // YES when the owner took the ad; NO, with an optional error, when it did not; nullopt
  // when it does not render ads itself.
  virtual std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot&, const std::shared_ptr<QMAAd>&,
                                                                               std::optional<foundation::Error>*) {
    return std::nullopt;
  }
  virtual void slotWillLoadAdWithRequest(QMASlot&, const std::shared_ptr<QMARequest>&) {}
  virtual void slotDidReceiveAdClick(QMASlot&) {}
  // The format, as the owner's class says it (a banner view, an interstitial).
  virtual QMASlotOwnerFormat slotOwnerFormat() const { return QMASlotOwnerFormat::Other; }
};

class QMASlotAdEventDelegate {
 public:
  virtual ~QMASlotAdEventDelegate() = default;
  // The ad's content finished loading and the ad is shown.
  virtual void slotFinishedLoadingAdContent(QMASlot&) = 0;
  virtual void slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& error) = 0;
  virtual void slotWillPresentScreen(QMASlot&) {}
  virtual void slotWillDismissScreen(QMASlot&) {}
  virtual void slotDidDismissScreen(QMASlot&) {}
  virtual void slotWillLeaveApplication(QMASlot&) {}
};

// The slot is its own until its owner takes the role; an owner that does passes the
// messages back to the slot's own implementation after its own work.
class QMASlotAdResponseDelegate {
 public:
  virtual ~QMASlotAdResponseDelegate() = default;
  virtual void slotDidFailToReceiveAdWithError(QMASlot&, const std::optional<QMARequestError>& error) = 0;
  // NO: the response is not usable.
  virtual bool slotDidReceiveAd(QMASlot&, const std::shared_ptr<QMAAd>& ad) = 0;
};

class QMASlotAdKeyDelegate {
 public:
  virtual ~QMASlotAdKeyDelegate() = default;
  // The value of "view_hierarchy"; nullopt adds nothing.
  virtual std::optional<foundation::Value> viewHierarchyInformationForSlot(QMASlot&) { return std::nullopt; }
};

// Where the click signal of an ad-click URL comes from: given the URL's "ai" value, the text
// to append as a query key, or nullopt. None is installed by default (clicks go unchanged).
// Main thread.
class QMAClickSignalSource {
 public:
  virtual ~QMAClickSignalSource() = default;
  virtual std::optional<std::string> clickSignalForAdIdentifier(const std::string& ai) = 0;
};

class QMASlot : public QMAPresentationSlot,
                public QMARequestingSlot,
                public QMASDKCoreControllerDelegate,
                public QMAAdFetcherDelegate,
                public QMASlotAdResponseDelegate,
                public QMAVistraceMonitorDelegate,
                public QMAAdViewVistraceMonitoring,
                public QMAMRAIDEventHandling,
                public QMAPercentDrivenUserInteractionAnimationControllerDelegate,
                public QMAStoreProductViewControllerDelegate,
                public std::enable_shared_from_this<QMASlot> {
 public:
  static constexpr double kDefaultReloadInterval = 60.0;
  // How long the slot waits for the SDK core's answer once it asked for an ad URL.
  static constexpr double kSDKCoreAnswerTimeout = 60.0;
  // The longest an ad's HTML may take to load in the ad view, its pictures, scripts and
  // frames and any delay the page asks for included, before the load fails as a failed
  // page load does (request error 2): the platform's request time-out, as long as any one
  // request of the ad is given.
  static constexpr double kAdPageLoadTimeout = 60.0;
  static constexpr const char* kAdClickDomainsKey = "/quillon/ads/as_domains";
  // The ad network's click hosts when the server has not named them.
  static const std::vector<std::string>& builtInAdClickDomains();

  // Creation and identity (main thread). The first slot runs the ad component's early
  // activities.
  static std::shared_ptr<QMASlot> initWithFrame(uikit::Rect frame);
  static std::shared_ptr<QMASlot> init() { return initWithFrame({}); }
  ~QMASlot() override;
  std::string description() const;
  // The click signal of every slot (nullptr: none).
  static void setClickSignalSource(std::shared_ptr<QMAClickSignalSource> source);

  // ---- properties (main thread)
  std::int64_t state() const override { return state_; }
  std::uint64_t vistraceID() const { return vistraceID_; }
  const std::shared_ptr<QMASlotMediationManager>& mediationManager() const { return mediationManager_; }
  // The maker of every new slot's mediation manager, installed by the mediation part; none
  // by default. Main thread, before the first slot it is to serve is made.
  static void setMediationManagerFactory(
      std::function<std::shared_ptr<QMASlotMediationManager>(const std::shared_ptr<QMASlot>&)> factory);
  const std::shared_ptr<QMAMConfig>& mediationConfiguration() const { return mediationConfiguration_; }
  void setMediationConfiguration(std::shared_ptr<QMAMConfig> config) { mediationConfiguration_ = std::move(config); }
  bool slotHasAttemptedAnAdRequestAtLeastOnce() const { return slotHasAttemptedAnAdRequestAtLeastOnce_; }
  long CSIIdentifier() override { return CSIIdentifier_; }
  const std::string& adResponseKey() const { return adResponseKey_; }
  const std::string& netWorkLatencyKey() const { return netWorkLatencyKey_; }
  const std::string& adRenderingKey() const { return adRenderingKey_; }
  const std::string& totalTimeKey() const { return totalTimeKey_; }
  bool hasAutoRefreshed() const { return hasAutoRefreshed_; }
  void setHasAutoRefreshed(bool refreshed) { hasAutoRefreshed_ = refreshed; }
  bool reloadable() const { return reloadable_; }
  // NO also stops the reload timer.
  void setReloadable(bool reloadable);
  bool manualImpressionsEnabled() const { return manualImpressionsEnabled_; }
  void setManualImpressionsEnabled(bool enabled) { manualImpressionsEnabled_ = enabled; }
  bool swipeToViewControllerEnabled() const { return swipeToViewControllerEnabled_; }
  void setSwipeToViewControllerEnabled(bool enabled) { swipeToViewControllerEnabled_ = enabled; }
  bool swipeToViewControllerAnimationControllerInitialized() const {
    return swipeToViewControllerAnimationControllerInitialized_;
  }
  void setSwipeToViewControllerAnimationControllerInitialized(bool initialized) {
    swipeToViewControllerAnimationControllerInitialized_ = initialized;
  }
  std::shared_ptr<QMASlotDelegate> slotDelegate() const { return slotDelegate_.lock(); }
  void setSlotDelegate(std::weak_ptr<QMASlotDelegate> delegate) { slotDelegate_ = std::move(delegate); }
  std::shared_ptr<QMASlotAdEventDelegate> adEventDelegate() const { return adEventDelegate_.lock(); }
  void setAdEventDelegate(std::weak_ptr<QMASlotAdEventDelegate> delegate) { adEventDelegate_ = std::move(delegate); }
  std::shared_ptr<QMASlotAdResponseDelegate> adResponseDelegate() const { return adResponseDelegate_.lock(); }
  void setAdResponseDelegate(std::weak_ptr<QMASlotAdResponseDelegate> delegate) {
    adResponseDelegate_ = std::move(delegate);
  }
  std::shared_ptr<QMASlotAdKeyDelegate> adKeyDelegate() const { return adKeyDelegate_.lock(); }
  void setAdKeyDelegate(std::weak_ptr<QMASlotAdKeyDelegate> delegate) { adKeyDelegate_ = std::move(delegate); }
  const std::optional<std::string>& adUnitID() const { return adUnitID_; }
  // Also names the slot statistics, which are stored under it.
  void setAdUnitID(std::optional<std::string> adUnitID);
  const std::shared_ptr<QMAAd>& ad() const override { return ad_; }
  void setAd(std::shared_ptr<QMAAd> ad) { ad_ = std::move(ad); }
  std::shared_ptr<QMAAdType> adType() const override { return adType_; }
  void setAdType(std::shared_ptr<QMAAdType> type) { adType_ = std::move(type); }
  std::shared_ptr<QMARequest> request() const override { return request_; }
  void setRequest(const std::shared_ptr<QMARequest>& request) { request_ = request ? request->copy() : nullptr; }
  std::uint64_t timeLastLoaded() const override { return timeLastLoaded_; }
  void setTimeLastLoaded(std::uint64_t milliseconds) { timeLastLoaded_ = milliseconds; }
  std::shared_ptr<QMAAdView> adView() const override { return adView_; }
  const std::shared_ptr<QMASlotStatistics>& slotStats() const { return slotStats_; }
  void setSlotStats(std::shared_ptr<QMASlotStatistics> stats) { slotStats_ = std::move(stats); }
  std::shared_ptr<QMAIntermission> intermission() const override { return intermission_.lock(); }
  std::shared_ptr<void> takeoverOwner() const override { return adEventDelegate(); }
  void setIntermission(std::weak_ptr<QMAIntermission> intermission) override { intermission_ = std::move(intermission); }
  std::shared_ptr<QMAInterstitial> interstitial() const override { return interstitial_.lock(); }
  void setInterstitial(std::weak_ptr<QMAInterstitial> interstitial) { interstitial_ = std::move(interstitial); }
  const std::shared_ptr<QMABannerAdViewDelegate>& adViewDelegate() const { return adViewDelegate_; }
  void setAdViewDelegate(std::shared_ptr<QMABannerAdViewDelegate> delegate) { adViewDelegate_ = std::move(delegate); }
  const std::shared_ptr<QMAAd>& loadingAd() const { return loadingAd_; }
  void setLoadingAd(std::shared_ptr<QMAAd> ad) { loadingAd_ = std::move(ad); }
  const std::shared_ptr<QMAAdFetcher>& adFetcher() const { return adFetcher_; }
  const foundation::Dictionary& applicationStatistics() const { return applicationStatistics_; }
  const QMAStatisticDictionarySet& pendingAdStatistics() const { return pendingAdStatistics_; }
  const std::shared_ptr<QMATimer>& reloadTimer() const { return reloadTimer_; }
  double reloadInterval() const { return reloadInterval_; }
  // Stores a value of at least 1.0; anything below (or no number) stores 0: no reload.
  void setReloadInterval(double seconds);
  // The request ID the SDK core gave the request in progress (empty before it gave one).
  std::string requestID() const;
  void setRequestID(const std::string& requestID) override;
  const std::shared_ptr<QMARequest>& nextRequest() const { return nextRequest_; }
  const std::shared_ptr<QMAVistraceMonitor>& vistraceMonitor() const { return vistraceMonitor_; }
  const std::shared_ptr<QMASDKCoreWebView>& SDKCoreWebView() const { return SDKCoreWebView_; }
  const std::shared_ptr<uikit::View>& vistraceMonitoredView() const { return vistraceMonitoredView_; }
  const std::optional<foundation::Dictionary>& savedParamsForCheckingSwipeToViewController() const {
    return savedParamsForCheckingSwipeToViewController_;
  }
  void setSavedParamsForCheckingSwipeToViewController(std::optional<foundation::Dictionary> params) {
    savedParamsForCheckingSwipeToViewController_ = std::move(params);
  }
  const std::shared_ptr<QMASwipeableStoreProductViewController>& swipeableStoreProductViewController() const {
    return swipeableStoreProductViewController_;
  }
  const std::shared_ptr<QMAScheduler>& swipeToViewControllerChecker() const { return swipeToViewControllerChecker_; }
  const std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation>& animation() const { return animation_; }
  const std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController>& animationController() const {
    return animationController_;
  }
  const std::shared_ptr<uikit::PanGestureRecognizer>& swipeGestureRecognizer() const { return swipeGestureRecognizer_; }
  const std::shared_ptr<QMASlot>& strongSlotForSwipeToViewController() const { return strongSlotForSwipeToViewController_; }

  // ---- the swipe to the store page: its checker (onAdVisible), the creative's switch,
  // the pan and the store page
  // The checker's period when the server gives none (or one that is not above 0).
  static constexpr double kDefaultSwipeToViewSamplingInterval = 0.4;
  void scheduleSwipeToViewControllerChecker();
  void unscheduleSwipeToViewControllerChecker();
  void canEnableSwipeToViewController();
  void enableSwipeToViewController() override;
  void disableSwipeToViewController() override;
  void setUpAnimationController();
  void handlePanGesture(uikit::PanGestureRecognizer& recognizer);
  // `view` null: `point` is in window coordinates.
  bool shouldProcessTouchInView(uikit::Point point, const uikit::View* view);
  void loadStoreProductViewController();
  void animationControllerDidFinishAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) override;
  void animationControllerDidCancelAnimationTransition(QMAPercentDrivenUserInteractionAnimationController&) override;
  void productViewControllerDidFinish(QMASwipeableStoreProductViewController& controller) override;
  uikit::Size newAdSize() const { return newAdSize_; }
  void setNewAdSize(uikit::Size size) { newAdSize_ = size; }

  // ---- lifecycle (4.101)
  // Changes the ad type; with a reload, a request in flight is dropped and, once a request
  // was made, the next one loads.
  void setAdTypeAndReloadRequest(const std::shared_ptr<QMAAdType>& type, bool reload);
  void mediatedAdNetworkAutoRefreshed() { hasAutoRefreshed_ = true; }
  // The banner view moved into a window (or out of every window: null, which ends the
  // slot's takeover: nothing of a banner the host took away stays over it).
  void bannerDidMoveToWindow(const std::shared_ptr<uikit::Window>& window);
  // Ends the slot's takeover of the screen, if it has one, through its one owner (the
  // intermission): the host taking the banner away or releasing it, a new ad replacing
  // the page, the creative's close crossing its own resize or expand.
  void endTakeover() override;
  void interstitialViewWillAppear() override;
  void interstitialViewWillDisappear() override;
  bool isMRAIDEnabled() const override;
  void cancelLoad();
  void cancelPendingActions();
  // The owner goes away: nothing of the slot runs for it again.
  void cancelPendingAndFutureActions();
  void invalidate();
  void resetRequestState();
  // ---- MRAID (slot_mraid.cpp): the creative's events. A slot is MRAID-enabled from its
  // creative's "mraidLoaded" until its ad goes away; then it stops listening to the
  // interface orientation.
  void MRAIDAdDidLoad() override;
  void MRAIDAdDidUnload() override;
  // Queued: "onAdVisibilityChanged".
  void updateVisibility(bool visible) override;
  // After each viewability sample, and from the opener before each change of the MRAID
  // state: the screen info when the usable frame changed, the ad view's frame
  // ("onSizeChanged") and the slot's own frame ("onDefaultPositionReceived") when they
  // changed. The slot's frame is the banner's resting place: while the slot's ads hold the
  // screen (its intermission) it is kept as it was, since a takeover that hides the status
  // bar moves the application frame, not the banner.
  void updatePositionFromView(const std::shared_ptr<uikit::View>& view) override;
  // What the creative reads, sampled now and kept as sent: the ad view's frame, the resting
  // frame (the banner's; an interstitial's is its full-screen frame), the usable frame's size
  // and the screen's. Before an interstitial is shown, its full-screen frame in the present
  // orientation.
  foundation::Dictionary MRAIDValuesFromView(const std::shared_ptr<uikit::View>& view) override;
  // Queued: "onError" with the message and the action of the refused request.
  void handleErrorAction(const std::string& message, const std::string& action) override;
  void notifyOrientationToMRAIDCreative();
  // At once, ahead of "ready": the ad view's frame and the slot's frame as they stand, so a
  // creative that reads its position when it hears "ready" reads the real one (no sample
  // has been taken yet). Out of any window the ad view's own size at the origin.
  void notifyPositionToMRAIDCreative();
  void notifyDeviceFeatures();
  void SDKDidBecomeReady();
  static foundation::Dictionary creativePositionDictionaryForVistraceBounds(uikit::Rect bounds);
  // Device orientation: while listening, each change of the interface orientation posts
  // kQMASlotCreativeOrientationChangedNotification with the slot as object.
  void beginListeningToDeviceOrientationChangeEvent();
  void endListeningToDeviceOrientationChangeEvent();
  void addCreativeOrientationChangeObserver(std::function<void(QMASlot&)> action);
  void didChangeDeviceOrientation();
  bool isListeningToDeviceOrientationChangeEvent() const { return isListeningToDeviceOrientationChangeEvent_; }
  // The observers' actions.
  void appWillBecomeInactive();
  void appDidBecomeActive();
  void adWillPresentFullScreen();
  void adDidRelinquishFullScreen();

  // ---- states (4.102)
  void setState(std::int64_t state);
  bool isMakingRequest() const;
  void resetState();
  void willRequestAdURL();
  void didFailToRetrieveSDKCoreWithError(const QMARequestError& error);
  // The request failed, its owner told: the ad view's delegate hears that no new page comes.
  void requestDidEndWithoutAd();
  void didReceiveAdURL();
  void willFetchAdContent();
  void didFetchAdContent();
  void willProcessMediationResponse();
  void willStartAdRendering();
  void willLoadAdHTMLInWebView() override;
  void didReceiveValidAd() override;
  void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>& error,
                                                             bool cancelPendingActions) override;
  void didLoadAdHTMLInWebView() override;
  void didMakeAdImpression() override;
  void willLeaveAppDueToClick() override;
  void invalidateState();
  // Whether the slot holds a share of the MRAID script interceptor's counter.
  bool holdsMRAIDInterceptorShare() const { return holdsMRAIDInterceptorShare_; }
  // Told of every change of state, right after it (main thread): for drivers and tests
  // that show the road a request takes.
  using StateChangeHandler = std::function<void(std::int64_t from, std::int64_t to)>;
  void setStateChangeHandler(StateChangeHandler handler) { stateChangeHandler_ = std::move(handler); }
  // The bound of an ad's page load for this slot's later loads (kAdPageLoadTimeout unless
  // set; tests set a short one). Main thread.
  double adPageLoadTimeout() const { return adPageLoadTimeout_; }
  void setAdPageLoadTimeout(double seconds) { adPageLoadTimeout_ = seconds; }

  // ---- load path and reload timer (4.103)
  void loadRequest(const std::shared_ptr<QMARequest>& request);
  void loadNextRequestWithAutoRefresh(bool autoRefresh);
  bool shouldMakeRequest(const std::shared_ptr<QMARequest>& request);
  void updateLoadRequestTimeValuesForRequest(QMARequest& request);
  void logRequestTestAdInstructions();
  void scheduleAdReloadTimer() override;
  void deactivateReloadTimer();
  bool refreshedEarlyAfterEndedAd() const { return refreshedEarlyAfterEndedAd_; }
  void reloadCurrentRequest();
  // The once-per-process test-device hint, for tests that play a new process.
  static void resetTestAdInstructionsForTesting();

  // ---- the SDK core's side (4.104)
  std::optional<foundation::Dictionary> requestParameters() override;
  long requestedAdType() override;
  bool wantsAnswerForRequestID(const std::string& requestID) override;
  void loadAdURLWithParameters(const foundation::Dictionary& parameters) override;
  void loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<foundation::Dictionary>& headers) override;
  void invalidJavaScriptRequest() override;
  void failedJavaScriptFile() override;
  void failedJavaScriptFileForRequestID(const std::string& requestID) override;
  // The shown ad's page is gone for good (its web process ended and it could not be shown
  // again): the owner hears that the ad failed (request error 11); a refreshing
  // slot asks for its next ad at once, though not twice in a row without an ordinary
  // refresh in between.
  void adWebContentDidEnd() override;
  // An ad-network JavaScript ad: its HTML straight into the ad view (no fetch).
  void loadAdNetworkJavaScriptRequest(const std::shared_ptr<QMAAd>& ad);
  // "320x50|300x250": each valid boxed size as its point size in whole points.
  static std::string multipleAdSizeParameterFromSizes(const std::vector<std::shared_ptr<const QMABoxedValue>>& sizes);

  // ---- responses, ad events and pings (4.107)
  void adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) override;
  void adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad,
                                                      const std::optional<QMARequestError>& error,
                                                      std::uint64_t responseCode) override;
  bool slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) override;
  void slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) override;
  void processAdResponse(const std::shared_ptr<QMAAd>& ad);
  void setViewForAdUsingView(const std::shared_ptr<uikit::View>& view);
  static bool validateAdResponseWithAdSizeAndValidAdSizes(QMAAdSize size,
                                                          const std::vector<std::shared_ptr<const QMABoxedValue>>& sizes);
  void processCustomRenderingAdResponse(const std::shared_ptr<QMAAd>& ad);
  void finishedLoadingAdResponse(const std::shared_ptr<QMAAd>& ad);
  void willProcessAd();
  void adFailedToReceiveContentWithError(const QMARequestError& error);
  void adFinishedLoadingContent() override;
  void adWasClicked() override;
  void adWillPresentScreen() override;
  void adWillDismissScreen() override;
  void adDidDismissScreen() override;
  void didReceiveAppEventWithInfo(const std::string& name, const std::optional<std::string>& info) override;
  void adWillLeaveApplication() override;
  void pingClickURLs() override;
  void pingImpressionURLs();
  void pingManualTrackingURLs();
  net::URL gestureClickURLWithURL(const net::URL& url) override;
  static bool isQuillonAdURL(const net::URL& url);

  // ---- in-app purchases: the default purchase flow when it is on, else the owner's
  // delegate; a purchase an ad offers is handed to it on the main thread.
  std::shared_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate() const {
    auto owner = slotDelegate();
    return QMASlotInAppPurchase::inAppPurchaseDelegate(owner.get());
  }
  void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) override {
    auto owner = slotDelegate();
    QMASlotInAppPurchase::didReceiveInAppPurchase(owner.get(), purchase);
  }

  // ---- mediation entry
  // Whether the current ad is a mediation response.
  bool isMediating() const override;
  bool changeAdTypeTo(const std::shared_ptr<QMAAdType>& type);
  // The class of the adapter whose ad is shown: none unless an ad is ready; the house
  // adapter's name for the ad network's own ads.
  std::optional<std::string> adNetworkClassName() const;
  // A response of the mediation type: its configuration goes to the mediation manager,
  // which runs the waterfall and reports the mediated ad or a request error here.
  void processMediationAdResponse(const std::shared_ptr<QMAAd>& ad);
  void requestAdWithTypeMediationConfig(const std::shared_ptr<QMAAdType>& type, const std::shared_ptr<QMAMConfig>& config);
  // Fails the slot (request error 0, 7 or 10) when the requested type cannot be served by
  // the stored configuration's type.
  bool hasConsistentMediationConfigForAdType(const std::shared_ptr<QMAAdType>& type);
  void presentMediatedInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root);
  // The owner's root view controller, for mediated networks to present from.
  std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const;

  // ---- viewability
  bool viewHasMadeImpression() const { return viewHasMadeImpression_; }
  void setViewHasMadeImpression(bool made) { viewHasMadeImpression_ = made; }
  bool canEnableVistraceMonitoring() const;
  void startVistraceReportingIfEnabled();
  void createVistraceMonitor();
  void finishVistraceReporting();
  void vistraceMonitorWillUnload();
  void vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) override;
  void adViewDidChangeVistraceVisibility(bool visible) override;
  void adViewDidStopVistraceMonitoring() override;
  bool monitoredViewIsSubviewOfDeviceScreen() const;
  // The viewability report ({"units": [one unit]}) and the page call that carries it.
  foundation::Dictionary vistraceParametersVistraceUnloaded(QMAVistraceMonitor& monitor, bool unloaded) const;
  static std::optional<std::string> vistraceJSCommandWithParams(const std::optional<foundation::Dictionary>& params);
  std::string adFormat() const;
  static foundation::Dictionary dictionaryForBounds(uikit::Rect bounds);

 private:
  QMASlot() = default;
  void initWithFrameSteps(uikit::Rect frame);
  // The position events of updatePositionFromView, queued or sent at once.
  void sendPositionFromView(const std::shared_ptr<uikit::View>& view, bool atOnce);
  // An MRAID ad shown full screen (an interstitial) rather than in a banner.
  bool showsMRAIDAdFullScreen() const;
  // The frame a creative may fill (its maximum size): the application frame, or the whole
  // screen for an interstitial not yet shown.
  uikit::Rect creativeUsableFrame() const;
  // The view's frame in the usable frame; off screen only an interstitial's (its whole
  // usable frame) and, when asked, the view's size at the origin.
  std::optional<uikit::Rect> creativeFrameOfView(const std::shared_ptr<uikit::View>& view,
                                                 const uikit::Rect& usableFrame, bool evenOffScreen) const;
  // The resting frame to report now, nullopt to keep the one sent.
  std::optional<uikit::Rect> creativeDefaultPosition(const uikit::Rect& usableFrame,
                                                     const std::optional<uikit::Rect>& viewFrame);
  void addObservers();
  std::shared_ptr<QMASlot> self() { return shared_from_this(); }
  void armSDKCoreAnswerTimer();
  void SDKCoreAnswerTimedOut(std::uint64_t generation);
  void armAdPageLoadTimer();
  void adPageLoadTimedOut(std::uint64_t generation);
  void takeMRAIDInterceptorShare();
  void giveBackMRAIDInterceptorShare();
  foundation::Dictionary requestParametersOnMainThread(const std::optional<std::string>& token,
                                                       const std::optional<std::string>& fingerprint,
                                                       const std::optional<std::string>& clientID,
                                                       const std::optional<std::string>& hitID);

  // In the order of the slot's fields.
  std::int64_t state_ = QMASlotStateIdle;
  std::uint64_t vistraceID_ = 0;
  std::int64_t swipeToViewControllerCheckerTaskID_ = 0;
  std::shared_ptr<QMASlotMediationManager> mediationManager_;
  std::shared_ptr<QMAMConfig> mediationConfiguration_;
  bool slotHasAttemptedAnAdRequestAtLeastOnce_ = false;
  bool isListeningToDeviceOrientationChangeEvent_ = false;
  foundation::NotificationCenter::ObserverToken statusBarOrientationObserver_;
  foundation::NotificationCenter::ObserverToken creativeOrientationObserver_;
  uikit::Rect usableInterfaceFrame_, creativeWebViewFrame_, creativeAdFrame_;
  // The usable frame the creative's last frame was sent with.
  uikit::Rect positionUsableFrame_;
  bool viewHasMadeImpression_ = false;
  long CSIIdentifier_ = 0;
  std::string adResponseKey_, netWorkLatencyKey_, adRenderingKey_, totalTimeKey_;
  bool hasAutoRefreshed_ = false;
  bool reloadable_ = false;
  // The last request was made early, because the ad before it ended with its page.
  bool refreshedEarlyAfterEndedAd_ = false;
  bool manualImpressionsEnabled_ = false;
  bool swipeToViewControllerEnabled_ = false;
  bool swipeToViewControllerAnimationControllerInitialized_ = false;
  std::weak_ptr<QMASlotDelegate> slotDelegate_;
  std::weak_ptr<QMASlotAdEventDelegate> adEventDelegate_;
  std::weak_ptr<QMASlotAdResponseDelegate> adResponseDelegate_;
  std::weak_ptr<QMASlotAdKeyDelegate> adKeyDelegate_;
  std::optional<std::string> adUnitID_;
  std::shared_ptr<QMAAd> ad_;
  std::shared_ptr<QMAAdType> adType_;
  std::shared_ptr<QMARequest> request_;
  std::uint64_t timeLastLoaded_ = 0;
  std::shared_ptr<QMAAdView> adView_;
  std::shared_ptr<QMASlotStatistics> slotStats_;
  std::weak_ptr<QMAIntermission> intermission_;
  std::weak_ptr<QMAInterstitial> interstitial_;
  std::shared_ptr<QMABannerAdViewDelegate> adViewDelegate_;
  std::shared_ptr<QMAAd> loadingAd_;
  std::shared_ptr<QMAAdFetcher> adFetcher_;
  foundation::Dictionary applicationStatistics_;
  QMAStatisticDictionarySet pendingAdStatistics_;
  std::shared_ptr<QMATimer> reloadTimer_;
  double reloadInterval_ = kDefaultReloadInterval;
  std::string requestID_;  // under requestIDMutex_: written on the SDK core's queue
  std::shared_ptr<QMARequest> nextRequest_;
  std::shared_ptr<QMAVistraceMonitor> vistraceMonitor_;
  std::shared_ptr<QMASDKCoreWebView> SDKCoreWebView_;
  std::shared_ptr<uikit::View> vistraceMonitoredView_;
  std::optional<foundation::Dictionary> savedParamsForCheckingSwipeToViewController_;
  std::shared_ptr<QMAPercentDrivenUserInteractionAnimationController> animationController_;
  std::shared_ptr<QMAViewControllerFullScreenSwipeAnimation> animation_;
  std::shared_ptr<QMASwipeableStoreProductViewController> swipeableStoreProductViewController_;
  std::shared_ptr<uikit::PanGestureRecognizer> swipeGestureRecognizer_;
  std::shared_ptr<QMASlot> strongSlotForSwipeToViewController_;
  std::shared_ptr<QMAScheduler> swipeToViewControllerChecker_;
  uikit::Size newAdSize_;

  // Beyond the fields of the model: the guard of requestID_, the observers, the share of
  // the MRAID interceptor's counter, and the wait for the SDK core's answer.
  mutable std::mutex requestIDMutex_;
  std::vector<foundation::NotificationCenter::ObserverToken> observers_;
  bool holdsMRAIDInterceptorShare_ = false;
  std::shared_ptr<QMATimer> SDKCoreAnswerTimer_;
  std::uint64_t requestGeneration_ = 0;
  // The bound of the ad page's load, armed while its HTML loads (state 5; from state 4 for
  // another network's script, whose page loads before the slot renders).
  std::shared_ptr<QMATimer> adPageLoadTimer_;
  std::uint64_t adPageLoadGeneration_ = 0;
  double adPageLoadTimeout_ = kAdPageLoadTimeout;
  StateChangeHandler stateChangeHandler_;
};

// The host suffixes of the ad network's click URLs: the server's comma-separated list
// ("/quillon/ads/as_domains": entries trimmed, lower-cased, empty ones dropped), or the
// built-in one when none is stored. Any thread.
std::vector<std::string> QMAAdClickDomains();
std::vector<std::string> QMAAdClickDomainsFromString(const std::optional<std::string>& stored);
// Whether the host ends with one of the suffixes (in lower case; no host never does).
bool QMAHostIsAdClickHost(std::string_view host, const std::vector<std::string>& domains);
