#include "ads/services/in_app_purchase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ads/services/click_tracker_collection.h"
#include "ads/services/default_in_app_purchase.h"
#include "ads/services/products_request.h"
#include "ads/services/test_support.h"
#include "platform/net/test_server.h"

namespace {

using storekit::SKError;
using storekit::SKPaymentQueue;
using storekit::SKPaymentTransactionState;
using storekit::SKTestStore;

// A local server that records the status reports it receives.
struct ReportServer {
  std::mutex lock;
  std::vector<std::string> hits;
  net::testing::TestServer server;  // after what its handler touches, so it stops first
  ReportServer() {
    server.server().Get("/report", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard l(lock);
      hits.push_back(req.get_param_value("status") + "/" + req.get_param_value("q"));
      res.set_content("ok", "text/plain");
    });
    server.start();
  }
  std::string templ() { return server.url("/report?status=@status@&q=@quantity@"); }
  std::vector<std::string> waitFor(std::size_t n) {
    dispatch::RunLoop::main().runUntil([&] { std::lock_guard l(lock); return hits.size() >= n; }, 30.0);
    std::lock_guard l(lock);
    return hits;
  }
};

std::shared_ptr<QMAInAppPurchase> purchaseOf(std::string product, std::int64_t quantity,
                                             std::optional<std::vector<std::string>> templates = std::nullopt) {
  auto p = std::make_shared<QMAInAppPurchase>();
  p->setProductID(std::move(product));
  p->setQuantity(quantity);
  p->setReportingURLStringFormats(std::move(templates));
  return p;
}

TEST(InAppPurchase, QuantitiesStatusesAndDescription) {
  for (std::int64_t q : {1, 10}) EXPECT_TRUE(QMAInAppPurchase::quantityIsValid(q)) << q;
  for (std::int64_t q : {std::int64_t{0}, std::int64_t{11}, std::int64_t{-1}, INT64_MIN}) EXPECT_FALSE(QMAInAppPurchase::quantityIsValid(q)) << q;
  EXPECT_EQ(QMAInAppPurchase::stringForStatus(1), "success");
  EXPECT_EQ(QMAInAppPurchase::stringForStatus(2), "cancel");
  EXPECT_EQ(QMAInAppPurchase::stringForStatus(3), "invalid product");
  for (std::int64_t s : {0, 4, -1}) EXPECT_EQ(QMAInAppPurchase::stringForStatus(s), "error");

  QMAInAppPurchase p;
  EXPECT_EQ(p.quantity(), 1);
  p.setQuantity(11);
  EXPECT_EQ(p.quantity(), 0);
  p.setProductID("coins");
  p.setQuantity(2);
  const std::string d = p.description();
  EXPECT_EQ(d.rfind("<QMAInAppPurchase: 0x", 0), 0u) << d;
  EXPECT_NE(d.find(">(\n  productID: coins,\n  quantity: 2)"), std::string::npos) << d;
}

TEST(InAppPurchase, TemplatesExpandTheirMacros) {
  auto p = purchaseOf("a@b", 2);
  p->setPurchaseStatus(1);
  EXPECT_EQ(p->expandedURLStringForURLStringFormat("https://h/r?s=@status@&q=@quantity@&x=@nokey@&sku=@sku@&v=@sdkversion@&at=@@"),
            "https://h/r?s=1&q=2&x=&sku=a@b&v=qvra-sdk-i-v7.4.1&at=@");
}

TEST(InAppPurchase, EachReportFollowsEveryTemplate) {
  ReportServer server;
  auto p = purchaseOf("coins", 2, std::vector<std::string>{server.templ(), server.templ() + "&second=1", "not a url"});
  p->reportPurchaseStatus(2);
  p->reportPurchaseStatus(1);
  auto hits = server.waitFor(4);
  std::sort(hits.begin(), hits.end());
  EXPECT_EQ(hits, (std::vector<std::string>{"1/2", "1/2", "2/2", "2/2"}));
  EXPECT_EQ(p->purchaseStatus(), 1);
  // The reports' trackers leave the shared collection once they have reported; none is
  // left to a later test.
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil(
      [] { return QMAClickTrackerCollection::sharedInstance()->trackers().empty(); }, 10));
}

