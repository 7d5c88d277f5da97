#pragma once
// Images: 8-bit RGBA bitmaps, their PNG form, and nearest-neighbour scaling.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/uikit/color.h"
#include "platform/uikit/geometry.h"

namespace uikit {

// A bitmap decoded from PNG data: 8-bit RGBA rows, top to bottom.
class Image {
 public:
  // The image in `data`, or none when it is not a PNG image that decodes.
  static std::shared_ptr<Image> imageWithData(const foundation::Bytes& data);
  // A PNG encoding of `image` (none when there is no image or it has no pixels).
  static std::optional<foundation::Bytes> pngRepresentation(const std::shared_ptr<Image>& image);
  // `image` scaled to width x height pixels by nearest neighbour, at scale 1; none when
  // there is no image or either size is zero.
  static std::shared_ptr<Image> imageScaledToPixelSize(const std::shared_ptr<Image>& image, std::uint32_t width,
                                                       std::uint32_t height);

  // `rgba` is cut or zero-padded to width * height * 4 bytes.
  Image(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba, double scale = 1);

  Size size() const { return {double(width_) / scale_, double(height_) / scale_}; }
  std::uint32_t pixelWidth() const { return width_; }
  std::uint32_t pixelHeight() const { return height_; }
  double scale() const { return scale_; }
  const std::vector<std::uint8_t>& rgba() const { return rgba_; }
  // The share (0..1) of pixels whose four components each lie within `tolerance` steps
  // of 255 of `color`: what a rendered-content check counts as still the background.
  // A drawing engine's blending rounds, so a check for "untouched" needs a step of slack.
  // An image without pixels answers 0.
  double shareOfPixelsOfColor(const Color& color, int tolerance = 1) const;

 private:
  std::uint32_t width_;
  std::uint32_t height_;
  std::vector<std::uint8_t> rgba_;
  double scale_;
};

}  // namespace uikit
