#include "ads/render/sdk_core_controller.h"

#include <algorithm>

#include "ads/render/server_constants.h"
#include "ads/services/absolute_time.h"
#include "ads/services/csi.h"
#include "ads/services/logging.h"
#include "ads/services/sdk_version.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/json.h"

namespace {


bool isTrue(const foundation::Value* value) {
  if (!value) return false;
  if (const auto* s = value->asString()) return QMAServerConstants::boolValue(*s);
  return value->boolValue().value_or(false);
}

}  // namespace

foundation::Dictionary QMASDKCoreMediationHeaders(const std::optional<foundation::Dictionary>& adHeaders) {
  foundation::Dictionary headers = adHeaders.value_or(foundation::Dictionary{});
  headers["x-qvra-mediation"] = 1;
  headers["Content-Type"] = "application/json";
  return headers;
}

std::shared_ptr<QMAAd> QMASDKCoreAdForFetchedAd(long requestedAdType, const foundation::Value& fetchedAd) {
  static const foundation::Dictionary kNoDescription;
  const foundation::Dictionary* description = fetchedAd.asDictionary();
  if (!description) description = &kNoDescription;
  std::shared_ptr<QMAAd> ad;
  switch (requestedAdType) {
    case 0: ad = QMAAd::initWithDictionary(*description); break;
    case 1: ad = QMABannerAd::initWithDictionary(*description); break;
    case 2: ad = QMAInterstitialAd::initWithDictionary(*description); break;
    default: return nullptr;
  }
  if (isTrue(fetchedAd.get("is_mediation"))) {
    ad->setResponseType(QMAAdResponseTypeMediation);
    ad->setResponseHeaders(QMASDKCoreMediationHeaders(ad->responseHeaders()));
  }
  return ad;
}

const std::shared_ptr<QMASDKCoreController>& QMASDKCoreController::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* controller = new std::shared_ptr<QMASDKCoreController>(create());
  return *controller;
}

std::shared_ptr<QMASDKCoreController> QMASDKCoreController::create() {
  WV_DCHECK_MAIN_THREAD();
  auto controller = std::shared_ptr<QMASDKCoreController>(new QMASDKCoreController());
  controller->setUp();
  return controller;
}

void QMASDKCoreController::setUp() {
  lockQueue_ = dispatch::Queue::createSerial(kStateQueueLabel);
  requestURLQueue_ = dispatch::Queue::createSerial(kRequestURLQueueLabel);
  activeSDKCoreWebView_ = QMASDKCoreWebView::init();
  activeSDKCoreWebView_->SDKCoreQOMBHandler()->setDelegate(
      std::static_pointer_cast<QMASDKCoreQOMBHandlerDelegate>(shared_from_this()));
  activeSDKCoreWebView_->setPageLossObserver(std::static_pointer_cast<QMASDKCoreWebViewNotification>(shared_from_this()));
}

QMASDKCoreController::~QMASDKCoreController() {
  if (activeSDKCoreWebView_) activeSDKCoreWebView_->removeObserver(this);
}

void QMASDKCoreController::buildAdURL(const std::shared_ptr<QMASDKCoreControllerDelegate>& requester) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  if (!requester) return;
  if (auto recorder = QMACSI::loadAdRecorder())
    recorder->startTimingVariableWithNameKey("rur_ios", "rur_ios" + std::to_string(requester->CSIIdentifier()));
  auto self = shared_from_this();
  lockQueue_->async([self, requester] { self->pendingActiveWebViewLoadDelegates_.push_back(requester); });
  attemptToRefreshActiveWebViewSDKCore();
}

void QMASDKCoreController::attemptToRefreshActiveWebViewSDKCore() {
  bool stale = false;
  lockQueue_->sync([&] {
    stale = QMACurrentAbsoluteTimeInMilliseconds() - lastWebViewRefreshTimestamp_ > kStalePageMilliseconds;
  });
  const long state = activeSDKCoreWebView_->state();
  if (state == 0 || state == 4 || stale) refreshActiveWebViewSDKCore();
  else observeSDKCoreWebViewForSDKCoreLoadRequestCompleted();
}

void QMASDKCoreController::refreshActiveWebViewSDKCore() {
  activeSDKCoreWebView_->refreshSDKCoreAndNotifyObserver(shared_from_this());
  auto self = shared_from_this();
  lockQueue_->async([self] {
    self->SDKConstantsNeedReload_ = true;
    self->lastWebViewRefreshTimestamp_ = QMACurrentAbsoluteTimeInMilliseconds();
  });
}

void QMASDKCoreController::observeSDKCoreWebViewForSDKCoreLoadRequestCompleted() {
  activeSDKCoreWebView_->addObserverForOneTimeNotification(shared_from_this());
}