class StoreTest : public qma_test::DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    SKTestStore::shared().reset();
    SKTestStore::shared().addProduct({"coins", "Coins", "0.99", {}});
  }
  void TearDown() override {
    QMADefaultInAppPurchase::disableDefaultPurchaseFlow();
    drainMain();
    for (const auto& t : SKPaymentQueue::defaultQueue().transactions()) SKPaymentQueue::defaultQueue().finishTransaction(t);
    SKTestStore::shared().reset();
    if (auto alert = uikit::AlertController::visibleAlert()) alert->chooseAction(0);
    drainMain();
    DeviceRootTest::TearDown();
  }
  // Lets the store, the cache's queue and the main queue catch up.
  static void settle() {
    for (int i = 0; i < 4; ++i) {
      drainMain();
      waitFor(dispatch::Queue::main());
      dispatch::RunLoop::main().runOnce(0.01);
    }
  }
};

using ProductCache = StoreTest;

TEST_F(ProductCache, RemembersWhatTheStoreReturnedAndRefused) {
  auto& cache = QMAInAppPurchaseProductCache::sharedInstance();
  std::optional<bool> cachedWhenCalled;
  cache.requestProductsWithProductIdentifiersQueueCompletionHandler(
      {"coins", "ghost"}, dispatch::Queue::main(),
      [&](std::optional<QMAProductMap> products, std::optional<std::set<std::string>> invalid, auto error) {
        cachedWhenCalled = cache.cachedProductForProductID("coins").has_value();
        EXPECT_EQ(products->size(), 1u);
        EXPECT_EQ(*invalid, std::set<std::string>{"ghost"});
        EXPECT_FALSE(error);
      });
  settle();
  EXPECT_EQ(cachedWhenCalled, true) << "the cache is updated before the caller hears";
  EXPECT_EQ(cache.cachedProductForProductID("coins")->price, "0.99");
  EXPECT_TRUE(cache.isInvalidProductID("ghost"));

  // Withdrawn by the store: no longer answered.
  SKTestStore::shared().removeProduct("coins");
  bool done = false;
  cache.requestProductsWithProductIdentifiersQueueCompletionHandler({"coins"}, dispatch::Queue::main(),
                                                                   [&](auto, auto, auto) { done = true; });
  settle();
  EXPECT_TRUE(done);
  EXPECT_FALSE(cache.cachedProductForProductID("coins"));

  // Without a queue or a completion no request is made at all.
  const int before = SKTestStore::shared().productsRequestsStarted();
  cache.requestProductsWithProductIdentifiersQueueCompletionHandler({"coins"}, nullptr, [](auto, auto, auto) {});
  cache.requestProductsWithProductIdentifiersQueueCompletionHandler({"coins"}, dispatch::Queue::main(), nullptr);
  EXPECT_EQ(SKTestStore::shared().productsRequestsStarted(), before);
}

TEST_F(ProductCache, FailuresReachTheCallerAsErrors) {
  std::optional<foundation::Error> failure;
  bool empty = false;
  SKTestStore::shared().setProductsRequestError(SKError{storekit::SKErrorDomain, 0, "offline"});
  QMAInAppPurchaseProductCache::sharedInstance().requestProductsWithProductIdentifiersQueueCompletionHandler(
      {"coins"}, dispatch::Queue::main(), [&](auto products, auto invalid, auto error) {
        empty = !products && !invalid;
        failure = error;
      });
  settle();
  EXPECT_TRUE(empty);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->localizedDescription(), "offline");

  SKTestStore::shared().setProductsRequestsCannotBeMade(true);
  failure.reset();
  QMAProductsRequest::requestProductsWithProductIdentifiersQueueCompletionHandler(
      {"coins"}, dispatch::Queue::main(), [&](auto, auto, auto error) { failure = error; });
  settle();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, 3);
  EXPECT_EQ(failure->localizedDescription(), "Couldn't initialize.");
}

struct HostDelegate : QMADefaultInAppPurchaseDelegate {
  std::optional<bool> answer;
  std::vector<std::shared_ptr<QMADefaultInAppPurchase>> paid;
  void userDidPayForPurchase(const std::shared_ptr<QMADefaultInAppPurchase>& p) override { paid.push_back(p); }
  std::optional<bool> shouldStartPurchaseForProductIDQuantity(const std::string&, std::int64_t) override { return answer; }
};

