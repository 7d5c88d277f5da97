#include "ads/present/swipeable_store_product_view_controller.h"

#include "platform/dispatch/thread_checks.h"

void QMASwipeableStoreProductViewController::loadProductWithParameters(const foundation::Dictionary& parameters,
                                                                      std::function<void(bool)> completion) {
  WV_DCHECK_MAIN_THREAD();
  parameters_ = parameters;
  // The stand-in store shows whatever it has for the item: the load always ends.
  if (completion) completion(true);
}

void QMASwipeableStoreProductViewController::userDidFinish() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  if (auto d = delegate()) d->productViewControllerDidFinish(*this);
}
