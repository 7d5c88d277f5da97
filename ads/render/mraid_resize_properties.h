#pragma once
// A creative's resize request as numbers: the size and offset of the resized content,
// where its close area sits, and whether it may leave the screen; and the geometry that
// judges it. The properties come from a creative and are hostile until read: a missing
// key or a number beyond what a double holds gives no properties at all. Plain values,
// usable on any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/value.h"
#include "platform/uikit/geometry.h"

enum QMAMRAIDCustomClosePosition : std::int64_t {
  QMAMRAIDCustomClosePositionTopRight = 0,
  QMAMRAIDCustomClosePositionTopCenter = 1,
  QMAMRAIDCustomClosePositionTopLeft = 2,
  QMAMRAIDCustomClosePositionCenter = 3,
  QMAMRAIDCustomClosePositionBottomRight = 4,
  QMAMRAIDCustomClosePositionBottomCenter = 5,
  QMAMRAIDCustomClosePositionBottomLeft = 6,
};

// The autoresizing bits of a view's margins.
inline constexpr std::uint64_t kQMAFlexibleLeftMargin = 1;
inline constexpr std::uint64_t kQMAFlexibleRightMargin = 4;
inline constexpr std::uint64_t kQMAFlexibleTopMargin = 8;
inline constexpr std::uint64_t kQMAFlexibleBottomMargin = 32;

class QMAMRAIDResizeProperties {
 public:
  static constexpr double kCloseAreaSide = 50;

  // An object only when "width", "height", "offsetX", "offsetY", "customClosePosition"
  // and "allowOffscreen" are all there. Numbers are the texts' double values (0 for a
  // text that holds none); a close position name that is not known is "top-right".
  static std::shared_ptr<QMAMRAIDResizeProperties> MRAIDResizePropertiesWithDictionary(
      const foundation::Dictionary& dictionary);
  // The code of a close position name; 0 ("top-right") for an unknown one.
  static std::int64_t closePositionForName(std::string_view name);

  // The 50 x 50 close area at the position in the content frame; for a code outside 0-6,
  // at the frame's top-left corner.
  static uikit::Rect closeButtonRectForPositionContentFrame(std::int64_t position, const uikit::Rect& contentFrame);
  static std::uint64_t autoresizingMaskForClosePosition(std::int64_t position);
  // Off screen allowed: the close area must lie inside the bounds; otherwise the whole
  // content frame must.
  static bool isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(const uikit::Rect& contentFrame,
                                                                            const uikit::Rect& bounds,
                                                                            bool allowOffscreen,
                                                                            std::int64_t closeButtonPosition);
  // The frame moved, each axis on its own, to lie inside the bounds; its size never
  // changes, so a frame larger than the bounds stays outside on one side.
  static uikit::Rect adjustedContentFrameInBounds(const uikit::Rect& contentFrame, const uikit::Rect& bounds);

  // The content frame in the reference view's coordinates: the offset and the size.
  uikit::Rect requestedContentFrame() const;
  // Whether the properties can be shown in `bounds` (the application frame in the
  // reference view's coordinates): as asked, or, when the content may not leave the
  // screen, once moved inside it.
  bool areValidInBounds(const uikit::Rect& bounds) const;

  uikit::Size size() const { return size_; }
  uikit::Point offset() const { return offset_; }
  std::int64_t customClosePosition() const { return customClosePosition_; }
  bool allowOffscreen() const { return allowOffscreen_; }
  // For error reports to the creative: "{width: 320, height: 50, offsetX: 0, offsetY: 0,
  // customClosePosition: top-right, allowOffscreen: false}".
  std::string description() const;

 private:
  uikit::Size size_;
  uikit::Point offset_;
  std::int64_t customClosePosition_ = 0;
  bool allowOffscreen_ = false;
};
