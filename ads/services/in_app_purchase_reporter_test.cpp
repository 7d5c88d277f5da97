#include "ads/services/in_app_purchase_reporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "ads/services/products_request.h"
#include "ads/services/test_support.h"
#include "platform/foundation/json.h"
#include "platform/net/ad_network.h"
#include "platform/net/test_server.h"
#include "platform/runtime/runtime.h"
#include "platform/system/device_facts.h"

namespace {

using storekit::SKPaymentTransactionState;
using storekit::SKTestStore;
using Reporter = QMAInAppPurchaseTransactionReporter;

TEST(PurchaseReportPrice, FormatsDecimalsRoundingAwayFromZero) {
  const std::pair<const char*, const char*> cases[] = {
      {"0.99", "0.99"},   {"1.10", "1.1"},         {"3", "3"},         {"0.0000001", "0.000001"},
      {"1.9999991", "2"}, {"-2.0000004", "-2.000001"}, {"007.50", "7.5"}, {"1234567.125", "1234567.125"},
  };
  for (auto [in, out] : cases) EXPECT_EQ(Reporter::formattedPrice(in), out) << in;
  EXPECT_EQ(Reporter::formattedPrice("abc"), std::nullopt);
  EXPECT_EQ(Reporter::formattedPrice(""), std::nullopt);
}

// The purchase-conversion endpoint on 127.0.0.1.
struct ConversionEndpoint {
  std::mutex lock;
  std::vector<httplib::Params> reports;
  std::atomic<int> status{200};
  net::testing::TestServer server;  // after what its handler touches, so it stops first
  ConversionEndpoint() {
    server.server().Get("/qads/conversion/", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard l(lock);
      reports.push_back(req.params);
      res.status = status.load();
    });
    server.start();
    setenv(net::kAdNetworkURLVariable, server.url().c_str(), 1);
  }
  ~ConversionEndpoint() { unsetenv(net::kAdNetworkURLVariable); }
  std::vector<httplib::Params> waitFor(std::size_t n) {
    dispatch::RunLoop::main().runUntil([&] { std::lock_guard l(lock); return reports.size() >= n; }, 30.0);
    std::lock_guard l(lock);
    return reports;
  }
};

std::string param(const httplib::Params& p, const std::string& key) {
  auto it = p.find(key);
  return it == p.end() ? "<absent>" : it->second;
}

class PurchaseReporting : public qma_test::DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    SKTestStore::shared().reset();
    SKTestStore::shared().addProduct({"coins", "Coins", "0.99", {"en_US", "USD"}});
    SKTestStore::shared().addProduct({"gems", "Gems", "4.5", {"de_DE", "EUR"}});
    reporter = std::make_shared<Reporter>();
  }
  void TearDown() override {
    reporter->disableReporting();
    // Reports go out through the shared pinger.
    drainMain();
    settle(QMAPinger::sharedInstance());
    DeviceRootTest::TearDown();
  }
  void buy(const std::string& sku, SKPaymentTransactionState state = SKPaymentTransactionState::Purchased) {
    SKTestStore::shared().deliverTransaction(sku, 2, state);
  }
  std::shared_ptr<Reporter> reporter;
};

