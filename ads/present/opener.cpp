#include "ads/present/opener.h"

#include "ads/present/view_controller.h"
#include "ads/present/ad_app_view_controller.h"
#include "ads/present/browser_view_controller.h"
#include "ads/present/mraid_resize_overlay_presenter.h"
#include "ads/render/mraid_resize_properties.h"
#include "ads/render/mraid_state.h"
#include "ads/render/ad_view.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/services/geometry.h"
#include "ads/render/rendering_slot.h"
#include "ads/render/sdk_core_controller.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "platform/system/screen_facts.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/application.h"

std::shared_ptr<QMAOpener> QMAOpener::init() { return std::shared_ptr<QMAOpener>(new QMAOpener()); }

void QMAOpener::install() {
  QMAAdViewDelegate::setOpenerFactory([]() -> std::shared_ptr<QMAAdViewOpener> { return init(); });
}

bool QMAOpener::shouldPerformOpenAction() {
  WV_DCHECK_MAIN_THREAD();
  if (!autoClickProtected_) return true;
  auto view = adView();
  if (view && view->touched()) return true;
  foundation::Dictionary blocked;
  if (view && view->adDebugDialog()) blocked["debugDialog"] = *view->adDebugDialog();
  if (navigationURL_) blocked["navigationURL"] = *navigationURL_;
  if (auto page = QMASDKCoreController::sharedInstance()->activeSDKCoreWebView())
    page->postJSNotificationUserInfo("navigationBlocked", blocked);
  return false;
}

void QMAOpener::didOpen() {
  WV_DCHECK_MAIN_THREAD();
  if (auto s = slot()) s->pingClickURLs();
}

std::optional<std::string> QMAOpener::confirmationMessageForURL(const net::URL& url) {
  const auto scheme = url.scheme();
  if (!scheme) return std::nullopt;
  const foundation::Value stored = foundation::UserDefaults::standardUserDefaults()->objectForKey(kConfirmSchemesKey);
  if (const auto* schemes = stored.asDictionary()) {
    const std::string* title = foundation::stringForKey(*schemes, *scheme);
    return title ? std::optional<std::string>(*title) : std::nullopt;
  }
  if (*scheme == "tel") return "Call";
  if (*scheme == "facetime") return "FaceTime";
  return std::nullopt;
}

bool QMAOpener::setMRAIDSupportedInterfaceOrientations(std::uint64_t mask) {
  WV_DCHECK_MAIN_THREAD();
  auto controller = std::dynamic_pointer_cast<QMAViewController>(viewController());
  if (!controller || mask == 0) return false;
  controller->setSupportedInterfaceOrientations(mask);
  turnInterfaceIntoOrientationsOf(controller);
  return true;
}

void QMAOpener::turnInterfaceIntoOrientationsOf(const std::shared_ptr<QMAViewController>& controller) {
  const std::uint64_t mask = controller->supportedInterfaceOrientations();
  const long statusBar = static_cast<long>(system_facts::screen().orientation);
  if (mask & (std::uint64_t{1} << statusBar)) return;
  // The system turns the interface only when a controller comes on screen: an invisible
  // one that supports the same orientations comes and goes at once, after this message.
  std::weak_ptr<QMAViewController> weak = controller;
  dispatch::Queue::main()->async([weak] {
    auto shown = weak.lock();
    if (!shown || !shown->isViewLoaded() || !shown->view()->window()) return;
    auto turner = QMAViewController::init();
    turner->setSlot(shown->slot());
    turner->setSupportedInterfaceOrientations(shown->supportedInterfaceOrientations());
    turner->view()->setAlpha(0);
    std::weak_ptr<QMAViewController> weakTurner = turner;
    shown->presentViewController(turner, false, [weak, weakTurner] {
      dispatch::Queue::main()->async([weak, weakTurner] {
        auto t = weakTurner.lock();
        if (!t) return;
        t->dismissViewControllerAnimated(false, [weak] {
          if (auto vc = weak.lock()) vc->viewChangedToOrientation(static_cast<long>(system_facts::screen().orientation));
        });
      });
    });
  });
}

