#include "ads/render/ad_view.h"

#include "ads/render/mraid_interceptor.h"
#include "ads/render/web_view_cache.h"
#include "ads/services/device.h"
#include "ads/services/logging.h"
#include "ads/services/sdk_version.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"
#include "platform/net/connection.h"
#include "platform/uikit/pasteboard.h"

namespace {

// Whether some web view of the process has supplied the user agent. Main thread only.
bool userAgentCaptured = false;
constexpr std::size_t kMaximumTouchSamples = 100;

}  // namespace

// ---- signal collector

QMASignalCollector& QMASignalCollector::sharedInstance() {
  static QMASignalCollector collector;
  return collector;
}

void QMASignalCollector::addTouchSample(std::int32_t x, std::int32_t y, std::int32_t duration) {
  WV_DCHECK_MAIN_THREAD();
  samples_.push_back({x, y, duration});
  while (samples_.size() > kMaximumTouchSamples) samples_.pop_front();
}

std::vector<QMASignalCollector::Sample> QMASignalCollector::samples() const {
  WV_DCHECK_MAIN_THREAD();
  return {samples_.begin(), samples_.end()};
}

void QMASignalCollector::removeAllSamples() {
  WV_DCHECK_MAIN_THREAD();
  samples_.clear();
}

// ---- helpers

