#include "ads/slots/native/ad_loader_options.h"

#include "platform/foundation/format.h"

std::string QMAAdLoaderOptions::description() const {
  return foundation::stringWithFormat("<%@: %p>", className(), static_cast<const void*>(this));
}

std::optional<foundation::Dictionary> QMANativeAdImageAdLoaderOptions::requestParameters() const {
  switch (preferredImageOrientation_) {
    case QMANativeAdImageOrientationPortrait:
      return foundation::Dictionary{{"native_image_orientation", "portrait"}};
    case QMANativeAdImageOrientationLandscape:
      return foundation::Dictionary{{"native_image_orientation", "landscape"}};
    default:
      return std::nullopt;
  }
}

std::shared_ptr<const QMANativeAdImageAdLoaderOptions> QMANativeAdImageOptionsIn(
    const std::optional<QMAAdLoaderOptionsByClass>& options) {
  if (!options) return nullptr;
  auto it = options->find(QMANativeAdImageAdLoaderOptions::kClassName);
  if (it == options->end()) return nullptr;
  return std::dynamic_pointer_cast<const QMANativeAdImageAdLoaderOptions>(it->second);
}
