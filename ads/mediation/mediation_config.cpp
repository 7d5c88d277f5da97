#include "ads/mediation/mediation_config.h"

#include <cmath>
#include <limits>

#include "ads/model/ad_size.h"
#include "ads/model/string_values.h"
#include "ads/services/logging.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

const Value* valueForKey(const Dictionary& d, std::string_view key) {
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}

// What a value answers when asked for a double: numbers and Booleans as they are, text as
// far as it reads as a number (0 when it does not); nothing for other kinds.
std::optional<double> doubleValueOf(const Value& value) {
  if (const auto* b = value.asBoolean()) return *b ? 1.0 : 0.0;
  if (const auto* i = value.asInteger()) return static_cast<double>(*i);
  if (const auto* r = value.asReal()) return *r;
  if (const auto* s = value.asString()) return QMAStringDoubleValue(*s).value_or(std::numeric_limits<double>::quiet_NaN());
  return std::nullopt;
}

std::optional<std::vector<std::string>> stringArray(const Value* value) {
  if (!value) return std::nullopt;
  const Array* array = value->asArray();
  if (!array) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& element : *array)
    if (const auto* s = element.asString()) out.push_back(*s);
  return out;
}

std::optional<Dictionary> dictionaryValue(const Value* value) {
  if (!value || !value->asDictionary()) return std::nullopt;
  return *value->asDictionary();
}

std::optional<Array> arrayValue(const Value* value) {
  if (!value || !value->asArray()) return std::nullopt;
  return *value->asArray();
}

}  // namespace

// ---- adapter classes

bool QMAMAdNetworkAdapterClasses::classIsAdapterClass(const runtime::ClassRef& cls) {
  return cls && (cls->conformsToProtocol(kQMAMAdNetworkAdapterProtocol) ||
                 cls->conformsToProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol));
}

bool QMAMAdNetworkAdapterClasses::classImplementsCurrentAdapterAPI(const runtime::ClassRef& cls) {
  return cls && (cls->instancesRespondToSelector("getBannerWithSize:") ||
                 cls->instancesRespondToSelector("getInterstitial") ||
                 cls->conformsToProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol));
}

std::set<std::string> QMAMAdNetworkAdapterClasses::availableAdapterNamesInSet(const std::set<std::string>& names) {
  std::set<std::string> out;
  for (const auto& name : names) {
    auto cls = runtime::objc_getClass(name);
    if (cls && cls->conformsToProtocol(kQMAMAdNetworkAdapterProtocol)) out.insert(name);
  }
  return out;
}

// ---- one network

std::shared_ptr<QMAMAdNetworkConfig> QMAMAdNetworkConfig::initWithDictionaryError(const Dictionary& dictionary,
                                                                                  std::optional<QMARequestError>* error) {
  return initWithDictionaryErrorNamesAlreadyReported(dictionary, error, nullptr);
}

