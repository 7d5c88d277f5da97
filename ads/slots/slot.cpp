// The slot's model and lifecycle: creation with its ad view, delegate, statistics and
// mediation manager; the four observers; the ad type; the owner's view events; cancelling,
// invalidating and taking down.

#include "ads/slots/slot.h"

#include <random>

#include "ads/render/mraid_interceptor.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

long randomCSIIdentifier() {
  // A non-negative 32-bit number.
  static std::mutex mu;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard lock(mu);
  return static_cast<long>(engine() & 0x7fffffffu);
}

using MediationManagerFactory = std::function<std::shared_ptr<QMASlotMediationManager>(const std::shared_ptr<QMASlot>&)>;

std::mutex& mediationManagerFactoryMutex() {
  static std::mutex m;
  return m;
}
MediationManagerFactory& mediationManagerFactory() {
  static MediationManagerFactory factory;
  return factory;
}

}  // namespace

void QMASlot::setMediationManagerFactory(MediationManagerFactory factory) {
  std::lock_guard lock(mediationManagerFactoryMutex());
  mediationManagerFactory() = std::move(factory);
}

std::shared_ptr<QMASlot> QMASlot::initWithFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  // The class's first use brings the ad component up, if the host's launch has not yet.
  static const bool initialized = [] {
    QMARunOnMainThread([] { QMAApplication::sharedInstance()->runEarlyActivities(); });
    return true;
  }();
  (void)initialized;
  std::shared_ptr<QMASlot> slot(new QMASlot());
  slot->initWithFrameSteps(frame);
  return slot;
}

void QMASlot::initWithFrameSteps(uikit::Rect frame) {
  state_ = QMASlotStateIdle;
  adResponseDelegate_ = std::static_pointer_cast<QMASlotAdResponseDelegate>(shared_from_this());
  reloadInterval_ = kDefaultReloadInterval;
  adView_ = QMAAdView::initWithFrame(frame);
  adViewDelegate_ = QMABannerAdViewDelegate::initWithSlot(std::static_pointer_cast<QMARenderingSlot>(shared_from_this()));
  adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(adViewDelegate_));
  addObservers();
  adType_ = QMAAdType::interstitialAdType();
  slotStats_ = QMASlotStatistics::init();
  MediationManagerFactory makeMediationManager;
  {
    std::lock_guard lock(mediationManagerFactoryMutex());
    makeMediationManager = mediationManagerFactory();
  }
  if (makeMediationManager) mediationManager_ = makeMediationManager(shared_from_this());
  vistraceMonitoredView_ = adView_;
  CSIIdentifier_ = randomCSIIdentifier();
  adResponseKey_ = foundation::stringWithFormat("%@%ld", "arf_ios", CSIIdentifier_);
  netWorkLatencyKey_ = foundation::stringWithFormat("%@%ld", "nwl_ios", CSIIdentifier_);
  adRenderingKey_ = foundation::stringWithFormat("%@%ld", "awr_ios", CSIIdentifier_);
  totalTimeKey_ = foundation::stringWithFormat("%@%ld", "ttc_ios", CSIIdentifier_);
}

void QMASlot::addObservers() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  std::weak_ptr<QMASlot> weak = shared_from_this();
  auto observe = [&](const char* name, void (QMASlot::*action)()) {
    observers_.push_back(center.addObserverForName(name, nullptr, nullptr, [weak, action](const foundation::Notification&) {
      if (auto slot = weak.lock()) ((*slot).*action)();
    }));
  };
  observe(uikit::kUIApplicationWillResignActiveNotification, &QMASlot::appWillBecomeInactive);
  observe(uikit::kUIApplicationDidBecomeActiveNotification, &QMASlot::appDidBecomeActive);
  observe(kAdModalViewControllerWillPresentFullScreen, &QMASlot::adWillPresentFullScreen);
  observe(kAdModalViewControllerDidDismissFullScreen, &QMASlot::adDidRelinquishFullScreen);
}

