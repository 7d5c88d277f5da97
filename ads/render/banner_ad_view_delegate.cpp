#include "ads/render/banner_ad_view_delegate.h"

#include <algorithm>
#include <cctype>

#include "ads/render/ad_app_qomb_handler.h"
#include "ads/render/app_event_qomb_handler.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/render/swipe_qomb_handler.h"
#include "ads/services/absolute_time.h"
#include "ads/services/logging.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/net/http.h"

namespace {

std::string lowercaseScheme(const net::URL& url) {
  std::string scheme = url.scheme().value_or("");
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

}  // namespace

std::shared_ptr<QMABannerAdViewDelegate> QMABannerAdViewDelegate::initWithSlot(std::weak_ptr<QMARenderingSlot> slot) {
  auto delegate = std::make_shared<QMABannerAdViewDelegate>();
  delegate->setUpWithSlot(std::move(slot));
  return delegate;
}

QMABannerAdViewDelegate::~QMABannerAdViewDelegate() {
  if (holdsMRAIDInterceptorShare_) QMAMRAIDInterceptor::disableCanInitWithRequest();
}

void QMABannerAdViewDelegate::setUpWithSlot(std::weak_ptr<QMARenderingSlot> slot) {
  slot_ = slot;
  if (opener()) opener()->setSlot(slot);
  // After the base handlers: app events from the creative, the web-app controller's
  // settings (an interstitial's creative may send them while it loads), then the page's
  // delay, then the creative's switch of the swipe to the store page.
  addQOMBHandler(QMAAppEventQOMBHandler::initWithSlot(slot.lock()));
  addQOMBHandler(QMAAdAppQOMBHandler::init());
  auto self = std::static_pointer_cast<QMABannerAdViewDelegate>(shared_from_this());
  addQOMBHandler(QMADelayPageLoadQOMBHandler::initWithDelegate(std::static_pointer_cast<QMADelayLoadDelegate>(self)));
  addQOMBHandler(QMASwipeToViewControllerQOMBHandler::initWithSlot(slot));
}

bool QMABannerAdViewDelegate::isClick(webkit::NavigationType type) const {
  WV_DCHECK_MAIN_THREAD();
  auto s = slot();
  if (!s) return false;
  switch (s->state()) {
    case 0: case 2: case 3: case 4: case 6: case 7: break;
    default: return false;
  }
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  // Unsigned, as the times are: a load stamped in the future reads as long ago.
  if (static_cast<double>(now - s->timeLastLoaded()) / 1000.0 < kMinimumSecondsFromLoadToClick) return false;
  if (type == webkit::NavigationType::BackForward || type == webkit::NavigationType::Reload) return false;
  auto view = s->adView();
  return view && view->touched();
}

std::optional<bool> QMABannerAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(
    QMAAdView& adView, const net::URLRequest& request, webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  if (type != webkit::NavigationType::Reload) {
    auto s = slot();
    if (s && s->state() == 5) {
      // The next ad's page starts in the view (its URL is the view's already). A reload of
      // the old page still under way is stopped before the new page reaches the engine,
      // and a late step of it is refused: it would take the view's URL, and with it the
      // new page's MRAID script, back to the old page.
      const bool newPage = adView.URL() && *adView.URL() == request.url;
      if (newPage && reloadingAfterProcessEnd_) {
        QMALog("The ad's page was being loaded again when the next ad came; the next ad replaces it.");
        supersededReloadURL_ = reloadedURL_;
        endReloadAfterProcessEnd();
        adView.stopLoading();
      } else if (!newPage && supersededReloadURL_ && *supersededReloadURL_ == request.url) {
        return false;
      }
    }
  }
  if (!isClick(type)) return QMAAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(adView, request, type);
  auto keep = shared_from_this();
  // The click never loads here: the ad view's recorded page stays the creative's.
  const bool baseWouldLoad = decideNavigation(adView, request, type, false).value_or(true);
  if (!baseWouldLoad) return false;
  if (opener()) opener()->setReferringURL(adView.request() ? std::optional<net::URL>(adView.request()->url) : std::nullopt);
  auto s = slot();
  if (!s) return false;
  s->adWasClicked();
  const net::URL clickURL = s->gestureClickURLWithURL(request.url);
  if (lowercaseScheme(request.url).starts_with("http") && opener()) opener()->openApp(clickURL);
  return false;
}

void QMABannerAdViewDelegate::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  loadFinished_ = true;
  if (loadDelayed_) return;
  auto keep = shared_from_this();
  // The shown ad is back after its web process ended: the same ad, so no new impression.
  if (reloadingAfterProcessEnd_) endReloadAfterProcessEnd();
  QMAAdViewDelegate::adViewDidFinishLoad(adView);
  auto s = slot();
  if (!s || s->state() != 5) return;
  reloadsAfterProcessEnd_ = 0;
  awaitingNextAdAfterProcessEnd_ = false;
  supersededReloadURL_.reset();
  s->didReceiveValidAd();
  s->didLoadAdHTMLInWebView();
  adView.setHidden(false);
  auto type = s->adType();
  if (!type || !type->isInterstitial()) s->didMakeAdImpression();
  s->adFinishedLoadingContent();
}

