#include "ads/present/ad_app_view_controller.h"

#include "ads/model/request.h"
#include "ads/present/ad_app_ad_view_delegate.h"
#include "ads/present/intrinsic_images.h"
#include "ads/present/overlay_presenters.h"
#include "ads/model/ad.h"
#include "ads/render/mraid_resize_properties.h"
#include "ads/render/mraid_state.h"
#include "ads/services/ad_settings_parameters.h"
#include "ads/services/geometry.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/system/screen_facts.h"

// ---- QMAAdAppViewController

namespace {
std::shared_ptr<QMAMRAIDEventHandling> MRAIDEventHandlerOf(const std::shared_ptr<QMAPresentationSlot>& slot) {
  auto ad = slot ? slot->ad() : nullptr;
  return ad ? ad->MRAIDEventHandler() : nullptr;
}
}  // namespace

std::shared_ptr<QMAAdAppViewController> QMAAdAppViewController::initWithAdView(const std::shared_ptr<QMAAdView>& adView) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAAdAppViewController> vc(new QMAAdAppViewController());
  vc->initWithAdViewSteps(adView);
  return vc;
}

void QMAAdAppViewController::initWithAdViewSteps(const std::shared_ptr<QMAAdView>& adView) {
  commonSetUp();
  adView_ = adView;
  if (!adView_) {
    adView_ = QMAAdView::init();
    adView_->setViewController(weak_from_this());
  }
  closeButton_ = std::make_shared<uikit::Button>(uikit::Rect{0, 0, kCloseButtonSide, kCloseButtonSide});
  closeButton_->setShowsTouchWhenHighlighted(true);
  closeButton_->setAccessibilityLabel(kCloseButtonAccessibilityLabel);
  std::weak_ptr<QMAAdAppViewController> weak = std::static_pointer_cast<QMAAdAppViewController>(shared_from_this());
  closeButton_->addTargetActionForControlEvents(
      [weak](const std::shared_ptr<uikit::Control>&) {
        if (auto vc = weak.lock()) vc->closeButtonPressed();
      },
      uikit::ControlEvents::TouchUpInside);
}

QMAAdAppViewController::~QMAAdAppViewController() {
  if (!adView_) return;
  if (adView_->viewController().get() == static_cast<uikit::ViewController*>(this)) adView_->setViewController({});
  if (adViewDelegate_ && adViewDelegate_->opener()) adViewDelegate_->opener()->setSlot({});
  if (adViewDelegate_ && adView_->delegate().get() == adViewDelegate_.get()) adView_->setDelegate({});
}

void QMAAdAppViewController::setUseCustomClose(bool use) {
  WV_DCHECK_MAIN_THREAD();
  if (use == useCustomClose_) return;
  useCustomClose_ = use;
  updateCloseButtonVisibilityAndImage();
}

void QMAAdAppViewController::setTransparentBackgroundPresentation(bool transparent) {
  WV_DCHECK_MAIN_THREAD();
  setPresenter(transparent ? QMATransparentOverlayPresenter::init() : nullptr);
}

void QMAAdAppViewController::setCustomClosePosition(std::int64_t position) {
  WV_DCHECK_MAIN_THREAD();
  customClosePosition_ = position;
  if (isMRAIDAd()) positionMRAIDCloseButton();
}

bool QMAAdAppViewController::isMRAIDAd() const {
  auto s = slot();
  return s && s->isMRAIDEnabled();
}

void QMAAdAppViewController::positionMRAIDCloseButton() {
  closeButton_->setAutoresizingMask(
      static_cast<std::uint32_t>(QMAMRAIDResizeProperties::autoresizingMaskForClosePosition(customClosePosition_)));
  closeButton_->setFrame(
      QMAMRAIDResizeProperties::closeButtonRectForPositionContentFrame(customClosePosition_, view()->bounds()));
}

