#include "ads/mediation/html_adapter.h"

#include <cmath>
#include <limits>

#include "ads/model/ad_size.h"
#include "ads/model/request_error.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/net/ad_network.h"
#include "platform/uikit/graphics_context.h"

using foundation::Dictionary;

namespace {

// Runs `work` on the main thread and returns once it ran.
void onMainThreadAndWait(const std::function<void()>& work) {
  if (dispatch::isMainThread()) {
    work();
  } else {
    dispatch::Queue::main()->sync(work);
  }
}

}  // namespace

// ---- the rendered check

double QMAMWebViewRenderedChecker::percentOfImageOfColor(const uikit::Image& image, const uikit::Color& color) {
  if (image.pixelWidth() == 0 || image.pixelHeight() == 0) return std::numeric_limits<double>::quiet_NaN();
  return image.shareOfPixelsOfColor(color, kColorTolerance);
}

void QMAMWebViewRenderedChecker::checkIsContentRenderedInWebView() {
  WV_DCHECK_MAIN_THREAD();
  auto webView = this->webView();
  auto delegate = this->delegate();
  if (!webView || !delegate) return;
  const uikit::Size size = webView->frame().size;
  double share = std::numeric_limits<double>::quiet_NaN();
  // A view of less than one pixel either way has nothing to show.
  if (std::isfinite(size.width) && std::isfinite(size.height) && size.width >= 1 && size.height >= 1 &&
      size.width <= 16384 && size.height <= 16384) {
    uikit::GraphicsContext context(static_cast<std::uint32_t>(size.width), static_cast<std::uint32_t>(size.height));
    webView->renderInContext(context);
    share = percentOfImageOfColor(*context.makeImage(1), webView->backgroundColor().value_or(uikit::Color::clearColor()));
  }
  // Not a number (no pixels) is no drawing.
  delegate->webViewIsRendered(*webView, share < kRenderedBelowShareOfBackground);
}

// ---- the adapter class

void QMAMAdapterHTML::registerClass() {
  auto cls = makeAdapterClass<QMAMAdapterHTML>(kQMAMAdapterHTMLClassName);
  if (!cls) return;
  cls->addClassMethod<std::string()>("adapterVersion", [] { return adapterVersion(); });
  // No "networkExtrasClass": the network takes no extras.
  runtime::objc_registerClassPair(cls);
}

QMAMAdapterHTML::~QMAMAdapterHTML() {
  connector_.reset();
  if (webView_) webView_->setDelegate({});
  if (webViewRenderedChecker_) {
    webViewRenderedChecker_->setWebView({});
    webViewRenderedChecker_->setDelegate({});
  }
  if (checkRenderingTimer_) checkRenderingTimer_->invalidate();
}

net::URL QMAMAdapterHTML::baseURL() {
  std::string root = "http://127.0.0.1/";
  if (auto server = net::URL::fromString(net::adNetworkBaseURL()); server && server->host()) {
    root = "http://" + *server->host();
    if (auto port = server->port()) root += ":" + std::to_string(*port);
    root += "/";
  }
  return *net::URL::fromString(root);
}

foundation::Error QMAMAdapterHTML::errorWithCodeText(long code, const std::string& text) {
  return foundation::Error{kQMAErrorDomain, code, Dictionary{{foundation::kLocalizedDescriptionKey, text}}};
}

void QMAMAdapterHTML::failInterstitialRequest() {
  if (auto c = connector()) c->adapterDidFailInterstitial(*this, errorWithCodeText(0, "Interstitials not supported."));
}

void QMAMAdapterHTML::failBanner(long code, const std::string& text) {
  if (auto c = connector()) c->adapterDidFailAd(*this, errorWithCodeText(code, text));
}

void QMAMAdapterHTML::getBannerWithSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  clearWebView();
  auto c = connector();
  const Dictionary credentials = c ? c->credentials() : Dictionary{};
  // The passback URL is checked before the HTML.
  if (auto it = credentials.find("dravotym_passback_url"); it != credentials.end()) {
    const std::string* text = it->second.asString();
    if (text && text->empty()) return failBanner(2, "Empty passback URL in TYM response.");
    std::optional<net::URL> url = text ? net::URL::fromString(*text) : std::nullopt;
    if (!url) return failBanner(2, "Invalid passback URL in TYM response.");
    passbackUrl_ = std::move(url);
  }
  const std::string* html = foundation::stringForKey(credentials, "dravotym_html");
  if (!html || html->empty()) return failBanner(2, "Missing HTML in TYM response.");
  createWebViewWithSize(size);
  webView_->loadHTMLStringBaseURL(*html, baseURL());
  startRenderingTimer();
}

