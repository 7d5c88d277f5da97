#include "ads/present/ad_app_ad_view_delegate.h"

#include "ads/present/ad_app_view_controller.h"
#include "ads/render/ad_app_qomb_handler.h"
#include "ads/render/app_event_qomb_handler.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/services/absolute_time.h"
#include "ads/services/logging.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/user_defaults.h"

namespace {

std::shared_ptr<QMAStatisticDictionary> adStatistics(const std::shared_ptr<QMAAdAppViewController>& controller) {
  auto slot = controller ? controller->slot() : nullptr;
  auto ad = slot ? slot->ad() : nullptr;
  return ad ? ad->statistics() : nullptr;
}

}  // namespace

std::shared_ptr<QMAAdAppAdViewDelegate> QMAAdAppAdViewDelegate::initWithAdAppViewController(
    const std::shared_ptr<QMAAdAppViewController>& controller) {
  auto delegate = std::make_shared<QMAAdAppAdViewDelegate>();
  delegate->webAppViewController_ = controller;
  auto slot = controller ? controller->slot() : nullptr;
  auto type = slot ? slot->adType() : nullptr;
  delegate->addQOMBHandler(QMAAdAppQOMBHandler::init());
  if (type && type->isInterstitial()) delegate->addQOMBHandler(QMAAppEventQOMBHandler::initWithSlot(slot));
  return delegate;
}

QMAAdAppAdViewDelegate::~QMAAdAppAdViewDelegate() {
  for (; loadsInFlight_ > 0; --loadsInFlight_) QMAMRAIDInterceptor::disableCanInitWithRequest();
}

std::optional<bool> QMAAdAppAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(
    QMAAdView& adView, const net::URLRequest& request, webkit::NavigationType type) {
  WV_DCHECK_MAIN_THREAD();
  if (type == webkit::NavigationType::LinkClicked) {
    const auto stored = foundation::UserDefaults::standardUserDefaults()->objectForKey(kDisableClickPingKey);
    const std::string* text = stored.asString();
    if (!text || *text != "1") {
      std::weak_ptr<QMAAdAppViewController> weak = webAppViewController_;
      dispatch::Queue::main()->async([weak] {
        auto controller = weak.lock();
        if (auto slot = controller ? controller->slot() : nullptr) slot->pingClickURLs();
      });
    }
  }
  return QMAAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(adView, request, type);
}

void QMAAdAppAdViewDelegate::adViewDidStartLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  if (auto stats = adStatistics(webAppViewController()); stats && stats->objectForKey("tlanding_page_load_start").isNull())
    stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(),
                                               "tlanding_page_load_start", true);
  QMAMRAIDInterceptor::enableCanInitWithRequest();
  ++loadsInFlight_;
  QMAAdViewDelegate::adViewDidStartLoad(adView);
}

void QMAAdAppAdViewDelegate::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  if (auto stats = adStatistics(webAppViewController()))
    stats->setObjectForKeyShouldNotifyDelegate(QMAAbsoluteTime::absoluteTimeInMilliseconds(),
                                               "tlanding_page_load_end", true);
  endLoad();
  QMAAdViewDelegate::adViewDidFinishLoad(adView);
}

void QMAAdAppAdViewDelegate::adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) {
  WV_DCHECK_MAIN_THREAD();
  endLoad();
  QMAAdViewDelegate::adViewDidFailLoadWithError(adView, error);
}

void QMAAdAppAdViewDelegate::endLoad() {
  // A load whose start this delegate did not see (the ad's own page, loaded before it took
  // over) holds no share to give back.
  if (loadsInFlight_ <= 0) return;
  --loadsInFlight_;
  QMAMRAIDInterceptor::disableCanInitWithRequest();
}

void QMAAdAppAdViewDelegate::adViewWebContentProcessDidTerminate(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  auto controller = webAppViewController();
  if (!controller) return;
  auto keep = shared_from_this();
  auto view = std::static_pointer_cast<QMAAdView>(adView.shared_from_this());
  QMALog("The web process of a full-screen ad ended; its takeover ends.");
  controller->endTakeover();
  if (auto banner = view->delegate(); banner && banner.get() != static_cast<QMAAdViewDelegateProtocol*>(this))
    banner->adViewWebContentProcessDidTerminate(*view);
}
