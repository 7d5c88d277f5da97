#pragma once
// The mediation configuration a mediation response carries (QMAMConfig) and its network
// entries (QMAMAdNetworkConfig), parsed from the decoded JSON, and how a network's adapter
// class is found by name in the runtime's class registry.
//
// The JSON: {"ad_type", "settings": {"refresh", "ad_network_timeout_millis",
// "ad_transition_anim", "imp_urls", "click_urls", "nofill_urls", "rewards"}, "qdata",
// "ad_networks": [{"id", "data", "extras", "ad", "allocation_id", "imp_urls", "clickurl",
// "video_start_urls", "video_complete_urls", "adapters"}]}. Values of another type than
// expected are ignored, except a missing "ad_networks" list or a network without a usable
// "id", which fail the whole configuration (request error 7). A network whose adapters
// name no usable class stays in the configuration without one, with a public log line
// (request error 8, never fatal).
//
// Configurations are values: built once, then read (the ad type excepted). Main thread.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/model/ad_type.h"
#include "ads/model/request_error.h"
#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"

// The protocols an adapter class adopts (runtime::Class::addProtocol).
inline constexpr const char* kQMAMAdNetworkAdapterProtocol = "QMAMAdNetworkAdapter";
inline constexpr const char* kQMAMRewardBasedVideoAdNetworkAdapterProtocol = "QMAMRewardBasedVideoAdNetworkAdapter";

class QMAMAdNetworkConfig {
 public:
  // The entry, or null with the error; an entry may come back with an error too (code 8:
  // no usable adapter class).
  static std::shared_ptr<QMAMAdNetworkConfig> initWithDictionaryError(const foundation::Dictionary& dictionary,
                                                                      std::optional<QMARequestError>* error);
  // The same, for one configuration's networks in turn: a code-8 message names only the
  // adapter names not in `namesAlreadyReported` (and adds them there), and none at all
  // when every name it would give was reported already. Names are cut to a readable length
  // (QMALogQuote) in every message.
  static std::shared_ptr<QMAMAdNetworkConfig> initWithDictionaryErrorNamesAlreadyReported(
      const foundation::Dictionary& dictionary, std::optional<QMARequestError>* error,
      std::set<std::string>* namesAlreadyReported);

  const std::optional<std::string>& networkID() const { return networkID_; }
  const std::optional<foundation::Dictionary>& credentials() const { return credentials_; }
  const std::optional<foundation::Dictionary>& extras() const { return extras_; }
  const std::optional<foundation::Dictionary>& ad() const { return ad_; }
  const std::optional<foundation::Array>& adapterList() const { return adapterList_; }
  const runtime::ClassRef& adapterClass() const { return adapterClass_; }
  const foundation::Value& allocationID() const { return allocationID_; }
  const std::optional<foundation::Array>& impressionURLs() const { return impressionURLs_; }
  const std::optional<foundation::Array>& clickURLs() const { return clickURLs_; }
  const std::optional<foundation::Array>& videoStartURLs() const { return videoStartURLs_; }
  const std::optional<foundation::Array>& rewardedUserURLs() const { return rewardedUserURLs_; }
  // The credentials' "pubid" text.
  std::optional<std::string> publisherID() const;
  std::string description() const;

 private:
  QMAMAdNetworkConfig() = default;
  std::optional<std::string> networkID_;
  std::optional<foundation::Dictionary> credentials_;
  std::optional<foundation::Dictionary> extras_;
  std::optional<foundation::Dictionary> ad_;
  std::optional<foundation::Array> adapterList_;
  runtime::ClassRef adapterClass_;
  foundation::Value allocationID_;
  std::optional<foundation::Array> impressionURLs_;
  std::optional<foundation::Array> clickURLs_;
  std::optional<foundation::Array> videoStartURLs_;
  std::optional<foundation::Array> rewardedUserURLs_;
};

class QMAMConfig {
 public:
  static constexpr double kDefaultAdNetworkTimeout = 10.0;
  // Server time-outs above this many seconds (or not a number, or negative) take the default.
  static constexpr double kMaxAdNetworkTimeout = 300.0;
  static constexpr std::int64_t kDefaultBannerAnimationType = 8;
  // Refresh intervals from this many seconds on mean no refresh.
  static constexpr double kRefreshIntervalLimit = 30000;
  // Adapter problems of one configuration that reach the log line by line; the rest are
  // counted in one line.
  static constexpr std::size_t kMaximumAdapterLogLines = 10;

  // The configuration, or null with the error.
  static std::shared_ptr<QMAMConfig> initWithAppKeyConfigDictError(const std::optional<std::string>& appKey,
                                                                  const std::optional<foundation::Dictionary>& config,
                                                                  std::optional<QMARequestError>* error);
  // The ad type of "ad_type": "banner", "largebanner", "mrec", "fullbanner", "leaderboard",
  // "skyscraper", "interstitial"; anything else an invalid banner type.
  static std::shared_ptr<QMAAdType> adTypeFromString(const std::optional<std::string>& name);
  static std::shared_ptr<QMAAdType> peekAdTypeFromConfig(const foundation::Dictionary& config);

  const std::optional<std::string>& appKey() const { return appKey_; }
  const std::shared_ptr<QMAAdType>& adType() const { return adType_; }
  void setAdType(std::shared_ptr<QMAAdType> type) { adType_ = std::move(type); }
  const std::vector<std::shared_ptr<QMAMAdNetworkConfig>>& adNetworkConfigs() const { return adNetworkConfigs_; }
  double refreshInterval() const { return refreshInterval_; }
  // 0 for any value not below the limit (or no number).
  void setRefreshInterval(double seconds);
  double adNetworkTimeout() const { return adNetworkTimeout_; }
  std::int64_t bannerAnimationType() const { return bannerAnimationType_; }
  const std::optional<std::vector<std::string>>& impressionURLs() const { return impressionURLs_; }
  const std::optional<std::vector<std::string>>& clickURLs() const { return clickURLs_; }
  const std::optional<std::vector<std::string>>& noFillURLs() const { return noFillURLs_; }
  // Stored as sent; only text goes into pings.
  const foundation::Value& qdata() const { return qdata_; }
  const std::optional<foundation::Array>& rewards() const { return rewards_; }
  std::string description() const;

 private:
  QMAMConfig() = default;
  std::optional<std::string> appKey_;
  std::shared_ptr<QMAAdType> adType_;
  std::vector<std::shared_ptr<QMAMAdNetworkConfig>> adNetworkConfigs_;
  double refreshInterval_ = 0;
  double adNetworkTimeout_ = kDefaultAdNetworkTimeout;
  std::int64_t bannerAnimationType_ = kDefaultBannerAnimationType;
  std::optional<std::vector<std::string>> impressionURLs_;
  std::optional<std::vector<std::string>> clickURLs_;
  std::optional<std::vector<std::string>> noFillURLs_;
  foundation::Value qdata_;
  std::optional<foundation::Array> rewards_;
};

// Adapter classes by name.
struct QMAMAdNetworkAdapterClasses {
  // The names whose class exists and adopts QMAMAdNetworkAdapter (itself or a superclass).
  static std::set<std::string> availableAdapterNamesInSet(const std::set<std::string>& names);
  // Adopts QMAMAdNetworkAdapter or QMAMRewardBasedVideoAdNetworkAdapter.
  static bool classIsAdapterClass(const runtime::ClassRef& cls);
  // Instances answer getBannerWithSize: or getInterstitial, or it adopts the reward protocol.
  static bool classImplementsCurrentAdapterAPI(const runtime::ClassRef& cls);
};
