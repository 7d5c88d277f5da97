#include "platform/storekit/storekit.h"

#include <gtest/gtest.h>

#include "platform/dispatch/run_loop.h"

namespace storekit {
namespace {

struct Recorder : SKPaymentTransactionObserver, SKProductsRequestDelegate {
  std::vector<std::pair<std::string, SKPaymentTransactionState>> updates;
  std::optional<SKProductsResponse> response;
  std::optional<SKError> error;
  void paymentQueueUpdatedTransactions(SKPaymentQueue&, const SKPaymentTransactions& ts) override {
    EXPECT_TRUE(dispatch::isMainThread());
    for (const auto& t : ts) updates.emplace_back(t->payment()->productIdentifier(), t->transactionState());
  }
  void productsRequestDidReceiveResponse(SKProductsRequest&, const SKProductsResponse& r) override { response = r; }
  void requestDidFailWithError(SKProductsRequest&, const SKError& e) override { error = e; }
};

class StoreKitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKTestStore::shared().reset();
    SKTestStore::shared().addProduct({"coins", "Coins", "0.99", {}});
  }
  void TearDown() override {
    SKPaymentQueue::defaultQueue().removeTransactionObserver(recorder.get());
    dispatch::RunLoop::main().drain();
    SKTestStore::shared().reset();
  }
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(StoreKitTest, PaymentsSettleAsTheStoreSaysAndReachObserversOnTheMainLoop) {
  auto& queue = SKPaymentQueue::defaultQueue();
  queue.addTransactionObserver(recorder);
  queue.addTransactionObserver(recorder);
  EXPECT_EQ(queue.observerCount(), 1u);
  SKTestStore::shared().addProduct({"gems", "Gems", "4.99", {}});
  SKTestStore::shared().setPaymentOutcome("gems", {SKPaymentTransactionState::Failed, SKError{SKErrorDomain, SKErrorPaymentCancelled, "cancelled"}});

  auto coins = SKPayment::paymentWithProduct({"coins", "", "0.99", {}});
  coins->setQuantity(3);
  queue.addPayment(coins);
  queue.addPayment(SKPayment::paymentWithProductIdentifier("gems"));
  queue.addPayment(SKPayment::paymentWithProductIdentifier("unknown"));
  EXPECT_TRUE(recorder->updates.empty()) << "nothing is delivered on the caller's stack";
  dispatch::RunLoop::main().drain();

  using S = SKPaymentTransactionState;
  const std::vector<std::pair<std::string, S>> expected = {
      {"coins", S::Purchasing}, {"gems", S::Purchasing}, {"unknown", S::Purchasing},
      {"coins", S::Purchased},  {"gems", S::Failed},     {"unknown", S::Failed}};
  EXPECT_EQ(recorder->updates, expected);

  auto pending = queue.transactions();
  ASSERT_EQ(pending.size(), 3u);
  EXPECT_EQ(pending[0]->payment()->quantity(), 3);
  EXPECT_TRUE(pending[0]->transactionIdentifier());
  EXPECT_TRUE(pending[0]->transactionDate());
  EXPECT_EQ(pending[1]->error()->code, SKErrorPaymentCancelled);
  EXPECT_EQ(pending[2]->error()->code, SKErrorStoreProductNotAvailable);

  queue.finishTransaction(pending[0]);
  queue.finishTransaction(pending[0]);
  EXPECT_EQ(queue.transactions().size(), 2u);
  EXPECT_EQ(SKTestStore::shared().finishedTransactions().size(), 1u);

  queue.removeTransactionObserver(recorder.get());
  SKTestStore::shared().deliverTransaction("coins", 1, S::Purchased);
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(recorder->updates.size(), expected.size()) << "a removed observer hears nothing";
}

TEST_F(StoreKitTest, ProductsRequestsAnswerTheirDelegate) {
  auto request = SKProductsRequest::initWithProductIdentifiers({"coins", "nope"});
  request->setDelegate(recorder);
  request->start();
  request.reset();  // the request keeps itself alive until it has answered
  dispatch::RunLoop::main().drain();
  ASSERT_TRUE(recorder->response);
  ASSERT_EQ(recorder->response->products.size(), 1u);
  EXPECT_EQ(recorder->response->products[0].price, "0.99");
  EXPECT_EQ(recorder->response->invalidProductIdentifiers, std::vector<std::string>{"nope"});

  SKTestStore::shared().setProductsRequestError(SKError{SKErrorDomain, SKErrorUnknown, "offline"});
  auto failing = SKProductsRequest::initWithProductIdentifiers({"coins"});
  failing->setDelegate(recorder);
  failing->start();
  dispatch::RunLoop::main().drain();
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->localizedDescription, "offline");
  EXPECT_EQ(SKTestStore::shared().productsRequestsStarted(), 2);

