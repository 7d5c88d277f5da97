#include "ads/model/ad_type.h"

#include <array>
#include <charconv>
#include <cmath>
#include <functional>

// ---- ad type

std::shared_ptr<QMAAdType> QMAAdType::init() { return nullptr; }

std::shared_ptr<QMAAdType> QMAAdType::initWithAdSize(QMAAdSize size) {
  std::shared_ptr<QMAAdType> type(new QMAAdType());
  type->adSize_ = size;
  return type;
}

std::shared_ptr<QMAAdType> QMAAdType::initForInterstitial() {
  auto type = initWithAdSize(kQMAAdSizeInvalid);
  type->isInterstitial_ = true;
  return type;
}

std::shared_ptr<QMAAdType> QMAAdType::initForRewardBasedVideoAd() {
  auto type = initWithAdSize(kQMAAdSizeInvalid);
  type->isRewardBasedVideoAd_ = true;
  return type;
}

bool QMAAdType::isEqual(const QMAAdType* other) const {
  if (other == this) return true;
  if (!other) return false;
  if (isInterstitial_ && other->isInterstitial_) return true;
  // An interstitial hashes as 1 whatever its size, so it may equal no banner: equal
  // objects that hash differently would break every set and table they are put in.
  if (isInterstitial_ != other->isInterstitial_) return false;
  return QMAAdSizeEqualToSize(adSize_, other->adSize_);
}

std::size_t QMAAdType::hash() const {
  if (isInterstitial_) return 1;
  return std::hash<std::string>()(NSStringFromCGSize(adSize_.size) + " " + std::to_string(adSize_.flags));
}

bool QMAAdType::isValid() const { return isInterstitial_ || QMAAdSizeIsValid(adSize_); }

std::string QMAAdType::description() const {
  if (isInterstitial_) return "QMAAdType interstitial type";
  return "QMAAdType banner with size: " + NSStringFromQMAAdSize(adSize_);
}

// ---- decimal numbers

std::optional<QMADecimalNumber> QMADecimalNumber::fromNumber(const foundation::Value& number) {
  if (const auto* i = number.asInteger()) return fromInteger(*i);
  const auto* r = number.asReal();
  if (!r || !std::isfinite(*r)) return std::nullopt;
  if (*r == 0) return QMADecimalNumber("0");  // no "-0"
  std::array<char, 400> buf{};
  auto result = std::to_chars(buf.data(), buf.data() + buf.size(), *r, std::chars_format::fixed);
  return QMADecimalNumber(std::string(buf.data(), result.ptr));
}

QMADecimalNumber QMADecimalNumber::fromInteger(long long value) { return QMADecimalNumber(std::to_string(value)); }

double QMADecimalNumber::doubleValue() const {
  double value = 0;
  std::from_chars(text_.data(), text_.data() + text_.size(), value);
  return value;
}

// ---- reward

std::shared_ptr<QMAAdReward> QMAAdReward::initWithRewardTypeRewardAmount(
    const std::optional<std::string>& type, const std::optional<QMADecimalNumber>& amount) {
  if (!type || !amount) return nullptr;
  return std::shared_ptr<QMAAdReward>(new QMAAdReward(*type, *amount));
}

std::shared_ptr<QMAAdReward> QMAAdReward::initWithRewardDictionary(const std::optional<foundation::Dictionary>& dict) {
  std::optional<std::string> type;
  std::optional<QMADecimalNumber> amount;
  if (dict) {
    if (const std::string* t = foundation::stringForKey(*dict, "rb_type")) type = *t;
    if (auto it = dict->find("rb_amount"); it != dict->end()) amount = QMADecimalNumber::fromNumber(it->second);
  }
  return initWithRewardTypeRewardAmount(type, amount);
}
