#include "ads/slots/native/native_content_ads.h"

#include <cmath>
#include <cstdlib>

#include "ads/slots/native/ad_loader.h"
#include "platform/foundation/format.h"

namespace {

std::optional<std::string> stringValue(const foundation::Dictionary& d, std::string_view key) {
  if (const std::string* s = foundation::stringForKey(d, key)) return *s;
  return std::nullopt;
}

}  // namespace

double QMANativeAdStarRatingFromValue(const foundation::Value* value) {
  if (!value) return 0;
  if (auto number = value->doubleValue()) return std::isfinite(*number) ? *number : 0;
  if (const std::string* text = value->asString()) {
    const char* begin = text->c_str();
    char* end = nullptr;
    const double parsed = std::strtod(begin, &end);
    if (end != begin && std::isfinite(parsed)) return parsed;
  }
  return 0;
}

QMANativeFixedLayoutAd::QMANativeFixedLayoutAd(foundation::Dictionary object,
                                               const std::optional<QMAAdLoaderOptionsByClass>& options,
                                               const char* /*singleImageKey*/)
    : QMANativeAd(std::move(object)) {
  const foundation::Dictionary& adObject = adConfiguration();
  auto imageOptions = QMANativeAdImageOptionsIn(options);
  disableImageLoading_ = imageOptions && imageOptions->disableImageLoading();
  headline_ = stringValue(adObject, "headline");
  body_ = stringValue(adObject, "body");
  callToAction_ = stringValue(adObject, "call_to_action");
  if (const foundation::Array* images = foundation::arrayForKey(adObject, "images")) {
    if (auto list = QMANativeAdImage::nativeAdImagesFromImageConfigurationArray(*images, imageOptions.get()))
      nativeAdImages_ = std::move(*list);
  }
  if (auto it = adObject.find("attribution"); it != adObject.end())
    attribution_ = QMANativeAdAttribution::initWithDictionary(it->second);
}

std::set<std::string> QMANativeFixedLayoutAd::requiredAssetsWith(std::initializer_list<const char*> names) const {
  std::set<std::string> out(names.begin(), names.end());
  if (attribution_) out.insert("attribution");
  return out;
}

void QMANativeFixedLayoutAd::loadAssets() {
  if (!disableImageLoading_) {
    if (const auto& single = singleImage()) loadImageAsset(single, singleImageAssetName());
    for (const auto& image : nativeAdImages_) {
      const std::string name = foundation::stringWithFormat("%p:%@", static_cast<const void*>(image.get()),
                                                            image->imageURL().absoluteString());
      loadImageAsset(image, name, [image](QMANativeAd& ad) {
        static_cast<QMANativeFixedLayoutAd&>(ad).availableNativeAdImages_.push_back(image);
      });
    }
  } else {
    availableNativeAdImages_ = nativeAdImages_;
  }
  if (attribution_) {
    addAssetWithNameToRequestedAssets("attribution");
    std::weak_ptr<QMANativeAd> weak = weak_from_this();
    attribution_->loadAssetsWithCompletionHandler([weak](const std::optional<foundation::Error>& error) {
      auto self = weak.lock();
      if (!self) return;
      if (error) {
        self->failedToLoadAssetWithName("attribution");
      } else {
        self->finishedLoadingAssetWithName(std::string("attribution"));
      }
    });
  }
  QMANativeAd::loadAssets();
}

// ---- content

QMANativeContentAd::QMANativeContentAd(foundation::Dictionary object,
                                       const std::optional<QMAAdLoaderOptionsByClass>& options)
    : QMANativeFixedLayoutAd(std::move(object), options, "secondary_image") {
  const foundation::Dictionary& adObject = adConfiguration();
  advertiser_ = stringValue(adObject, "advertiser");
  if (auto it = adObject.find("secondary_image"); it != adObject.end())
    logo_ = QMANativeAdImage::initWithDictionary(it->second);
}

std::shared_ptr<QMANativeContentAd> QMANativeContentAd::initWithDictionaryOptions(
    foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options) {
  std::shared_ptr<QMANativeContentAd> ad(new QMANativeContentAd(std::move(adObject), options));
  if (!ad->headline_ || !ad->body_) return nullptr;
  return ad;
}

std::optional<std::set<std::string>> QMANativeContentAd::requiredAssets() const {
  return requiredAssetsWith({"headline", "body"});
}

void QMANativeContentAd::adLoaderDidReceiveAd(QMAAdLoader& adLoader) {
  auto self = std::static_pointer_cast<QMANativeContentAd>(shared_from_this());
  if (auto d = std::dynamic_pointer_cast<QMANativeContentAdLoaderDelegate>(adLoader.delegate()))
    d->adLoaderDidReceiveNativeContentAd(adLoader, self);
}

// ---- app install

QMANativeAppInstallAd::QMANativeAppInstallAd(foundation::Dictionary object,
                                             const std::optional<QMAAdLoaderOptionsByClass>& options)
    : QMANativeFixedLayoutAd(std::move(object), options, "app_icon") {
  const foundation::Dictionary& adObject = adConfiguration();
  store_ = stringValue(adObject, "store");
  price_ = stringValue(adObject, "price");
  auto rating = adObject.find("rating");
  starRating_ = QMANativeAdStarRatingFromValue(rating == adObject.end() ? nullptr : &rating->second);
  if (auto it = adObject.find("app_icon"); it != adObject.end()) icon_ = QMANativeAdImage::initWithDictionary(it->second);
}

std::shared_ptr<QMANativeAppInstallAd> QMANativeAppInstallAd::initWithDictionaryOptions(
    foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options) {
  std::shared_ptr<QMANativeAppInstallAd> ad(new QMANativeAppInstallAd(std::move(adObject), options));
  if (!ad->headline_ || !ad->callToAction_ || !ad->icon_) return nullptr;
  return ad;
}

std::optional<std::set<std::string>> QMANativeAppInstallAd::requiredAssets() const {
  return requiredAssetsWith({"headline", "callToAction", "icon"});
}

void QMANativeAppInstallAd::adLoaderDidReceiveAd(QMAAdLoader& adLoader) {
  auto self = std::static_pointer_cast<QMANativeAppInstallAd>(shared_from_this());
  if (auto d = std::dynamic_pointer_cast<QMANativeAppInstallAdLoaderDelegate>(adLoader.delegate()))
    d->adLoaderDidReceiveNativeAppInstallAd(adLoader, self);
}
