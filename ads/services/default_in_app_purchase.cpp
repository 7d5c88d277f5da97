#include "ads/services/default_in_app_purchase.h"

#include "ads/services/logging.h"
#include "ads/services/products_request.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"

using storekit::SKPaymentQueue;
using storekit::SKPaymentTransaction;
using storekit::SKPaymentTransactionState;

void QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(
    const std::shared_ptr<QMADefaultInAppPurchaseDelegate>& delegate) {
  QMADefaultInAppPurchaseFlow::sharedInstance()->enableDefaultPurchaseFlowWithDelegate(delegate);
}

void QMADefaultInAppPurchase::disableDefaultPurchaseFlow() {
  QMADefaultInAppPurchaseFlow::sharedInstance()->disableDefaultPurchaseFlow();
}

void QMADefaultInAppPurchase::finishTransaction() {
  if (paymentTransaction_) {
    SKPaymentQueue::defaultQueue().finishTransaction(paymentTransaction_);
    paymentTransaction_.reset();
  }
  if (inAppPurchase_) {
    inAppPurchase_->reportPurchaseStatus(QMAInAppPurchaseStatusSuccessful);
    inAppPurchase_.reset();
  }
}

std::shared_ptr<QMADefaultInAppPurchaseFlow> QMADefaultInAppPurchaseFlow::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* flow = new std::shared_ptr<QMADefaultInAppPurchaseFlow>(std::make_shared<QMADefaultInAppPurchaseFlow>());
  return *flow;
}

std::shared_ptr<QMADefaultInAppPurchaseDelegate> QMADefaultInAppPurchaseFlow::delegate() const {
  std::lock_guard lock(delegateMutex_);
  return defaultInAppPurchaseDelegate_;
}

bool QMADefaultInAppPurchaseFlow::isDefaultPurchaseFlowEnabled() const { return delegate() != nullptr; }

void QMADefaultInAppPurchaseFlow::enableDefaultPurchaseFlowWithDelegate(
    const std::shared_ptr<QMADefaultInAppPurchaseDelegate>& delegate) {
  std::lock_guard lock(delegateMutex_);
  if (!delegate || delegate == defaultInAppPurchaseDelegate_) return;
  if (!defaultInAppPurchaseDelegate_) SKPaymentQueue::defaultQueue().addTransactionObserver(shared_from_this());
  defaultInAppPurchaseDelegate_ = delegate;
}

void QMADefaultInAppPurchaseFlow::disableDefaultPurchaseFlow() {
  std::shared_ptr<QMADefaultInAppPurchaseDelegate> dropped;  // released outside the lock
  std::lock_guard lock(delegateMutex_);
  if (!defaultInAppPurchaseDelegate_) return;
  dropped = std::move(defaultInAppPurchaseDelegate_);
  SKPaymentQueue::defaultQueue().removeTransactionObserver(this);
}

std::size_t QMADefaultInAppPurchaseFlow::activeInAppPurchaseCount() const {
  WV_DCHECK_MAIN_THREAD();
  return activeInAppPurchases_.size();
}

void QMADefaultInAppPurchaseFlow::didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) {
  WV_DCHECK_MAIN_THREAD();
  if (!purchase) return;
  if (auto delegate = this->delegate()) {
    auto should = delegate->shouldStartPurchaseForProductIDQuantity(purchase->productID().value_or(""),
                                                                   purchase->quantity());
    if (should && !*should) {
      purchase->reportPurchaseStatus(QMAInAppPurchaseStatusError);
      notifyUserOfUnavailableProduct();
      return;
    }
  }
  if (!purchase->productID()) {
    purchase->reportPurchaseStatus(QMAInAppPurchaseStatusInvalidProduct);
    return;
  }
  const std::string productID = *purchase->productID();
  auto& cache = QMAInAppPurchaseProductCache::sharedInstance();
  if (auto product = cache.cachedProductForProductID(productID)) {
    purchaseProductInAppPurchase(*product, purchase);
    return;
  }
  std::weak_ptr<QMADefaultInAppPurchaseFlow> weak = weak_from_this();
  cache.requestProductsWithProductIdentifiersQueueCompletionHandler(
      {productID}, dispatch::Queue::main(),
      [weak, purchase, productID](std::optional<QMAProductMap> products, std::optional<std::set<std::string>>,
                                  std::optional<foundation::Error> error) {
        auto self = weak.lock();
        if (!self) return;
        const storekit::SKProduct* product = nullptr;
        if (products) {
          if (auto it = products->find(productID); it != products->end()) product = &it->second;
        }
        if (!product || error) {
          purchase->reportPurchaseStatus(QMAInAppPurchaseStatusInvalidProduct);
          if (error) QMALogger::sharedInstance()->logPublicMessage(error->localizedDescription());
          QMALogger::sharedInstance()->logPublicMessage(
              "\"" + productID + "\" is not a valid product ID or could not be validated. Verify your ad configuration.");
          self->notifyUserOfUnavailableProduct();
          return;
        }
        self->purchaseProductInAppPurchase(*product, purchase);
      });
}

