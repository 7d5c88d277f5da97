#include "ads/render/server_constants.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>

#include "ads/render/mraid_interceptor.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/services/application.h"
#include "ads/services/character_sets.h"
#include "ads/services/utilities.h"
#include "platform/foundation/user_defaults.h"
#include "platform/runtime/runtime.h"

namespace QMAServerConstants {

const std::vector<std::string>& textConstantNames() {
  static const std::vector<std::string> names = {
      "bad_ad_report_path", "as_domains", "iap_equivalent_classes", "iap_report_format", "iap_retry_suffix",
      "native_ad_support_url", "native_ad_load_with_app_events", "banner_prevent_autoplay",
      "web_view_cache_max_capacity", "ad_key_parent_view_count", "enable_signed_in_ads",
      "minimum_signed_in_ads_token_lifespan", "content_age_weight", "content_length_weight",
      "space_delimited_unicode_range", "minimum_paragraph_length", "maximum_shingle_count",
      "content_queue_maximum_capacity", "shingle_length", "traversal_interval", "character_delimited_unicode_range",
      "csi_request_batch_size", "csi_reporting_probability", "csi_reporting_interval",
      "disable_interstitial_click_ping_on_click_navigation", "url_time_to_live", "maximum_retry_url_count",
      "ping_interval"};
  return names;
}

bool boolValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

double doubleValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
  bool digits = false, point = false;
  while (i < text.size() && number.size() < 64) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number.push_back(c);
    ++i;
  }
  if (!digits) return 0;
  return std::strtod(number.c_str(), nullptr);
}

namespace {

std::optional<double> intervalFrom(const foundation::Value& value) {
  std::optional<double> seconds;
  if (const auto* s = value.asString()) seconds = doubleValue(*s);
  else if (value.isNumber()) seconds = value.doubleValue();
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0) return std::nullopt;
  return seconds;
}

}  // namespace

std::optional<RefreshIntervals> decodeRefreshIntervals(std::string_view text) {
  auto decoded = qma_decodedJSONObjectError(text);
  if (!decoded || !decoded->asDictionary()) return std::nullopt;
  RefreshIntervals out;
  if (const auto* v = decoded->get("vistrace_sampling_interval")) out.vistraceSamplingInterval = intervalFrom(*v);
  if (const auto* v = decoded->get("swipe_to_view_sampling_interval")) out.swipeToViewSamplingInterval = intervalFrom(*v);
  return out;
}

std::optional<foundation::Array> decodeStringList(std::string_view text) {
  auto decoded = qma_decodedJSONObjectError(text);
  if (!decoded || !decoded->asArray()) return std::nullopt;
  foundation::Array out;
  for (const auto& v : *decoded->asArray())
    if (v.asString()) out.push_back(v);
  return out;
}

std::optional<foundation::Dictionary> decodeConfirmSchemes(std::string_view text) {
  auto decoded = qma_decodedJSONObjectError(text);
  if (!decoded || !decoded->asDictionary()) return std::nullopt;
  foundation::Dictionary out;
  for (const auto& [k, v] : *decoded->asDictionary())
    if (v.asString()) out[k] = v;
  if (out.empty()) return std::nullopt;
  return out;
}

std::vector<std::string> classNameList(std::string_view text) {
  std::vector<std::string> names;
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '[') {
    if (auto list = decodeStringList(text))
      for (const auto& v : *list)
        if (!v.asString()->empty()) names.push_back(*v.asString());
    return names;
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view piece = text.substr(start, comma - start);
    while (!piece.empty() && std::isspace(static_cast<unsigned char>(piece.front()))) piece.remove_prefix(1);
    while (!piece.empty() && std::isspace(static_cast<unsigned char>(piece.back()))) piece.remove_suffix(1);
    if (!piece.empty()) names.emplace_back(piece);
    start = comma + 1;
  }
  return names;
}

