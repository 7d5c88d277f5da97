#include "platform/storekit/storekit.h"

#include <algorithm>
#include <mutex>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/clock.h"
#include "platform/storekit/store_product_view_controller.h"

namespace storekit {
namespace {

struct StoreState {
  mutable std::mutex lock;
  std::map<std::string, SKProduct> catalogue;
  std::map<std::string, SKTestStore::Outcome> outcomes;
  bool canMakePayments = true;
  std::optional<SKError> productsRequestError;
  bool productsRequestsCannotBeMade = false;
  std::vector<std::weak_ptr<SKPaymentTransactionObserver>> observers;
  SKPaymentTransactions pending;
  SKPaymentTransactions finished;
  std::vector<std::shared_ptr<const SKPayment>> payments;
  int productsRequests = 0;
  std::uint64_t nextTransaction = 1000000001;
};

StoreState& state() {
  static StoreState s;
  return s;
}

std::string nextTransactionIdentifier(StoreState& s) { return std::to_string(s.nextTransaction++); }

}  // namespace

std::shared_ptr<SKPayment> SKPayment::paymentWithProduct(const SKProduct& product) {
  return paymentWithProductIdentifier(product.productIdentifier);
}

std::shared_ptr<SKPayment> SKPayment::paymentWithProductIdentifier(std::string productIdentifier) {
  auto payment = std::shared_ptr<SKPayment>(new SKPayment());
  payment->productIdentifier_ = std::move(productIdentifier);
  return payment;
}

SKPaymentQueue& SKPaymentQueue::defaultQueue() {
  static SKPaymentQueue queue;
  return queue;
}

bool SKPaymentQueue::canMakePayments() {
  std::lock_guard lock(state().lock);
  return state().canMakePayments;
}

void SKPaymentQueue::addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer) {
  if (!observer) return;
  auto& s = state();
  std::lock_guard lock(s.lock);
  for (const auto& o : s.observers) {
    if (o.lock() == observer) return;
  }
  s.observers.push_back(observer);
}

void SKPaymentQueue::removeTransactionObserver(const SKPaymentTransactionObserver* observer) {
  auto& s = state();
  std::lock_guard lock(s.lock);
  std::erase_if(s.observers, [&](const std::weak_ptr<SKPaymentTransactionObserver>& o) {
    auto strong = o.lock();
    return !strong || strong.get() == observer;
  });
}

std::size_t SKPaymentQueue::observerCount() const {
  auto& s = state();
  std::lock_guard lock(s.lock);
  return static_cast<std::size_t>(
      std::count_if(s.observers.begin(), s.observers.end(), [](const auto& o) { return !o.expired(); }));
}

void SKPaymentQueue::deliver(SKPaymentTransactions transactions) {
  dispatch::RunLoop::main().performBlock([this, transactions = std::move(transactions)] {
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> observers;
    {
      std::lock_guard lock(state().lock);
      for (const auto& o : state().observers) {
        if (auto strong = o.lock()) observers.push_back(std::move(strong));
      }
    }
    for (const auto& o : observers) o->paymentQueueUpdatedTransactions(*this, transactions);
  });
}

void SKPaymentQueue::addPayment(std::shared_ptr<const SKPayment> payment) {
  if (!payment) return;
  auto& s = state();
  std::shared_ptr<SKPaymentTransaction> transaction;
  SKTestStore::Outcome outcome;
  {
    std::lock_guard lock(s.lock);
    s.payments.push_back(payment);
    if (auto it = s.outcomes.find(payment->productIdentifier()); it != s.outcomes.end()) outcome = it->second;
    if (!s.catalogue.count(payment->productIdentifier()) && outcome.state == SKPaymentTransactionState::Purchased) {
      outcome = {SKPaymentTransactionState::Failed,
                 SKError{SKErrorDomain, SKErrorStoreProductNotAvailable, "Cannot connect to the store."}};
    }
    transaction = std::make_shared<SKPaymentTransaction>(payment, SKPaymentTransactionState::Purchasing, std::nullopt,
                                                         std::nullopt, std::nullopt);
    s.pending.push_back(transaction);
  }
  deliver({transaction});
  // The store settles the payment after the purchasing notice has gone out.
  dispatch::RunLoop::main().performBlock([this, transaction, outcome] {
    {
      std::lock_guard lock(state().lock);
      transaction->state_ = outcome.state;
      transaction->error_ = outcome.error;
      if (outcome.state == SKPaymentTransactionState::Purchased || outcome.state == SKPaymentTransactionState::Restored) {
        transaction->identifier_ = nextTransactionIdentifier(state());
        transaction->date_ = foundation::Date{foundation::Clock::now()};
      }
    }
    deliver({transaction});
  });
}

