#pragma once
// Options a host hands the ad loader when it creates it. The loader keeps one copy per
// options class and gives that table to every native ad it builds; the native ads read
// the image options from it. Options are immutable once made: any thread may read them.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/value.h"

class QMAAdLoaderOptions {
 public:
  static constexpr const char* kClassName = "QMAAdLoaderOptions";
  static std::shared_ptr<QMAAdLoaderOptions> init() { return std::make_shared<QMAAdLoaderOptions>(); }
  virtual ~QMAAdLoaderOptions() = default;

  // The name of the object's own class: the loader keeps one option per class.
  virtual std::string className() const { return kClassName; }
  // A new object of the same class with the same values.
  virtual std::shared_ptr<QMAAdLoaderOptions> copy() const { return std::make_shared<QMAAdLoaderOptions>(*this); }
  // What the option adds to a request (only the app-event road sends it); none here.
  virtual std::optional<foundation::Dictionary> requestParameters() const { return std::nullopt; }
  std::string description() const;
};

enum QMANativeAdImageOrientation : std::int64_t {
  QMANativeAdImageOrientationAny = 0,
  QMANativeAdImageOrientationPortrait = 1,
  QMANativeAdImageOrientationLandscape = 2,
};

class QMANativeAdImageAdLoaderOptions : public QMAAdLoaderOptions {
 public:
  static constexpr const char* kClassName = "QMANativeAdImageAdLoaderOptions";
  static std::shared_ptr<QMANativeAdImageAdLoaderOptions> init() {
    return std::make_shared<QMANativeAdImageAdLoaderOptions>();
  }

  std::string className() const override { return kClassName; }
  std::shared_ptr<QMAAdLoaderOptions> copy() const override {
    return std::make_shared<QMANativeAdImageAdLoaderOptions>(*this);
  }
  // {"native_image_orientation": "portrait" or "landscape"}; none for any other value.
  std::optional<foundation::Dictionary> requestParameters() const override;

  bool disableImageLoading() const { return disableImageLoading_; }
  void setDisableImageLoading(bool disable) { disableImageLoading_ = disable; }
  bool shouldRequestMultipleImages() const { return shouldRequestMultipleImages_; }
  void setShouldRequestMultipleImages(bool multiple) { shouldRequestMultipleImages_ = multiple; }
  std::int64_t preferredImageOrientation() const { return preferredImageOrientation_; }
  void setPreferredImageOrientation(std::int64_t orientation) { preferredImageOrientation_ = orientation; }

 private:
  bool disableImageLoading_ = false;
  bool shouldRequestMultipleImages_ = false;
  std::int64_t preferredImageOrientation_ = QMANativeAdImageOrientationAny;
};

// The loader's options: options class name -> the loader's own copy.
using QMAAdLoaderOptionsByClass = std::map<std::string, std::shared_ptr<const QMAAdLoaderOptions>>;

// The image options in the table: the entry of exactly that class (a host's subclass is
// kept under its own name and so is not read here); null when there is none.
std::shared_ptr<const QMANativeAdImageAdLoaderOptions> QMANativeAdImageOptionsIn(
    const std::optional<QMAAdLoaderOptionsByClass>& options);
