#include "ads/model/ad_type.h"

#include <gtest/gtest.h>

#include "ads/model/test_support.h"
#include "platform/foundation/format.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

struct AdTypes : model_test::ModelTest {};

TEST_F(AdTypes, EqualTypesHashAlike) {
  auto banner = QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
  auto sameBanner = QMAAdType::initWithAdSize(kQMAAdSizeBanner);
  auto customBanner = QMAAdType::bannerAdTypeForSize(QMACustomAdSizeFromCGSize({320, 50}));
  auto interstitial = QMAAdType::interstitialAdType();
  auto resizedInterstitial = QMAAdType::initForInterstitial();
  resizedInterstitial->setAdSize(kQMAAdSizeBanner);
  auto reward = QMAAdType::initForRewardBasedVideoAd();
  auto invalidBanner = QMAAdType::bannerAdTypeForSize(kQMAAdSizeInvalid);

  struct Pair {
    const char* what;
    std::shared_ptr<QMAAdType> a, b;
    bool equal;
  };
  const Pair pairs[] = {
      {"two standard banners", banner, sameBanner, true},
      {"a custom flag makes a difference", banner, customBanner, false},
      {"interstitials whatever their size", interstitial, resizedInterstitial, true},
      {"a reward type is a banner of the invalid size", reward, invalidBanner, true},
      // An interstitial hashes as 1; were it equal to a banner of its size, sets would break.
      {"an interstitial is no banner of its size", interstitial, invalidBanner, false},
      {"nor a banner of the size it was given", resizedInterstitial, banner, false},
      {"nor a reward type", interstitial, reward, false},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(p.a->isEqual(p.b.get()), p.equal) << p.what;
    EXPECT_EQ(p.b->isEqual(p.a.get()), p.equal) << p.what;
    if (p.equal) {
      EXPECT_EQ(p.a->hash(), p.b->hash()) << p.what;
    }
  }
  EXPECT_TRUE(banner->isEqual(banner.get()));
  EXPECT_FALSE(banner->isEqual(nullptr));
  EXPECT_EQ(interstitial->hash(), 1u);
  EXPECT_FALSE(QMAAdType::init());
}

TEST_F(AdTypes, ValidityAndDescription) {
  EXPECT_TRUE(QMAAdType::interstitialAdType()->isValid());
  EXPECT_TRUE(QMAAdType::bannerAdTypeForSize(kQMAAdSizeSmartBannerPortrait)->isValid());
  EXPECT_FALSE(QMAAdType::initForRewardBasedVideoAd()->isValid());
  EXPECT_TRUE(QMAAdType::initForRewardBasedVideoAd()->isRewardBasedVideoAd());
  EXPECT_EQ(QMAAdType::interstitialAdType()->description(), "QMAAdType interstitial type");
  EXPECT_EQ(QMAAdType::bannerAdTypeForSize(kQMAAdSizeLeaderboard)->description(),
            "QMAAdType banner with size: kQMAAdSizeLeaderboard");
}

TEST_F(AdTypes, ARewardNeedsATextTypeAndANumberAmount) {
  struct Case {
    const char* what;
    std::optional<Dictionary> dict;
    std::optional<std::pair<std::string, std::string>> reward;  // type, amount text
  };
  const Case cases[] = {
      {"number and text", Dictionary{{"rb_type", "coins"}, {"rb_amount", 5}}, std::make_pair("coins", "5")},
      {"fractional amount", Dictionary{{"rb_type", "gems"}, {"rb_amount", 2.5}}, std::make_pair("gems", "2.5")},
      {"amount as text", Dictionary{{"rb_type", "coins"}, {"rb_amount", "5"}}, std::nullopt},
      {"amount as Boolean", Dictionary{{"rb_type", "coins"}, {"rb_amount", true}}, std::nullopt},
      {"type as number", Dictionary{{"rb_type", 3}, {"rb_amount", 5}}, std::nullopt},
      {"no amount", Dictionary{{"rb_type", "coins"}}, std::nullopt},
      {"nothing", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto reward = QMAAdReward::initWithRewardDictionary(c.dict);
    ASSERT_EQ(bool(reward), bool(c.reward)) << c.what;
    if (!reward) continue;
    EXPECT_EQ(reward->type(), c.reward->first) << c.what;
    EXPECT_EQ(reward->amount().stringValue(), c.reward->second) << c.what;
  }
  EXPECT_FALSE(QMAAdReward::init());
  EXPECT_FALSE(QMAAdReward::initWithRewardTypeRewardAmount("coins", std::nullopt));
  auto exact = QMAAdReward::initWithRewardTypeRewardAmount("coins", QMADecimalNumber::fromInteger(7));
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->amount().doubleValue(), 7);
}

TEST_F(AdTypes, DecimalNumbersFromNumbers) {
  const std::pair<Value, std::optional<std::string>> cases[] = {
      {Value(5), "5"},
      {Value(-12), "-12"},
      {Value(0.1), "0.1"},
      {Value(-0.0), "0"},
      {Value(1e21), "1000000000000000000000"},
      {Value(std::nan("")), std::nullopt},
      {Value("5"), std::nullopt},
      {Value(false), std::nullopt},
  };
  for (const auto& [v, text] : cases) {
    auto d = QMADecimalNumber::fromNumber(v);
    EXPECT_EQ(d ? std::optional<std::string>(d->stringValue()) : std::nullopt, text) << foundation::description(v);
  }
}

}  // namespace
