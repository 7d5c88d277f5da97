#pragma once
// The format a slot asks for (QMAAdType: a banner of an ad size, an interstitial, or a
// reward-based video ad) and what a reward-based video ad grants the user (QMAAdReward).
// Both are small values that any thread may read; an ad type's size is set by its owner
// on the main thread.

#include <memory>
#include <optional>
#include <string>

#include "ads/model/ad_size.h"
#include "platform/foundation/value.h"

class QMAAdType {
 public:
  // Not supported: an ad type needs to know what it is. Nullptr.
  static std::shared_ptr<QMAAdType> init();
  static std::shared_ptr<QMAAdType> initWithAdSize(QMAAdSize size);
  static std::shared_ptr<QMAAdType> initForInterstitial();
  static std::shared_ptr<QMAAdType> initForRewardBasedVideoAd();
  static std::shared_ptr<QMAAdType> bannerAdTypeForSize(QMAAdSize size) { return initWithAdSize(size); }
  static std::shared_ptr<QMAAdType> interstitialAdType() { return initForInterstitial(); }

  bool isRewardBasedVideoAd() const { return isRewardBasedVideoAd_; }
  bool isInterstitial() const { return isInterstitial_; }
  QMAAdSize adSize() const { return adSize_; }
  void setAdSize(QMAAdSize size) { adSize_ = size; }

  // Interstitial types are all equal and equal nothing else; other types are equal when
  // their sizes are (the reward flag takes no part). Equal types hash alike.
  bool isEqual(const QMAAdType* other) const;
  std::size_t hash() const;
  // An interstitial, or a valid ad size.
  bool isValid() const;
  std::string description() const;

 private:
  QMAAdType() = default;
  bool isRewardBasedVideoAd_ = false;
  bool isInterstitial_ = false;
  QMAAdSize adSize_;
};

// A decimal number as the platform's decimal class keeps it: exact for whole numbers, the
// shortest text that reads back as the same double otherwise.
class QMADecimalNumber {
 public:
  // Integers and finite reals; Booleans, other values and non-finite reals give nullopt.
  static std::optional<QMADecimalNumber> fromNumber(const foundation::Value& number);
  static QMADecimalNumber fromInteger(long long value);

  const std::string& stringValue() const { return text_; }
  double doubleValue() const;
  friend bool operator==(const QMADecimalNumber&, const QMADecimalNumber&) = default;

 private:
  explicit QMADecimalNumber(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

class QMAAdReward {
 public:
  // Nullptr unless both are given.
  static std::shared_ptr<QMAAdReward> initWithRewardTypeRewardAmount(const std::optional<std::string>& type,
                                                                     const std::optional<QMADecimalNumber>& amount);
  // "rb_type" (a string) and "rb_amount" (a number); nullptr when either is missing or
  // of another type.
  static std::shared_ptr<QMAAdReward> initWithRewardDictionary(const std::optional<foundation::Dictionary>& dict);
  // initWithRewardDictionary with nothing: nullptr.
  static std::shared_ptr<QMAAdReward> init() { return initWithRewardDictionary(std::nullopt); }

  const std::string& type() const { return type_; }
  const QMADecimalNumber& amount() const { return amount_; }

 private:
  QMAAdReward(std::string type, QMADecimalNumber amount) : type_(std::move(type)), amount_(std::move(amount)) {}
  std::string type_;
  QMADecimalNumber amount_;
};