std::shared_ptr<QMAMAdNetworkConfig> QMAMAdNetworkConfig::initWithDictionaryErrorNamesAlreadyReported(
    const Dictionary& dictionary, std::optional<QMARequestError>* error, std::set<std::string>* namesAlreadyReported) {
  // A name the server sent goes into a message once per configuration, and never longer
  // than a log line can carry.
  auto firstReport = [namesAlreadyReported](const std::string& name) {
    return !namesAlreadyReported || namesAlreadyReported->insert(name).second;
  };
  std::shared_ptr<QMAMAdNetworkConfig> config(new QMAMAdNetworkConfig());
  const Value* id = valueForKey(dictionary, "id");
  if (!id) {
    if (error)
      *error = QMARequestError::errorWithCodeCustomMessage(
          QMARequestErrorCodeInvalidMediationResponse,
          "The Pelmark Mediation response was invalid: An ad network config has no network ID.");
    return nullptr;
  }
  if (const auto* s = id->asString()) {
    config->networkID_ = *s;
  } else if (const auto* b = id->asBoolean()) {
    config->networkID_ = *b ? "1" : "0";
  } else if (id->isNumber()) {
    config->networkID_ = foundation::description(*id);
  } else {
    if (error)
      *error = QMARequestError::errorWithCodeCustomMessage(
          QMARequestErrorCodeInvalidMediationResponse,
          "The Pelmark Mediation response was invalid: An ad network config has an invalid network ID.");
    return nullptr;
  }
  config->credentials_ = dictionaryValue(valueForKey(dictionary, "data"));
  config->extras_ = dictionaryValue(valueForKey(dictionary, "extras"));
  config->ad_ = dictionaryValue(valueForKey(dictionary, "ad"));
  if (const Value* allocation = valueForKey(dictionary, "allocation_id")) config->allocationID_ = *allocation;
  config->impressionURLs_ = arrayValue(valueForKey(dictionary, "imp_urls"));
  config->clickURLs_ = arrayValue(valueForKey(dictionary, "clickurl"));
  config->videoStartURLs_ = arrayValue(valueForKey(dictionary, "video_start_urls"));
  config->rewardedUserURLs_ = arrayValue(valueForKey(dictionary, "video_complete_urls"));
  config->adapterList_ = arrayValue(valueForKey(dictionary, "adapters"));

  std::vector<std::string> oldInterface;
  if (config->adapterList_) {
    for (const auto& entry : *config->adapterList_) {
      const auto* name = entry.asString();
      if (!name) continue;
      auto cls = runtime::objc_getClass(*name);
      if (!cls) continue;
      if (!QMAMAdNetworkAdapterClasses::classImplementsCurrentAdapterAPI(cls)) {
        oldInterface.push_back(*name);
        continue;
      }
      if (QMAMAdNetworkAdapterClasses::classIsAdapterClass(cls)) {
        config->adapterClass_ = cls;
        break;
      }
    }
  }
  if (error) {
    if (!oldInterface.empty()) {
      std::string list;
      std::size_t named = 0;
      for (const auto& name : oldInterface) {
        if (!firstReport(name)) continue;
        list += (list.empty() ? "" : ", ") + QMALogQuote(name);
        ++named;
      }
      const std::string tail = config->adapterClass_ ? "" : " No valid adapters found for this ad network.";
      if (named > 0)
        *error = QMARequestError::errorWithCodeCustomMessage(
            QMARequestErrorCodeNoAdapter,
            foundation::stringWithFormat(named == 1
                                             ? "Ad network adapter %@ implements an old API. Please update the adapter.%@"
                                             : "Ad network adapters (%@) implement an old API. Please update the adapters.%@",
                                         list, tail));
    } else if (!config->adapterClass_) {
      std::optional<Array> names;
      bool anyNew = !config->adapterList_ || config->adapterList_->empty();
      if (config->adapterList_) {
        names.emplace();
        for (const auto& entry : *config->adapterList_) {
          const std::string text = entry.asString() ? *entry.asString() : foundation::description(entry);
          if (!firstReport(text)) continue;
          anyNew = true;
          names->push_back(Value(QMALogQuote(text)));
        }
      }
      if (anyNew)
        *error = QMARequestError::errorWithCodeCustomMessage(
            QMARequestErrorCodeNoAdapter,
            foundation::stringWithFormat(
                "Cannot find an ad network adapter with the name(s): %@. Remember to link all required ad network "
                "adapters and SDKs, and set -ObjC in the 'Other Linker Flags' setting of your build target.",
                names ? Value(*names) : Value()));
    }
  }
  return config;
}

std::optional<std::string> QMAMAdNetworkConfig::publisherID() const {
  if (!credentials_) return std::nullopt;
  const Value* pubid = valueForKey(*credentials_, "pubid");
  if (!pubid || !pubid->asString()) return std::nullopt;
  return *pubid->asString();
}

std::string QMAMAdNetworkConfig::description() const {
  const auto publisher = publisherID();
  return foundation::stringWithFormat("networkID:%@ adapter:%@ data:%@", networkID_ ? Value(*networkID_) : Value(),
                                      adapterClass_ ? Value(adapterClass_->name()) : Value(),
                                      publisher ? Value(*publisher) : (credentials_ ? Value(*credentials_) : Value()));
}

// ---- the configuration

std::shared_ptr<QMAAdType> QMAMConfig::adTypeFromString(const std::optional<std::string>& name) {
  if (name) {
    if (*name == "banner") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
    if (*name == "largebanner") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeLargeBanner);
    if (*name == "mrec") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeMediumRectangle);
    if (*name == "fullbanner") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeFullBanner);
    if (*name == "leaderboard") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeLeaderboard);
    if (*name == "skyscraper") return QMAAdType::bannerAdTypeForSize(kQMAAdSizeSkyscraper);
    if (*name == "interstitial") return QMAAdType::interstitialAdType();
  }
  return QMAAdType::bannerAdTypeForSize(kQMAAdSizeInvalid);
}

std::shared_ptr<QMAAdType> QMAMConfig::peekAdTypeFromConfig(const Dictionary& config) {
  const Value* type = valueForKey(config, "ad_type");
  return adTypeFromString(type && type->asString() ? std::optional<std::string>(*type->asString()) : std::nullopt);
}