void QMADefaultInAppPurchaseFlow::purchaseProductInAppPurchase(const storekit::SKProduct& product,
                                                               const std::shared_ptr<QMAInAppPurchase>& purchase) {
  WV_DCHECK_MAIN_THREAD();
  // A purchase whose quantity was refused (stored as 0) cannot be paid for.
  if (!QMAInAppPurchase::quantityIsValid(purchase->quantity())) {
    purchase->reportPurchaseStatus(QMAInAppPurchaseStatusError);
    return;
  }
  enqueueInAppPurchase(purchase);
  auto payment = storekit::SKMutablePayment::paymentWithProduct(product);
  payment->setQuantity(purchase->quantity());
  SKPaymentQueue::defaultQueue().addPayment(payment);
}

void QMADefaultInAppPurchaseFlow::notifyUserOfUnavailableProduct() {
  WV_DCHECK_MAIN_THREAD();
  uikit::AlertView::alertViewWithTitleMessageCancelButtonTitle("Whoops!", "Sorry, the product is currently unavailable.",
                                                               "OK")
      ->show();
}

void QMADefaultInAppPurchaseFlow::paymentQueueUpdatedTransactions(SKPaymentQueue&,
                                                                 const storekit::SKPaymentTransactions& transactions) {
  // The placed purchases and the delegate belong to the main thread, whichever thread
  // the store reports on.
  std::weak_ptr<QMADefaultInAppPurchaseFlow> weak = weak_from_this();
  QMARunOnMainThread([weak, transactions] {
    auto self = weak.lock();
    if (!self) return;
    for (const auto& t : transactions) {
      if (!t) continue;
      if (t->transactionState() == SKPaymentTransactionState::Purchased) {
        self->completeTransaction(t);
      } else if (t->transactionState() == SKPaymentTransactionState::Failed) {
        self->failedTransaction(t);
      }
    }
  });
}

void QMADefaultInAppPurchaseFlow::completeTransaction(const std::shared_ptr<SKPaymentTransaction>& transaction) {
  WV_DCHECK_MAIN_THREAD();
  auto paid = std::make_shared<QMADefaultInAppPurchase>();
  paid->setProductID(transaction->payment()->productIdentifier());
  paid->setQuantity(transaction->payment()->quantity());
  paid->setPaymentTransaction(transaction);
  paid->setInAppPurchase(dequeueInAppPurchaseForTransaction(transaction));
  if (auto delegate = this->delegate()) delegate->userDidPayForPurchase(paid);
}

void QMADefaultInAppPurchaseFlow::failedTransaction(const std::shared_ptr<SKPaymentTransaction>& transaction) {
  WV_DCHECK_MAIN_THREAD();
  auto purchase = dequeueInAppPurchaseForTransaction(transaction);
  const bool cancelled = transaction->error() && transaction->error()->code == storekit::SKErrorPaymentCancelled;
  purchase->reportPurchaseStatus(cancelled ? QMAInAppPurchaseStatusCancel : QMAInAppPurchaseStatusError);
  SKPaymentQueue::defaultQueue().finishTransaction(transaction);
}

void QMADefaultInAppPurchaseFlow::enqueueInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) {
  WV_DCHECK_MAIN_THREAD();
  if (purchase) activeInAppPurchases_.push_back(purchase);
}

std::shared_ptr<QMAInAppPurchase> QMADefaultInAppPurchaseFlow::dequeueInAppPurchaseForTransaction(
    const std::shared_ptr<SKPaymentTransaction>& transaction) {
  WV_DCHECK_MAIN_THREAD();
  const auto& payment = *transaction->payment();
  for (auto it = activeInAppPurchases_.begin(); it != activeInAppPurchases_.end(); ++it) {
    if ((*it)->quantity() == payment.quantity() && (*it)->productID() == payment.productIdentifier()) {
      auto found = *it;
      activeInAppPurchases_.erase(it);
      return found;
    }
  }
  // A purchase the host started itself: reports of it follow nothing.
  auto purchase = std::make_shared<QMAInAppPurchase>();
  purchase->setProductID(payment.productIdentifier());
  purchase->setQuantity(payment.quantity());
  return purchase;
}
