// What a slot does once an ad has been fetched, and for the ad afterwards: dispatch by
// response type (HTML into the ad view, mediation, custom rendering), the ad's events
// toward the owner with their statistics, the click, impression and manual pings, and the
// URL a click opens.

#include <algorithm>
#include <cctype>

#include "ads/render/ad_network_javascript_ad_view_delegate.h"
#include "ads/render/qomb.h"
#include "ads/services/absolute_time.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/csi.h"
#include "ads/services/url_utilities.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/user_defaults.h"

using foundation::Value;

namespace {


std::mutex clickSignalMutex;
std::shared_ptr<QMAClickSignalSource>& clickSignalSource() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static auto* source = new std::shared_ptr<QMAClickSignalSource>();
  return *source;
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> texts(const std::vector<net::URL>& urls) {
  std::vector<std::string> out;
  out.reserve(urls.size());
  for (const auto& url : urls) out.push_back(url.absoluteString());
  return out;
}

// An error an owner gave back as a request error: one of the component's keeps its code and
// message, any other becomes the underlying error of an internal one.
QMARequestError requestErrorFromOwnersError(const foundation::Error& error) {
  if (error.domain == kQMAErrorDomain) {
    QMARequestError kept = QMARequestError::errorWithCode(error.code);
    static_cast<foundation::Error&>(kept) = error;
    return kept;
  }
  return QMARequestError::initWithDomainCodeUserInfo(error.domain, error.code, error.userInfo);
}

}  // namespace

void QMASlot::setClickSignalSource(std::shared_ptr<QMAClickSignalSource> source) {
  std::lock_guard lock(clickSignalMutex);
  clickSignalSource() = std::move(source);
}

// ---- the fetcher's outcome

void QMASlot::adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (&fetcher != adFetcher_.get()) return;  // a fetch the slot has moved on from
  auto keep = self();
  didFetchAdContent();
  auto responder = adResponseDelegate();
  const bool usable = responder && responder->slotDidReceiveAd(*this, ad);
  if (!usable) adFetcherDidFailToFetchAdWithErrorResponseCode(fetcher, ad, std::nullopt, 0);
}

void QMASlot::adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad,
                                                             const std::optional<QMARequestError>& error,
                                                             std::uint64_t) {
  WV_DCHECK_MAIN_THREAD();
  if (&fetcher != adFetcher_.get()) return;
  auto keep = self();
  // A response without an answer (13) says nothing about when to ask again; any other
  // failed response's interval counts, through the same floor as a shown ad's, so that a
  // failing response cannot make a banner ask in a tight loop.
  if (!error || error->code != QMARequestErrorCodeInvalidResponse) setReloadInterval(ad ? ad->reloadInterval() : 0.0);
  didFailToReceiveAdWithErrorShouldCancelPendingActions(error, false);
  if (auto responder = adResponseDelegate()) responder->slotDidFailToReceiveAdWithError(*this, error);
}

// ---- the slot's own ad-response handling

bool QMASlot::slotDidReceiveAd(QMASlot&, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (!ad) return false;
  auto keep = self();
  const std::uint64_t type = ad->responseType();
  if (type == QMAAdResponseTypeHTML || type == QMAAdResponseTypeCustomRendering) {
    if (auto recorder = QMACSI::loadAdRecorder()) {
      recorder->endTimingVariableWithNameKey("arf_ios", adResponseKey_);
      recorder->endTimingVariableWithNameKey("nwl_ios", netWorkLatencyKey_);
      recorder->startTimingVariableWithNameKey("awr_ios", adRenderingKey_);
    }
  }
  willProcessAd();
  switch (type) {
    case QMAAdResponseTypeHTML:
      processAdResponse(ad);
      return true;
    case QMAAdResponseTypeMediation:
      processMediationAdResponse(ad);
      return true;
    case QMAAdResponseTypeCustomRendering:
      processCustomRenderingAdResponse(ad);
      return true;
    default:
      // Invalid, native (the ad loader's own) or a type this slot does not know: not a
      // response it can show, which fails the request rather than leave it fetching.
      return false;
  }
}

void QMASlot::slotDidFailToReceiveAdWithError(QMASlot&, const std::optional<QMARequestError>&) {
  WV_DCHECK_MAIN_THREAD();
  if (auto recorder = QMACSI::loadAdRecorder()) {
    recorder->cancelTimingVariableWithNameKey("arf_ios", adResponseKey_);
    recorder->endTimingVariableWithNameKey("nwl_ios", netWorkLatencyKey_);
  }
  scheduleAdReloadTimer();
}