void QMAMConfig::setRefreshInterval(double seconds) {
  refreshInterval_ = std::isnan(seconds) || seconds >= kRefreshIntervalLimit ? 0.0 : seconds;
}

std::shared_ptr<QMAMConfig> QMAMConfig::initWithAppKeyConfigDictError(const std::optional<std::string>& appKey,
                                                                      const std::optional<Dictionary>& config,
                                                                      std::optional<QMARequestError>* error) {
  std::shared_ptr<QMAMConfig> parsed(new QMAMConfig());
  parsed->appKey_ = appKey;
  const Dictionary empty;
  const Dictionary& dict = config ? *config : empty;
  parsed->adType_ = peekAdTypeFromConfig(dict);
  if (const Value* settingsValue = valueForKey(dict, "settings"); settingsValue && settingsValue->asDictionary()) {
    const Dictionary& settings = *settingsValue->asDictionary();
    if (const Value* refresh = valueForKey(settings, "refresh"))
      if (auto seconds = doubleValueOf(*refresh)) parsed->setRefreshInterval(*seconds);
    if (const Value* timeout = valueForKey(settings, "ad_network_timeout_millis"))
      if (auto millis = doubleValueOf(*timeout)) {
        // The server's value becomes a timer: one that is not a number (text too large for a
        // double), negative or beyond any network's patience falls back to the default. 0
        // stays, text that is no number included (it reads as 0): no network waits.
        const double seconds = *millis / 1000;
        const bool sane = std::isfinite(seconds) && seconds >= 0 && seconds <= kMaxAdNetworkTimeout;
        parsed->adNetworkTimeout_ = sane ? seconds : kDefaultAdNetworkTimeout;
      }
    if (const Value* animation = valueForKey(settings, "ad_transition_anim")) {
      if (auto number = doubleValueOf(*animation); number && *number >= 0 && *number <= 8)
        parsed->bannerAnimationType_ = static_cast<std::int64_t>(*number);
    }
    parsed->impressionURLs_ = stringArray(valueForKey(settings, "imp_urls"));
    parsed->clickURLs_ = stringArray(valueForKey(settings, "click_urls"));
    parsed->noFillURLs_ = stringArray(valueForKey(settings, "nofill_urls"));
    parsed->rewards_ = arrayValue(valueForKey(settings, "rewards"));
  }
  if (const Value* qdata = valueForKey(dict, "qdata")) parsed->qdata_ = *qdata;
  const Value* networks = valueForKey(dict, "ad_networks");
  if (!networks || !networks->asArray()) {
    if (error) *error = QMARequestError::errorWithCode(QMARequestErrorCodeInvalidMediationResponse);
    return nullptr;
  }
  // The server decides how many networks and names an answer holds: the log gets each
  // name once and a bounded number of lines, then one line for the rest.
  std::set<std::string> namesReported;
  std::size_t linesWritten = 0;
  std::size_t linesLeftOut = 0;
  for (const auto& element : *networks->asArray()) {
    const Dictionary* network = element.asDictionary();
    if (!network) continue;
    std::optional<QMARequestError> networkError;
    auto entry = QMAMAdNetworkConfig::initWithDictionaryErrorNamesAlreadyReported(*network, &networkError, &namesReported);
    if (entry) parsed->adNetworkConfigs_.push_back(entry);
    if (!networkError) continue;
    if (networkError->code == QMARequestErrorCodeNoAdapter) {
      if (linesWritten < kMaximumAdapterLogLines) {
        QMALogger::sharedInstance()->logPublicMessage(networkError->localizedDescription());
        ++linesWritten;
      } else {
        ++linesLeftOut;
      }
      continue;
    }
    if (error) *error = *networkError;
    return nullptr;
  }
  if (linesLeftOut > 0)
    QMALogger::sharedInstance()->logPublicMessage(foundation::stringWithFormat(
        "%lu more ad networks of this mediation response have no usable adapter.", static_cast<unsigned long>(linesLeftOut)));
  return parsed;
}

std::string QMAMConfig::description() const {
  std::string networks = "(";
  for (const auto& n : adNetworkConfigs_) networks += "\n    " + n->description() + ",";
  networks += "\n)";
  return foundation::stringWithFormat("<QMAMConfig: %p>:\nqdata:%@ adTypeString:%@ refresh:%f transition:%ld ad_networks:%@",
                                      static_cast<const void*>(this), qdata_, adType_ ? adType_->description() : "",
                                      refreshInterval_, static_cast<long>(bannerAnimationType_), networks);
}
