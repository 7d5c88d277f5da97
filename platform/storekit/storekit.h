#pragma once
// A stand-in for the platform store: products, the default payment queue with its
// observers and transaction states, and products requests. What the store answers (its
// catalogue, payment outcomes, failures) is set by tests and drivers through
// `SKTestStore`. Every callback (observers, request delegates) arrives on the main run
// loop, as on the phone, so the callers' state is touched on one thread.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace storekit {

inline constexpr const char* SKErrorDomain = "SKErrorDomain";
enum SKErrorCode : std::int64_t {
  SKErrorUnknown = 0,
  SKErrorClientInvalid = 1,
  SKErrorPaymentCancelled = 2,
  SKErrorPaymentInvalid = 3,
  SKErrorPaymentNotAllowed = 4,
  SKErrorStoreProductNotAvailable = 5,
};

struct SKError {
  std::string domain = SKErrorDomain;
  std::int64_t code = SKErrorUnknown;
  std::string localizedDescription;
};

struct SKPriceLocale {
  std::string localeIdentifier = "en_US";
  std::optional<std::string> currencyCode = "USD";
};

struct SKProduct {
  std::string productIdentifier;
  std::string localizedTitle;
  // A decimal number as text ("0.99"), exact like the platform's decimal numbers.
  std::string price = "0";
  SKPriceLocale priceLocale;
};

// What the buyer asks for; the mutable payment is the same object with its setters.
class SKPayment {
 public:
  static std::shared_ptr<SKPayment> paymentWithProduct(const SKProduct& product);
  static std::shared_ptr<SKPayment> paymentWithProductIdentifier(std::string productIdentifier);
  const std::string& productIdentifier() const { return productIdentifier_; }
  std::int64_t quantity() const { return quantity_; }
  void setQuantity(std::int64_t quantity) { quantity_ = quantity; }

 private:
  std::string productIdentifier_;
  std::int64_t quantity_ = 1;
};
using SKMutablePayment = SKPayment;

enum class SKPaymentTransactionState : std::int64_t {
  Purchasing = 0,
  Purchased = 1,
  Failed = 2,
  Restored = 3,
  Deferred = 4,
};

class SKPaymentTransaction {
 public:
  SKPaymentTransaction(std::shared_ptr<const SKPayment> payment, SKPaymentTransactionState state,
                       std::optional<std::string> identifier, std::optional<foundation::Date> date,
                       std::optional<SKError> error)
      : payment_(std::move(payment)), state_(state), identifier_(std::move(identifier)), date_(date),
        error_(std::move(error)) {}

  const std::shared_ptr<const SKPayment>& payment() const { return payment_; }
  SKPaymentTransactionState transactionState() const { return state_; }
  const std::optional<std::string>& transactionIdentifier() const { return identifier_; }
  const std::optional<foundation::Date>& transactionDate() const { return date_; }
  const std::optional<SKError>& error() const { return error_; }

 private:
  friend class SKPaymentQueue;
  std::shared_ptr<const SKPayment> payment_;
  SKPaymentTransactionState state_;
  std::optional<std::string> identifier_;
  std::optional<foundation::Date> date_;
  std::optional<SKError> error_;
};
using SKPaymentTransactions = std::vector<std::shared_ptr<SKPaymentTransaction>>;

class SKPaymentQueue;

class SKPaymentTransactionObserver {
 public:
  virtual ~SKPaymentTransactionObserver() = default;
  virtual void paymentQueueUpdatedTransactions(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) = 0;
};

class SKPaymentQueue {
 public:
  static SKPaymentQueue& defaultQueue();
  static bool canMakePayments();

  // Observers are not owned; one added twice is held once.
  void addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
  void removeTransactionObserver(const SKPaymentTransactionObserver* observer);
  std::size_t observerCount() const;

  // Starts a transaction (purchasing), then settles it as the test store says.
  void addPayment(std::shared_ptr<const SKPayment> payment);
  // Removes a settled transaction from the queue; anything else is left alone.
  void finishTransaction(const std::shared_ptr<SKPaymentTransaction>& transaction);
  // The transactions not yet finished.
  SKPaymentTransactions transactions() const;

 private:
  friend class SKTestStore;
  SKPaymentQueue() = default;
  void deliver(SKPaymentTransactions transactions);
};

struct SKProductsResponse {
  std::vector<SKProduct> products;
  std::vector<std::string> invalidProductIdentifiers;
};

class SKProductsRequest;

class SKProductsRequestDelegate {
 public:
  virtual ~SKProductsRequestDelegate() = default;
  virtual void productsRequestDidReceiveResponse(SKProductsRequest& request, const SKProductsResponse& response) = 0;
  virtual void requestDidFailWithError(SKProductsRequest& request, const SKError& error) = 0;
};

class SKProductsRequest : public std::enable_shared_from_this<SKProductsRequest> {
 public:
  // Null when the store cannot make the request.
  static std::shared_ptr<SKProductsRequest> initWithProductIdentifiers(std::set<std::string> identifiers);
  void setDelegate(std::weak_ptr<SKProductsRequestDelegate> delegate) { delegate_ = std::move(delegate); }
  // Answers the delegate later on the main run loop; the request lives until then.
  void start();
  // No answer arrives after this. Any thread.
  void cancel() { cancelled_ = true; }
  const std::set<std::string>& productIdentifiers() const { return identifiers_; }

 private:
  explicit SKProductsRequest(std::set<std::string> identifiers) : identifiers_(std::move(identifiers)) {}
  std::set<std::string> identifiers_;
  std::weak_ptr<SKProductsRequestDelegate> delegate_;
  std::atomic<bool> cancelled_{false};  // read on the main run loop, set from anywhere
};

// What the store knows and answers. Thread-safe.
class SKTestStore {
 public:
  struct Outcome {
    SKPaymentTransactionState state = SKPaymentTransactionState::Purchased;
    std::optional<SKError> error;
  };

  static SKTestStore& shared();
  // Empties the catalogue, the outcomes, the queue's transactions and the counters, and sets
  // the product pages back (SKTestProductPages::reset).
  void reset();

  void addProduct(SKProduct product);
  void removeProduct(const std::string& productIdentifier);
  void setCanMakePayments(bool can);
  // Every products request fails with this error (nullopt: requests answer normally).
  void setProductsRequestError(std::optional<SKError> error);
  void setProductsRequestsCannotBeMade(bool cannot);
  // How payments of a product settle (default: purchased).
  void setPaymentOutcome(const std::string& productIdentifier, Outcome outcome);
  // A transaction the store reports on its own (bought elsewhere, restored, ...).
  std::shared_ptr<SKPaymentTransaction> deliverTransaction(const std::string& productIdentifier, std::int64_t quantity,
                                                           SKPaymentTransactionState state,
                                                           std::optional<SKError> error = std::nullopt);

  int productsRequestsStarted() const;
  std::vector<std::shared_ptr<const SKPayment>> paymentsAdded() const;
  SKPaymentTransactions finishedTransactions() const;
};

}  // namespace storekit