std::optional<std::string> QMASDKCoreController::adRequestParameterJSONFromParameters(
    const std::optional<foundation::Dictionary>& parameters) {
  if (!parameters) return std::nullopt;
  return qma_JSONStringPretty(qma_JSONSafeDictionary(*parameters), false).value_or("");
}

void QMASDKCoreController::didFinishLoadingSDKCoreInSDKCoreWebView(const std::shared_ptr<QMASDKCoreWebView>&) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  bool stillWaiting = false;
  lockQueue_->sync([&] {
    const auto& page = activeSDKCoreWebView_;
    if (SDKConstantsNeedReload_ && page->state() == 3) {
      foundation::Dictionary argument;
      argument["js"] = kQMASDKVersion;
      page->enqueueJavaScriptCommand("QVRA_getSdkConstants(" + foundation::jsonSerialize(argument) + ");");
    }
    const long state = page->state();
    if (state == 3) {
      for (const auto& requester : pendingActiveWebViewLoadDelegates_) asynchronouslyRequestURLForDelegate(requester);
      pendingActiveWebViewLoadDelegates_.clear();
    } else if (state == 4) {
      for (const auto& requester : pendingActiveWebViewLoadDelegates_) {
        std::weak_ptr<QMASDKCoreControllerDelegate> weak = requester;
        dispatch::Queue::main()->async([weak] {
          if (auto r = weak.lock()) r->failedJavaScriptFile();
        });
      }
      pendingActiveWebViewLoadDelegates_.clear();
    }
    if (!page->hasSDKCoreLoadedAtLeastOnce()) lastWebViewRefreshTimestamp_ = 0;
    stillWaiting = !pendingActiveWebViewLoadDelegates_.empty();
  });
  if (stillWaiting) observeSDKCoreWebViewForSDKCoreLoadRequestCompleted();
}

void QMASDKCoreController::asynchronouslyRequestURLForDelegate(
    const std::shared_ptr<QMASDKCoreControllerDelegate>& requester) {
  auto self = shared_from_this();
  // The block keeps the requester only until the waiting list has it: a requester is a
  // main-thread object whose owner may let go meanwhile, and its last reference must
  // never be dropped on this queue's thread.
  requestURLQueue_->async([self, requester]() mutable {
    auto releaseOnMain = [&requester] { dispatch::Queue::main()->async([r = std::move(requester)] {}); };
    const std::string requestID = std::to_string(self->requestID_++);
    requester->setRequestID(requestID);
    const auto parameters = requester->requestParameters();
    const auto json = adRequestParameterJSONFromParameters(parameters);
    if (!json) return releaseOnMain();
    if (json->empty()) {
      // A call without its parameters could never be answered: tell the requester now.
      QMALog("Ad request %@ not sent: its parameters cannot be written as JSON.", requestID);
      std::weak_ptr<QMASDKCoreControllerDelegate> weak = requester;
      dispatch::Queue::main()->async([weak] {
        if (auto r = weak.lock()) r->invalidJavaScriptRequest();
      });
      return releaseOnMain();
    }
    const char* function =
        parameters->count("quillon-ad-url-mediation") ? "QVRA_getAdapterLessMediationAd" : "QVRA_getAd";
    const std::string command = std::string(function) + "(" + QMAScriptSafeJSON(*json) + ");";
    self->lockQueue_->sync([&] { self->pendingBuildAdURLDelegates_[requestID] = std::move(requester); });
    // A call the page never runs (it failed or was lost before the call reached it) would
    // leave the requester waiting for an answer that cannot come.
    std::weak_ptr<QMASDKCoreController> weakSelf = self;
    self->activeSDKCoreWebView_->enqueueJavaScriptCommand(command, [weakSelf, requestID] {
      dispatch::Queue::main()->async([weakSelf, requestID] {
        if (auto controller = weakSelf.lock()) controller->failSentRequest(requestID);
      });
    });
  });
}

void QMASDKCoreController::failSentRequest(const std::string& requestID) {
  WV_DCHECK_MAIN_THREAD();
  abandonRequest(requestID, [](QMASDKCoreControllerDelegate& r, const std::string& id) {
    r.failedJavaScriptFileForRequestID(id);
  });
}

void QMASDKCoreController::SDKCoreWebViewDidLosePage(const std::shared_ptr<QMASDKCoreWebView>& page) {
  WV_DCHECK_MAIN_THREAD();
  if (page != activeSDKCoreWebView_) return;
  std::vector<std::string> lost;
  lockQueue_->sync([&] {
    for (const auto& [requestID, requester] : pendingBuildAdURLDelegates_) lost.push_back(requestID);
  });
  if (!lost.empty()) QMALog("%lu ad requests were lost with the SDK-core page.", static_cast<unsigned long>(lost.size()));
  for (const auto& requestID : lost) failSentRequest(requestID);
}

