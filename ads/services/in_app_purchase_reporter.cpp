#include "ads/services/in_app_purchase_reporter.h"

#include <cctype>
#include <cstdio>

#include "ads/services/host_facts.h"
#include "ads/services/pinger.h"
#include "ads/services/products_request.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"
#include "platform/runtime/runtime.h"

using storekit::SKPaymentTransactionState;

std::shared_ptr<QMAInAppPurchaseTransactionReporter> QMAInAppPurchaseTransactionReporter::sharedInstance() {
  // Never destroyed: at exit the payment queue it observes may be gone before it, and
  // taking itself off that queue would reach into a destroyed one.
  static const auto* reporter =
      new std::shared_ptr<QMAInAppPurchaseTransactionReporter>(std::make_shared<QMAInAppPurchaseTransactionReporter>());
  return *reporter;
}

QMAInAppPurchaseTransactionReporter::~QMAInAppPurchaseTransactionReporter() {
  if (reportingEnabled_) storekit::SKPaymentQueue::defaultQueue().removeTransactionObserver(this);
}

bool QMAInAppPurchaseTransactionReporter::shouldBeEnabled() const {
  if (wasDisabled_) return false;
  std::vector<std::string> classes = {"KTWMeasurement"};
  const foundation::Value stored = foundation::UserDefaults::standardUserDefaults()->objectForKey(kEquivalentClassesKey);
  if (const auto* list = stored.asArray()) {
    classes.clear();
    for (const auto& name : *list) {
      if (const auto* s = name.asString()) classes.push_back(*s);
    }
  } else if (const auto* text = stored.asString()) {
    // The server sends its list as text: class names separated by ",".
    classes.clear();
    std::size_t start = 0;
    while (start <= text->size()) {
      std::size_t comma = text->find(',', start);
      if (comma == std::string::npos) comma = text->size();
      std::string name = text->substr(start, comma - start);
      name.erase(0, name.find_first_not_of(" \t"));
      name.erase(name.find_last_not_of(" \t") + 1);
      if (!name.empty()) classes.push_back(name);
      start = comma + 1;
    }
  }
  for (const auto& name : classes) {
    if (runtime::objc_getClass(name)) return false;
  }
  return true;
}

void QMAInAppPurchaseTransactionReporter::enableReporting() {
  if (reportingEnabled_) return;
  storekit::SKPaymentQueue::defaultQueue().addTransactionObserver(shared_from_this());
  reportingEnabled_ = true;
}

void QMAInAppPurchaseTransactionReporter::disableReporting() {
  wasDisabled_ = true;
  if (!reportingEnabled_) return;
  storekit::SKPaymentQueue::defaultQueue().removeTransactionObserver(this);
  reportingEnabled_ = false;
}

void QMAInAppPurchaseTransactionReporter::paymentQueueUpdatedTransactions(
    storekit::SKPaymentQueue&, const storekit::SKPaymentTransactions& transactions) {
  std::vector<Record> batch;
  std::set<std::string> missing;
  auto& cache = QMAInAppPurchaseProductCache::sharedInstance();
  for (const auto& t : transactions) {
    if (!t || t->transactionState() != SKPaymentTransactionState::Purchased) continue;
    const std::string sku = t->payment() ? t->payment()->productIdentifier() : std::string();
    if (!sku.empty() && !cache.cachedProductForProductID(sku)) missing.insert(sku);
    char quantity[32], timestamp[64];
    std::snprintf(quantity, sizeof quantity, "%ld", static_cast<long>(t->payment() ? t->payment()->quantity() : 0));
    std::snprintf(timestamp, sizeof timestamp, "%f", t->transactionDate() ? t->transactionDate()->timeIntervalSince1970 : 0.0);
    batch.push_back({{"sku", sku},
                     {"transactionid", t->transactionIdentifier().value_or("")},
                     {"quantity", quantity},
                     {"timestamp", timestamp}});
  }
  if (batch.empty()) return;
  std::weak_ptr<QMAInAppPurchaseTransactionReporter> weak = weak_from_this();
  auto report = [weak, batch] {
    if (auto self = weak.lock()) self->reportTransactionsFromArray(batch);
  };
  if (!missing.empty()) {
    cache.requestProductsWithProductIdentifiersQueueCompletionHandler(std::move(missing), dispatch::Queue::main(),
                                                                     [report](auto, auto, auto) { report(); });
  } else {
    dispatch::Queue::main()->async(report);
  }
}