void QMAAdAppViewController::updateCloseButtonVisibilityAndImage() {
  const bool mraid = isMRAIDAd();
  if (useCustomClose_ && !mraid) {
    // The creative closes itself ("close").
    closeButton_->removeFromSuperview();
    return;
  }
  // An MRAID creative with its own close control keeps an invisible but tappable close area.
  auto& images = QMAIntrinsicImages::sharedInstance();
  closeButton_->setImage(useCustomClose_ ? images.transparentImage() : images.closeButton());
  if (closeButton_->superview() == view()) {
    view()->bringSubviewToFront(closeButton_);
  } else {
    view()->addSubview(closeButton_);
  }
}

bool QMAAdAppViewController::isFileAccessAllowed() const {
  auto delegate = adView_ ? std::dynamic_pointer_cast<QMAAdViewDelegate>(adView_->delegate()) : nullptr;
  return delegate && delegate->isFileAccessAllowed();
}

void QMAAdAppViewController::setFileAccessAllowed(bool allowed) {
  auto delegate = adView_ ? std::dynamic_pointer_cast<QMAAdViewDelegate>(adView_->delegate()) : nullptr;
  if (delegate) delegate->setFileAccessAllowed(allowed);
}

bool QMAAdAppViewController::isLoaded() const { return adViewDelegate_ && adViewDelegate_->hasLoadedAtLeastOnce(); }

bool QMAAdAppViewController::shouldDismissOnApplicationEnteringForeground() {
  WV_DCHECK_MAIN_THREAD();
  if (useCustomClose_) return true;
  auto opener = adViewDelegate_ ? adViewDelegate_->opener() : nullptr;
  if (isLoaded() && opener && opener->didOpenAnotherApplication()) {
    opener->setDidOpenAnotherApplication(false);
    return false;
  }
  return QMAViewController::shouldDismissOnApplicationEnteringForeground();
}

void QMAAdAppViewController::load(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  if (!url) return;
  if (adView_ && hasAppeared_) {
    adView_->loadRequest(net::URLRequest{*url});
  } else {
    pendingURL_ = url;
  }
}

void QMAAdAppViewController::loadHTMLBaseURL(const std::optional<std::string>& html,
                                             const std::optional<net::URL>& baseURL) {
  WV_DCHECK_MAIN_THREAD();
  if (!html) return;
  if (adView_ && hasAppeared_) {
    adView_->loadHTMLStringBaseURL(*html, baseURL);
  } else {
    pendingHTML_ = html;
    pendingBaseURL_ = baseURL;
  }
}

void QMAAdAppViewController::configureView() {
  auto v = view();
  adView_->setFrame(v->bounds());
  adView_->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  adView_->setHidden(false);
  v->addSubview(adView_);
  updateCloseButtonVisibilityAndImage();
  if (isMRAIDAd()) {
    positionMRAIDCloseButton();
  } else {
    closeButton_->setFrame({0, 0, kCloseButtonSide, kCloseButtonSide});
    closeButton_->setAutoresizingMask(uikit::ViewAutoresizingNone);
  }
  // The file-access flag carries over from the ad view's previous delegate.
  const bool fileAccess = isFileAccessAllowed();
  adViewDelegate_ = QMAAdAppAdViewDelegate::initWithAdAppViewController(
      std::static_pointer_cast<QMAAdAppViewController>(shared_from_this()));
  if (adViewDelegate_->opener()) adViewDelegate_->opener()->setSlot(std::static_pointer_cast<QMARenderingSlot>(slot()));
  adViewDelegate_->setFileAccessAllowed(fileAccess);
  adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(adViewDelegate_));
  if (auto url = std::exchange(pendingURL_, std::nullopt)) {
    adView_->loadRequest(net::URLRequest{*url});
  } else if (auto html = std::exchange(pendingHTML_, std::nullopt)) {
    adView_->loadHTMLStringBaseURL(*html, std::exchange(pendingBaseURL_, std::nullopt));
  }
}

void QMAAdAppViewController::viewWillAppear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  QMAViewController::viewWillAppear(animated);
  if (!hasAppeared_ && adView_) {
    hasAppeared_ = true;
    configureView();
  }
  if (auto s = slot()) s->interstitialViewWillAppear();
}