void QMABannerAdViewDelegate::adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  QMAAdViewDelegate::adViewDidFailLoadWithError(adView, error);
  auto s = slot();
  if (s && s->state() == 5) {
    // The next ad's page failed: the slot tells its owner so, whatever the old page was.
    awaitingNextAdAfterProcessEnd_ = false;
    supersededReloadURL_.reset();
  }
  if (reloadingAfterProcessEnd_) {
    endReloadAfterProcessEnd();
    // The ad could not be shown again: it is over, whatever the slot does next.
    if (s && s->state() != 5) {
      s->adWebContentDidEnd();
      return;
    }
  }
  if (!s || s->state() == 6) return;
  s->didFailToReceiveAdWithErrorShouldCancelPendingActions(
      QMARequestError::errorWithCodeRequest(QMARequestErrorCodeNetworkError, s->request()), false);
}

void QMABannerAdViewDelegate::adViewWebContentProcessDidTerminate(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto s = slot();
  if (!s) return;
  const auto state = s->state();
  if (state == 8) return;
  if (state == 5) {
    // Still rendering (a delayed finish, say): the load failed.
    adViewDidFailLoadWithError(adView, net::makeLoadError(webkit::kErrorWebProcessTerminated,
                                                          "The ad's web process ended while it loaded."));
    return;
  }
  if (state >= 2 && state <= 4) {
    // The next ad is on its way and takes the page's place: a reload now would cross it in
    // the view. A request that ends without an ad ends the old one
    // (slotRequestDidEndWithoutAd).
    QMALog("The ad's web process ended while the next ad is on its way; that ad takes its place.");
    loadFinished_ = false;
    loadDelayed_ = false;
    awaitingNextAdAfterProcessEnd_ = true;
    return;
  }
  if (reloadsAfterProcessEnd_ >= kMaximumReloadsAfterProcessEnd) {
    QMALog("The ad's web process ended %d times; the ad is over.", reloadsAfterProcessEnd_ + 1);
    s->adWebContentDidEnd();
    return;
  }
  ++reloadsAfterProcessEnd_;
  QMALog("The ad's web process ended; the ad is loaded again (%d of %d).", reloadsAfterProcessEnd_,
         kMaximumReloadsAfterProcessEnd);
  loadFinished_ = false;
  loadDelayed_ = false;
  if (!holdsMRAIDInterceptorShare_) {
    holdsMRAIDInterceptorShare_ = true;
    QMAMRAIDInterceptor::enableCanInitWithRequest();
  }
  reloadingAfterProcessEnd_ = true;
  reloadedURL_ = adView.URL();
  adView.reload();
}

void QMABannerAdViewDelegate::slotRequestDidEndWithoutAd() {
  WV_DCHECK_MAIN_THREAD();
  if (!awaitingNextAdAfterProcessEnd_) return;
  awaitingNextAdAfterProcessEnd_ = false;
  auto keep = shared_from_this();
  auto s = slot();
  if (!s) return;
  QMALog("The ad's web process ended while its next ad was on the way, and none came; the ad is over.");
  s->adWebContentDidEnd();
}

void QMABannerAdViewDelegate::endReloadAfterProcessEnd() {
  reloadingAfterProcessEnd_ = false;
  if (holdsMRAIDInterceptorShare_) {
    holdsMRAIDInterceptorShare_ = false;
    QMAMRAIDInterceptor::disableCanInitWithRequest();
  }
}

void QMABannerAdViewDelegate::loadHandlerDidChangeDelayFromTo(QMADelayPageLoadQOMBHandler&, long from, long to) {
  WV_DCHECK_MAIN_THREAD();
  if (from == 0 && to >= 1) {
    loadDelayed_ = true;
  } else if (from >= 1 && to == 0) {
    loadDelayed_ = false;
    auto s = slot();
    auto view = s ? s->adView() : nullptr;
    if (loadFinished_ && view) adViewDidFinishLoad(*view);
  }
}

void QMABannerAdViewDelegate::loadHandlerDidCancel(QMADelayPageLoadQOMBHandler&) {
  WV_DCHECK_MAIN_THREAD();
  auto s = slot();
  auto view = s ? s->adView() : nullptr;
  if (!view) return;
  adViewDidFailLoadWithError(*view, net::makeLoadError(net::kErrorCancelled, "cancelled"));
}