QMASlot::~QMASlot() {
  // Every weak reference to the slot has expired by now: the observers, the timers and the
  // ad-view delegate reach nothing. What is left is handed over to be taken down on the
  // main thread, in order: the MRAID unload, the fetch, the observers, what invalidate
  // drops, the mediation manager, the pending ad statistics.
  auto fetcher = std::move(adFetcher_);
  auto observers = std::move(observers_);
  auto adView = std::move(adView_);
  auto adViewDelegate = std::move(adViewDelegate_);
  auto manager = std::move(mediationManager_);
  auto monitor = std::move(vistraceMonitor_);
  auto page = std::move(SDKCoreWebView_);
  auto timers = std::vector<std::shared_ptr<QMATimer>>{std::move(reloadTimer_), std::move(SDKCoreAnswerTimer_),
                                                       std::move(adPageLoadTimer_)};
  const bool heldShare = holdsMRAIDInterceptorShare_;
  const std::uint64_t vistraceID = vistraceID_;
  auto statistics = std::move(pendingAdStatistics_);
  // The MRAID unload: the slot no longer follows the interface orientation.
  auto orientationObservers = std::vector<foundation::NotificationCenter::ObserverToken>{
      std::move(statusBarOrientationObserver_), std::move(creativeOrientationObserver_)};
  auto teardown = [fetcher, observers, orientationObservers, adView, adViewDelegate, manager, monitor, page, timers, heldShare, vistraceID,
                   statistics]() mutable {
    if (fetcher) fetcher->cancel();
    for (const auto& token : observers) foundation::NotificationCenter::defaultCenter().removeObserver(token);
    for (const auto& token : orientationObservers)
      if (token) foundation::NotificationCenter::defaultCenter().removeObserver(token);
    for (const auto& timer : timers)
      if (timer) timer->invalidate();
    if (monitor) {
      monitor->stopMonitoring();
      monitor->setDelegate({});
    }
    if (page) {
      page->removeVistraceObserverForVistraceID(vistraceID);
      QMASDKCoreController::sharedInstance()->finishedUsingSDKCoreWebViewForVistraceProcessing(page);
    }
    if (adViewDelegate && adViewDelegate->opener()) adViewDelegate->opener()->setDelegate(nullptr);
    if (adView) {
      adView->setDelegate({});
      adView->removeFromSuperview();
    }
    adViewDelegate.reset();
    adView.reset();
    if (heldShare) QMAMRAIDInterceptor::disableCanInitWithRequest();
    if (manager) manager->setSlot({});
    QMAApplication::sharedInstance()->didNotSendAdStatistics(statistics);
  };
  if (dispatch::isMainThread()) {
    teardown();
  } else {
    dispatch::Queue::main()->async(std::move(teardown));
  }
}

std::string QMASlot::description() const {
  return foundation::stringWithFormat("<%@: %p>\nad unit ID:%@", "QMASlot", static_cast<const void*>(this),
                                      adUnitID_ ? foundation::Value(*adUnitID_) : foundation::Value());
}

void QMASlot::setAdUnitID(std::optional<std::string> adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  adUnitID_ = std::move(adUnitID);
  if (adUnitID_ && slotStats_) slotStats_->setIdentifier(*adUnitID_);
}

void QMASlot::setReloadable(bool reloadable) {
  WV_DCHECK_MAIN_THREAD();
  reloadable_ = reloadable;
  if (!reloadable_) deactivateReloadTimer();
}

