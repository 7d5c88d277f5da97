#include "ads/render/ad_view_delegate.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "ads/render/mraid_qomb_handler.h"
#include "ads/render/opener_qomb_handler.h"
#include "ads/render/precache_qomb_handler.h"
#include "ads/render/video_qomb_handler.h"
#include "ads/render/default_qomb_handler.h"
#include "ads/render/rendering_slot.h"
#include "ads/services/logging.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/application.h"

namespace {

std::mutex& openerFactoryMutex() {
  static std::mutex m;
  return m;
}
std::function<std::shared_ptr<QMAAdViewOpener>()>& openerFactory() {
  static std::function<std::shared_ptr<QMAAdViewOpener>()> factory;
  return factory;
}

std::shared_ptr<QMAAdViewOpener> makeOpener() {
  std::function<std::shared_ptr<QMAAdViewOpener>()> factory;
  {
    std::lock_guard lock(openerFactoryMutex());
    factory = openerFactory();
  }
  return factory ? factory() : nullptr;
}

std::string withoutFragment(const net::URL& url) {
  std::string text = url.absoluteString();
  if (auto hash = text.find('#'); hash != std::string::npos) text.resize(hash);
  return text;
}

}  // namespace

void QMAAdViewDelegate::setOpenerFactory(std::function<std::shared_ptr<QMAAdViewOpener>()> factory) {
  std::lock_guard lock(openerFactoryMutex());
  openerFactory() = std::move(factory);
}

QMAAdViewDelegate::QMAAdViewDelegate() : opener_(makeOpener()) {
  // First, so a creative's clicks and opens reach the opener before any other handler.
  if (opener_) addQOMBHandler(QMAOpenerQOMBHandler::initWithOpener(opener_));
  addQOMBHandler(QMADefaultQOMBHandler::init());
  // Every ad view's creative may speak MRAID through its opener.
  if (opener_) addQOMBHandler(QMAMRAIDQOMBHandler::initWithOpener(opener_));
  addQOMBHandler(std::make_shared<QMAPrecacheQOMBHandler>());
  addQOMBHandler(std::make_shared<QMAVideoPlayerQOMBHandler>());
}

QMAAdViewDelegate::~QMAAdViewDelegate() {
  if (!opener_) return;
  opener_->setViewController({});
  opener_->setSlot({});
  opener_->setAdView({});
}

void QMAAdViewDelegate::addQOMBHandler(std::shared_ptr<QMAQOMBHandler> handler) {
  if (handler) qombHandlers_.push_back(std::move(handler));
}

std::optional<bool> QMAAdViewDelegate::adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView,
                                                                                      const net::URLRequest& request,
                                                                                      webkit::NavigationType type) {
  return decideNavigation(adView, request, type, true);
}

std::optional<bool> QMAAdViewDelegate::decideNavigation(QMAAdView& adView, const net::URLRequest& request,
                                                        webkit::NavigationType type, bool followPage) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  const net::URL& url = request.url;
  if (opener_) {
    opener_->setNavigationURL(url.absoluteString());
    opener_->setViewController(adView.viewController());
    opener_->setAdView(std::static_pointer_cast<QMAAdView>(adView.shared_from_this()));
  }
  std::string scheme = url.scheme().value_or("");
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (type == webkit::NavigationType::LinkClicked) {
    // A jump inside the page shown does not load.
    const auto current = adView.request();
    if (url.absoluteString().find('#') != std::string::npos && current && withoutFragment(url) == withoutFragment(current->url))
      return false;
    auto slot = opener_ ? opener_->slot() : nullptr;
    if (scheme.starts_with("http") && slot && slot->isMRAIDEnabled()) {
      opener_->openBrowserToURLSupportedOrientations(url, 30);
      return false;
    }
  }
  if (QMANotification::isNotificationURL(url)) {
    handleQOMBURLAdView(url, std::static_pointer_cast<QMAAdView>(adView.shared_from_this()));
    return false;
  }
  if (scheme == "file") return fileAccessAllowed_;
  if (scheme == "about") return true;
  if (scheme == "http" || scheme == "https") {
    if (followPage && (!adView.URL() || !(*adView.URL() == url)))
      adView.setURLForView(url, std::static_pointer_cast<uikit::View>(adView.shared_from_this()));
    return true;
  }
  // Mail and message links open a composer inside the application; every other scheme
  // belongs to another application.
  if (!opener_) return false;
  if (scheme == "mailto") {
    opener_->openEmailComposer(url);
  } else if (scheme == "sms") {
    opener_->openSmsComposer(url);
  } else {
    opener_->openApp(url);
  }
  return false;
}

void QMAAdViewDelegate::handleQOMBURLAdView(const net::URL& url, const std::shared_ptr<QMAAdView>& adView) {
  WV_DCHECK_MAIN_THREAD();
  // The snapshot is taken here and the hop is one main-queue block per message, so the
  // messages of a page reach the handlers in the order it sent them.
  auto self = shared_from_this();
  auto handlers = qombHandlers_;
  dispatch::Queue::main()->async([self, handlers, url, adView] {
    auto note = QMANotification::initWithNotificationURL(url);
    if (!note) {
      QMALog("Bridge message without a name dropped: %@", QMALogQuote(url.absoluteString()));
      return;
    }
    for (const auto& handler : handlers)
      if (handler->handleNotificationAdView(note, adView)) return;
    qma_postNotificationFromURLObjectWithDelay(foundation::NotificationCenter::defaultCenter(), url, adView, 0);
  });
}

void QMAAdViewDelegate::adViewDidFinishLoad(QMAAdView& adView) {
  WV_DCHECK_MAIN_THREAD();
  // Every document hears where the interface stands, a new one of a page shown in
  // landscape included.
  adView.forceRotateToOrientation(uikit::Application::sharedApplication()->statusBarOrientation());
  hasLoadedAtLeastOnce_ = true;
}