void QMAAdAppViewController::viewDidAppear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->forceRotateToOrientation(static_cast<long>(system_facts::screen().orientation));
  if (auto handler = MRAIDEventHandlerOf(slot())) handler->updateVisibility(true);
}

void QMAAdAppViewController::viewWillDisappear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  QMAViewController::viewWillDisappear(animated);
  auto s = slot();
  // Only an ad that leaves the screen with this controller stops being watched and hears it
  // is out of sight. A banner given back to its place (expanded or resized) or uncovered by
  // its second part, and an interstitial under its second part, are still on screen: their
  // monitor goes on sampling, and only it tells the creative when that changes. Stopping it
  // here left a banner back in place "not viewable" for good, as nothing started it again.
  if (s && slotAdViewStaysOnScreenWithout(*s)) return;
  if (s) s->interstitialViewWillDisappear();
  if (auto handler = MRAIDEventHandlerOf(s)) handler->updateVisibility(false);
}

bool QMAAdAppViewController::slotAdViewStaysOnScreenWithout(const QMAPresentationSlot& slot) {
  auto shown = slot.adView();
  return shown && shown->window() && !shown->isDescendantOfView(view().get());
}

void QMAAdAppViewController::didRotateFromInterfaceOrientation(long) {
  WV_DCHECK_MAIN_THREAD();
  viewChangedToOrientation(interfaceOrientation());
}

void QMAAdAppViewController::viewChangedToOrientation(long orientation) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->didRotateToOrientation(orientation);
}

// ---- QMAInterstitialViewController

std::shared_ptr<QMAInterstitialViewController> QMAInterstitialViewController::initWithSlot(
    const std::shared_ptr<QMAPresentationSlot>& slot) {
  WV_DCHECK_MAIN_THREAD();
  if (!slot) return nullptr;
  std::shared_ptr<QMAInterstitialViewController> vc(new QMAInterstitialViewController());
  vc->initWithAdViewSteps(slot->adView());
  vc->setSlot(slot);
  if (vc->adView_) vc->adView_->setViewController(vc);
  // The optional analytics library counts the ad as a screen of its own.
  if (QMAAdSettingsParameters::sharedInstance().settingsServiceEnabled())
    QMAAdSettingsParameters::nameScreenOfController(vc->runtimeObject(), "Interstitial Ad");
  return vc;
}

void QMAInterstitialViewController::presentFromViewControllerCompletion(
    const std::shared_ptr<uikit::ViewController>& viewController, Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (auto s = slot()) interstitial_ = s->interstitial();
  QMAAdAppViewController::presentFromViewControllerCompletion(viewController, std::move(completion));
}

bool QMAInterstitialViewController::isLoaded() const {
  auto s = slot();
  return s && s->state() == 6;
}

void QMAInterstitialViewController::finishAppearing() {
  QMAAdAppViewController::finishAppearing();
  if (adView_) adView_->dispatchSDKEventParameters("onshow", std::nullopt);
}

void QMAInterstitialViewController::relinquishScreenWithCompletion(Completion completion) {
  if (adView_ && !isRelinquishing()) adView_->dispatchSDKEventParameters("onhide", std::nullopt);
  QMAAdAppViewController::relinquishScreenWithCompletion(std::move(completion));
}

void QMAInterstitialViewController::finishDismissal() {
  QMAAdAppViewController::finishDismissal();
  adView_.reset();
}

// ---- QMASupplementalAdAppViewController

std::shared_ptr<QMASupplementalAdAppViewController> QMASupplementalAdAppViewController::init() {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMASupplementalAdAppViewController> vc(new QMASupplementalAdAppViewController());
  vc->initWithAdViewSteps(nullptr);
  return vc;
}

namespace {
std::shared_ptr<QMAAdView> slotAdView(const std::shared_ptr<QMAPresentationSlot>& slot) {
  return slot ? slot->adView() : nullptr;
}

// The banner's creative hears the state its second part gives it together with all it reads
// of its ad at that moment.
void reportBannerState(const std::shared_ptr<QMAPresentationSlot>& slot, const char* state) {
  auto banner = slotAdView(slot);
  if (!banner) return;
  const auto& ad = slot->ad();
  QMADispatchMRAIDState(banner, state, ad ? ad->MRAIDEventHandler() : nullptr);
}
}  // namespace

