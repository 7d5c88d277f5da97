#pragma once
// The close area of an MRAID creative: a 50 x 50 point region at one of seven positions of
// the content frame, and how it follows the frame when that changes size.

#include <cstdint>

#include "platform/uikit/geometry.h"

class QMAMRAIDResizeProperties {
 public:
  static constexpr double kCloseAreaSide = 50;
  // Position codes: 0 top-right (also for an unknown name), 1 top-center, 2 top-left,
  // 3 center, 4 bottom-right, 5 bottom-center, 6 bottom-left. A code outside 0-6 gives the
  // top-left corner.
  static uikit::Rect closeButtonRectForPositionContentFrame(std::int64_t position, uikit::Rect frame);
  // The autoresizing mask that keeps the area at its place (0 for a code outside 0-6).
  static std::uint64_t autoresizingMaskForClosePosition(std::int64_t position);
};
