#pragma once
// The default purchase flow: a host that sells through the platform store lets the ad
// component carry out the purchases ads offer. The flow looks the product up, places the
// payment, follows the payment queue, reports each outcome on the ad's purchase object,
// and hands a paid purchase to the host, which finishes it once it has delivered.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ads/services/in_app_purchase.h"
#include "platform/storekit/storekit.h"
#include "platform/uikit/alert_view.h"

class QMADefaultInAppPurchase;

class QMADefaultInAppPurchaseDelegate {
 public:
  virtual ~QMADefaultInAppPurchaseDelegate() = default;
  virtual void userDidPayForPurchase(const std::shared_ptr<QMADefaultInAppPurchase>& purchase) = 0;
  // Optional: nullopt when the host does not decide (the purchase then goes ahead).
  virtual std::optional<bool> shouldStartPurchaseForProductIDQuantity(const std::string& productID,
                                                                      std::int64_t quantity) {
    return std::nullopt;
  }
};

class QMADefaultInAppPurchase {
 public:
  static void enableDefaultPurchaseFlowWithDelegate(const std::shared_ptr<QMADefaultInAppPurchaseDelegate>& delegate);
  static void disableDefaultPurchaseFlow();

  // Finishes the store transaction and reports success on the ad's purchase, once.
  void finishTransaction();

  const std::optional<std::string>& productID() const { return productID_; }
  void setProductID(std::optional<std::string> id) { productID_ = std::move(id); }
  std::int64_t quantity() const { return quantity_; }
  void setQuantity(std::int64_t quantity) { quantity_ = quantity; }
  const std::shared_ptr<storekit::SKPaymentTransaction>& paymentTransaction() const { return paymentTransaction_; }
  void setPaymentTransaction(std::shared_ptr<storekit::SKPaymentTransaction> t) { paymentTransaction_ = std::move(t); }
  const std::shared_ptr<QMAInAppPurchase>& inAppPurchase() const { return inAppPurchase_; }
  void setInAppPurchase(std::shared_ptr<QMAInAppPurchase> p) { inAppPurchase_ = std::move(p); }

 private:
  std::optional<std::string> productID_;
  std::int64_t quantity_ = 0;
  std::shared_ptr<storekit::SKPaymentTransaction> paymentTransaction_;
  std::shared_ptr<QMAInAppPurchase> inAppPurchase_;
};

class QMADefaultInAppPurchaseFlow : public storekit::SKPaymentTransactionObserver,
                                    public QMAInAppPurchaseDelegate,
                                    public std::enable_shared_from_this<QMADefaultInAppPurchaseFlow> {
 public:
  static std::shared_ptr<QMADefaultInAppPurchaseFlow> sharedInstance();

  // Any thread: the host switches the flow from wherever it likes.
  bool isDefaultPurchaseFlowEnabled() const;
  void enableDefaultPurchaseFlowWithDelegate(const std::shared_ptr<QMADefaultInAppPurchaseDelegate>& delegate);
  void disableDefaultPurchaseFlow();

  // An offer from an ad; main thread.
  void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) override;
  // Main thread.
  void purchaseProductInAppPurchase(const storekit::SKProduct& product, const std::shared_ptr<QMAInAppPurchase>& purchase);
  void notifyUserOfUnavailableProduct();

  // Any thread (the store's choice); the transactions are handled on the main thread.
  void paymentQueueUpdatedTransactions(storekit::SKPaymentQueue& queue,
                                       const storekit::SKPaymentTransactions& transactions) override;
  // Main thread.
  void completeTransaction(const std::shared_ptr<storekit::SKPaymentTransaction>& transaction);
  void failedTransaction(const std::shared_ptr<storekit::SKPaymentTransaction>& transaction);
  void enqueueInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase);
  std::shared_ptr<QMAInAppPurchase> dequeueInAppPurchaseForTransaction(
      const std::shared_ptr<storekit::SKPaymentTransaction>& transaction);

  // Main thread.
  std::size_t activeInAppPurchaseCount() const;

 private:
  // The delegate as it stands now (null while the flow is off).
  std::shared_ptr<QMADefaultInAppPurchaseDelegate> delegate() const;

  // Placed purchases, oldest first; touched on the main thread only.
  std::vector<std::shared_ptr<QMAInAppPurchase>> activeInAppPurchases_;
  // Written by enable and disable on the host's thread, read on the main thread: taken
  // under the lock, used outside it. The lock also keeps the observer registration in
  // step with the delegate.
  mutable std::mutex delegateMutex_;
  std::shared_ptr<QMADefaultInAppPurchaseDelegate> defaultInAppPurchaseDelegate_;
};