void QMASupplementalAdAppViewController::finishAppearing() {
  QMAAdAppViewController::finishAppearing();
  if (adView_) {
    adView_->dispatchSDKEventParameters("onReadyEventReceived", foundation::Dictionary{{"js", QMARequest::sdkVersion()}});
    adView_->dispatchSDKEventParameters("onStateChanged", foundation::Dictionary{{"state", "expanded"}});
  }
  reportBannerState(slot(), "expanded");
}

void QMASupplementalAdAppViewController::finishDismissal() {
  const bool wasDismissing = intermission() != nullptr;
  QMAAdAppViewController::finishDismissal();
  // Once, however many times the dismissal is finished.
  if (!wasDismissing) return;
  reportBannerState(slot(), "default");
}

void QMASupplementalAdAppViewController::viewDidAppear(bool animated) {
  QMAAdAppViewController::viewDidAppear(animated);
  if (adView_) adView_->dispatchSDKEventParameters("onAdVisibilityChanged", foundation::Dictionary{{"visible", "1"}});
}

void QMASupplementalAdAppViewController::viewDidDisappear(bool animated) {
  QMAAdAppViewController::viewDidDisappear(animated);
  if (adView_) adView_->dispatchSDKEventParameters("onAdVisibilityChanged", foundation::Dictionary{{"visible", "0"}});
}

// ---- QMAExpandedAdAppViewController

std::shared_ptr<QMAExpandedAdAppViewController> QMAExpandedAdAppViewController::initWithAdView(
    const std::shared_ptr<QMAAdView>& adView) {
  WV_DCHECK_MAIN_THREAD();
  if (!adView) return nullptr;
  std::shared_ptr<QMAExpandedAdAppViewController> vc(new QMAExpandedAdAppViewController());
  vc->initWithAdViewSteps(adView);
  return vc;
}

QMAExpandedAdAppViewController::~QMAExpandedAdAppViewController() {
  if (renderedBanner_) renderedBanner_->removeFromSuperview();
}

void QMAExpandedAdAppViewController::configureView() {
  adView_->saveState();
  adView_->setViewController(weak_from_this());
  // A still picture of the banner stays in its place while the live view is borrowed.
  renderedBanner_ = std::make_shared<uikit::ImageView>(adView_->frame());
  renderedBanner_->setImage(qma_render(*adView_));
  // Taking the picture runs the main loop: the takeover may have ended meanwhile (a new ad
  // replacing the page ends it) and given the view back to its banner, where it stays.
  if (isRelinquishing() || adView_->viewController().get() != static_cast<uikit::ViewController*>(this)) {
    renderedBanner_.reset();
    return;
  }
  if (auto banner = adView_->superview()) banner->addSubview(renderedBanner_);
  adView_->removeFromSuperview();
  adView_->reset();
  QMAAdAppViewController::configureView();
}

void QMAExpandedAdAppViewController::relinquishScreenWithCompletion(Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_ && adView_->viewController().get() == static_cast<uikit::ViewController*>(this)) adView_->restoreState();
  // The resize leaves first: when this one leaves, the takeover ends (the host hears it,
  // the status bar comes back) before the creative hears it is back in its default state.
  relinquishResizedViewController();
  QMAAdAppViewController::relinquishScreenWithCompletion(std::move(completion));
}

void QMAExpandedAdAppViewController::finishDismissal() {
  relinquishResizedViewController();
  QMAAdAppViewController::finishDismissal();
}

void QMAExpandedAdAppViewController::relinquishResizedViewController() {
  // Its content was this ad view, already back in the banner (the saved state is the
  // banner's, taken when the resize borrowed the view): it only leaves the screen.
  if (auto resized = std::exchange(resizedViewController_, {}).lock()) resized->relinquishScreenWithCompletion(nullptr);
}