std::string QMAScriptSafeJSON(std::string json) {
  std::string out;
  out.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (static_cast<unsigned char>(json[i]) == 0xE2 && i + 2 < json.size() &&
        static_cast<unsigned char>(json[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(json[i + 2]) == 0xA8 || static_cast<unsigned char>(json[i + 2]) == 0xA9)) {
      out += static_cast<unsigned char>(json[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out.push_back(json[i]);
    }
  }
  return out;
}

void QMASendBadAdReport(const std::optional<std::string>& debugText) {
  std::string endpoint = net::adNetworkURL("/s/reportAd");
  if (auto stored = foundation::UserDefaults::standardUserDefaults()->stringForKey(QMAAdView::kBadAdReportPathKey);
      stored && !stored->empty()) {
    endpoint = *stored;
  }
  auto url = net::URL::fromString(endpoint);
  if (!url) return;
  foundation::Dictionary body;
  body["debugHeader"] = debugText ? foundation::Value(*debugText) : foundation::Value();
  const std::string json = foundation::jsonSerialize(body);
  auto request = qma_requestForURLDataHeadersType(*url, foundation::Bytes(json.begin(), json.end()), std::nullopt,
                                                  std::string("application/json"));
  if (!request) return;
  request->cachePolicy = net::CachePolicy::ReloadIgnoringLocalCacheData;
  net::sendAsynchronousRequest(*request, net::deliverOn(dispatch::OperationQueue::mainQueue()),
                               [](net::URLResponsePtr, net::Bytes, std::optional<foundation::Error>) {});
}

// ---- the ad view

const std::shared_ptr<uikit::Window>& QMAAdView::placeholderWindow() {
  WV_DCHECK_MAIN_THREAD();
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* window = new std::shared_ptr<uikit::Window>(std::make_shared<uikit::Window>());
  return *window;
}

std::shared_ptr<QMAAdView> QMAAdView::initWithFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  auto view = std::make_shared<QMAAdView>(frame);
  view->setUp();
  return view;
}

QMAAdView::QMAAdView(uikit::Rect frame) : uikit::View(frame) {}

void QMAAdView::setUp() {
  gestureDelegate_ = std::make_shared<QMAUIWebViewGestureDelegate>();
  gesture_ = std::make_shared<QMAImpressionTicketGestureRecognizer>();
  gesture_->setDelegate(gestureDelegate_);
  showDebug_ = true;
  webView_ = cachedWebView();
  if (webView_) {
    webView_->setFrame(frame());
  } else {
    webView_ = webkit::WebView::create(frame());
  }
  webView_->setDelegate(std::static_pointer_cast<webkit::WebViewDelegate>(self()));
  webView_->scrollView.bounces = true;
  addSubview(webView_);
  eventQueueSuspended_ = true;
  reset();
}

QMAAdView::~QMAAdView() {
  WV_DCHECK_MAIN_THREAD();
  if (webView_) webView_->setDelegate({});
  if (gesture_) gesture_->setDelegate({});
  if (URL_) QMAAdURLStash::removeURLForView(*URL_, this);
  if (webView_) cacheWebView(webView_);
}

void QMAAdView::setDelegate(std::weak_ptr<QMAAdViewDelegateProtocol> delegate) {
  WV_DCHECK_MAIN_THREAD();
  delegate_ = std::move(delegate);
}

void QMAAdView::reset() {
  WV_DCHECK_MAIN_THREAD();
  webView_->setClipsToBounds(true);
  webView_->scalesPageToFit = true;
  setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  webView_->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  setOpaque(false);
  webView_->setBackgroundColor(uikit::Color::clearColor());
  webView_->dataDetectorTypes = 0;
  webView_->allowsInlineMediaPlayback = true;
  webView_->mediaPlaybackRequiresUserAction = false;
  webView_->mediaPlaybackAllowsAirPlay = true;
  webView_->scrollView.scrollEnabled = true;
  webView_->scrollView.scrollsToTop = false;
  createGestureRecognizer();
}

void QMAAdView::setOpaque(bool opaque) {
  WV_DCHECK_MAIN_THREAD();
  webView_->opaque = opaque;
}

void QMAAdView::configureAsBannerAdView() {
  WV_DCHECK_MAIN_THREAD();
  webView_->scrollView.bounces = false;
  webView_->scalesPageToFit = false;
  webView_->mediaPlaybackRequiresUserAction =
      foundation::UserDefaults::standardUserDefaults()->boolForKey(kBannerPreventAutoplayKey);
  setHidden(true);
}

void QMAAdView::configureAsInterstitialAdView() {
  WV_DCHECK_MAIN_THREAD();
  webView_->scrollView.bounces = false;
  webView_->scalesPageToFit = false;
}

void QMAAdView::createGestureRecognizer() {
  WV_DCHECK_MAIN_THREAD();
  if (!gesture_) return;
  for (const auto& r : recognizers_)
    if (r == gesture_) return;
  std::weak_ptr<QMAAdView> weak = self();
  gesture_->addTarget([weak](uikit::GestureRecognizer& recognizer) {
    if (auto v = weak.lock()) v->handleGesture(recognizer);
  });
  gesture_->setView(weak);
  recognizers_.push_back(gesture_);
}

void QMAAdView::suspendEventQueue() {
  waitingEvents_.clear();
  eventQueueSuspended_ = true;
}

void QMAAdView::loadRequest(const net::URLRequest& request) {
  WV_DCHECK_MAIN_THREAD();
  suspendEventQueue();
  // A new document has no orientation getter yet: the next one given must reach it.
  orientation_ = 0;
  webView_->loadRequest(request);
}

void QMAAdView::loadHTMLStringBaseURL(std::string html, std::optional<net::URL> baseURL) {
  WV_DCHECK_MAIN_THREAD();
  suspendEventQueue();
  orientation_ = 0;
  setURLForView(baseURL, self());
  webView_->loadHTMLStringBaseURL(std::move(html), std::move(baseURL));
}

void QMAAdView::setURLForView(const std::optional<net::URL>& url, const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  if (URL_) QMAAdURLStash::removeURLForView(*URL_, this);
  URL_ = url;
  auto adView = std::dynamic_pointer_cast<QMAAdView>(view);
  if (url && adView) QMAAdURLStash::addURLForView(*url, adView);
}

std::string QMAAdView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  WV_DCHECK_MAIN_THREAD();
  return webView_->stringByEvaluatingJavaScriptFromString(script);
}

void QMAAdView::executeJavaScriptAsynchronouslyFromString(std::string_view script) {
  WV_DCHECK_MAIN_THREAD();
  // Sent without waiting for the page: nobody reads the result, and a synchronous wait
  // would cost a round trip to the page per call (a batch of requests to the SDK-core page
  // paid one each) and run the loop nested inside the caller. Evaluations keep the order
  // they were sent in, so later calls still find this one's work scheduled.
  webView_->evaluateJavaScript("setTimeout(function(){" + std::string(script) + "}, 1);");
}

