#include "ads/slots/custom_rendered_ad.h"

#include "platform/dispatch/thread_checks.h"

std::shared_ptr<KVRCustomRenderedAd> KVRCustomRenderedAd::initWithAdHTMLAdBaseURL(
    const std::optional<std::string>& adHTML, const std::optional<net::URL>& adBaseURL) {
  return std::shared_ptr<KVRCustomRenderedAd>(new KVRCustomRenderedAd(adHTML, adBaseURL));
}

void KVRCustomRenderedAd::recordClick() {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = delegate()) d->recordClick();
}

void KVRCustomRenderedAd::recordImpression() {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = delegate()) d->recordCustomAdImpression();
}

void KVRCustomRenderedAd::finishedRenderingAdView(const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = delegate()) d->finishedRenderingAdView(view);
}