void QMASDKCoreController::abandonRequest(const std::optional<std::string>& requestID,
                                          std::function<void(QMASDKCoreControllerDelegate&, const std::string&)> tell) {
  auto requester = takePendingRequester(requestID);
  if (!requester) return;
  if (auto recorder = QMACSI::loadAdRecorder())
    recorder->cancelTimingVariableWithNameKey("rur_ios", "rur_ios" + std::to_string(requester->CSIIdentifier()));
  std::weak_ptr<QMASDKCoreControllerDelegate> weak = requester;
  requester.reset();
  dispatch::Queue::main()->async([weak, id = *requestID, tell = std::move(tell)] {
    if (auto r = weak.lock(); r && r->wantsAnswerForRequestID(id)) tell(*r, id);
  });
}

std::shared_ptr<QMASDKCoreControllerDelegate> QMASDKCoreController::takePendingRequester(
    const std::optional<std::string>& requestID) {
  std::shared_ptr<QMASDKCoreControllerDelegate> requester;
  if (!requestID) return requester;
  lockQueue_->sync([&] {
    auto it = pendingBuildAdURLDelegates_.find(*requestID);
    if (it == pendingBuildAdURLDelegates_.end()) return;
    requester = it->second;
    pendingBuildAdURLDelegates_.erase(it);
  });
  return requester;
}

void QMASDKCoreController::SDKCoreQOMBHandlerLoadAdURLWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                                              const std::optional<std::string>& requestID,
                                                                              const foundation::Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  auto requester = takePendingRequester(requestID);
  // An answer for no waiting request (never issued, or answered already) reaches no one
  // and times nothing.
  if (!requester) return;
  const std::string id = std::to_string(requester->CSIIdentifier());
  if (auto recorder = QMACSI::loadAdRecorder()) recorder->endTimingVariableWithNameKey("rur_ios", "rur_ios" + id);
  std::weak_ptr<QMASDKCoreControllerDelegate> weak = requester;
  requester.reset();
  dispatch::Queue::main()->async([weak, parameters, id = *requestID] {
    auto r = weak.lock();
    if (!r || !r->wantsAnswerForRequestID(id)) return;
    if (auto recorder = QMACSI::loadAdRecorder())
      recorder->startTimingVariableWithNameKey("nwl_ios", "nwl_ios" + std::to_string(r->CSIIdentifier()));
    r->loadAdURLWithParameters(parameters);
  });
}

void QMASDKCoreController::SDKCoreQOMBHandlerLoadAdWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                                           const std::optional<std::string>& requestID,
                                                                           const foundation::Value& fetchedAd) {
  WV_DCHECK_MAIN_THREAD();
  auto requester = takePendingRequester(requestID);
  if (!requester) return;
  std::weak_ptr<QMASDKCoreControllerDelegate> weak = requester;
  requester.reset();
  dispatch::Queue::main()->async([weak, fetchedAd, id = *requestID] {
    auto r = weak.lock();
    if (!r || !r->wantsAnswerForRequestID(id)) return;
    auto ad = QMASDKCoreAdForFetchedAd(r->requestedAdType(), fetchedAd);
    r->loadAdHeaders(ad, ad ? ad->responseHeaders() : std::nullopt);
  });
}

void QMASDKCoreController::SDKCoreQOMBHandlerDidReceiveInvalidAdWithRequestIDParameters(
    QMASDKCoreQOMBHandler&, const std::optional<std::string>& requestID, const foundation::Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  QMALogger::sharedInstance()->logPublicMessage("Invalid Request: " + foundation::jsonSerialize(parameters));
  abandonRequest(requestID, [](QMASDKCoreControllerDelegate& r, const std::string&) { r.invalidJavaScriptRequest(); });
}

void QMASDKCoreController::SDKCoreQOMBHandlerDidLoadSDKConstants(QMASDKCoreQOMBHandler&,
                                                                 const foundation::Dictionary& constants) {
  WV_DCHECK_MAIN_THREAD();
  applySDKConstants(constants);
}

void QMASDKCoreController::SDKCoreQOMBHandlerDidReceiveSDKCoreUpdateNotification(QMASDKCoreQOMBHandler&) {
  auto self = shared_from_this();
  lockQueue_->async([self] { self->SDKCoreUpdateHandled_ = false; });
}

