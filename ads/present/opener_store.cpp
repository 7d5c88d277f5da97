// The opener's store group: product pages inside the application, loaded ahead when the
// creative asks, and in-app purchase offers.
#include "ads/present/opener.h"

#include <algorithm>

#include "ads/present/overlay_proxy.h"
#include "ads/present/presentation_slot.h"
#include "ads/present/store_product_delegate.h"
#include "ads/present/view_controller.h"
#include "ads/render/vistrace_qomb_handler.h"
#include "ads/services/in_app_purchase.h"
#include "platform/dispatch/thread_checks.h"

// ---- the shared store delegate

const std::shared_ptr<QMASKStoreProductViewControllerDelegate>& QMASKStoreProductViewControllerDelegate::sharedInstance() {
  static const auto* instance =
      new std::shared_ptr<QMASKStoreProductViewControllerDelegate>(std::make_shared<QMASKStoreProductViewControllerDelegate>());
  return *instance;
}

void QMASKStoreProductViewControllerDelegate::productViewControllerDidFinish(
    const std::shared_ptr<storekit::SKStoreProductViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return;
  if (auto proxy = QMAOverlayProxy::overlayProxyForViewController(controller)) {
    proxy->relinquishScreenWithCompletion(nullptr);
    return;
  }
  if (auto presenting = controller->presentingViewController()) presenting->dismissViewControllerAnimated(true, nullptr);
}

// ---- QMAOpener

std::shared_ptr<QMAPresentationSlot> QMAOpener::presentationSlot() const {
  return std::dynamic_pointer_cast<QMAPresentationSlot>(slot());
}

foundation::Dictionary QMAOpener::storeProductParametersForProductID(const std::string& productID) {
  return foundation::Dictionary{{storekit::SKStoreProductParameterITunesItemIdentifier,
                                 static_cast<std::int64_t>(QMAIntegerValue(productID))}};
}

std::shared_ptr<storekit::SKStoreProductViewController> QMAOpener::newStorePage() {
  auto page = storekit::SKStoreProductViewController::init();
  if (auto proxy = QMAOverlayProxy::initWithViewController(page)) proxy->setSlot(presentationSlot());
  page->setDelegate(QMASKStoreProductViewControllerDelegate::sharedInstance());
  return page;
}

void QMAOpener::presentStorePage(const std::shared_ptr<storekit::SKStoreProductViewController>& page) {
  auto proxy = QMAOverlayProxy::overlayProxyForViewController(page);
  if (!proxy) return;
  std::weak_ptr<QMAOpener> weak = shared_from_this();
  // The proxy presents nothing, and never calls back, without a controller to present
  // from: the click is reported only for a page that is up.
  proxy->presentFromViewControllerCompletion(viewController(), [weak] {
    if (auto opener = weak.lock()) opener->didOpenInApp();
  });
}

void QMAOpener::openInAppStoreWithProductIDFallbackURLShouldWaitForFetch(const std::string& productID,
                                                                         const std::optional<net::URL>& fallbackURL,
                                                                         bool shouldWaitForFetch) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenAction()) return;
  if (auto cached = cachedStoreProductViewController_.find(productID);
      cached != cachedStoreProductViewController_.end()) {
    auto page = cached->second;
    cachedStoreProductViewController_.erase(cached);
    std::erase(cachedStorePageOrder_, productID);
    if (!QMAOverlayProxy::overlayProxyForViewController(page)) {
      if (auto proxy = QMAOverlayProxy::initWithViewController(page)) proxy->setSlot(presentationSlot());
    }
    page->setDelegate(QMASKStoreProductViewControllerDelegate::sharedInstance());
    presentStorePage(page);
    return;
  }
  auto page = newStorePage();
  auto self = shared_from_this();
  std::weak_ptr<QMAOpener> weak = self;
  page->loadProductWithParametersCompletionBlock(
      storeProductParametersForProductID(productID),
      [self, weak, page, fallbackURL, shouldWaitForFetch](bool loaded, const std::optional<storekit::SKError>&) {
        if (loaded) {
          if (shouldWaitForFetch) self->presentStorePage(page);
          return;
        }
        auto presenting = page->presentingViewController();
        const bool onScreen = presenting && presenting->presentedViewController() == page;
        if (!onScreen) return;
        if (auto delegate = page->delegate()) delegate->productViewControllerDidFinish(page);
        if (auto opener = weak.lock()) opener->openApp(fallbackURL);
      });
  // Shown while it loads: the user sees the page come.
  if (!shouldWaitForFetch) presentStorePage(page);
}

void QMAOpener::fetchInAppStoreForProductID(const std::string& productID) {
  WV_DCHECK_MAIN_THREAD();
  if (cachedStoreProductViewController_.count(productID) || storePagesBeingFetched_.count(productID)) return;
  if (cachedStoreProductViewController_.size() + storePagesBeingFetched_.size() >= kMaximumCachedStorePages) {
    if (cachedStorePageOrder_.empty()) return;  // every place taken by a load still running
    cachedStoreProductViewController_.erase(cachedStorePageOrder_.front());
    cachedStorePageOrder_.erase(cachedStorePageOrder_.begin());
  }
  storePagesBeingFetched_.insert(productID);
  auto page = storekit::SKStoreProductViewController::init();
  std::weak_ptr<QMAOpener> weak = shared_from_this();
  page->loadProductWithParametersCompletionBlock(
      storeProductParametersForProductID(productID),
      [weak, page, productID](bool loaded, const std::optional<storekit::SKError>&) {
        auto opener = weak.lock();
        if (!opener) return;
        opener->storePagesBeingFetched_.erase(productID);
        // A failed prefetch leaves no trace; the open loads the page itself.
        if (!loaded) return;
        opener->cachedStoreProductViewController_[productID] = page;
        std::erase(opener->cachedStorePageOrder_, productID);
        opener->cachedStorePageOrder_.push_back(productID);
      });
}

void QMAOpener::openInAppStoreFallbackURL(const std::string& productID, const std::optional<net::URL>& fallbackURL) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenAction()) return;
  auto page = newStorePage();
  auto self = shared_from_this();
  std::weak_ptr<QMAOpener> weak = self;
  page->loadProductWithParametersCompletionBlock(
      storeProductParametersForProductID(productID),
      [self, weak, page, fallbackURL](bool loaded, const std::optional<storekit::SKError>&) {
        if (!loaded) {
          if (auto opener = weak.lock()) opener->openApp(fallbackURL);
          return;
        }
        auto from = self->viewController();
        if (!from || from->isBeingDismissed()) return;
        self->presentStorePage(page);
      });
}

void QMAOpener::openInAppPurchaseQuantityReportingURLStringFormats(const std::string& productID,
                                                                   std::int64_t quantity,
                                                                   const std::vector<std::string>& formats) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenAction()) return;
  auto keep = shared_from_this();
  auto purchase = std::make_shared<QMAInAppPurchase>();
  purchase->setProductID(productID);
  purchase->setQuantity(quantity);
  purchase->setReportingURLStringFormats(formats);
  if (auto s = presentationSlot()) s->didReceiveInAppPurchase(purchase);
  didOpenInApp();
  // An offer from a full-screen ad: the ad makes way for the purchase.
  if (auto fullScreen = std::dynamic_pointer_cast<QMAViewController>(viewController()))
    fullScreen->relinquishScreenWithCompletion(nullptr);
}