void QMAInAppPurchaseTransactionReporter::reportTransactionsFromArray(const std::vector<Record>& records) {
  const QMAHostFacts facts = QMAHostFacts::current();
  Record shared = {
      {"appversion", facts.applicationVersion.value_or("")},
      {"bundleid", facts.mainBundleIdentifier.value_or("")},
      {"iapsource", "auto"},
      {"osversion", facts.systemVersion.value_or("")},
      {"rdid", facts.advertisingIdentifier.value_or("")},
      {"lat", facts.advertisingTrackingEnabled ? "1" : "0"},
      {"sdkversion", kQMASDKVersion},
  };
  std::weak_ptr<QMAInAppPurchaseTransactionReporter> weak = weak_from_this();
  dispatch::Queue::global()->async([weak, records, shared] {
    if (auto self = weak.lock()) self->reportTransactionsFromArraySharedParameters(records, shared);
  });
}

std::string QMAInAppPurchaseTransactionReporter::defaultReportFormat() {
  return net::adNetworkURL("/qads/conversion/") +
         "?appversion=@appversion@&bundleid=@bundleid@&currency_code=@currencycode@&iap_source=@iapsource@"
         "&lat=@lat@&osversion=@osversion@&price=@price@&quantity=@quantity@&rdid=@rdid@&sdkversion=@sdkversion@"
         "&sku=@sku@&timestamp=@timestamp@&transaction_id=@transactionid@";
}

std::optional<std::string> QMAInAppPurchaseTransactionReporter::formattedPrice(const std::string& decimal) {
  std::string_view s(decimal);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const size_t dot = s.find('.');
  std::string whole(s.substr(0, dot)), fraction(dot == std::string_view::npos ? "" : s.substr(dot + 1));
  if (whole.empty() && fraction.empty()) return std::nullopt;
  for (char c : whole + fraction) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  // Round away from zero at the sixth fraction digit.
  bool roundUp = false;
  if (fraction.size() > 6) {
    roundUp = fraction.find_first_not_of('0', 6) != std::string::npos;
    fraction.resize(6);
  }
  std::string digits = (whole.empty() ? "0" : whole) + fraction;
  if (roundUp) {
    int i = static_cast<int>(digits.size()) - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
    if (i < 0) {
      digits.insert(digits.begin(), '1');
    } else {
      ++digits[static_cast<size_t>(i)];
    }
  }
  whole = digits.substr(0, digits.size() - fraction.size());
  fraction = digits.substr(digits.size() - fraction.size());
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string out = whole + (fraction.empty() ? "" : "." + fraction);
  if (negative && out != "0") out.insert(out.begin(), '-');
  return out;
}

void QMAInAppPurchaseTransactionReporter::reportTransactionsFromArraySharedParameters(const std::vector<Record>& records,
                                                                                     const Record& shared) {
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  const std::string format = defaults->stringForKey(kReportFormatKey).value_or(defaultReportFormat());
  const std::string suffix = defaults->stringForKey(kRetrySuffixKey).value_or("&retry=1");
  auto& cache = QMAInAppPurchaseProductCache::sharedInstance();
  for (const auto& record : records) {
    Record parameters = shared;
    for (const auto& [key, value] : record) parameters[key] = value;
    if (auto product = cache.cachedProductForProductID(record.count("sku") ? record.at("sku") : "")) {
      if (auto price = formattedPrice(product->price)) parameters["price"] = *price;
      if (product->priceLocale.currencyCode) parameters["currencycode"] = *product->priceLocale.currencyCode;
    }
    std::vector<std::pair<std::string, std::string>> macros;
    for (const auto& [key, value] : parameters) macros.emplace_back(key, qma_stringByEscapingAsURLParameter(value));
    const std::string text = QMAFillTemplate(format, macros);
    auto url = net::URL::fromString(text);
    if (!url) continue;
    QMAPinger::sharedInstance()->pingWithRetryGroupKeyURLRetryURLString(std::string(kRetryGroupKey), url, text + suffix);
  }
}