void QMASlot::processAdResponse(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  loadingAd_ = ad;
  setReloadInterval(ad->reloadInterval());
  scheduleAdReloadTimer();
  if (const auto& sizeText = ad->customAdSizeString()) {
    newAdSize_ = adType_ && adType_->isInterstitial() ? uikit::Size{} : QMAAdSizeFromString(*sizeText);
  }
  if (adView_) adView_->scrollView().scrollEnabled = ad->isScrollEnabled();
  const std::string html = ad->adHTML() ? QMATrimmedString(*ad->adHTML()) : std::string();
  if (html.empty()) {
    didFailToReceiveAdWithErrorShouldCancelPendingActions(
        QMARequestError::errorWithCodeRequest(QMARequestErrorCodeNoAd, request_), false);
    return;
  }
  // The page a takeover shows is about to be replaced: the takeover ends first.
  endTakeover();
  willLoadAdHTMLInWebView();
  // After another network's JavaScript ad the slot's own delegate takes the ad view back:
  // that ad's delegate finished its one page.
  if (std::dynamic_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(adViewDelegate_)) {
    adViewDelegate_ = QMABannerAdViewDelegate::initWithSlot(std::static_pointer_cast<QMARenderingSlot>(keep));
    if (adView_) adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(adViewDelegate_));
  }
  if (adView_) {
    adView_->setAdDebugDialog(ad->debugDialog());
    adView_->loadHTMLStringBaseURL(html, ad->adBaseURL());
  }
  setViewForAdUsingView(adView_);
}

void QMASlot::setViewForAdUsingView(const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  auto delegate = slotDelegate();
  if (delegate) delegate->slotDidReceiveAdView(*this, view);
  if (newAdSize_ == uikit::Size{}) return;
  const QMAAdSize size = QMAAdSizeFromCGSize(newAdSize_);
  const auto sizes = delegate ? delegate->validAdSizes() : std::nullopt;
  if (delegate && sizes && validateAdResponseWithAdSizeAndValidAdSizes(size, *sizes)) {
    const uikit::Size current = adType_ ? CGSizeFromQMAAdSize(adType_->adSize()) : uikit::Size{};
    if (!(current == newAdSize_)) delegate->slotWillResizeToAdSize(*this, size);
    delegate->setAdSizeAndReload(size, false);
    if (view && view == adView_) {
      if (auto bounds = delegate->bounds()) adView_->setFrame(*bounds);
    }
  }
  newAdSize_ = uikit::Size{};
}

bool QMASlot::validateAdResponseWithAdSizeAndValidAdSizes(QMAAdSize size,
                                                         const std::vector<std::shared_ptr<const QMABoxedValue>>& sizes) {
  for (const auto& boxed : sizes) {
    if (!boxed) continue;
    const QMAAdSize valid = QMAAdSizeFromNSValue(boxed);
    if (QMAAdSizeEqualToSize(valid, kQMAAdSizeInvalid)) continue;
    if (QMAAdSizeEqualToSize(valid, size)) return true;
  }
  return false;
}

void QMASlot::processCustomRenderingAdResponse(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  reloadable_ = false;
  deactivateReloadTimer();
  auto previous = ad_;
  finishedLoadingAdResponse(ad);
  auto delegate = slotDelegate();
  std::optional<foundation::Error> ownersError;
  const auto taken = delegate ? delegate->slotNotifyPublisherToRenderCustomRenderingAdError(*this, ad, &ownersError)
                              : std::nullopt;
  if (taken == std::optional<bool>(true)) return;
  ad_ = previous;
  const QMARequestError error =
      ownersError ? requestErrorFromOwnersError(*ownersError)
                  : QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInvalidArgument,
                                                                "Custom rendered ad could not be rendered by delegate.");
  // Nobody renders the ad: the request has failed, and the owner hears so as of any other
  // failure, so the slot is neither left fetching nor its owner left waiting.
  didFailToReceiveAdWithErrorShouldCancelPendingActions(error, false);
  if (auto responder = adResponseDelegate()) responder->slotDidFailToReceiveAdWithError(*this, error);
}

void QMASlot::finishedLoadingAdResponse(const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  ad_ = ad;
  loadingAd_.reset();
  setViewHasMadeImpression(false);
  finishVistraceReporting();
}

// ---- ad events

void QMASlot::willProcessAd() {
  WV_DCHECK_MAIN_THREAD();
  finishVistraceReporting();
  // The old ad's swipe ends with it (a store page showing stays until closed).
  unscheduleSwipeToViewControllerChecker();
  disableSwipeToViewController();
  swipeableStoreProductViewController_.reset();
}

void QMASlot::adFailedToReceiveContentWithError(const QMARequestError& error) {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = adEventDelegate()) d->slotDidFailToLoadAdContentWithError(*this, error);
}

void QMASlot::adFinishedLoadingContent() {
  WV_DCHECK_MAIN_THREAD();
  if (ad_ && ad_->swipeToViewControllerConfigurations()) scheduleSwipeToViewControllerChecker();
  if (auto d = adEventDelegate()) d->slotFinishedLoadingAdContent(*this);
}