struct HostPurchaseDelegate : QMAInAppPurchaseDelegate {
  std::vector<std::shared_ptr<QMAInAppPurchase>> received;
  void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& p) override { received.push_back(p); }
};

struct Owner : QMASlotInAppPurchaseOwner {
  std::shared_ptr<QMAInAppPurchaseDelegate> delegate;
  std::optional<std::shared_ptr<QMAInAppPurchaseDelegate>> inAppPurchaseDelegate() const override { return delegate; }
};

using DefaultPurchaseFlow = StoreTest;

TEST_F(DefaultPurchaseFlow, SwitchesOnOnceAndTakesOverTheSlotsPurchases) {
  auto flow = QMADefaultInAppPurchaseFlow::sharedInstance();
  auto host = std::make_shared<HostDelegate>(), other = std::make_shared<HostDelegate>();
  auto owner = std::make_shared<Owner>();
  owner->delegate = std::make_shared<HostPurchaseDelegate>();
  EXPECT_EQ(QMASlotInAppPurchase::inAppPurchaseDelegate(owner.get()), owner->delegate);
  EXPECT_EQ(QMASlotInAppPurchase::inAppPurchaseDelegate(nullptr), nullptr);

  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(nullptr);
  EXPECT_FALSE(flow->isDefaultPurchaseFlowEnabled());
  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(host);
  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(host);
  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(other);
  EXPECT_EQ(SKPaymentQueue::defaultQueue().observerCount(), 1u);
  EXPECT_EQ(QMASlotInAppPurchase::inAppPurchaseDelegate(owner.get()), flow) << "the flow wins over the host's delegate";

  // The hand-off happens on the main thread, to the flow.
  QMASlotInAppPurchase::didReceiveInAppPurchase(owner.get(), purchaseOf("coins", 1));
  // The offer takes several hops (main queue, the store's answer) before the host hears it.
  qma_test::pumpMainLoop([&] { return !other->paid.empty(); });
  settle();
  EXPECT_EQ(other->paid.size(), 1u);
  EXPECT_TRUE(static_cast<HostPurchaseDelegate&>(*owner->delegate).received.empty());

  QMADefaultInAppPurchase::disableDefaultPurchaseFlow();
  QMADefaultInAppPurchase::disableDefaultPurchaseFlow();
  EXPECT_EQ(SKPaymentQueue::defaultQueue().observerCount(), 0u);
  QMASlotInAppPurchase::didReceiveInAppPurchase(owner.get(), purchaseOf("coins", 1));
  qma_test::pumpMainLoop([&] { return !static_cast<HostPurchaseDelegate&>(*owner->delegate).received.empty(); });
  settle();
  EXPECT_EQ(static_cast<HostPurchaseDelegate&>(*owner->delegate).received.size(), 1u);
}

// The host may switch the flow on and off from a thread of its own while offers reach
// it on the main thread (a race that ThreadSanitizer catches).
TEST_F(DefaultPurchaseFlow, TheHostSwitchesItFromAnyThreadWhileOffersArrive) {
  auto flow = QMADefaultInAppPurchaseFlow::sharedInstance();
  auto host = std::make_shared<HostDelegate>();
  host->answer = true;
  std::atomic<bool> done{false};
  std::thread switcher([&] {
    for (int i = 0; i < 300; ++i) {
      QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(host);
      QMADefaultInAppPurchase::disableDefaultPurchaseFlow();
    }
    done = true;
  });
  std::size_t offers = 0;
  do {
    auto offer = std::make_shared<QMAInAppPurchase>();  // no product: reported at once
    flow->didReceiveInAppPurchase(offer);
    EXPECT_EQ(offer->purchaseStatus(), QMAInAppPurchaseStatusInvalidProduct);
    ++offers;
  } while (!done || offers < 10);
  switcher.join();
  EXPECT_FALSE(flow->isDefaultPurchaseFlowEnabled());
  EXPECT_EQ(SKPaymentQueue::defaultQueue().observerCount(), 0u) << "the observer follows the delegate";
}