std::optional<std::string> QMAAdView::JSCommandForNotificationNameUserInfo(
    const std::string& name, const std::optional<foundation::Dictionary>& userInfo) {
  if (!userInfo) return "QVRA_ReceiveMessage('" + name + "');";
  auto json = qma_JSONStringPretty(*userInfo, false);
  if (!json) return std::nullopt;
  return "QVRA_ReceiveMessage('" + name + "', " + QMAScriptSafeJSON(std::move(*json)) + ");";
}

void QMAAdView::postJSNotificationUserInfo(const std::string& name,
                                           const std::optional<foundation::Dictionary>& userInfo) {
  WV_DCHECK_MAIN_THREAD();
  auto command = JSCommandForNotificationNameUserInfo(name, userInfo);
  if (!command) {
    // Half a call would fail in the page anyway; say so instead.
    QMALog("Message %@ not sent: its parameters cannot be written as JSON.", name);
    return;
  }
  // One queue per view, sent in order: whatever posts a message while the queue is being
  // sent (a timer, a download's report run by a nested turn of the main loop) only joins
  // the queue behind the ones already waiting. performBlock wakes the main run loop, so the
  // message goes out even when nothing else is happening. Nothing reads the page's answer,
  // so it is not waited for; the engine runs evaluations in the order they were sent.
  pendingJSCommands_.push_back(std::move(*command));
  if (JSCommandsScheduled_) return;
  JSCommandsScheduled_ = true;
  auto keep = self();
  dispatch::RunLoop::main().performBlock([keep] { keep->sendPendingJSCommands(); });
}

void QMAAdView::sendPendingJSCommands() {
  JSCommandsScheduled_ = false;
  if (sendingJSCommands_) return;  // the sending further out goes on with the queue
  sendingJSCommands_ = true;
  auto keep = self();
  while (!pendingJSCommands_.empty()) {
    const std::string command = std::move(pendingJSCommands_.front());
    pendingJSCommands_.pop_front();
    webView_->evaluateJavaScript(command);
  }
  sendingJSCommands_ = false;
}

void QMAAdView::dispatchSDKEventParameters(const std::string& name,
                                           const std::optional<foundation::Dictionary>& parameters) {
  WV_DCHECK_MAIN_THREAD();
  foundation::Dictionary event;
  event["version"] = kQMASDKVersion;
  event["device"] = QMADevice::sharedInstance()->deviceSubmodel().value_or("");
  if (parameters)
    for (const auto& [k, v] : *parameters) event[k] = v;
  if (eventQueueSuspended_) {
    if (waitingEvents_.size() >= kMaximumWaitingSDKEvents) return;
    waitingEvents_.emplace_back(name, std::move(event));
    return;
  }
  postJSNotificationUserInfo(name, event);
}

void QMAAdView::setHTMLWindowOrientationShouldDispatchOrientationChangeEvent(long orientation, bool dispatchEvent) {
  WV_DCHECK_MAIN_THREAD();
  if (orientation < 1 || orientation > 4 || orientation == orientation_) return;
  orientation_ = orientation;
  static const long kDegrees[] = {0, 0, 180, 90, -90};
  std::string script =
      "window.__defineGetter__('orientation',function(){return " + std::to_string(kDegrees[orientation]) + ";});";
  if (dispatchEvent) {
    script +=
        "(function(){var event = document.createEvent('Events');event.initEvent('orientationchange', true, "
        "false);window.dispatchEvent(event);})();";
  }
  executeJavaScriptAsynchronouslyFromString(script);
}

void QMAAdView::saveState() {
  WV_DCHECK_MAIN_THREAD();
  if (savedState_) return;
  savedState_ = std::make_unique<QMAAdViewState>(QMAAdViewState{frame(), superview(), delegate_, viewController_});
}

