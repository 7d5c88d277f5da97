#pragma once
// A bitmap drawing context: premultiplied 8-bit RGBA pixels, rows top to bottom, drawn
// through a current transform (translation and scale, in points) and clip, with a
// current alpha. Views render into it (View::renderInContext); the result becomes an
// Image or is read pixel by pixel. Main thread only, like the views.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/uikit/color.h"
#include "platform/uikit/geometry.h"

namespace uikit {

class Image;

class GraphicsContext {
 public:
  // A transparent bitmap of pixelWidth x pixelHeight pixels. The transform starts as
  // the identity: one point is one pixel until scaleCTM says otherwise.
  GraphicsContext(std::uint32_t pixelWidth, std::uint32_t pixelHeight);

  std::uint32_t pixelWidth() const { return width_; }
  std::uint32_t pixelHeight() const { return height_; }

  // Saves and restores the transform, the clip and the alpha.
  void saveGState();
  void restoreGState();
  void translateCTM(double tx, double ty);
  void scaleCTM(double sx, double sy);
  // Cuts the clip down to `rect` (in current coordinates).
  void clipToRect(Rect rect);
  // Multiplies the current alpha by `alpha` (0..1).
  void multiplyAlpha(double alpha);

  // Group opacity: what is drawn between the two calls goes to a transparent layer that
  // is then composited once, under `alpha` times the current alpha, as a view's alpha
  // applies to the view and its subviews together.
  void beginTransparencyLayer();
  void endTransparencyLayer(double alpha);

  // Paints `rect` (current coordinates) with `color`, source over, under the current
  // alpha and clip. A pixel is painted when its centre lies inside the rectangle.
  void fillRect(Rect rect, Color color);
  // Draws `image` scaled into `rect`, nearest neighbour, source over.
  void drawImage(const Image& image, Rect rect);

  // Premultiplied RGBA bytes, pixelWidth * pixelHeight * 4.
  const std::vector<std::uint8_t>& data() const { return pixels_; }
  // The pixel at (x, y) as premultiplied bytes {r, g, b, a}; zeros outside the bitmap.
  std::array<std::uint8_t, 4> pixelAt(std::uint32_t x, std::uint32_t y) const;
  // The bitmap as an image with straight (not premultiplied) alpha, at `scale`.
  std::shared_ptr<Image> makeImage(double scale = 1) const;

 private:
  struct State {
    double tx = 0, ty = 0, sx = 1, sy = 1;  // device = user * s + t
    Rect clip;                              // in device pixels
    double alpha = 1;
  };
  Rect toDevice(Rect r) const;
  void blend(std::uint32_t x, std::uint32_t y, const double src[4]);

  std::uint32_t width_;
  std::uint32_t height_;
  std::vector<std::uint8_t> pixels_;
  State state_;
  std::vector<State> saved_;
  std::vector<std::vector<std::uint8_t>> layers_;  // what lies under each open layer
};

}  // namespace uikit
