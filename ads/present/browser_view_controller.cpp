#include "ads/present/browser_view_controller.h"

#include "ads/present/intrinsic_images.h"
#include "ads/present/opener.h"
#include "ads/present/browser_ad_view_delegate.h"
#include "ads/services/device.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/color.h"

// ---- QMABrowserAdView

std::shared_ptr<QMABrowserAdView> QMABrowserAdView::initWithFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  auto view = std::make_shared<QMABrowserAdView>(frame);
  view->setUp();
  return view;
}

void QMABrowserAdView::setViewController(std::weak_ptr<uikit::ViewController> vc) {
  if (std::dynamic_pointer_cast<QMABrowserViewController>(vc.lock())) QMAAdView::setViewController(std::move(vc));
}

std::shared_ptr<QMABrowserViewController> QMABrowserAdView::browserViewController() const {
  return std::dynamic_pointer_cast<QMABrowserViewController>(viewController());
}

// ---- QMABrowserViewController

std::shared_ptr<QMABrowserViewController> QMABrowserViewController::init() {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMABrowserViewController> vc(new QMABrowserViewController());
  vc->commonSetUp();
  return vc;
}

QMABrowserViewController::~QMABrowserViewController() {
  if (adView_) adView_->setDelegate({});
}

void QMABrowserViewController::loadReferringURL(const std::optional<net::URL>& url,
                                                const std::optional<net::URL>& referringURL) {
  WV_DCHECK_MAIN_THREAD();
  if (!url) return;
  if (!adView_) {
    URLToLoad_ = url;
    referringURLToLoad_ = referringURL;
    return;
  }
  net::URLRequest request(*url);
  // The referring ad's host alone: no scheme, path or query leaves with it.
  if (referringURL && referringURL->host()) request.headers.set("Referer", *referringURL->host());
  adView_->loadRequest(request);
}

void QMABrowserViewController::back() {
  if (adView_ && adView_->canGoBack()) adView_->goBack();
}

void QMABrowserViewController::forward() {
  if (adView_ && adView_->canGoForward()) adView_->goForward();
}

void QMABrowserViewController::reload() {
  if (adView_) adView_->reload();
}

void QMABrowserViewController::stop() {
  if (adView_) adView_->stopLoading();
}

void QMABrowserViewController::openInSafari() {
  WV_DCHECK_MAIN_THREAD();
  auto request = adView_ ? adView_->request() : std::nullopt;
  auto opener = QMAOpener::init();
  opener->setViewController(weak_from_this());
  opener->setSlot(slot());
  opener->openApp(request ? std::optional<net::URL>(request->url) : std::nullopt);
  auto s = slot();
  auto ad = s ? s->ad() : nullptr;
  if (auto stats = ad ? ad->statistics() : nullptr) stats->setObjectForKeyShouldNotifyDelegate(foundation::Value(true), "pcbo", true);
}

void QMABrowserViewController::refreshToolbar() {
  WV_DCHECK_MAIN_THREAD();
  if (!adView_ || !toolbar_) return;
  backButton_->setEnabled(adView_->canGoBack());
  forwardButton_->setEnabled(adView_->canGoForward());
  std::shared_ptr<uikit::BarButtonItem> middle;
  if (adView_->isLoading()) {
    middle = spinnerContainingButton_;
    spinner_->startAnimating();
    safariButton_->setEnabled(false);
  } else {
    middle = reloadButton_;
    spinner_->stopAnimating();
    safariButton_->setEnabled(true);
  }
  const auto& flex = flexibleSpaceButton_;
  toolbar_->setItems({backButton_, flex, forwardButton_, flex, middle, flex, safariButton_, flex, doneButton_});
}

std::shared_ptr<uikit::BarButtonItem> QMABrowserViewController::buttonWithImageNameWidthEnabledAction(
    const std::shared_ptr<uikit::Image>& image, const std::string& name, double width, bool enabled,
    uikit::BarButtonItem::Action action) {
  auto item = std::make_shared<uikit::BarButtonItem>(image, uikit::BarButtonItemStyle::Plain, std::move(action));
  item->setWidth(width);
  item->setEnabled(enabled);
  item->setIsAccessibilityElement(true);
  item->setAccessibilityLabel(name);
  return item;
}

