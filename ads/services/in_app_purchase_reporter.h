#pragma once
// Conversion reports of in-app purchases: the reporter watches the host's payment queue
// and sends one report per purchased transaction, whoever started the purchase, through
// the pinger's persisted retry group so a failed report is sent again in a later run. It
// only observes; it never finishes or changes a transaction.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storekit/storekit.h"

class QMAInAppPurchaseTransactionReporter : public storekit::SKPaymentTransactionObserver,
                                            public std::enable_shared_from_this<QMAInAppPurchaseTransactionReporter> {
 public:
  using Record = std::map<std::string, std::string>;

  static constexpr const char* kEquivalentClassesKey = "/quillon/ads/iap_equivalent_classes";
  static constexpr const char* kReportFormatKey = "/quillon/ads/iap_report_format";
  static constexpr const char* kRetrySuffixKey = "/quillon/ads/iap_retry_suffix";
  static constexpr const char* kRetryGroupKey = "/quillon/ads/auto-iap";

  static std::shared_ptr<QMAInAppPurchaseTransactionReporter> sharedInstance();
  ~QMAInAppPurchaseTransactionReporter() override;

  bool shouldBeEnabled() const;
  void enableReporting();
  void disableReporting();
  bool wasDisabled() const { return wasDisabled_; }
  bool reportingEnabled() const { return reportingEnabled_; }

  void paymentQueueUpdatedTransactions(storekit::SKPaymentQueue& queue,
                                       const storekit::SKPaymentTransactions& transactions) override;
  void reportTransactionsFromArray(const std::vector<Record>& records);
  void reportTransactionsFromArraySharedParameters(const std::vector<Record>& records, const Record& shared);

  // The built-in report template (host: the ad network's base URL).
  static std::string defaultReportFormat();
  // A decimal price as the report writes it: at most 6 fraction digits, rounded away
  // from zero, no grouping, "." as the decimal point. Nullopt for text that is not a number.
  static std::optional<std::string> formattedPrice(const std::string& decimal);

 private:
  bool reportingEnabled_ = false;
  bool wasDisabled_ = false;
};