void QMAOpener::openApp(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  const bool allowed = shouldPerformOpenAction();
  if (!url || !allowed) return;
  if (auto message = confirmationMessageForURL(*url); message && !allowedAppURLs_.count(url->absoluteString())) {
    confirmClickToURLMessage(*url, *message);
    return;
  }
  auto keep = shared_from_this();
  didOpenExternalApp();
  if (auto s = slot()) s->adWillLeaveApplication();
  didOpenAnotherApplication_ = true;
  if (auto s = slot()) s->willLeaveAppDueToClick();
  const std::string text = url->absoluteString();
  dispatch::OperationQueue::mainQueue()->addOperationWithBlock(
      [text] { uikit::Application::sharedApplication()->openURL(text); });
}

void QMAOpener::confirmClickToURLMessage(const net::URL& url, const std::string& message) {
  WV_DCHECK_MAIN_THREAD();
  const std::string text = url.absoluteString();
  const std::size_t schemeLength = url.scheme() ? url.scheme()->size() + 1 : 0;
  auto alert = uikit::AlertView::alertViewWithTitleMessageCancelButtonTitle(
      "", schemeLength <= text.size() ? text.substr(schemeLength) : std::string(), "Cancel");
  alert->addButtonWithTitle(message);
  alert->setDelegate(std::static_pointer_cast<uikit::AlertViewDelegate>(shared_from_this()));
  confirmationAlertURLs_.insert_or_assign(alert.get(), std::make_pair(std::weak_ptr<uikit::AlertView>(alert), url));
  alert->show();
}

void QMAOpener::alertViewClickedButtonAtIndex(const std::shared_ptr<uikit::AlertView>& alertView, long buttonIndex) {
  WV_DCHECK_MAIN_THREAD();
  if (!alertView) return;
  auto it = confirmationAlertURLs_.find(alertView.get());
  std::optional<net::URL> url;
  if (it != confirmationAlertURLs_.end()) {
    url = it->second.second;
    confirmationAlertURLs_.erase(it);
  }
  if (url && buttonIndex == alertView->firstOtherButtonIndex()) {
    allowedAppURLs_.insert(url->absoluteString());
    openApp(url);
  }
}

bool QMAOpener::shouldPerformOpenActionWithOrientations(std::uint64_t mask) {
  WV_DCHECK_MAIN_THREAD();
  auto view = adView();
  if (!view || !qma_supportsOrientations(*view, mask)) return false;
  return shouldPerformOpenAction();
}

void QMAOpener::openBrowserToURLSupportedOrientations(const std::optional<net::URL>& url, std::uint64_t mask) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenActionWithOrientations(mask) || !canOpenContent(url.has_value())) return;
  auto keep = shared_from_this();
  auto browser = QMABrowserViewController::init();
  browser->setSupportedInterfaceOrientations(mask);
  browser->setSlot(std::dynamic_pointer_cast<QMAPresentationSlot>(slot()));
  browser->loadReferringURL(url, referringURL_);
  if (present(browser, nullptr)) didOpenInApp();
}

void QMAOpener::configureOverlayOrientationsUsingCustomClose(const std::shared_ptr<QMAAdAppViewController>& overlay,
                                                             std::uint64_t mask, bool useCustomClose) {
  WV_DCHECK_MAIN_THREAD();
  if (!overlay) return;
  overlay->setSupportedInterfaceOrientations(mask);
  overlay->setSlot(std::dynamic_pointer_cast<QMAPresentationSlot>(slot()));
  overlay->setUseCustomClose(useCustomClose);
}

std::shared_ptr<QMASupplementalAdAppViewController> QMAOpener::overlayWithOrientationsUseCustomClose(
    std::uint64_t mask, bool useCustomClose) {
  auto overlay = QMASupplementalAdAppViewController::init();
  configureOverlayOrientationsUsingCustomClose(overlay, mask, useCustomClose);
  return overlay;
}

void QMAOpener::reportExpandRefused() {
  auto s = std::dynamic_pointer_cast<QMAPresentationSlot>(slot());
  auto ad = s ? s->ad() : nullptr;
  if (auto handler = ad ? ad->MRAIDEventHandler() : nullptr)
    handler->handleErrorAction("Expanding an ad is not allowed until the user interacts with the ad.", "expand");
}

