#include "ads/present/ad_app_view_controller.h"

#include "ads/present/ad_app_ad_view_delegate.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/system/screen_facts.h"

// ---- QMAAdAppViewController

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

void QMAAdAppViewController::updateCloseButtonVisibilityAndImage() {
  // An MRAID creative keeps an invisible close region; its placement by the creative's
  // close position comes with MRAID resizing.
  auto s = slot();
  const bool mraid = s && s->isMRAIDEnabled();
  if (useCustomClose_ && !mraid) {
    closeButton_->removeFromSuperview();
    return;
  }
  closeButton_->setTitle(useCustomClose_ ? "" : "X");
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
  closeButton_->setFrame({0, 0, kCloseButtonSide, kCloseButtonSide});
  closeButton_->setAutoresizingMask(uikit::ViewAutoresizingNone);
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
  if (!hasAppeared_ && adView_) {
    hasAppeared_ = true;
    configureView();
  }
  if (auto s = slot()) s->interstitialViewWillAppear();
}

void QMAAdAppViewController::viewDidAppear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->forceRotateToOrientation(static_cast<long>(system_facts::screen().orientation));
}

void QMAAdAppViewController::viewWillDisappear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  QMAViewController::viewWillDisappear(animated);
  if (auto s = slot()) s->interstitialViewWillDisappear();
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
