#include "ads/render/mraid_resize_properties.h"

uikit::Rect QMAMRAIDResizeProperties::closeButtonRectForPositionContentFrame(std::int64_t position, uikit::Rect f) {
  const double s = kCloseAreaSide;
  uikit::Point origin{f.minX(), f.minY()};
  switch (position) {
    case 0: origin = {f.maxX() - s, f.minY()}; break;
    case 1: origin = {f.midX() - s / 2, f.minY()}; break;
    case 2: origin = {f.minX(), f.minY()}; break;
    case 3: origin = {f.midX() - s / 2, f.midY() - s / 2}; break;
    case 4: origin = {f.maxX() - s, f.maxY() - s}; break;
    case 5: origin = {f.midX() - s / 2, f.maxY() - s}; break;
    case 6: origin = {f.minX(), f.maxY() - s}; break;
    default: break;
  }
  return {origin.x, origin.y, s, s};
}

std::uint64_t QMAMRAIDResizeProperties::autoresizingMaskForClosePosition(std::int64_t position) {
  static constexpr std::uint64_t kMasks[] = {33, 37, 36, 45, 9, 13, 12};
  return position >= 0 && position <= 6 ? kMasks[position] : 0;
}
