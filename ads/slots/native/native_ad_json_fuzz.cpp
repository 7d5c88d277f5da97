// The native ad JSON from outside: configurations, ad objects with their assets, images and
// attribution, tracking keys and template IDs. Whatever they hold, reading them neither
// crashes nor builds an ad that lacks what its kind requires.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/services/utilities.h"
#include "ads/slots/native/native_content_ads.h"
#include "ads/slots/native/native_custom_template_ad.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto decoded = qma_decodedJSONObjectError(text);
  if (!decoded) return 0;
  // As a whole configuration.
  (void)QMANativeAd::classFromAdConfigurationDictionary(decoded);
  auto first = QMANativeAd::firstAdObjectInAdConfigurationDictionary(decoded);
  // As one ad object of every kind, with and without the image options.
  const foundation::Dictionary* ad = first ? &*first : decoded->asDictionary();
  if (!ad) return 0;
  auto options = QMANativeAdImageAdLoaderOptions::init();
  options->setShouldRequestMultipleImages(true);
  options->setDisableImageLoading(true);
  for (const std::optional<QMAAdLoaderOptionsByClass>& o :
       {std::optional<QMAAdLoaderOptionsByClass>(), std::optional<QMAAdLoaderOptionsByClass>({{options->className(), options}})}) {
    if (auto content = QMANativeContentAd::initWithDictionaryOptions(*ad, o)) {
      if (!content->headline() || !content->body()) std::abort();
      (void)content->requiredAssets();
    }
    if (auto install = QMANativeAppInstallAd::initWithDictionaryOptions(*ad, o)) {
      if (!install->headline() || !install->callToAction() || !install->icon()) std::abort();
      if (!(install->starRating() == install->starRating())) std::abort();
    }
    if (auto custom = QMANativeCustomTemplateAd::initWithDictionaryOptions(*ad, o)) {
      for (const auto& key : custom->availableAssetKeys())
        if (key.empty()) std::abort();
      (void)custom->description();
      (void)custom->hasValidConfigurationForRequestParameters(*ad);
    }
  }
  if (auto it = ad->find("attribution"); it != ad->end()) {
    if (auto badge = QMANativeAdAttribution::initWithDictionary(it->second)) {
      if (!badge->icon()) std::abort();
    }
  }
  if (const foundation::Array* ids = foundation::arrayForKey(*ad, "custom_template_ids"))
    (void)QMANativeCustomTemplateAd::templateIDsFromDelegateAnswer(*ids);
  if (auto it = ad->find("template_id"); it != ad->end()) (void)QMAIntegerValueOfTemplateID(it->second);
  (void)QMANativeAd::clickScriptForDictionary(*ad);
  return 0;
}