void QMAOpener::presentWebApp(const std::shared_ptr<QMAAdAppViewController>& overlay) {
  if (present(overlay, nullptr)) didOpenInApp();
}

bool QMAOpener::present(const std::shared_ptr<QMAViewController>& controller, std::function<void()> completion) {
  try {
    controller->presentFromViewControllerCompletion(viewController(), std::move(completion));
  } catch (const QMAPresentationRefused&) {
    return false;  // nothing was opened: no click to report
  }
  return true;
}

void QMAOpener::openWebAppSupportedOrientationsUsingCustomClose(const std::optional<net::URL>& url,
                                                                std::uint64_t mask, bool useCustomClose) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenActionWithOrientations(mask)) {
    reportExpandRefused();
    return;
  }
  if (!canOpenContent(url.has_value())) return;
  auto keep = shared_from_this();
  disableAutoCollapseForResize();
  auto overlay = overlayWithOrientationsUseCustomClose(mask, useCustomClose);
  overlay->load(url);
  presentWebApp(overlay);
}

void QMAOpener::openWebAppWithHTMLSupportedOrientationsUsingCustomClose(const std::optional<std::string>& html,
                                                                        std::uint64_t mask, bool useCustomClose) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenActionWithOrientations(mask)) {
    reportExpandRefused();
    return;
  }
  if (!canOpenContent(html.has_value())) return;
  auto keep = shared_from_this();
  disableAutoCollapseForResize();
  auto overlay = overlayWithOrientationsUseCustomClose(mask, useCustomClose);
  overlay->loadHTMLBaseURL(html, std::nullopt);
  presentWebApp(overlay);
}

void QMAOpener::expandToWebAppWithSupportedOrientationsUsingCustomClose(std::uint64_t mask, bool useCustomClose) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenActionWithOrientations(mask)) {
    reportExpandRefused();
    return;
  }
  auto view = adView();
  if (!canOpenContent(view != nullptr)) return;
  // No expand from inside another full-screen ad, but a resized ad may grow on.
  if (std::dynamic_pointer_cast<QMAViewController>(viewController())) {
    auto resize = showingResizePresenter();
    if (!resize) return;
    resize->setDismissToDefaultState(false);
  }
  auto keep = shared_from_this();
  auto expanded = QMAExpandedAdAppViewController::initWithAdView(view);
  configureOverlayOrientationsUsingCustomClose(expanded, mask, useCustomClose);
  // Grown out of its resized state: the takeover is one, and closing the expanded ad ends
  // the resize beneath it too (left up, it would cover the banner without its ad view).
  if (showingResizePresenter())
    expanded->setResizedViewController(std::dynamic_pointer_cast<QMAViewController>(viewController()));
  std::weak_ptr<QMAAdView> weakView = view;
  std::weak_ptr<QMAMRAIDEventHandling> handler = MRAIDEventHandler();
  expanded->setDismissalCompletion([weakView, handler] {
    auto v = weakView.lock();
    if (!v) return;
    v->dispatchSDKEventParameters("collapsed", std::nullopt);
    reportState(v, "default", handler);
  });
  const bool shown = present(expanded, [weakView, handler] { reportState(weakView.lock(), "expanded", handler); });
  if (!shown) return;
  view->dispatchSDKEventParameters("expanding", std::nullopt);
  didOpenInApp();
}

std::shared_ptr<QMAMRAIDEventHandling> QMAOpener::MRAIDEventHandler() const {
  auto s = std::dynamic_pointer_cast<QMAPresentationSlot>(slot());
  auto ad = s ? s->ad() : nullptr;
  std::shared_ptr<QMAMRAIDEventHandling> handler = ad ? ad->MRAIDEventHandler() : nullptr;
  if (!handler) handler = std::dynamic_pointer_cast<QMAMRAIDEventHandling>(slot());
  return handler;
}

void QMAOpener::reportState(const std::shared_ptr<QMAAdView>& view, const char* state,
                            const std::weak_ptr<QMAMRAIDEventHandling>& handler) {
  QMADispatchMRAIDState(view, state, handler.lock());
}

