#include "ads/present/browser_ad_view_delegate.h"

#include <algorithm>
#include <cctype>

#include "ads/present/browser_view_controller.h"
#include "ads/services/absolute_time.h"
#include "platform/dispatch/thread_checks.h"

namespace {

std::shared_ptr<QMAStatisticDictionary> adStatistics(const std::shared_ptr<QMABrowserViewController>& browser) {
  auto slot = browser ? browser->slot() : nullptr;
  auto ad = slot ? slot->ad() : nullptr;
  return ad ? ad->statistics() : nullptr;
}

}  // namespace

std::shared_ptr<QMABrowserViewController> QMABrowserAdViewDelegate::browserControllerForAdView(QMAAdView& adView) {
  auto* browserView = dynamic_cast<QMABrowserAdView*>(&adView);
  return browserView ? browserView->browserViewController() : nullptr;
}

std::optional<bool> QMABrowserAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(
    QMAAdView& adView, const net::URLRequest& request, webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  if (auto browser = browserControllerForAdView(adView);
      browser && (type == webkit::NavigationType::LinkClicked || type == webkit::NavigationType::FormSubmitted)) {
    std::string scheme = request.url.scheme().value_or("");
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (auto stats = adStatistics(browser)) {
      if (scheme == "http") stats->incrementNumberForKeyShouldNotifyDelegate("plpnc", true);
      if (scheme == "https") stats->incrementNumberForKeyShouldNotifyDelegate("plpsnc", true);
    }
  }
  return QMAAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(adView, request, type);
}

void QMABrowserAdViewDelegate::adViewDidStartLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  auto browser = browserControllerForAdView(adView);
  if (auto stats = adStatistics(browser); stats && stats->objectForKey("tlanding_page_load_start").isNull())
    stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(),
                                               "tlanding_page_load_start", true);
  QMAAdViewDelegate::adViewDidStartLoad(adView);
  if (browser) browser->refreshToolbar();
}

void QMABrowserAdViewDelegate::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  auto browser = browserControllerForAdView(adView);
  if (auto stats = adStatistics(browser))
    stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(), "tlanding_page_load_end",
                                               true);
  QMAAdViewDelegate::adViewDidFinishLoad(adView);
  if (browser) browser->refreshToolbar();
}

void QMABrowserAdViewDelegate::adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  auto browser = browserControllerForAdView(adView);
  QMAAdViewDelegate::adViewDidFailLoadWithError(adView, error);
  if (browser) browser->refreshToolbar();
}