void QMASlot::setAdTypeAndReloadRequest(const std::shared_ptr<QMAAdType>& type, bool reload) {
  WV_DCHECK_MAIN_THREAD();
  if (!type || (adType_ && adType_->isEqual(type.get()))) return;
  auto keep = self();
  adType_ = type;
  if (newAdSize_ == uikit::Size{} && reload && adView_) adView_->setHidden(true);
  if (isMediating()) {
    // The mediated network adapts to the new size itself when it can; otherwise the view
    // it showed no longer fits.
    if (changeAdTypeTo(type)) return;
    if (auto d = slotDelegate()) d->slotDidReceiveAdView(*this, nullptr);
  }
  if (!reload) return;
  if (isMakingRequest()) cancelPendingActions();
  if (slotHasAttemptedAnAdRequestAtLeastOnce_) loadNextRequestWithAutoRefresh(false);
}

void QMASlot::bannerDidMoveToWindow(const std::shared_ptr<uikit::Window>& window) {
  WV_DCHECK_MAIN_THREAD();
  if (window) {
    if (vistraceMonitor_) vistraceMonitor_->startMonitoring();
    return;
  }
  if (vistraceMonitor_) {
    vistraceMonitor_->sample();
    vistraceMonitor_->stopMonitoring();
  }
  foundation::NotificationCenter::defaultCenter().postNotificationName(kQMASlotDidLeaveWindowNotification, self());
}

void QMASlot::interstitialViewWillAppear() {
  WV_DCHECK_MAIN_THREAD();
  if (vistraceMonitor_) vistraceMonitor_->startMonitoring();
}

void QMASlot::interstitialViewWillDisappear() {
  WV_DCHECK_MAIN_THREAD();
  if (!vistraceMonitor_) return;
  vistraceMonitor_->sample();
  vistraceMonitor_->stopMonitoring();
}

bool QMASlot::isMRAIDEnabled() const {
  WV_DCHECK_MAIN_THREAD();
  return ad_ && ad_->MRAIDEventHandler() != nullptr;
}

void QMASlot::cancelLoad() {
  WV_DCHECK_MAIN_THREAD();
  if (adFetcher_) adFetcher_->cancel();
  adFetcher_.reset();
  loadingAd_.reset();
  setState(QMASlotStateIdle);
}

void QMASlot::cancelPendingActions() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  deactivateReloadTimer();
  cancelLoad();
  if (mediationManager_) mediationManager_->cancel();
  // Stopped for good, not reset between two steps of one request: the load in flight is
  // over and the slot's share of the interceptor's counter goes back.
  if (state_ == QMASlotStateIdle) giveBackMRAIDInterceptorShare();
}

void QMASlot::cancelPendingAndFutureActions() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  cancelPendingActions();
  slotDelegate_.reset();
  reloadable_ = false;
  deactivateReloadTimer();
  invalidateState();
}

void QMASlot::invalidate() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (adViewDelegate_ && adViewDelegate_->opener()) adViewDelegate_->opener()->setDelegate(nullptr);
  adViewDelegate_.reset();
  if (adView_) {
    adView_->setDelegate({});
    adView_->removeFromSuperview();
  }
  adView_.reset();
  vistraceMonitoredView_.reset();
  invalidateState();
}

void QMASlot::resetRequestState() {
  WV_DCHECK_MAIN_THREAD();
  if (ad_) {
    if (auto handler = ad_->MRAIDEventHandler()) handler->MRAIDAdDidUnload();
  }
  ad_.reset();
  resetState();
}

void QMASlot::appWillBecomeInactive() {
  WV_DCHECK_MAIN_THREAD();
  deactivateReloadTimer();
  if (vistraceMonitor_) vistraceMonitor_->sample();
}

void QMASlot::appDidBecomeActive() {
  WV_DCHECK_MAIN_THREAD();
  scheduleAdReloadTimer();
  if (vistraceMonitor_) vistraceMonitor_->sample();
}

void QMASlot::adWillPresentFullScreen() {
  WV_DCHECK_MAIN_THREAD();
  deactivateReloadTimer();
}

void QMASlot::adDidRelinquishFullScreen() {
  WV_DCHECK_MAIN_THREAD();
  scheduleAdReloadTimer();
}
