#pragma once
// Store products for the purchase reporter and the default purchase flow: one products
// request with a block completion, and the process-wide cache of every product the store
// has returned and every identifier it has refused.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"
#include "platform/storekit/storekit.h"

using QMAProductMap = std::map<std::string, storekit::SKProduct>;
// Products by identifier, the identifiers the store called invalid, and the failure.
using QMAProductsCompletion = std::function<void(std::optional<QMAProductMap> products,
                                                 std::optional<std::set<std::string>> invalidIdentifiers,
                                                 std::optional<foundation::Error> error)>;

class QMAProductsRequest : public storekit::SKProductsRequestDelegate,
                           public std::enable_shared_from_this<QMAProductsRequest> {
 public:
  // Does nothing without a queue or a completion. The completion always arrives
  // asynchronously on `queue`.
  static void requestProductsWithProductIdentifiersQueueCompletionHandler(std::set<std::string> identifiers,
                                                                          dispatch::QueuePtr queue,
                                                                          QMAProductsCompletion completionHandler);
  // Null when the platform request cannot be made.
  static std::shared_ptr<QMAProductsRequest> initWithProductIdentifiers(std::set<std::string> identifiers);
  void requestWithQueueCompletionHandler(dispatch::QueuePtr queue, QMAProductsCompletion completionHandler);

  void productsRequestDidReceiveResponse(storekit::SKProductsRequest& request,
                                         const storekit::SKProductsResponse& response) override;
  void requestDidFailWithError(storekit::SKProductsRequest& request, const storekit::SKError& error) override;

 private:
  void finish();

  std::shared_ptr<storekit::SKProductsRequest> productsRequest_;
  QMAProductsCompletion completionHandler_;
  dispatch::QueuePtr queue_;
  // Held from the start until the completion has been handed to its queue.
  std::shared_ptr<QMAProductsRequest> self_;
};

class QMAInAppPurchaseProductCache {
 public:
  static QMAInAppPurchaseProductCache& sharedInstance();
  QMAInAppPurchaseProductCache();

  std::optional<storekit::SKProduct> cachedProductForProductID(const std::string& productID) const;
  // Asks the store, updates the cache, then calls the completion on `queue`. Does
  // nothing without a queue or a completion.
  void requestProductsWithProductIdentifiersQueueCompletionHandler(std::set<std::string> identifiers,
                                                                   dispatch::QueuePtr queue,
                                                                   QMAProductsCompletion completionHandler);
  bool isInvalidProductID(const std::string& productID) const;
  // Forgets every product and refused identifier (the cache of a new launch; tests start
  // each case from it).
  void removeAllProducts();

 private:
  std::set<std::string> invalidProducts_;
  QMAProductMap validProductIDs_;
  dispatch::QueuePtr lockQueue_;
};

// A store error as the platform's error object.
foundation::Error QMAErrorFromStoreError(const storekit::SKError& error);