void QMAMAdapterHTML::createWebViewWithSize(QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  auto webView = webkit::WebView::create(uikit::Rect{{0, 0}, CGSizeFromQMAAdSize(size)});
  webView->scalesPageToFit = false;
  webView->setClipsToBounds(true);
  webView->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  webView->opaque = false;
  webView->setBackgroundColor(uikit::Color::clearColor());
  webView->allowsInlineMediaPlayback = true;
  webView->mediaPlaybackRequiresUserAction = true;
  webView->dataDetectorTypes = 0;
  webView->setDelegate(std::static_pointer_cast<webkit::WebViewDelegate>(shared_from_this()));
  webView_ = std::move(webView);
}

void QMAMAdapterHTML::stopBeingDelegate() {
  if (webView_) webView_->setDelegate({});
  stopRenderingTimer();
}

void QMAMAdapterHTML::clearWebView() {
  stopBeingDelegate();
  webView_.reset();
  passbackUrl_.reset();
}

void QMAMAdapterHTML::startRenderingTimer() {
  onMainThreadAndWait([this] {
    auto checker = std::make_shared<QMAMWebViewRenderedChecker>(
        webView_, std::static_pointer_cast<QMAMWebViewRenderedCheckerDelegate>(shared_from_this()));
    webViewRenderedChecker_ = checker;
    checkRenderingTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
        kCheckInterval, true, 0, [checker](const std::shared_ptr<QMATimer>&) { checker->checkIsContentRenderedInWebView(); });
  });
}

void QMAMAdapterHTML::stopRenderingTimer() {
  onMainThreadAndWait([this] {
    if (webViewRenderedChecker_) {
      webViewRenderedChecker_->setWebView({});
      webViewRenderedChecker_->setDelegate({});
      webViewRenderedChecker_.reset();
    }
    if (checkRenderingTimer_) {
      checkRenderingTimer_->invalidate();
      checkRenderingTimer_.reset();
    }
  });
}

void QMAMAdapterHTML::webViewIsRendered(webkit::WebView& webView, bool rendered) {
  WV_DCHECK_MAIN_THREAD();
  if (&webView != webView_.get()) return;
  auto keep = shared_from_this();
  ++checkRenderingCount_;
  if (rendered) {
    stopRenderingTimer();
    if (auto c = connector()) c->adapterDidReceiveAdView(*this, webView_);
    return;
  }
  // A page that never draws is left to the waterfall's own time-out.
  if (checkRenderingCount_ >= kMaximumChecks) stopRenderingTimer();
}

// ---- navigation and the passback

std::string QMAMAdapterHTML::stripTrailingSlashFromPath(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path.substr(0, path.size() - 1);
  return path;
}

bool QMAMAdapterHTML::isPathEquivalentToPath(const std::string& path, const std::string& otherPath) {
  return stripTrailingSlashFromPath(path) == stripTrailingSlashFromPath(otherPath);
}

bool QMAMAdapterHTML::isPassbackRequest(const net::URLRequest& request) const {
  const net::URL& url = request.url;
  if (url.scheme() == std::optional<std::string>("passback")) return true;
  if (!passbackUrl_) return false;
  if (passbackUrl_->host() != url.host()) return false;
  return isPathEquivalentToPath(passbackUrl_->path(), url.path());
}

bool QMAMAdapterHTML::webViewShouldStartLoadWithRequestNavigationType(webkit::WebView& webView,
                                                                      const net::URLRequest& request,
                                                                      webkit::NavigationType) {
  WV_DCHECK_MAIN_THREAD();
  if (&webView != webView_.get()) return false;
  if (request.url.absoluteString().empty()) return false;
  if (!isPassbackRequest(request)) return true;
  auto keep = shared_from_this();
  stopRenderingTimer();
  failBanner(1, "Ad network returned no ad.");
  return false;
}
