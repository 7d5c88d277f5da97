#include "ads/render/sdk_core_web_view.h"

#include <algorithm>

#include "ads/render/sdk_core_qomb_handler.h"
#include "ads/services/csi.h"
#include "ads/services/logging.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/net/ad_network.h"

namespace {

void logRefusedMessage(const net::URL& url, const char* why) {
  QMALog("SDK-core page message refused (%s): %@", why, QMALogQuote(url.absoluteString()));
}

}  // namespace

std::string QMASDKCorePageAddress() { return net::adNetworkURL(QMASDKCoreWebView::kPagePath); }

std::shared_ptr<QMASDKCoreWebView> QMASDKCoreWebView::init() {
  WV_DCHECK_MAIN_THREAD();
  auto page = std::shared_ptr<QMASDKCoreWebView>(new QMASDKCoreWebView());
  page->adView_ = QMAAdView::init();
  page->adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(page));
  page->adViewDelegate_ = QMAAdViewDelegate::init();
  page->lockQueue_ = dispatch::Queue::createSerial(kQueueLabel);
  page->SDKCoreQOMBHandler_ = QMASDKCoreQOMBHandler::init();
  page->SDKCoreQOMBHandler_->setSDKCoreWebView(page);
  page->vistraceQOMBHandler_ = std::make_shared<QMAVistraceQOMBHandler>();
  page->vistraceQOMBHandler_->setDelegate(std::static_pointer_cast<QMAVistraceQOMBHandlerDelegate>(page));
  return page;
}

QMASDKCoreWebView::~QMASDKCoreWebView() {
  // The page's last owner may be a block on its lock queue; the ad view and its delegate
  // are views and belong to the main thread, so they go there to be released.
  if (!dispatch::isMainThread() && (adView_ || adViewDelegate_)) {
    dispatch::Queue::main()->async([view = std::move(adView_), delegate = std::move(adViewDelegate_)] {});
  }
}

long QMASDKCoreWebView::state() {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  long s = 0;
  lockQueue_->sync([&] { s = state_; });
  return s;
}

void QMASDKCoreWebView::setState(long state) {
  auto self = shared_from_this();
  lockQueue_->async([self, state] { self->state_ = state; });
}

bool QMASDKCoreWebView::hasSDKCoreLoadedAtLeastOnce() {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  bool loaded = false;
  lockQueue_->sync([&] { loaded = hasSDKCoreLoadedAtLeastOnce_; });
  return loaded;
}

void QMASDKCoreWebView::setHasSDKCoreLoadedAtLeastOnce(bool loaded) {
  auto self = shared_from_this();
  lockQueue_->async([self, loaded] { self->hasSDKCoreLoadedAtLeastOnce_ = loaded; });
}

std::vector<std::string> QMASDKCoreWebView::pendingJavaScriptCommands() {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  std::vector<std::string> copy;
  lockQueue_->sync([&] {
    for (const auto& command : pendingJSCommands_) copy.push_back(command.script);
  });
  return copy;
}

void QMASDKCoreWebView::refreshSDKCoreAndNotifyObserver(std::shared_ptr<QMASDKCoreWebViewNotification> observer) {
  auto self = shared_from_this();
  dispatch::Queue::main()->async([self, observer] {
    const long current = self->state();
    if (current != 1 && current != 2) {
      if (auto recorder = QMACSI::loadAdRecorder()) recorder->startTimingVariableWithName("jsf_ios");
      self->setState(1);
      const std::uint64_t attempt = ++self->loadAttempt_;
      // A load that never ends would keep every ad request of the process waiting.
      std::weak_ptr<QMASDKCoreWebView> weak = self;
      dispatch::after(kLoadTimeout, dispatch::Queue::main(), [weak, attempt] {
        auto page = weak.lock();
        if (!page || page->loadAttempt_ != attempt) return;
        const long s = page->state();
        if (s != 1 && s != 2) return;
        page->adView_->stopLoading();
        page->pageFailed();
        page->notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished();
      });
      self->adView_->loadRequest(net::URLRequest(*net::URL::fromString(QMASDKCorePageAddress())));
    }
    self->addObserverForOneTimeNotification(observer);
  });
}

