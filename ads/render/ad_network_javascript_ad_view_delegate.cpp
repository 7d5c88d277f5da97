#include "ads/render/ad_network_javascript_ad_view_delegate.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "ads/render/ad_view.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/net/http.h"
#include "platform/uikit/graphics_context.h"

namespace {

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Pixels of at most 1 point each side below this count are no picture of the ad.
std::optional<std::uint32_t> pixelsFor(double points) {
  if (!(points >= 1) || points > 16384) return std::nullopt;
  return static_cast<std::uint32_t>(std::floor(points));
}

}  // namespace

// ---- QMAAdViewRenderedChecker

double QMAAdViewRenderedChecker::percentOfImageOfColor(const std::shared_ptr<uikit::Image>& image,
                                                       const std::optional<uikit::Color>& color) {
  if (!color) return 0;
  if (!image || image->pixelWidth() == 0 || image->pixelHeight() == 0) return std::numeric_limits<double>::quiet_NaN();
  // The drawing holds premultiplied components: compare with the colour as it is drawn.
  const double a = std::clamp(color->alpha, 0.0, 1.0);
  const uikit::Color drawn = uikit::Color::colorWithRedGreenBlueAlpha(std::clamp(color->red, 0.0, 1.0) * a,
                                                                      std::clamp(color->green, 0.0, 1.0) * a,
                                                                      std::clamp(color->blue, 0.0, 1.0) * a, a);
  return image->shareOfPixelsOfColor(drawn, kColorTolerance);
}

void QMAAdViewRenderedChecker::checkIsContentRenderedInAdView() {
  WV_DCHECK_MAIN_THREAD();
  auto view = adView_.lock();
  auto delegate = delegate_.lock();
  if (!view || !delegate) return;
  // The ad view at its frame size and scale 1; a view too small for one pixel has no
  // picture, and the share of an empty picture is not a number.
  std::shared_ptr<uikit::Image> image;
  const auto width = pixelsFor(view->frame().size.width), height = pixelsFor(view->frame().size.height);
  if (width && height) {
    uikit::GraphicsContext context(*width, *height);
    // What the page drew counts, shown or not: a banner stays hidden until its load is
    // reported, which waits for this very check.
    const bool hidden = view->isHidden();
    view->uikit::View::setHidden(false);
    view->renderInContext(context);
    view->uikit::View::setHidden(hidden);
    image = context.makeImage(1);
  }
  const double share = percentOfImageOfColor(image, view->backgroundColor());
  if (share < kRenderedBackgroundShare)
    delegate->adViewDidRenderContent(*view);
  else
    delegate->adViewDidFailToRenderContent(*view);  // also when the share is not a number
}

// ---- QMAAdNetworkJavaScriptAdViewDelegate

std::shared_ptr<QMAAdNetworkJavaScriptAdViewDelegate> QMAAdNetworkJavaScriptAdViewDelegate::initWithSlotPassbackURL(
    std::weak_ptr<QMARenderingSlot> slot, std::optional<net::URL> passbackURL) {
  auto delegate = std::make_shared<QMAAdNetworkJavaScriptAdViewDelegate>();
  delegate->setUpWithSlot(std::move(slot));
  delegate->passbackURL_ = std::move(passbackURL);
  return delegate;
}

QMAAdNetworkJavaScriptAdViewDelegate::~QMAAdNetworkJavaScriptAdViewDelegate() {
  // The run loop holds the timer's block, which holds this delegate weakly: end it here.
  if (checkRenderingTimerLoop_ && checkRenderingTimer_) checkRenderingTimerLoop_->invalidateTimer(checkRenderingTimer_);
}

bool QMAAdNetworkJavaScriptAdViewDelegate::isCheckRenderingTimerRunning() const {
  return checkRenderingTimerLoop_ && checkRenderingTimer_ && checkRenderingTimerLoop_->isTimerValid(checkRenderingTimer_);
}

bool QMAAdNetworkJavaScriptAdViewDelegate::isPassbackRequest(const net::URLRequest& request) const {
  const net::URL& url = request.url;
  if (lowercased(url.scheme().value_or("")) == "passback") return true;
  if (!passbackURL_) return false;
  const auto passbackHost = passbackURL_->host(), host = url.host();
  // Scheme, query and fragment do not count; hosts ignore case, paths one trailing "/".
  if (passbackHost.has_value() != host.has_value()) return false;
  if (passbackHost && lowercased(*passbackHost) != lowercased(*host)) return false;
  return qma_stripTrailingSlash(passbackURL_->path()) == qma_stripTrailingSlash(url.path());
}