void QMASlot::adWasClicked() {
  WV_DCHECK_MAIN_THREAD();
  QMAApplication::sharedInstance()->incrementTotalAdClickCount();
  if (!ad_) return;
  auto stats = ad_->statistics();
  if (!stats) return;
  stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(), "tclickcurr", false);
  stats->incrementNumberForKeyShouldNotifyDelegate("pcc", true);
}

void QMASlot::adWillPresentScreen() {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = adEventDelegate()) d->slotWillPresentScreen(*this);
}

void QMASlot::adWillDismissScreen() {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = adEventDelegate()) d->slotWillDismissScreen(*this);
}

void QMASlot::adDidDismissScreen() {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = adEventDelegate()) d->slotDidDismissScreen(*this);
}

void QMASlot::didReceiveAppEventWithInfo(const std::string& name, const std::optional<std::string>& info) {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = slotDelegate()) d->slotDidReceiveAppEventWithInfo(*this, name, info);
}

void QMASlot::adWillLeaveApplication() {
  WV_DCHECK_MAIN_THREAD();
  QMAApplication::sharedInstance()->willLeaveApplicationDueToClickOnAd(ad_);
  if (auto d = adEventDelegate()) d->slotWillLeaveApplication(*this);
}

// ---- pings

void QMASlot::pingClickURLs() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  if (ad_ && !ad_->clickURLs().empty())
    QMAClickTrackerCollection::sharedInstance()->trackURLsCacheEnabled(texts(ad_->clickURLs().urls()), false);
  if (auto d = slotDelegate()) d->slotDidReceiveAdClick(*this);
}

void QMASlot::pingImpressionURLs() {
  WV_DCHECK_MAIN_THREAD();
  if (!ad_) return;
  auto urls = texts(ad_->impressionURLs().urls());
  ad_->removeAllImpressionURLs();
  if (!urls.empty()) QMAClickTrackerCollection::sharedInstance()->trackURLsCacheEnabled(urls, false);
}

void QMASlot::pingManualTrackingURLs() {
  WV_DCHECK_MAIN_THREAD();
  if (!ad_) return;
  auto urls = texts(ad_->manualImpressionURLs().urls());
  ad_->removeAllManualImpressionURLs();
  if (!urls.empty()) QMAClickTrackerCollection::sharedInstance()->trackURLsCacheEnabled(urls, false);
}

// ---- the URL a click opens

const std::vector<std::string>& QMASlot::builtInAdClickDomains() {
  static const std::vector<std::string> domains = {".wardvane.invalid", ".quillon.invalid", ".pelmark.invalid"};
  return domains;
}

std::vector<std::string> QMAAdClickDomainsFromString(const std::optional<std::string>& stored) {
  if (!stored || stored->empty()) return QMASlot::builtInAdClickDomains();
  // An empty entry (a trailing or doubled comma) would match every host: it names none.
  std::vector<std::string> domains;
  std::size_t start = 0;
  while (start <= stored->size()) {
    std::size_t comma = stored->find(',', start);
    if (comma == std::string::npos) comma = stored->size();
    std::string entry = QMATrimmedString(std::string_view(*stored).substr(start, comma - start));
    if (!entry.empty()) domains.push_back(lowercase(std::move(entry)));
    start = comma + 1;
  }
  return domains;
}

std::vector<std::string> QMAAdClickDomains() {
  return QMAAdClickDomainsFromString(
      foundation::UserDefaults::standardUserDefaults()->stringForKey(QMASlot::kAdClickDomainsKey));
}

bool QMAHostIsAdClickHost(std::string_view host, const std::vector<std::string>& domains) {
  if (host.empty()) return false;
  const std::string h = lowercase(std::string(host));
  for (const auto& suffix : domains)
    if (!suffix.empty() && h.ends_with(suffix)) return true;
  return false;
}

bool QMASlot::isQuillonAdURL(const net::URL& url) {
  const auto host = url.host();
  return host && QMAHostIsAdClickHost(*host, QMAAdClickDomains());
}

net::URL QMASlot::gestureClickURLWithURL(const net::URL& url) {
  WV_DCHECK_MAIN_THREAD();
  if (QMANotification::isNotificationURL(url) || url.absoluteString() == "about:blank") return url;
  if (auto ticket = qma_impressionTicket(url); ticket && ad_) {
    if (auto stats = ad_->statistics()) stats->setObjectForKeyShouldNotifyDelegate(Value(*ticket), "pit", true);
  }
  if (!url.query() || !isQuillonAdURL(url)) return url;
  const auto ai = qma_parameterValueForKey(url, "ai");
  if (!ai || ai->empty()) return url;
  std::shared_ptr<QMAClickSignalSource> source;
  {
    std::lock_guard lock(clickSignalMutex);
    source = clickSignalSource();
  }
  if (!source) return url;
  const auto signal = source->clickSignalForAdIdentifier(*ai);
  if (!signal || signal->empty()) return url;
  return qma_appendQueryValueForKey(url, std::nullopt, *signal).value_or(url);
}