void QMAAdView::restoreState() {
  WV_DCHECK_MAIN_THREAD();
  if (!savedState_) return;
  auto saved = std::move(savedState_);
  auto keep = self();
  removeFromSuperview();
  setFrame(saved->frame);
  if (saved->superview) saved->superview->addSubview(keep);
  delegate_ = saved->delegate;
  viewController_ = saved->viewController;
}

void QMAAdView::setFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  uikit::View::setFrame(frame);
  webView_->setFrame(bounds());
}

std::shared_ptr<uikit::View> QMAAdView::hitTest(uikit::Point p) {
  WV_DCHECK_MAIN_THREAD();
  touched_ = true;
  QMASignalCollector::sharedInstance().addTouchSample(static_cast<std::int32_t>(p.x), static_cast<std::int32_t>(p.y),
                                                      -1);
  return uikit::View::hitTest(p);
}

void QMAAdView::handleGesture(uikit::GestureRecognizer&) {
  WV_DCHECK_MAIN_THREAD();
  if (!showDebug_) return;
  const std::string message = adDebugDialog_.value_or("Creative information is not available");
  alertView_ = uikit::AlertView::alertViewWithTitleMessageCancelButtonTitle("Debug Creative Info", message, "OK");
  alertButtonTitles_ = {"OK"};
  if (adDebugDialog_) {
    alertButtonTitles_.push_back("Copy");
    alertButtonTitles_.push_back("Report");
  }
  alertView_->show();
}

void QMAAdView::alertViewClickedButtonAtIndex(long index) {
  WV_DCHECK_MAIN_THREAD();
  if (!adDebugDialog_ || adDebugDialog_->empty()) return;
  if (index == 1) uikit::Pasteboard::generalPasteboard().setString(*adDebugDialog_);
  else if (index == 2) QMASendBadAdReport(adDebugDialog_);
}

bool QMAAdView::webViewShouldStartLoadWithRequestNavigationType(webkit::WebView&, const net::URLRequest& request,
                                                                webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  if (!userAgentCaptured) {
    if (auto ua = request.headers.get("User-Agent"); ua && !ua->empty()) {
      QMADevice::sharedInstance()->setUserAgentString(*ua);
      userAgentCaptured = true;
    }
  }
  auto keep = self();
  auto d = delegate_.lock();
  if (!d) return true;
  return d->adViewShouldStartLoadWithRequestNavigationType(*this, request, type).value_or(true);
}

void QMAAdView::webViewDidStartLoad(webkit::WebView&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  // A document the page goes to itself (a link, a script, a form, back or forward) comes
  // without the old one's orientation getter too: the next orientation given must reach
  // it, even when it is the one the old document had.
  orientation_ = 0;
  if (auto d = delegate_.lock()) d->adViewDidStartLoad(*this);
}

void QMAAdView::webViewDidFinishLoad(webkit::WebView&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (eventQueueSuspended_) {
    eventQueueSuspended_ = false;
    auto waiting = std::move(waitingEvents_);
    waitingEvents_.clear();
    for (auto& [name, params] : waiting) postJSNotificationUserInfo(name, params);
  }
  if (auto d = delegate_.lock()) d->adViewDidFinishLoad(*this);
}

void QMAAdView::webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (auto d = delegate_.lock()) d->adViewDidFailLoadWithError(*this, error);
}

void QMAAdView::webViewWebContentProcessDidTerminate(webkit::WebView&) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  // The page that would have run them is gone: events wait for the next document.
  suspendEventQueue();
  orientation_ = 0;
  if (auto d = delegate_.lock()) d->adViewWebContentProcessDidTerminate(*this);
}

void QMAAdView::resetUserAgentCaptureForTesting() { userAgentCaptured = false; }

// ---- the reuse cache's class side

const std::shared_ptr<QMAWebViewCacheSet>& QMAAdView::webViewCache() { return QMAWebViewCacheSet::sharedCache(); }

std::shared_ptr<webkit::WebView> QMAAdView::cachedWebView() {
  return std::static_pointer_cast<webkit::WebView>(webViewCache()->anyObject());
}

void QMAAdView::cacheWebView(std::shared_ptr<webkit::WebView> webView) {
  if (webView) webViewCache()->addObject(std::move(webView));
}