void QMAAdNetworkJavaScriptAdViewDelegate::startRenderingTimerForAdView(const std::shared_ptr<QMAAdView>& adView) {
  WV_DCHECK_MAIN_THREAD();
  stopRenderingTimer();
  adViewRenderedChecker_ = std::make_shared<QMAAdViewRenderedChecker>();
  adViewRenderedChecker_->setAdView(adView);
  adViewRenderedChecker_->setDelegate(
      std::static_pointer_cast<QMAAdViewRenderedCheckerDelegate>(
          std::static_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(shared_from_this())));
  std::weak_ptr<QMAAdViewRenderedChecker> checker = adViewRenderedChecker_;
  checkRenderingTimerLoop_ = &dispatch::RunLoop::current();
  checkRenderingTimer_ = checkRenderingTimerLoop_->addTimer(
      kCheckRenderingInterval, kCheckRenderingInterval, true,
      [checker] {
        if (auto c = checker.lock()) c->checkIsContentRenderedInAdView();
      },
      dispatch::TimerModes::Default);
}

void QMAAdNetworkJavaScriptAdViewDelegate::stopRenderingTimer() {
  WV_DCHECK_MAIN_THREAD();
  if (adViewRenderedChecker_) {
    adViewRenderedChecker_->setAdView({});
    adViewRenderedChecker_->setDelegate({});
    adViewRenderedChecker_.reset();
  }
  if (checkRenderingTimerLoop_ && checkRenderingTimer_) checkRenderingTimerLoop_->invalidateTimer(checkRenderingTimer_);
  checkRenderingTimerLoop_ = nullptr;
  checkRenderingTimer_ = 0;
}

std::optional<bool> QMAAdNetworkJavaScriptAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(
    QMAAdView& adView, const net::URLRequest& request, webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  if (request.url.absoluteString().empty()) return false;
  if (!isPassbackRequest(request))
    return QMABannerAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(adView, request, type);
  auto keep = shared_from_this();
  wasPassbackReceived_ = true;
  stopRenderingTimer();
  if (auto s = slot()) {
    s->didFailToReceiveAdWithErrorShouldCancelPendingActions(
        QMARequestError::errorWithCodeRequestHTTPStatusCodeCustomMessage(QMARequestErrorCodeNoAd, s->request(), 0,
                                                                         "Passback URL received."),
        true);
    s->scheduleAdReloadTimer();
  }
  return false;
}

void QMAAdNetworkJavaScriptAdViewDelegate::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  // Only the first finish starts the checks (an iframe's finish comes later); the page's
  // own finish says nothing about what the network's script drew.
  if (renderingCheckHasStarted_ || wasPassbackReceived_) return;
  auto keep = shared_from_this();
  renderingCheckHasStarted_ = true;
  if (auto s = slot()) s->willLoadAdHTMLInWebView();
  startRenderingTimerForAdView(std::static_pointer_cast<QMAAdView>(adView.shared_from_this()));
}

void QMAAdNetworkJavaScriptAdViewDelegate::adViewDidRenderContent(QMAAdView& adView) {
  std::weak_ptr<QMAAdView> weakView = std::static_pointer_cast<QMAAdView>(adView.shared_from_this());
  std::weak_ptr<QMAAdViewDelegate> weakSelf = weak_from_this();
  QMARunOnMainThread([weakView, weakSelf] {
    auto self = std::static_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(weakSelf.lock());
    auto view = weakView.lock();
    if (!self) return;
    self->stopRenderingTimer();
    if (view) self->QMABannerAdViewDelegate::adViewDidFinishLoad(*view);
  });
}

void QMAAdNetworkJavaScriptAdViewDelegate::adViewDidFailToRenderContent(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  ++checkRenderingCount_;
  if (checkRenderingCount_ <= kMaximumCheckRenderingCount) return;
  auto keep = shared_from_this();
  stopRenderingTimer();
  // The banner's failure path reports its own request error 2 (unless the ad is ready).
  adViewDidFailLoadWithError(
      adView, QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeNoAd, std::string("Ad check timed out.")));
}
