#include "ads/slots/kvr_interstitial.h"

#include "ads/model/kvr_request.h"
#include "ads/services/logging.h"
#include "ads/slots/kvr_banner_view.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

std::shared_ptr<KVRInterstitial> KVRInterstitial::initWithAdUnitID(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  return make<KVRInterstitial>(adUnitID);
}

void KVRInterstitial::presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController) {
  WV_DCHECK_MAIN_THREAD();
  if (customAdRenderingEnabled_) {
    QMALogger::sharedInstance()->logPublicMessage(
        "Error: Custom ad rendering is enabled. Please present interstitial view from rootViewController manually.");
    return;
  }
  QMAInterstitial::presentFromRootViewController(rootViewController);
}

void KVRInterstitial::slotWillLoadAdWithRequest(QMASlot&, const std::shared_ptr<QMARequest>& request) {
  if (request) previousCorrelationID_ = request->correlationID();
}

std::optional<bool> KVRInterstitial::slotShouldPreemptInProgressRequest(QMASlot&) {
  const std::uint64_t current = KVRRequestPrivate::sharedInstance()->correlationID();
  return current != 0 && previousCorrelationID_ != 0 && current != previousCorrelationID_;
}

void KVRInterstitial::slotDidReceiveAppEventWithInfo(QMASlot&, const std::string& name,
                                                     const std::optional<std::string>& info) {
  auto d = appEventDelegate();
  if (d && d->respondsToSelector(QMAAppEventDelegate::kInterstitialDidReceiveAppEventWithInfo))
    d->interstitialDidReceiveAppEventWithInfo(*this, name, info);
}

std::optional<bool> KVRInterstitial::slotNotifyPublisherToRenderCustomRenderingAdError(
    QMASlot& slot, const std::shared_ptr<QMAAd>& ad, std::optional<foundation::Error>* error) {
  WV_DCHECK_MAIN_THREAD();
  customAdRenderingEnabled_ = true;
  auto d = customRenderedInterstitialDelegate();
  if (ad && d &&
      d->respondsToSelector(KVRCustomRenderedInterstitialDelegate::kInterstitialDidReceiveCustomRenderedAd)) {
    auto custom = KVRCustomRenderedAd::initWithAdHTMLAdBaseURL(ad->adHTML(), KVRCustomRenderedAdBaseURL(ad->adBaseURL()));
    custom->setDelegate(std::static_pointer_cast<KVRCustomRenderedAdDelegate>(
        std::static_pointer_cast<KVRInterstitial>(shared_from_this())));
    slot.willStartAdRendering();
    d->interstitialDidReceiveCustomRenderedAd(*this, custom);
    return true;
  }
  if (error) {
    *error = QMARequestError::errorWithCodeCustomMessage(
        QMARequestErrorCodeInvalidArgument,
        foundation::stringWithFormat(
            "Ignoring delegate callback. Delegate does not conform to %@.\nInterstitial: %@\nDelegate: %@",
            KVRCustomRenderedInterstitialDelegate::kProtocolName, KVRObjectDescription("KVRInterstitial", this),
            KVRObjectDescription(KVRCustomRenderedInterstitialDelegate::kProtocolName, d.get())));
  }
  return false;
}

void KVRInterstitial::recordClick() {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->pingClickURLs();
}

void KVRInterstitial::recordCustomAdImpression() {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->didMakeAdImpression();
}

void KVRInterstitial::finishedRenderingAdView(const std::shared_ptr<uikit::View>&) {
  WV_DCHECK_MAIN_THREAD();
  if (slot()) slot()->didReceiveValidAd();
}