double QMASDKCoreController::vistraceSamplingInterval() {
  double v = 0;
  lockQueue_->sync([&] { v = vistraceSamplingInterval_; });
  return v;
}
double QMASDKCoreController::swipeToViewSamplingInterval() {
  double v = 0;
  lockQueue_->sync([&] { v = swipeToViewSamplingInterval_; });
  return v;
}
void QMASDKCoreController::setVistraceSamplingInterval(double seconds) {
  auto self = shared_from_this();
  lockQueue_->async([self, seconds] { self->vistraceSamplingInterval_ = seconds; });
}
void QMASDKCoreController::setSwipeToViewSamplingInterval(double seconds) {
  auto self = shared_from_this();
  lockQueue_->async([self, seconds] { self->swipeToViewSamplingInterval_ = seconds; });
}
std::uint64_t QMASDKCoreController::vistraceUnloadCacheMaxSize() {
  std::uint64_t v = 0;
  lockQueue_->sync([&] { v = vistraceUnloadCacheMaxSize_; });
  return v;
}
bool QMASDKCoreController::useNewWebViewsForVistraceProcessing() {
  bool v = false;
  lockQueue_->sync([&] { v = useNewWebViewsForVistraceProcessing_; });
  return v;
}
bool QMASDKCoreController::SDKConstantsNeedReload() {
  bool v = false;
  lockQueue_->sync([&] { v = SDKConstantsNeedReload_; });
  return v;
}
std::uint64_t QMASDKCoreController::lastWebViewRefreshTimestamp() {
  std::uint64_t v = 0;
  lockQueue_->sync([&] { v = lastWebViewRefreshTimestamp_; });
  return v;
}
std::size_t QMASDKCoreController::pendingRequestCount() {
  std::size_t n = 0;
  lockQueue_->sync([&] { n = pendingBuildAdURLDelegates_.size(); });
  return n;
}
std::size_t QMASDKCoreController::waitingRequestCount() {
  std::size_t n = 0;
  lockQueue_->sync([&] { n = pendingActiveWebViewLoadDelegates_.size(); });
  return n;
}

std::shared_ptr<QMASDKCoreWebView> QMASDKCoreController::SDKCoreWebViewForVistraceProcessing() {
  WV_DCHECK_MAIN_THREAD();
  removeFinishedVistraceWebViews();
  // A shared page whose load failed runs nothing it is sent: every later report would be
  // dropped for the rest of the process, so a new page takes its place.
  std::shared_ptr<QMASDKCoreWebView> shared;
  lockQueue_->sync([&] { shared = vistraceSDKCoreWebView_; });
  const bool sharedFailed = shared && shared->state() == 4;
  std::shared_ptr<QMASDKCoreWebView> page;
  lockQueue_->sync([&] {
    if (useNewWebViewsForVistraceProcessing_) {
      page = QMASDKCoreWebView::init();
    } else if (SDKCoreUpdateHandled_ && vistraceSDKCoreWebView_ &&
               !(sharedFailed && vistraceSDKCoreWebView_ == shared)) {
      page = vistraceSDKCoreWebView_;
      SDKCoreUpdateHandled_ = true;
      return;
    } else {
      page = QMASDKCoreWebView::init();
      vistraceSDKCoreWebView_ = page;
    }
    SDKCoreUpdateHandled_ = true;
    page->refreshSDKCoreAndNotifyObserver(nullptr);
  });
  return page;
}

void QMASDKCoreController::finishedUsingSDKCoreWebViewForVistraceProcessing(const std::shared_ptr<QMASDKCoreWebView>& page) {
  if (page && page->isVistraceRunning()) cacheRunningVistraceWebView(page);
}

void QMASDKCoreController::cacheRunningVistraceWebView(const std::shared_ptr<QMASDKCoreWebView>& page) {
  auto self = shared_from_this();
  lockQueue_->async([self, page] {
    auto& cache = self->vistraceSDKCoreWebViews_;
    if (std::find(cache.begin(), cache.end(), page) == cache.end()) cache.push_back(page);
  });
  removeFinishedVistraceWebViews();
}

void QMASDKCoreController::removeFinishedVistraceWebViews() {
  std::vector<std::shared_ptr<QMASDKCoreWebView>> evicted;
  lockQueue_->sync([&] {
    std::vector<std::shared_ptr<QMASDKCoreWebView>> kept;
    for (auto it = vistraceSDKCoreWebViews_.rbegin(); it != vistraceSDKCoreWebViews_.rend(); ++it) {
      if ((*it)->isVistraceRunning() && kept.size() < vistraceUnloadCacheMaxSize_) kept.insert(kept.begin(), *it);
      else evicted.push_back(*it);
    }
    vistraceSDKCoreWebViews_ = std::move(kept);
  });
  for (const auto& page : evicted) {
    page->clearAllVistraceInstances();
    finishedUsingSDKCoreWebViewForVistraceProcessing(page);
  }
}

std::vector<std::shared_ptr<QMASDKCoreWebView>> QMASDKCoreController::vistraceSDKCoreWebViews() {
  std::vector<std::shared_ptr<QMASDKCoreWebView>> copy;
  lockQueue_->sync([&] { copy = vistraceSDKCoreWebViews_; });
  return copy;
}
