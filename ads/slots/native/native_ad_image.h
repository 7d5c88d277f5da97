#pragma once
// The pictures of a native ad. QMANativeAdImage is one image: where it is, its scale,
// whether the ad needs it and, once downloaded, the decoded picture. QMANativeAdAttribution
// is the ad's attribution badge: a text, an icon and the size and colours the badge is
// drawn in. Both are built from the ad's JSON and are nil (null) when a required value is
// missing.
//
// Threads: built and read on the main thread; a download's handler always runs on the
// main queue.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/slots/native/ad_loader_options.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/url.h"
#include "platform/uikit/color.h"
#include "platform/uikit/image.h"

class QMANativeAdImage : public std::enable_shared_from_this<QMANativeAdImage> {
 public:
  static constexpr double kRequestTimeout = 60.0;
  // A picture's file: an ad's photo is well under a megabyte or two; an answer without end
  // is cut here, not held.
  static constexpr std::size_t kMaxImageBytes = std::size_t{16} << 20;
  using CompletionHandler = std::function<void(const std::optional<foundation::Error>& error)>;

  // From an image object: {"url": text that makes a URL (required), "require": Boolean
  // (default YES), "scale": number (default 1.0)}.
  static std::shared_ptr<QMANativeAdImage> initWithDictionary(const foundation::Value& imageObject);
  // Every element that gives an image with shouldRequestMultipleImages, else the first
  // element only; none when that leaves nothing.
  static std::optional<std::vector<std::shared_ptr<QMANativeAdImage>>> nativeAdImagesFromImageConfigurationArray(
      const foundation::Array& images, const QMANativeAdImageAdLoaderOptions* options);

  // Downloads and decodes the picture; the handler gets no error once `image` is set.
  void loadImageWithCompletionHandler(CompletionHandler handler);

  bool required() const { return required_; }
  std::shared_ptr<uikit::Image> image() const { return image_; }
  const net::URL& imageURL() const { return imageURL_; }
  double scale() const { return scale_; }
  // "<QMANativeAdImage: 0x...> scale: 1.000000 URL: ..."
  std::string description() const;

  QMANativeAdImage(net::URL url, bool required, double scale)
      : required_(required), imageURL_(std::move(url)), scale_(scale) {}

 private:
  void finishLoad(const std::optional<foundation::Error>& transportError, const foundation::Bytes& data,
                  const CompletionHandler& handler);

  bool required_;
  std::shared_ptr<uikit::Image> image_;
  net::URL imageURL_;
  double scale_;
};

class QMANativeAdAttribution {
 public:
  static constexpr double kDefaultTextSize = 12.0;
  static uikit::Color defaultTextColor() { return {12 / 255.0, 174 / 255.0, 206 / 255.0, 1.0}; }
  static uikit::Color defaultBackgroundColor() { return {0.8, 0.8, 0.8, 1.0}; }

  // From an attribution object: {"text" (required), "image": image object (required),
  // "text_size", "text_color", "bg_color"}; a colour is {"r","g","b" 0..255, "a" 0..1}.
  static std::shared_ptr<QMANativeAdAttribution> initWithDictionary(const foundation::Value& attributionObject);

  // Downloads the icon.
  void loadAssetsWithCompletionHandler(QMANativeAdImage::CompletionHandler handler);

  const std::shared_ptr<QMANativeAdImage>& icon() const { return icon_; }
  const std::string& text() const { return text_; }
  const uikit::Font& font() const { return font_; }
  const uikit::Color& textColor() const { return textColor_; }
  const uikit::Color& backgroundColor() const { return backgroundColor_; }

 private:
  std::shared_ptr<QMANativeAdImage> icon_;
  std::string text_;
  uikit::Font font_;
  uikit::Color textColor_;
  uikit::Color backgroundColor_;
};

// A colour object's colour, or none when "r", "g" or "b" is missing (or no number).
std::optional<uikit::Color> QMANativeAdColorFromDictionary(const foundation::Value& colorObject);