void QMABrowserViewController::createToolbarButtons() {
  std::weak_ptr<QMABrowserViewController> weak = browser();
  auto call = [weak](void (QMABrowserViewController::*method)()) {
    return [weak, method](const std::shared_ptr<uikit::BarButtonItem>&) {
      if (auto self = weak.lock()) ((*self).*method)();
    };
  };
  auto& images = QMAIntrinsicImages::sharedInstance();
  flexibleSpaceButton_ = std::make_shared<uikit::BarButtonItem>(uikit::BarButtonSystemItem::FlexibleSpace, nullptr);
  backButton_ = buttonWithImageNameWidthEnabledAction(images.browserBackButton(), "Back", 27, false,
                                                      call(&QMABrowserViewController::back));
  forwardButton_ = buttonWithImageNameWidthEnabledAction(images.browserForwardButton(), "Forward", 27, false,
                                                         call(&QMABrowserViewController::forward));
  spinner_ = std::make_shared<uikit::ActivityIndicatorView>(uikit::ActivityIndicatorViewStyle::White);
  spinner_->setAutoresizingMask(uikit::ViewAutoresizingFlexibleLeftMargin | uikit::ViewAutoresizingFlexibleRightMargin);
  spinner_->setFrame({0, 0, 20, 20});
  spinnerContainingButton_ = std::make_shared<uikit::BarButtonItem>(std::static_pointer_cast<uikit::View>(spinner_));
  spinnerContainingButton_->setWidth(20);
  spinnerContainingButton_->setEnabled(true);
  spinnerContainingButton_->setIsAccessibilityElement(true);
  spinnerContainingButton_->setAccessibilityLabel("Spinner");
  auto system = [](uikit::BarButtonSystemItem kind, const std::string& name, double width, bool enabled,
                   uikit::BarButtonItem::Action action) {
    auto item = std::make_shared<uikit::BarButtonItem>(kind, std::move(action));
    item->setWidth(width);
    item->setEnabled(enabled);
    item->setIsAccessibilityElement(true);
    item->setAccessibilityLabel(name);
    return item;
  };
  reloadButton_ = system(uikit::BarButtonSystemItem::Refresh, "Reload", 27, true, call(&QMABrowserViewController::reload));
  safariButton_ =
      system(uikit::BarButtonSystemItem::Action, "View in Safari", 27, false, call(&QMABrowserViewController::openInSafari));
  doneButton_ = system(uikit::BarButtonSystemItem::Done, "Done", 0, true, call(&QMABrowserViewController::doneButtonPressed));
  doneButton_->setStyle(uikit::BarButtonItemStyle::Done);
}

void QMABrowserViewController::viewDidLoad() {
  QMAViewController::viewDidLoad();
  view()->setBackgroundColor(uikit::Color::whiteColor());
}

void QMABrowserViewController::viewWillAppear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  QMAViewController::viewWillAppear(animated);
  if (adView_) return;
  double h = kToolbarHeight;
  if (system_facts::device().idiom != system_facts::InterfaceIdiom::Pad && QMADevice::sharedInstance()->isOrientationLandscape())
    h = kLandscapePhoneToolbarHeight;
  auto v = view();
  const double W = v->bounds().width(), H = v->bounds().height();
  adView_ = QMABrowserAdView::initWithFrame({0, 0, W, H - h + 1});
  adView_->setViewController(weak_from_this());
  adView_->setShowDebug(false);
  adView_->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  v->addSubview(adView_);
  adView_->setDataDetectorTypes(~std::uint64_t{0});
  adViewDelegate_ = QMABrowserAdViewDelegate::init();
  adView_->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(adViewDelegate_));
  if (auto url = std::exchange(URLToLoad_, std::nullopt)) loadReferringURL(url, std::exchange(referringURLToLoad_, std::nullopt));
  toolbar_ = std::make_shared<uikit::Toolbar>(uikit::Rect{0, H - h + 1, W, h});
  toolbar_->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleTopMargin);
  toolbar_->setTintColor(uikit::Color::blackColor());
  v->addSubview(toolbar_);
  createToolbarButtons();
  refreshToolbar();
}

void QMABrowserViewController::didRotateFromInterfaceOrientation(long) {
  if (adView_) adView_->didRotateToOrientation(static_cast<long>(system_facts::screen().orientation));
}
