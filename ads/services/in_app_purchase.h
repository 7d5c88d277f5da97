#pragma once
// In-app purchases offered by ads: the purchase object with its status reports, the
// delegate protocol a host implements, and the slot's hand-off to whoever carries the
// purchase out (the default purchase flow when it is on, else the host's delegate).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMAInAppPurchase;

class QMAInAppPurchaseDelegate {
 public:
  virtual ~QMAInAppPurchaseDelegate() = default;
  virtual void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) = 0;
};

enum QMAInAppPurchaseStatus : std::int64_t {
  QMAInAppPurchaseStatusError = 0,
  QMAInAppPurchaseStatusSuccessful = 1,
  QMAInAppPurchaseStatusCancel = 2,
  QMAInAppPurchaseStatusInvalidProduct = 3,
};

class QMAInAppPurchase {
 public:
  // Quantities from 1 to 10 are valid.
  static bool quantityIsValid(std::int64_t quantity) { return static_cast<std::uint64_t>(quantity) - 1 < 10; }
  static std::string stringForStatus(std::int64_t status);

  QMAInAppPurchase() = default;

  const std::optional<std::string>& productID() const { return productID_; }
  void setProductID(std::optional<std::string> productID) { productID_ = std::move(productID); }
  std::int64_t quantity() const { return quantity_; }
  // An invalid quantity is stored as 0.
  void setQuantity(std::int64_t quantity) { quantity_ = quantityIsValid(quantity) ? quantity : 0; }
  const std::optional<std::vector<std::string>>& reportingURLStringFormats() const { return reportingURLStringFormats_; }
  void setReportingURLStringFormats(std::optional<std::vector<std::string>> formats) {
    reportingURLStringFormats_ = std::move(formats);
  }
  std::int64_t purchaseStatus() const { return purchaseStatus_; }
  void setPurchaseStatus(std::int64_t status) { purchaseStatus_ = status; }

  std::string description() const;

  // Stores the status and follows every report template, expanded.
  void reportPurchaseStatus(std::int64_t status);
  std::string expandedURLStringForURLStringFormat(const std::string& format) const;
  void pingReportingURLStrings(const std::vector<std::string>& urls) const;

 private:
  std::optional<std::string> productID_;
  std::int64_t quantity_ = 1;
  std::optional<std::vector<std::string>> reportingURLStringFormats_;
  std::int64_t purchaseStatus_ = 0;
};

// What the slot asks of the ad object that owns it about purchases. An owner that does
// not take purchases (nullopt) differs from one whose host set no delegate (null).
class QMASlotInAppPurchaseOwner {
 public:
  virtual ~QMASlotInAppPurchaseOwner() = default;
  virtual std::optional<std::shared_ptr<QMAInAppPurchaseDelegate>> inAppPurchaseDelegate() const {
    return std::nullopt;
  }
};

// The slot's purchase hand-off.
struct QMASlotInAppPurchase {
  // The default purchase flow when it is on; otherwise the owner's delegate, if any.
  static std::shared_ptr<QMAInAppPurchaseDelegate> inAppPurchaseDelegate(const QMASlotInAppPurchaseOwner* owner);
  // Hands the purchase to that delegate on the main thread, or logs that none is set.
  static void didReceiveInAppPurchase(const QMASlotInAppPurchaseOwner* owner,
                                      const std::shared_ptr<QMAInAppPurchase>& purchase);
};