void updateAvailableAdapterNamesWithPotentialAdapterNames(const std::optional<std::string>& text) {
  std::set<std::string> names = {"QMAMAdapterQuillonPelmarkAds", "QMAMAdapterCustomEvents", "QMAMAdapterHTML",
                                 "QMAMAdURLAdapter"};
  if (text)
    for (auto& name : classNameList(*text)) names.insert(std::move(name));
  // Only banner and interstitial adapters are offered to the ad server: a class that
  // exists but adopts no adapter protocol, or only the reward-based video one, could serve
  // no network the server would then name.
  std::vector<std::string> available;
  for (const auto& name : names)
    if (auto cls = runtime::objc_getClass(name); cls && cls->conformsToProtocol("QMAMAdNetworkAdapter"))
      available.push_back(name);
  QMAApplication::sharedInstance()->setAvailableAdapterNames(std::move(available));
}

}  // namespace QMAServerConstants

// ---- the controller's handling of "loadSdkConstants"

void QMASDKCoreController::applySDKConstants(const foundation::Dictionary& constants) {
  using namespace QMAServerConstants;
  auto text = [&](const char* key) -> std::optional<std::string> {
    if (const auto* s = foundation::stringForKey(constants, key)) return *s;
    return std::nullopt;
  };
  QMAMRAIDInterceptor::setBannerImplementationPath(text("mraid_banner_path"));
  QMAMRAIDInterceptor::setInterstitialImplementationPath(text("mraid_interstitial_path"));
  QMAMRAIDInterceptor::setExpandedBannerImplementationPath(text("mraid_expanded_banner_path"));

  auto self = shared_from_this();
  if (auto size = text("vistrace_unload_cache_size")) {
    // Only a positive bound: "-1" must not make the cache of hidden pages unbounded.
    const double value = doubleValue(*size);
    if (value >= 1) {
      const auto bound = static_cast<std::uint64_t>(std::min<double>(value, kMaximumUnloadCacheSize));
      lockQueue_->async([self, bound] { self->vistraceUnloadCacheMaxSize_ = bound; });
    }
  }
  const bool useNew = text("use_new_web_views_for_vistrace") ? boolValue(*text("use_new_web_views_for_vistrace")) : false;
  lockQueue_->async([self, useNew] { self->useNewWebViewsForVistraceProcessing_ = useNew; });

  if (text("mraid_disable_redirect") == std::optional<std::string>("1")) QMAMRAIDInterceptor::disallow();
  else QMAMRAIDInterceptor::allow();

  if (auto intervals = text("refresh_intervals")) {
    if (auto decoded = decodeRefreshIntervals(*intervals)) {
      if (decoded->vistraceSamplingInterval) setVistraceSamplingInterval(*decoded->vistraceSamplingInterval);
      if (decoded->swipeToViewSamplingInterval) setSwipeToViewSamplingInterval(*decoded->swipeToViewSamplingInterval);
    }
  }

  auto defaults = foundation::UserDefaults::standardUserDefaults();
  if (auto domains = text("whitelisted_ad_request_domains")) {
    if (auto list = decodeStringList(*domains))
      defaults->setObjectForKey(*list, std::string(kKeyPrefix) + "whitelisted_ad_request_domains");
  }
  if (auto schemes = text("clickthrough_confirm_schemes")) {
    if (auto dict = decodeConfirmSchemes(*schemes))
      defaults->setObjectForKey(*dict, std::string(kKeyPrefix) + "clickthrough_confirm_schemes");
  }
  for (const auto& name : textConstantNames()) {
    auto value = text(name.c_str());
    if (value && !value->empty()) defaults->setObjectForKey(*value, std::string(kKeyPrefix) + name);
  }
  QMACharacterSets::sharedInstance().updateCharacterSets();
  updateAvailableAdapterNamesWithPotentialAdapterNames(text("adapter_class_names"));
  lockQueue_->async([self] { self->SDKConstantsNeedReload_ = false; });
}