void QMASDKCoreWebView::addObserverForOneTimeNotification(std::shared_ptr<QMASDKCoreWebViewNotification> observer) {
  if (!observer) return;
  auto self = shared_from_this();
  lockQueue_->async([self, observer] {
    const bool known = std::any_of(self->SDKCoreObservers_.begin(), self->SDKCoreObservers_.end(),
                                   [&](const auto& o) { return o == observer; });
    if (!known) self->SDKCoreObservers_.push_back(observer);
    if (self->state_ == 3 || self->state_ == 4) self->notifyAllLocked();
  });
}

void QMASDKCoreWebView::removeObserver(const QMASDKCoreWebViewNotification* observer) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  lockQueue_->sync([&] {
    std::erase_if(SDKCoreObservers_, [&](const auto& o) { return o.get() == observer; });
  });
}

void QMASDKCoreWebView::notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished() {
  auto self = shared_from_this();
  lockQueue_->async([self] { self->notifyAllLocked(); });
}

void QMASDKCoreWebView::notifyAllLocked() {
  WV_DCHECK_ON_QUEUE(lockQueue_);
  if (state_ == 1 || state_ == 2) return;
  auto self = shared_from_this();
  for (auto& observer : SDKCoreObservers_) {
    dispatch::Queue::main()->async([self, observer] { observer->didFinishLoadingSDKCoreInSDKCoreWebView(self); });
  }
  SDKCoreObservers_.clear();
}

void QMASDKCoreWebView::enqueueJavaScriptCommand(std::string command, std::function<void()> whenDropped) {
  auto self = shared_from_this();
  lockQueue_->async([self, command = std::move(command), whenDropped = std::move(whenDropped)]() mutable {
    if (self->state_ == 4) {
      if (whenDropped) whenDropped();
      return;
    }
    if (self->pendingJSCommands_.size() >= kMaximumPendingJavaScriptCommands) {
      auto oldest = std::move(self->pendingJSCommands_.front());
      self->pendingJSCommands_.erase(self->pendingJSCommands_.begin());
      if (oldest.whenDropped) oldest.whenDropped();
    }
    self->pendingJSCommands_.push_back({std::move(command), std::move(whenDropped)});
    self->dispatchPendingLocked();
  });
}

void QMASDKCoreWebView::dispatchPendingJavaScriptCommands() {
  auto self = shared_from_this();
  lockQueue_->async([self] { self->dispatchPendingLocked(); });
}

void QMASDKCoreWebView::dispatchPendingLocked() {
  WV_DCHECK_ON_QUEUE(lockQueue_);
  if (state_ != 3 || pendingJSCommands_.empty()) return;
  std::vector<std::string> commands;
  for (auto& command : pendingJSCommands_) commands.push_back(std::move(command.script));
  pendingJSCommands_.clear();
  auto adView = adView_;
  dispatch::Queue::main()->async([adView, commands = std::move(commands)] {
    for (const auto& command : commands) adView->executeJavaScriptAsynchronouslyFromString(command);
  });
}

void QMASDKCoreWebView::postJSNotificationUserInfo(const std::string& name,
                                                   const std::optional<foundation::Dictionary>& userInfo) {
  adView_->postJSNotificationUserInfo(name, userInfo);
}

void QMASDKCoreWebView::setVistraceObserverForVistraceID(std::weak_ptr<QMAAdViewVistraceMonitoring> observer,
                                                         std::uint64_t vistraceID) {
  auto self = shared_from_this();
  lockQueue_->async([self, observer, vistraceID] {
    if (observer.expired()) return;
    auto it = self->vistraceObservers_.find(vistraceID);
    if (it != self->vistraceObservers_.end() && !it->second.expired()) return;
    self->vistraceObservers_[vistraceID] = observer;
    self->runningVistraceObservers_.insert(vistraceID);
  });
}

void QMASDKCoreWebView::removeVistraceObserverForVistraceID(std::uint64_t vistraceID) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  lockQueue_->sync([&] { vistraceObservers_.erase(vistraceID); });
}

void QMASDKCoreWebView::clearAllVistraceInstances() {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  std::map<std::uint64_t, std::weak_ptr<QMAAdViewVistraceMonitoring>> copy;
  lockQueue_->sync([&] {
    runningVistraceObservers_.clear();
    copy.swap(vistraceObservers_);
  });
  for (auto& [id, weak] : copy)
    if (auto observer = weak.lock()) observer->adViewDidStopVistraceMonitoring();
}

