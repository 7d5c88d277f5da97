#include "ads/slots/native/native_ad.h"

#include <cctype>
#include <climits>

#include "ads/services/click_tracker_collection.h"
#include "ads/services/utilities.h"
#include "ads/model/ad.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"

namespace {

std::set<std::string> stringSet(const foundation::Dictionary& d, std::string_view key) {
  std::set<std::string> out;
  if (const foundation::Array* a = foundation::arrayForKey(d, key))
    for (const auto& v : *a)
      if (const std::string* s = v.asString()) out.insert(*s);
  return out;
}

}  // namespace

std::string QMAJSONTextForScript(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8.
    if (i + 2 < json.size() && static_cast<unsigned char>(json[i]) == 0xE2 &&
        static_cast<unsigned char>(json[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(json[i + 2]) == 0xA8 || static_cast<unsigned char>(json[i + 2]) == 0xA9)) {
      out += static_cast<unsigned char>(json[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
      continue;
    }
    out += json[i];
  }
  return out;
}

long QMAIntegerValueOfTemplateID(const foundation::Value& value) {
  if (value.asBoolean()) return *value.asBoolean() ? 1 : 0;
  if (const auto* i = value.asInteger()) return static_cast<long>(*i);
  if (const auto* d = value.asReal()) {
    if (!(*d == *d)) return 0;
    if (*d >= static_cast<double>(LONG_MAX)) return LONG_MAX;
    if (*d <= static_cast<double>(LONG_MIN)) return LONG_MIN;
    return static_cast<long>(*d);
  }
  const std::string* s = value.asString();
  if (!s) return 0;
  std::size_t i = 0;
  while (i < s->size() && std::isspace(static_cast<unsigned char>((*s)[i]))) ++i;
  bool negative = false;
  if (i < s->size() && ((*s)[i] == '-' || (*s)[i] == '+')) negative = (*s)[i++] == '-';
  long result = 0;
  for (; i < s->size() && std::isdigit(static_cast<unsigned char>((*s)[i])); ++i) {
    const int digit = (*s)[i] - '0';
    if (!negative && result > (LONG_MAX - digit) / 10) return LONG_MAX;
    if (negative && result < (LONG_MIN + digit) / 10) return LONG_MIN;
    result = negative ? result * 10 - digit : result * 10 + digit;
  }
  return result;
}

// ---- class operations

const foundation::Dictionary* QMANativeAd::firstAdObjectIn(const std::optional<foundation::Value>& configuration) {
  if (!configuration || !configuration->asDictionary()) return nullptr;
  const foundation::Array* ads = foundation::arrayForKey(*configuration->asDictionary(), "ads");
  if (!ads || ads->empty()) return nullptr;
  return (*ads)[0].asDictionary();
}

std::optional<foundation::Dictionary> QMANativeAd::firstAdObjectInAdConfigurationDictionary(
    const std::optional<foundation::Value>& configuration) {
  if (const foundation::Dictionary* ad = firstAdObjectIn(configuration)) return *ad;
  return std::nullopt;
}

std::optional<std::string> QMANativeAd::classFromAdConfigurationDictionary(
    const std::optional<foundation::Value>& configuration) {
  const foundation::Dictionary* ad = firstAdObjectIn(configuration);
  if (!ad) return std::nullopt;
  const std::string* type = foundation::stringForKey(*ad, "type");
  const foundation::Value* templateID = ad->count("template_id") ? &ad->find("template_id")->second : nullptr;
  return QMANativeAdClassForAdConfiguration(type ? *type : std::string(),
                                            templateID ? QMAIntegerValueOfTemplateID(*templateID) : 0, nullptr);
}

net::URL QMANativeAd::supportHTMLURL() {
  const std::string base = net::adNetworkBaseURL();
  const foundation::Value stored = foundation::UserDefaults::standardUserDefaults()->objectForKey(kSupportURLKey);
  {
    if (const std::string* text = stored.asString()) {
      // The page drives the bridge, so it is taken only from the ad network's own servers,
      // over the scheme they are reached by: a stored address elsewhere, or one that
      // downgrades the scheme, is not used.
      auto url = net::URL::fromString(*text);
      if (url && url->absoluteString().rfind(base + "/", 0) == 0) return *url;
    }
  }
  return *net::URL::fromString(net::adNetworkURL(kSupportPagePath));
}

// ---- building

QMANativeAd::QMANativeAd(foundation::Dictionary adObject) : adConfiguration_(std::move(adObject)) {
  if (const foundation::Dictionary* tracking =
          foundation::dictionaryForKey(adConfiguration_, "tracking_urls_and_actions")) {
    if (const std::string* click = foundation::stringForKey(*tracking, "quillon_click_tracking_url"))
      quillonClickTrackingURLString_ = *click;
    thirdPartyClickTrackingURLs_ = stringSet(*tracking, "third_party_click_tracking_urls");
    impressionTrackingURLs_ = stringSet(*tracking, "impression_tracking_urls");
    if (const foundation::Array* actions = foundation::arrayForKey(*tracking, "click_actions")) clickActions_ = *actions;
  }
}

QMANativeAd::~QMANativeAd() = default;

std::string QMANativeAd::description() const {
  return foundation::stringWithFormat("<%@: %p>", className(), static_cast<const void*>(this));
}

// ---- assets

void QMANativeAd::loadAssets() {
  WV_DCHECK_MAIN_THREAD();
  std::weak_ptr<QMANativeAd> weak = weak_from_this();
  dispatch::Queue::main()->async([weak] {
    if (auto self = weak.lock()) self->notifyLoadingDelegateIfAllRequestedAssetsHaveLoaded();
  });
}

void QMANativeAd::loadImageAsset(const std::shared_ptr<QMANativeAdImage>& image, const std::string& name,
                                 std::function<void(QMANativeAd&)> onSuccess) {
  addAssetWithNameToRequestedAssets(name);
  std::weak_ptr<QMANativeAd> weak = weak_from_this();
  image->loadImageWithCompletionHandler([weak, name, onSuccess](const std::optional<foundation::Error>& error) {
    auto self = weak.lock();
    if (!self) return;
    if (error) {
      self->failedToLoadAssetWithName(name);
      return;
    }
    if (onSuccess) onSuccess(*self);
    self->finishedLoadingAssetWithName(name);
  });
}

void QMANativeAd::addAssetWithNameToRequestedAssets(const std::string& name) { requestedAssets_.insert(name); }

void QMANativeAd::finishedLoadingAssetWithName(const std::optional<std::string>& name) {
  if (name) completedAssets_.insert(*name);
  notifyLoadingDelegateIfAllRequestedAssetsHaveLoaded();
}

void QMANativeAd::failedToLoadAssetWithName(const std::string& name) {
  completedAssets_.insert(name);
  // Once the loading delegate heard how loading ended, later results tell it nothing: an
  // ad is never reported delivered and then failed.
  if (loadingDelegateTold()) return;
  auto required = requiredAssets();
  if (required && required->count(name)) {
    failedToLoadARequiredAsset_ = true;
    if (auto d = loadingDelegate()) d->nativeAdDidFailToLoadRequiredAssets(*this);
    return;
  }
  notifyLoadingDelegateIfAllRequestedAssetsHaveLoaded();
}

void QMANativeAd::notifyLoadingDelegateIfAllRequestedAssetsHaveLoaded() {
  if (failedToLoadARequiredAsset_) return;
  for (const auto& name : requestedAssets_)
    if (!completedAssets_.count(name)) return;
  if (hasNotifiedDelegateAssetsFinishedLoading_) return;
  hasNotifiedDelegateAssetsFinishedLoading_ = true;
  auto keep = shared_from_this();
  if (auto d = loadingDelegate()) d->nativeAdDidFinishLoadingAssets(*this);
}

// ---- clicks and the impression

std::optional<std::string> QMANativeAd::clickScriptForDictionary(const foundation::Dictionary& click) {
  auto json = qma_JSONStringPretty(click, false);
  if (!json || json->empty()) return std::nullopt;
  return foundation::stringWithFormat(kClickScriptFormat, QMAJSONTextForScript(*json));
}

void QMANativeAd::performClickOnViewAssetNameEnvironment(const std::shared_ptr<uikit::View>&,
                                                         const std::optional<std::string>& assetName,
                                                         const std::optional<foundation::Dictionary>& environment) {
  if (!assetName) return;
  foundation::Dictionary click = environment.value_or(foundation::Dictionary{});
  click.insert_or_assign("ad", adConfiguration_);
  click.insert_or_assign("click", foundation::Dictionary{{"template", clickActionTemplateID()}, {"asset", *assetName}});
  auto script = clickScriptForDictionary(click);
  if (!script) return;
  auto slot = slot_;
  QMARunOnMainThread([slot, script = *script] {
    if (slot && slot->adView()) slot->adView()->stringByEvaluatingJavaScriptFromString(script);
  });
}

void QMANativeAd::recordImpression() {
  if (hasRecordedImpression_) return;
  hasRecordedImpression_ = true;
  std::vector<std::string> urls(impressionTrackingURLs_.begin(), impressionTrackingURLs_.end());
  QMAClickTrackerCollection::sharedInstance()->trackURLsCacheEnabled(urls, false);
}

// ---- presentations

void QMANativeAd::adViewWillPresentScreen(QMABannerView&) {
  if (auto d = delegate()) d->nativeAdWillPresentScreen(*this);
}
void QMANativeAd::adViewWillDismissScreen(QMABannerView&) {
  if (auto d = delegate()) d->nativeAdWillDismissScreen(*this);
}
void QMANativeAd::adViewDidDismissScreen(QMABannerView&) {
  if (auto d = delegate()) d->nativeAdDidDismissScreen(*this);
}
void QMANativeAd::adViewWillLeaveApplication(QMABannerView&) {
  if (auto d = delegate()) d->nativeAdWillLeaveApplication(*this);
}