void SKPaymentQueue::finishTransaction(const std::shared_ptr<SKPaymentTransaction>& transaction) {
  if (!transaction) return;
  auto& s = state();
  std::lock_guard lock(s.lock);
  if (transaction->state_ == SKPaymentTransactionState::Purchasing) return;
  auto it = std::find(s.pending.begin(), s.pending.end(), transaction);
  if (it == s.pending.end()) return;
  s.pending.erase(it);
  s.finished.push_back(transaction);
}

SKPaymentTransactions SKPaymentQueue::transactions() const {
  std::lock_guard lock(state().lock);
  return state().pending;
}

std::shared_ptr<SKProductsRequest> SKProductsRequest::initWithProductIdentifiers(std::set<std::string> identifiers) {
  {
    std::lock_guard lock(state().lock);
    if (state().productsRequestsCannotBeMade) return nullptr;
  }
  return std::shared_ptr<SKProductsRequest>(new SKProductsRequest(std::move(identifiers)));
}

void SKProductsRequest::start() {
  auto& s = state();
  std::optional<SKError> error;
  SKProductsResponse response;
  {
    std::lock_guard lock(s.lock);
    ++s.productsRequests;
    error = s.productsRequestError;
    for (const auto& id : identifiers_) {
      if (auto it = s.catalogue.find(id); it != s.catalogue.end()) {
        response.products.push_back(it->second);
      } else {
        response.invalidProductIdentifiers.push_back(id);
      }
    }
  }
  dispatch::RunLoop::main().performBlock([self = shared_from_this(), error, response] {
    auto delegate = self->delegate_.lock();
    if (self->cancelled_ || !delegate) return;
    if (error) {
      delegate->requestDidFailWithError(*self, *error);
    } else {
      delegate->productsRequestDidReceiveResponse(*self, response);
    }
  });
}

SKTestStore& SKTestStore::shared() {
  static SKTestStore store;
  return store;
}

void SKTestStore::reset() {
  auto& s = state();
  std::lock_guard lock(s.lock);
  s.catalogue.clear();
  s.outcomes.clear();
  s.canMakePayments = true;
  s.productsRequestError.reset();
  s.productsRequestsCannotBeMade = false;
  s.pending.clear();
  s.finished.clear();
  s.payments.clear();
  s.productsRequests = 0;
  SKTestProductPages::reset();
}

void SKTestStore::addProduct(SKProduct product) {
  std::lock_guard lock(state().lock);
  auto id = product.productIdentifier;
  state().catalogue[id] = std::move(product);
}

void SKTestStore::removeProduct(const std::string& productIdentifier) {
  std::lock_guard lock(state().lock);
  state().catalogue.erase(productIdentifier);
}

void SKTestStore::setCanMakePayments(bool can) {
  std::lock_guard lock(state().lock);
  state().canMakePayments = can;
}

void SKTestStore::setProductsRequestError(std::optional<SKError> error) {
  std::lock_guard lock(state().lock);
  state().productsRequestError = std::move(error);
}

void SKTestStore::setProductsRequestsCannotBeMade(bool cannot) {
  std::lock_guard lock(state().lock);
  state().productsRequestsCannotBeMade = cannot;
}

void SKTestStore::setPaymentOutcome(const std::string& productIdentifier, Outcome outcome) {
  std::lock_guard lock(state().lock);
  state().outcomes[productIdentifier] = std::move(outcome);
}

std::shared_ptr<SKPaymentTransaction> SKTestStore::deliverTransaction(const std::string& productIdentifier,
                                                                      std::int64_t quantity,
                                                                      SKPaymentTransactionState transactionState,
                                                                      std::optional<SKError> error) {
  auto payment = SKPayment::paymentWithProductIdentifier(productIdentifier);
  payment->setQuantity(quantity);
  std::shared_ptr<SKPaymentTransaction> transaction;
  {
    auto& s = state();
    std::lock_guard lock(s.lock);
    const bool settled =
        transactionState == SKPaymentTransactionState::Purchased || transactionState == SKPaymentTransactionState::Restored;
    transaction = std::make_shared<SKPaymentTransaction>(
        payment, transactionState, settled ? std::optional(nextTransactionIdentifier(s)) : std::nullopt,
        settled ? std::optional(foundation::Date{foundation::Clock::now()}) : std::nullopt, std::move(error));
    s.pending.push_back(transaction);
  }
  SKPaymentQueue::defaultQueue().deliver({transaction});
  return transaction;
}

int SKTestStore::productsRequestsStarted() const {
  std::lock_guard lock(state().lock);
  return state().productsRequests;
}

std::vector<std::shared_ptr<const SKPayment>> SKTestStore::paymentsAdded() const {
  std::lock_guard lock(state().lock);
  return state().payments;
}

SKPaymentTransactions SKTestStore::finishedTransactions() const {
  std::lock_guard lock(state().lock);
  return state().finished;
}

}  // namespace storekit