bool QMASDKCoreWebView::isVistraceRunning() {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  bool running = false;
  lockQueue_->sync([&] { running = !runningVistraceObservers_.empty(); });
  return running;
}

std::optional<bool> QMASDKCoreWebView::adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView,
                                                                                      const net::URLRequest& request,
                                                                                      webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  const long current = state();
  const bool message = QMANotification::isNotificationURL(request.url);
  if (current == 2) {
    if (message) logRefusedMessage(request.url, "the page is still loading");
    return false;
  }
  if (request.url.absoluteString() == QMASDKCorePageAddress()) {
    setState(2);
    return true;
  }
  if (current != 3) {
    if (message) logRefusedMessage(request.url, "the page is not loaded");
    return false;
  }
  if (QMANotification::isNotificationURL(request.url)) {
    auto view = std::static_pointer_cast<QMAAdView>(adView.shared_from_this());
    // Handlers run here, in the navigation callback: the page's own messages keep the
    // order in which the page sent them.
    if (SDKCoreQOMBHandler_ && SDKCoreQOMBHandler_->handleRequestAdView(request, view)) return false;
    if (vistraceQOMBHandler_->handleRequestAdView(request, view)) return false;
    return adViewDelegate_->adViewShouldStartLoadWithRequestNavigationType(adView, request, type).value_or(true);
  }
  return false;
}

void QMASDKCoreWebView::pageFailed() {
  if (auto recorder = QMACSI::loadAdRecorder()) recorder->cancelTimingVariableWithName("jsf_ios");
  setState(4);
}

void QMASDKCoreWebView::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  if (state() == 2) {
    if (auto recorder = QMACSI::loadAdRecorder()) recorder->endTimingVariableWithName("jsf_ios");
    setState(3);
    setHasSDKCoreLoadedAtLeastOnce(true);
  }
  adViewDelegate_->adViewDidFinishLoad(adView);
  dispatchPendingJavaScriptCommands();
  notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished();
}

void QMASDKCoreWebView::adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  const auto* failing = foundation::stringForKey(error.userInfo, webkit::kURLErrorKey);
  const bool pageAddress = failing && *failing == QMASDKCorePageAddress();
  // The only frame is the page's own: any failure while it loads (a refused redirect, an
  // error page, a lost connection) ends this attempt.
  const long current = state();
  if (pageAddress || current == 1 || current == 2) pageFailed();
  adViewDelegate_->adViewDidFailLoadWithError(adView, error);
  notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished();
}

void QMASDKCoreWebView::adViewWebContentProcessDidTerminate(QMAAdView&) {
  WV_DCHECK_MAIN_THREAD();
  // Only a loaded page can be lost: a load in progress ends by its own failure or time-out.
  if (state() != 3) return;
  QMALog("The SDK-core page's web process ended; the next ad request loads the page again.");
  auto self = shared_from_this();
  setState(4);
  // The page that tracked them is gone: their slots stop waiting for its reports.
  clearAllVistraceInstances();
  notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished();
  if (auto observer = pageLossObserver_.lock()) observer->SDKCoreWebViewDidLosePage(self);
}

void QMASDKCoreWebView::vistraceQOMBHandlerDidReceiveUntrackNotificationForVistraceID(QMAVistraceQOMBHandler&,
                                                                                   std::uint64_t vistraceID) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAAdViewVistraceMonitoring> observer;
  lockQueue_->sync([&] {
    if (auto it = vistraceObservers_.find(vistraceID); it != vistraceObservers_.end()) {
      observer = it->second.lock();
      vistraceObservers_.erase(it);
    }
    runningVistraceObservers_.erase(vistraceID);
  });
  if (observer) dispatch::Queue::main()->async([observer] { observer->adViewDidStopVistraceMonitoring(); });
}

void QMASDKCoreWebView::vistraceQOMBHandlerDidReceiveVisibilityNotificationForVistraceID(QMAVistraceQOMBHandler&,
                                                                                      bool visible,
                                                                                      std::uint64_t vistraceID) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAAdViewVistraceMonitoring> observer;
  lockQueue_->sync([&] {
    if (auto it = vistraceObservers_.find(vistraceID); it != vistraceObservers_.end()) observer = it->second.lock();
  });
  if (observer) dispatch::Queue::main()->async([observer, visible] { observer->adViewDidChangeVistraceVisibility(visible); });
}
