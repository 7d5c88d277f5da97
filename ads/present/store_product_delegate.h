#pragma once
// The one delegate of every store product page the ad component shows: when the user is
// done with a page (or the opener takes down a page that failed to load), the page's
// overlay proxy gives the screen back, or, for a page shown without one, the controller
// that presents it dismisses it.
//
// Threads: main thread only (checked).

#include <memory>

#include "platform/storekit/store_product_view_controller.h"

class QMASKStoreProductViewControllerDelegate : public storekit::SKStoreProductViewControllerDelegate {
 public:
  // Made on first use, never released.
  static const std::shared_ptr<QMASKStoreProductViewControllerDelegate>& sharedInstance();
  void productViewControllerDidFinish(const std::shared_ptr<storekit::SKStoreProductViewController>& controller) override;
};