TEST_F(PurchaseReporting, PurchasedTransactionsAreReportedWithTheirProduct) {
  ConversionEndpoint endpoint;
  // "coins" is in the product cache already; "gems" is looked up first.
  bool cached = false;
  QMAInAppPurchaseProductCache::sharedInstance().requestProductsWithProductIdentifiersQueueCompletionHandler(
      {"coins"}, dispatch::Queue::main(), [&](auto, auto, auto) { cached = true; });
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return cached; }, 30.0));

  ASSERT_TRUE(reporter->shouldBeEnabled());
  reporter->enableReporting();
  for (auto state : {SKPaymentTransactionState::Failed, SKPaymentTransactionState::Restored,
                     SKPaymentTransactionState::Deferred, SKPaymentTransactionState::Purchasing}) {
    buy("coins", state);
  }
  buy("coins");
  buy("gems");
  auto reports = endpoint.waitFor(2);
  drainMain();
  ASSERT_EQ(reports.size(), 2u) << "only purchased transactions are reported";
  std::map<std::string, httplib::Params> bySku;
  for (auto& r : reports) bySku[param(r, "sku")] = r;
  const auto& coins = bySku["coins"];
  EXPECT_EQ(param(coins, "price"), "0.99");
  EXPECT_EQ(param(coins, "currency_code"), "USD");
  EXPECT_EQ(param(coins, "quantity"), "2");
  EXPECT_EQ(param(coins, "lat"), "1");
  EXPECT_EQ(param(coins, "iap_source"), "auto");
  EXPECT_EQ(param(coins, "sdkversion"), "qvra-sdk-i-v7.4.1");
  EXPECT_EQ(param(coins, "bundleid"), "com.example.host");
  EXPECT_EQ(param(coins, "rdid"), *system_facts::device().advertisingIdentifier);
  EXPECT_EQ(param(coins, "timestamp"), "1500000000.000000");
  EXPECT_NE(param(coins, "transaction_id"), "");
  EXPECT_EQ(param(coins, "retry"), "<absent>") << "the first send carries no retry mark";
  EXPECT_EQ(param(bySku["gems"], "price"), "4.5");
  EXPECT_EQ(param(bySku["gems"], "currency_code"), "EUR");
}

TEST_F(PurchaseReporting, TemplatesTrackingAndRetryText) {
  ConversionEndpoint endpoint;
  endpoint.status = 500;
  auto facts = system_facts::device();
  facts.advertisingTrackingEnabled = false;
  system_facts::setDevice(facts);
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  defaults->setObjectForKey(foundation::Value(endpoint.server.url("/qads/conversion/?s=@sku@&l=@lat@&x=@nokey@&at=@@&p=@price@")),
                            Reporter::kReportFormatKey);
  reporter->enableReporting();
  buy("ghost");  // a product the store does not know
  auto reports = endpoint.waitFor(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(param(reports[0], "s"), "ghost");
  EXPECT_EQ(param(reports[0], "l"), "0");
  EXPECT_EQ(param(reports[0], "x"), "");
  EXPECT_EQ(param(reports[0], "at"), "@");
  EXPECT_EQ(param(reports[0], "p"), "");
  // The failed send stays in the persisted retry group, marked as a retry.
  dispatch::RunLoop::main().runUntil([&] {
    return foundation::jsonSerialize(defaults->objectForKey(Reporter::kRetryGroupKey)).find("&retry=1") != std::string::npos;
  }, 2.0);
  EXPECT_NE(foundation::jsonSerialize(defaults->objectForKey(Reporter::kRetryGroupKey)).find("p=&retry=1"), std::string::npos);
}

TEST_F(PurchaseReporting, SwitchingOff) {
  reporter->enableReporting();
  reporter->enableReporting();
  EXPECT_EQ(storekit::SKPaymentQueue::defaultQueue().observerCount(), 1u);
  reporter->disableReporting();
  EXPECT_EQ(storekit::SKPaymentQueue::defaultQueue().observerCount(), 0u);
  EXPECT_TRUE(reporter->wasDisabled());
  EXPECT_FALSE(reporter->shouldBeEnabled()) << "for the rest of the process";

  auto fresh = std::make_shared<Reporter>();
  EXPECT_TRUE(fresh->shouldBeEnabled());
  runtime::objc_registerClassPair(runtime::Class::make("KTWMeasurement"));
  EXPECT_FALSE(fresh->shouldBeEnabled()) << "an equivalent library is present";
  runtime::objc_disposeClassPair("KTWMeasurement");
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  defaults->setObjectForKey(foundation::Value("QMAApplication_NotThere"), Reporter::kEquivalentClassesKey);
  EXPECT_TRUE(fresh->shouldBeEnabled());
  runtime::objc_registerClassPair(runtime::Class::make("OtherMeter"));
  defaults->setObjectForKey(foundation::Value("OtherMeter"), Reporter::kEquivalentClassesKey);
  EXPECT_FALSE(fresh->shouldBeEnabled()) << "a single name counts as a list of one";
  runtime::objc_disposeClassPair("OtherMeter");
}

}  // namespace
