#include "platform/uikit/glyphs.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "platform/uikit/navigation_item.h"

namespace uikit::glyphs {

namespace {

constexpr int kSamples = 4;  // per side of a pixel
constexpr double kGlyphSide = 22;

std::uint8_t toByte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// Whether (px, py) lies inside the triangle a, b, c (either winding).
bool inTriangle(double px, double py, double ax, double ay, double bx, double by, double cx, double cy) {
  auto side = [&](double x1, double y1, double x2, double y2) { return (px - x2) * (y1 - y2) - (x1 - x2) * (py - y2); };
  const double d1 = side(ax, ay, bx, by), d2 = side(bx, by, cx, cy), d3 = side(cx, cy, ax, ay);
  const bool negative = d1 < 0 || d2 < 0 || d3 < 0, positive = d1 > 0 || d2 > 0 || d3 > 0;
  return !(negative && positive);
}

// The glyphs, in a 22 x 22 point box.
double reload(double x, double y) {
  // A ring open at its top right, with an arrowhead at the top pointing the way it turns.
  const double r = std::hypot(x - 11, y - 12.5);
  const double angle = std::atan2(y - 12.5, x - 11) * 180 / std::numbers::pi;
  const bool inGap = angle > -90 && angle < -40;
  if (std::abs(r - 7) < 0.85 && !inGap) return 1;
  return inTriangle(x, y, 11, 2.3, 11, 8.7, 15, 5.5) ? 1 : 0;
}

double share(double x, double y) {
  // A box open at the middle of its top, and an arrow rising out of it.
  constexpr double w = 0.75;
  const double box = std::min({segmentDistance(x, y, 5.5, 9, 5.5, 20.5), segmentDistance(x, y, 16.5, 9, 16.5, 20.5),
                               segmentDistance(x, y, 5.5, 20.5, 16.5, 20.5), segmentDistance(x, y, 5.5, 9, 8.5, 9),
                               segmentDistance(x, y, 13.5, 9, 16.5, 9)});
  const double arrow = std::min({segmentDistance(x, y, 11, 2.5, 11, 14), segmentDistance(x, y, 11, 2.5, 7.8, 5.7),
                                 segmentDistance(x, y, 11, 2.5, 14.2, 5.7)});
  return std::min(box, arrow) < w ? 1 : 0;
}

double done(double x, double y) {
  return std::min(segmentDistance(x, y, 4.5, 11.5, 9, 16), segmentDistance(x, y, 9, 16, 17.5, 6.5)) < 1.1 ? 1 : 0;
}

}  // namespace

double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double length2 = dx * dx + dy * dy;
  const double t = length2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / length2, 0.0, 1.0) : 0;
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

std::shared_ptr<Image> paint(Size points, double scale, Color color, const std::function<double(double, double)>& opacity) {
  if (!(scale > 0) || !(points.width > 0) || !(points.height > 0)) return nullptr;
  const auto width = static_cast<std::uint32_t>(std::lround(points.width * scale));
  const auto height = static_cast<std::uint32_t>(std::lround(points.height * scale));
  if (width == 0 || height == 0) return nullptr;
  std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4, 0);
  for (std::uint32_t py = 0; py < height; ++py) {
    for (std::uint32_t px = 0; px < width; ++px) {
      double sum = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx)
          sum += std::clamp(opacity((px + (sx + 0.5) / kSamples) / scale, (py + (sy + 0.5) / kSamples) / scale), 0.0, 1.0);
      const double a = sum / (kSamples * kSamples) * std::clamp(color.alpha, 0.0, 1.0);
      if (a <= 0) continue;
      std::uint8_t* p = &rgba[(std::size_t(py) * width + px) * 4];
      p[0] = toByte(color.red);
      p[1] = toByte(color.green);
      p[2] = toByte(color.blue);
      p[3] = toByte(a);
    }
  }
  return std::make_shared<Image>(width, height, std::move(rgba), scale);
}

std::shared_ptr<Image> systemItem(BarButtonSystemItem item, Size points, double scale, Color color) {
  double (*shape)(double, double) = nullptr;
  switch (item) {
    case BarButtonSystemItem::Refresh: shape = reload; break;
    case BarButtonSystemItem::Action: shape = share; break;
    case BarButtonSystemItem::Done: shape = done; break;
    case BarButtonSystemItem::FlexibleSpace: return nullptr;
  }
  if (!shape) return nullptr;
  // The glyph's box, centred and shrunk to fit a smaller item.
  const double side = std::min({kGlyphSide, points.width, points.height});
  const double k = side / kGlyphSide;
  const double left = (points.width - side) / 2, top = (points.height - side) / 2;
  return paint(points, scale, color, [=](double x, double y) { return shape((x - left) / k, (y - top) / k); });
}

std::shared_ptr<Image> tinted(const Image& image, Color color) {
  std::vector<std::uint8_t> rgba = image.rgba();
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
    rgba[i] = toByte(color.red);
    rgba[i + 1] = toByte(color.green);
    rgba[i + 2] = toByte(color.blue);
    rgba[i + 3] = toByte(rgba[i + 3] / 255.0 * std::clamp(color.alpha, 0.0, 1.0));
  }
  return std::make_shared<Image>(image.pixelWidth(), image.pixelHeight(), std::move(rgba), image.scale());
}

std::shared_ptr<Image> spinner(Size points, double scale, Color color) {
  const double side = std::min(points.width, points.height);
  const double cx = points.width / 2, cy = points.height / 2;
  return paint(points, scale, color, [=](double x, double y) {
    for (int i = 0; i < 8; ++i) {
      const double a = (-90 + 45 * i) * std::numbers::pi / 180;
      const double c = std::cos(a), s = std::sin(a);
      if (segmentDistance(x, y, cx + c * side * 0.25, cy + s * side * 0.25, cx + c * side * 0.42, cy + s * side * 0.42) <
          side * 0.06)
        return 1.0 - 0.1 * i;
    }
    return 0.0;
  });
}

}  // namespace uikit::glyphs
