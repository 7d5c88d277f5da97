#include "ads/slots/kvr_banner_view.h"

#include "ads/model/kvr_request.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

std::optional<net::URL> KVRCustomRenderedAdBaseURL(const std::optional<net::URL>& adBaseURL) {
  if (!adBaseURL) return std::nullopt;
  return adBaseURL->resolve("/");
}

std::string KVRObjectDescription(const char* className, const void* object) {
  if (!object) return "(null)";
  return foundation::stringWithFormat("<%@: %p>", className, object);
}

std::shared_ptr<KVRBannerView> KVRBannerView::initWithFrameAdSize(uikit::Rect frame, QMAAdSize size) {
  WV_DCHECK_MAIN_THREAD();
  return make<KVRBannerView>(frame, size, true);
}

std::shared_ptr<KVRBannerView> KVRBannerView::initWithAdSizeOrigin(QMAAdSize size, uikit::Point origin) {
  auto banner = initWithAdSize(size);
  if (banner) banner->setFrame({origin, banner->uikit::View::frame().size});
  return banner;
}

std::shared_ptr<KVRBannerView> KVRBannerView::initWithFrame(uikit::Rect frame) {
  return initWithFrameAdSize(frame, QMAAdSizeFromCGSize(frame.size));
}

std::shared_ptr<KVRBannerView> KVRBannerView::initWithCoder(uikit::Rect decodedFrame) {
  WV_DCHECK_MAIN_THREAD();
  return make<KVRBannerView>(decodedFrame, QMAAdSizeFromCGSize(decodedFrame.size), false);
}

void KVRBannerView::setValidAdSizesWithSizes(std::initializer_list<const QMAAdSize*> sizes) {
  WV_DCHECK_MAIN_THREAD();
  std::vector<std::shared_ptr<const QMABoxedValue>> boxed;
  for (const QMAAdSize* size : sizes) {
    if (!size) break;
    boxed.push_back(NSValueFromQMAAdSize(*size));
  }
  validAdSizes_ = std::move(boxed);
}

bool KVRBannerView::enableManualImpressions() const { return slot() && slot()->manualImpressionsEnabled(); }

void KVRBannerView::setEnableManualImpressions(bool enabled) {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->setManualImpressionsEnabled(enabled);
}

void KVRBannerView::recordImpression() {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->pingManualTrackingURLs();
}

void KVRBannerView::slotWillLoadAdWithRequest(QMASlot&, const std::shared_ptr<QMARequest>& request) {
  if (request) previousCorrelationID_ = request->correlationID();
}

std::optional<bool> KVRBannerView::slotShouldPreemptInProgressRequest(QMASlot&) {
  const std::uint64_t current = KVRRequestPrivate::sharedInstance()->correlationID();
  return current != 0 && previousCorrelationID_ != 0 && current != previousCorrelationID_;
}

void KVRBannerView::slotDidReceiveAppEventWithInfo(QMASlot&, const std::string& name,
                                                   const std::optional<std::string>& info) {
  auto d = appEventDelegate();
  if (d && d->respondsToSelector(QMAAppEventDelegate::kAdViewDidReceiveAppEventWithInfo))
    d->adViewDidReceiveAppEventWithInfo(*this, name, info);
}

std::optional<bool> KVRBannerView::slotNotifyPublisherToRenderCustomRenderingAdError(
    QMASlot& slot, const std::shared_ptr<QMAAd>& ad, std::optional<foundation::Error>* error) {
  WV_DCHECK_MAIN_THREAD();
  auto d = customRenderedBannerViewDelegate();
  if (ad && d && d->respondsToSelector(KVRCustomRenderedBannerViewDelegate::kBannerViewDidReceiveCustomRenderedAd)) {
    auto custom = KVRCustomRenderedAd::initWithAdHTMLAdBaseURL(ad->adHTML(), KVRCustomRenderedAdBaseURL(ad->adBaseURL()));
    custom->setDelegate(std::static_pointer_cast<KVRCustomRenderedAdDelegate>(
        std::static_pointer_cast<KVRBannerView>(shared_from_this())));
    slot.willStartAdRendering();
    d->bannerViewDidReceiveCustomRenderedAd(*this, custom);
    return true;
  }
  if (error) {
    *error = QMARequestError::errorWithCodeCustomMessage(
        QMARequestErrorCodeInvalidArgument,
        foundation::stringWithFormat("Ignoring delegate callback. Delegate does not conform to %@.\nBanner view: %@\nDelegate: %@",
                                     KVRCustomRenderedBannerViewDelegate::kProtocolName,
                                     KVRObjectDescription("KVRBannerView", this),
                                     KVRObjectDescription(KVRCustomRenderedBannerViewDelegate::kProtocolName, d.get())));
  }
  return false;
}

void KVRBannerView::slotWillResizeToAdSize(QMASlot&, QMAAdSize size) {
  if (auto d = adSizeDelegate()) d->adViewWillChangeAdSizeTo(*this, size);
}

void KVRBannerView::recordClick() {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->pingClickURLs();
}

void KVRBannerView::recordCustomAdImpression() {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->didMakeAdImpression();
}

void KVRBannerView::finishedRenderingAdView(const std::shared_ptr<uikit::View>&) {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->didReceiveValidAd();
}