  SKTestStore::shared().setProductsRequestsCannotBeMade(true);
  EXPECT_EQ(SKProductsRequest::initWithProductIdentifiers({"coins"}), nullptr);
}

}  // namespace
}  // namespace storekit

// ---- product pages

#include "platform/storekit/store_product_view_controller.h"

namespace storekit {
namespace {

struct PageDelegate : SKStoreProductViewControllerDelegate {
  int finished = 0;
  void productViewControllerDidFinish(const std::shared_ptr<SKStoreProductViewController>&) override { ++finished; }
};

struct ProductPagesTest : ::testing::Test {
  void TearDown() override {
    dispatch::RunLoop::main().drain();
    SKTestStore::shared().reset();
  }
  static foundation::Dictionary item(std::int64_t id) {
    return {{SKStoreProductParameterITunesItemIdentifier, id}};
  }
};

TEST_F(ProductPagesTest, PagesLoadLaterOnTheMainLoopUnlessTheStoreSaysTheyFail) {
  SKTestProductPages::setPageFails(13, true);
  auto good = SKStoreProductViewController::init();
  auto bad = SKStoreProductViewController::init();
  std::vector<std::string> outcomes;
  good->loadProductWithParametersCompletionBlock(item(7), [&](bool ok, const std::optional<SKError>& e) {
    outcomes.push_back(std::string("7 ") + (ok ? "loaded" : "failed") + (e ? " error" : ""));
  });
  bad->loadProductWithParametersCompletionBlock(item(13), [&](bool ok, const std::optional<SKError>& e) {
    outcomes.push_back(std::string("13 ") + (ok ? "loaded" : "failed") + (e ? " error" : ""));
  });
  EXPECT_TRUE(outcomes.empty());
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(outcomes, (std::vector<std::string>{"7 loaded", "13 failed error"}));
  EXPECT_TRUE(good->isLoaded());
  EXPECT_FALSE(bad->isLoaded());
  EXPECT_EQ(SKTestProductPages::loadsStarted(), (std::vector<std::int64_t>{7, 13}));
}

TEST_F(ProductPagesTest, HeldLoadsAnswerInTheOrderATestChoosesAndDoneTellsTheDelegate) {
  SKTestProductPages::setHoldsLoads(true);
  std::vector<std::int64_t> answered;
  for (std::int64_t id : {1, 2}) {
    SKStoreProductViewController::init()->loadProductWithParametersCompletionBlock(
        item(id), [&answered, id](bool, const std::optional<SKError>&) { answered.push_back(id); });
  }
  dispatch::RunLoop::main().drain();
  EXPECT_TRUE(answered.empty());
  ASSERT_EQ(SKTestProductPages::heldLoadCount(), 2u);
  EXPECT_TRUE(SKTestProductPages::answerHeldLoad(1));
  EXPECT_TRUE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_FALSE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_EQ(answered, (std::vector<std::int64_t>{2, 1}));

  auto page = SKStoreProductViewController::init();
  auto delegate = std::make_shared<PageDelegate>();
  page->setDelegate(delegate);
  page->done();
  EXPECT_EQ(delegate->finished, 1);
}

}  // namespace
}  // namespace storekit