TEST_F(DefaultPurchaseFlow, PaidPurchasesReachTheHostAndAreReportedWhenFinished) {
  ReportServer server;
  auto host = std::make_shared<HostDelegate>();
  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(host);
  auto flow = QMADefaultInAppPurchaseFlow::sharedInstance();
  // Two placed purchases of one product, matched to their transactions by quantity.
  auto one = purchaseOf("coins", 1, std::vector<std::string>{server.templ()});
  auto two = purchaseOf("coins", 2, std::vector<std::string>{server.templ()});
  flow->didReceiveInAppPurchase(two);
  flow->didReceiveInAppPurchase(one);
  settle();
  ASSERT_EQ(host->paid.size(), 2u);
  for (const auto& paid : host->paid) {
    EXPECT_EQ(paid->inAppPurchase()->quantity(), paid->quantity());
    EXPECT_EQ(paid->inAppPurchase()->productID(), "coins");
  }
  EXPECT_EQ(flow->activeInAppPurchaseCount(), 0u);
  EXPECT_EQ(SKPaymentQueue::defaultQueue().transactions().size(), 2u) << "the flow never finishes a paid purchase";

  host->paid[0]->finishTransaction();
  host->paid[0]->finishTransaction();
  EXPECT_EQ(SKPaymentQueue::defaultQueue().transactions().size(), 1u);
  EXPECT_EQ(server.waitFor(1), std::vector<std::string>{"1/2"});

  // A purchase the host started itself still reaches the delegate, with nothing to report.
  SKTestStore::shared().deliverTransaction("coins", 5, SKPaymentTransactionState::Purchased);
  settle();
  ASSERT_EQ(host->paid.size(), 3u);
  EXPECT_FALSE(host->paid[2]->inAppPurchase()->reportingURLStringFormats());
}

TEST_F(DefaultPurchaseFlow, RefusedUnknownAndFailedPurchases) {
  auto host = std::make_shared<HostDelegate>();
  QMADefaultInAppPurchase::enableDefaultPurchaseFlowWithDelegate(host);
  auto flow = QMADefaultInAppPurchaseFlow::sharedInstance();
  SKTestStore::shared().addProduct({"gems", "Gems", "4.99", {}});
  SKTestStore::shared().setPaymentOutcome("gems", {SKPaymentTransactionState::Failed, SKError{storekit::SKErrorDomain, 2, "cancelled"}});
  SKTestStore::shared().addProduct({"tokens", "Tokens", "1", {}});
  SKTestStore::shared().setPaymentOutcome("tokens", {SKPaymentTransactionState::Failed, SKError{storekit::SKErrorDomain, 0, "declined"}});

  auto alertUp = [] {
    auto alert = uikit::AlertController::visibleAlert();
    const bool up = alert && alert->alertTitle() == "Whoops!" &&
                    alert->message() == "Sorry, the product is currently unavailable." &&
                    alert->actions().size() == 1 && alert->actions()[0]->title() == "OK";
    if (alert) alert->chooseAction(0);
    drainMain();
    return up;
  };

  host->answer = false;
  auto refused = purchaseOf("coins", 1);
  flow->didReceiveInAppPurchase(refused);
  settle();
  EXPECT_EQ(refused->purchaseStatus(), QMAInAppPurchaseStatusError);
  EXPECT_TRUE(alertUp());
  EXPECT_TRUE(SKTestStore::shared().paymentsAdded().empty());
  host->answer = true;

  auto noProduct = std::make_shared<QMAInAppPurchase>();
  flow->didReceiveInAppPurchase(noProduct);
  EXPECT_EQ(noProduct->purchaseStatus(), QMAInAppPurchaseStatusInvalidProduct);

  auto unknown = purchaseOf("ghost", 1);
  flow->didReceiveInAppPurchase(unknown);
  settle();
  EXPECT_EQ(unknown->purchaseStatus(), QMAInAppPurchaseStatusInvalidProduct);
  EXPECT_TRUE(alertUp());

  auto cancelled = purchaseOf("gems", 1), declined = purchaseOf("tokens", 3);
  flow->didReceiveInAppPurchase(cancelled);
  flow->didReceiveInAppPurchase(declined);
  settle();
  EXPECT_EQ(cancelled->purchaseStatus(), QMAInAppPurchaseStatusCancel);
  EXPECT_EQ(declined->purchaseStatus(), QMAInAppPurchaseStatusError);
  EXPECT_EQ(SKTestStore::shared().finishedTransactions().size(), 2u) << "failed payments are finished by the flow";
  EXPECT_TRUE(host->paid.empty());
}

}  // namespace