// ---- MRAID resize

std::shared_ptr<QMAMRAIDResizeOverlayPresenter> QMAOpener::showingResizePresenter() const {
  auto controller = std::dynamic_pointer_cast<QMAViewController>(viewController());
  return controller ? std::dynamic_pointer_cast<QMAMRAIDResizeOverlayPresenter>(controller->presenter()) : nullptr;
}

void QMAOpener::disableAutoCollapseForResize() {
  WV_DCHECK_MAIN_THREAD();
  if (auto resize = showingResizePresenter()) resize->setDismissToDefaultState(false);
}

void QMAOpener::reportResized(const std::shared_ptr<QMAAdView>& view, const QMAMRAIDResizeProperties& properties,
                              const std::weak_ptr<QMAMRAIDEventHandling>& handler) {
  if (!view) return;
  reportState(view, "resized", handler);
  view->dispatchSDKEventParameters(
      "onSizeChanged", foundation::Dictionary{{"width", properties.size().width}, {"height", properties.size().height}});
}

void QMAOpener::openWebAppWithResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& properties) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAMRAIDEventHandling> handler = MRAIDEventHandler();
  if (!shouldPerformOpenAction()) {
    if (handler) handler->handleErrorAction("Resizing an ad is not allowed until the user interacts with the ad.", "resize");
    return;
  }
  auto view = adView();
  if (!canOpenContent(view != nullptr)) return;
  if (!properties) {
    // Nothing to resize to is the creative's error, never a resize to nothing.
    if (handler) handler->handleErrorAction("Received invalid resize properties (null)", "resize");
    return;
  }
  auto keep = shared_from_this();
  if (auto controller = std::dynamic_pointer_cast<QMAViewController>(viewController())) {
    auto resize = std::dynamic_pointer_cast<QMAMRAIDResizeOverlayPresenter>(controller->presenter());
    // Over another kind of full-screen ad a resize has no place.
    if (!resize) return;
    if (!resize->MRAIDEventHandler()) resize->setMRAIDEventHandler(handler);
    if (!resize->setResizeProperties(properties)) return;
    resize->repositionContentIfNeeded();
    if (auto app = std::dynamic_pointer_cast<QMAAdAppViewController>(controller))
      app->setCustomClosePosition(properties->customClosePosition());
    reportResized(view, *properties, handler);
    return;
  }
  auto expanded = QMAExpandedAdAppViewController::initWithAdView(view);
  auto resize = QMAMRAIDResizeOverlayPresenter::initWithReferenceView(view->superview());
  if (!expanded || !resize) return;
  configureOverlayOrientationsUsingCustomClose(expanded, kQMAInterfaceOrientationMaskAll, true);
  // The handler first, so that properties refused now are heard by the creative.
  resize->setMRAIDEventHandler(handler);
  if (!resize->setResizeProperties(properties)) return;
  expanded->setPresenter(resize);
  expanded->setCustomClosePosition(properties->customClosePosition());
  std::weak_ptr<QMAAdView> weakView = view;
  std::weak_ptr<QMAMRAIDResizeOverlayPresenter> weakResize = resize;
  std::weak_ptr<QMAMRAIDEventHandling> weakHandler = handler;
  expanded->setDismissalCompletion([weakView, weakResize, weakHandler] {
    auto r = weakResize.lock();
    if (r && r->dismissToDefaultState()) reportState(weakView.lock(), "default", weakHandler);
  });
  std::weak_ptr<QMAOpener> weakSelf = keep;
  std::weak_ptr<QMAExpandedAdAppViewController> weakExpanded = expanded;
  present(expanded, [weakView, weakSelf, properties, weakHandler, weakExpanded] {
    // In place, the live ad shows itself. The picture of the banner covered its place while
    // the ad slid in; left there it would show beside (or under) an ad resized smaller than
    // the banner, a stale second copy of it.
    if (auto e = weakExpanded.lock(); e && e->renderedBanner()) e->renderedBanner()->setHidden(true);
    reportResized(weakView.lock(), *properties, weakHandler);
    if (auto self = weakSelf.lock()) self->didOpenInApp();
  });
}
