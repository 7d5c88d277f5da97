#include "ads/services/in_app_purchase.h"

#include <cstdio>

#include "ads/services/click_tracker_collection.h"
#include "ads/services/default_in_app_purchase.h"
#include "ads/services/host_facts.h"
#include "ads/services/logging.h"
#include "ads/services/utilities.h"

std::string QMAInAppPurchase::stringForStatus(std::int64_t status) {
  switch (status) {
    case QMAInAppPurchaseStatusSuccessful:
      return "success";
    case QMAInAppPurchaseStatusCancel:
      return "cancel";
    case QMAInAppPurchaseStatusInvalidProduct:
      return "invalid product";
    default:
      return "error";
  }
}

std::string QMAInAppPurchase::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<QMAInAppPurchase: ") + address + ">(\n  productID: " + productID_.value_or("(null)") +
         ",\n  quantity: " + std::to_string(quantity_) + ")";
}

void QMAInAppPurchase::reportPurchaseStatus(std::int64_t status) {
  purchaseStatus_ = status;
  std::vector<std::string> urls;
  if (reportingURLStringFormats_) {
    for (const auto& format : *reportingURLStringFormats_) urls.push_back(expandedURLStringForURLStringFormat(format));
  }
  pingReportingURLStrings(urls);
}

std::string QMAInAppPurchase::expandedURLStringForURLStringFormat(const std::string& format) const {
  const QMAHostFacts facts = QMAHostFacts::current();
  std::vector<std::pair<std::string, std::string>> macros;
  auto add = [&](const char* key, const std::optional<std::string>& value) {
    if (value) macros.emplace_back(key, *value);
  };
  add("sku", productID_);
  add("quantity", std::to_string(quantity_));
  add("status", std::to_string(purchaseStatus_));
  add("sessionid", facts.sessionID);
  add("appid", facts.mainBundleIdentifier);
  add("appversion", facts.applicationVersion);
  add("osversion", facts.systemVersion);
  add("sdkversion", std::string(kQMASDKVersion));
  add("timestamp", std::to_string(facts.timeSinceFirstAdRequestInMilliseconds));
  // Values go in as they are (their "@" kept literal); status-report templates carry no
  // escaping of their own.
  return QMAFillTemplate(format, macros);
}

void QMAInAppPurchase::pingReportingURLStrings(const std::vector<std::string>& urls) const {
  QMAClickTrackerCollection::sharedInstance()->trackURLsCacheEnabled(urls, false);
}

std::shared_ptr<QMAInAppPurchaseDelegate> QMASlotInAppPurchase::inAppPurchaseDelegate(
    const QMASlotInAppPurchaseOwner* owner) {
  auto flow = QMADefaultInAppPurchaseFlow::sharedInstance();
  if (flow->isDefaultPurchaseFlowEnabled()) return flow;
  if (!owner) return nullptr;
  return owner->inAppPurchaseDelegate().value_or(nullptr);
}

void QMASlotInAppPurchase::didReceiveInAppPurchase(const QMASlotInAppPurchaseOwner* owner,
                                                   const std::shared_ptr<QMAInAppPurchase>& purchase) {
  auto delegate = inAppPurchaseDelegate(owner);
  if (!delegate) {
    QMALogger::sharedInstance()->logPublicMessage(
        "You must set the in-app purchase delegate. Transaction cannot be completed.");
    return;
  }
  QMARunOnMainThread([delegate, purchase] { delegate->didReceiveInAppPurchase(purchase); });
}
