#include "ads/services/products_request.h"

#include "ads/services/utilities.h"

foundation::Error QMAErrorFromStoreError(const storekit::SKError& error) {
  foundation::Error e{error.domain, static_cast<long>(error.code), {}};
  if (!error.localizedDescription.empty()) e.userInfo[foundation::kLocalizedDescriptionKey] = error.localizedDescription;
  return e;
}

void QMAProductsRequest::requestProductsWithProductIdentifiersQueueCompletionHandler(
    std::set<std::string> identifiers, dispatch::QueuePtr queue, QMAProductsCompletion completionHandler) {
  if (!queue || !completionHandler) return;
  auto request = initWithProductIdentifiers(std::move(identifiers));
  if (!request) {
    queue->async([completionHandler = std::move(completionHandler)] {
      completionHandler(std::nullopt, std::nullopt, qma_errorWithCodeDescription(3, std::string("Couldn't initialize.")));
    });
    return;
  }
  request->requestWithQueueCompletionHandler(std::move(queue), std::move(completionHandler));
}

std::shared_ptr<QMAProductsRequest> QMAProductsRequest::initWithProductIdentifiers(std::set<std::string> identifiers) {
  auto platform = storekit::SKProductsRequest::initWithProductIdentifiers(std::move(identifiers));
  if (!platform) return nullptr;
  auto request = std::make_shared<QMAProductsRequest>();
  request->productsRequest_ = std::move(platform);
  return request;
}

void QMAProductsRequest::requestWithQueueCompletionHandler(dispatch::QueuePtr queue,
                                                           QMAProductsCompletion completionHandler) {
  queue_ = std::move(queue);
  completionHandler_ = std::move(completionHandler);
  self_ = shared_from_this();
  productsRequest_->setDelegate(weak_from_this());
  productsRequest_->start();
}

void QMAProductsRequest::productsRequestDidReceiveResponse(storekit::SKProductsRequest&,
                                                           const storekit::SKProductsResponse& response) {
  if (completionHandler_ && queue_) {
    QMAProductMap products;
    for (const auto& p : response.products) products[p.productIdentifier] = p;
    std::set<std::string> invalid(response.invalidProductIdentifiers.begin(), response.invalidProductIdentifiers.end());
    queue_->async([completion = completionHandler_, products = std::move(products), invalid = std::move(invalid)] {
      completion(products, invalid, std::nullopt);
    });
  }
  finish();
}

void QMAProductsRequest::requestDidFailWithError(storekit::SKProductsRequest&, const storekit::SKError& error) {
  if (completionHandler_ && queue_) {
    queue_->async([completion = completionHandler_, error = QMAErrorFromStoreError(error)] {
      completion(std::nullopt, std::nullopt, error);
    });
  }
  finish();
}

void QMAProductsRequest::finish() {
  completionHandler_ = nullptr;
  // Released last: this may be the final reference.
  auto self = std::move(self_);
}

QMAInAppPurchaseProductCache& QMAInAppPurchaseProductCache::sharedInstance() {
  static QMAInAppPurchaseProductCache cache;
  return cache;
}

QMAInAppPurchaseProductCache::QMAInAppPurchaseProductCache()
    : lockQueue_(dispatch::Queue::createSerial("com.quillon.pelmark.iap-cache")) {}

std::optional<storekit::SKProduct> QMAInAppPurchaseProductCache::cachedProductForProductID(
    const std::string& productID) const {
  std::optional<storekit::SKProduct> product;
  lockQueue_->sync([&] {
    if (auto it = validProductIDs_.find(productID); it != validProductIDs_.end()) product = it->second;
  });
  return product;
}

bool QMAInAppPurchaseProductCache::isInvalidProductID(const std::string& productID) const {
  bool invalid = false;
  lockQueue_->sync([&] { invalid = invalidProducts_.count(productID) > 0; });
  return invalid;
}

void QMAInAppPurchaseProductCache::removeAllProducts() {
  lockQueue_->sync([&] {
    validProductIDs_.clear();
    invalidProducts_.clear();
  });
}

void QMAInAppPurchaseProductCache::requestProductsWithProductIdentifiersQueueCompletionHandler(
    std::set<std::string> identifiers, dispatch::QueuePtr queue, QMAProductsCompletion completionHandler) {
  if (!queue || !completionHandler) return;
  QMAProductsRequest::requestProductsWithProductIdentifiersQueueCompletionHandler(
      std::move(identifiers), lockQueue_,
      [this, queue, completionHandler](std::optional<QMAProductMap> products,
                                       std::optional<std::set<std::string>> invalid,
                                       std::optional<foundation::Error> error) {
        // Runs on the lock queue.
        if (products) {
          for (const auto& [id, product] : *products) validProductIDs_[id] = product;
        }
        if (invalid) {
          for (const auto& id : *invalid) {
            validProductIDs_.erase(id);
            invalidProducts_.insert(id);
          }
        }
        if (products) {
          for (const auto& [id, product] : *products) invalidProducts_.erase(id);
        }
        queue->async([completionHandler, products = std::move(products), invalid = std::move(invalid),
                      error = std::move(error)] { completionHandler(products, invalid, error); });
      });
}
