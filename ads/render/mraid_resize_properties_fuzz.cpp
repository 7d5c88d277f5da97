// Fuzzes the reading of a creative's resize properties, as the bridge hands them over
// (the query of a "mraid" message), and the geometry that judges them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ads/render/mraid_resize_properties.h"
#include "ads/render/qomb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string query(reinterpret_cast<const char*>(data), size);
  auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://mraid/mraid?" + query));
  if (!note) return 0;
  auto p = QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(note->parameters());
  if (!p) return 0;
  if (!std::isfinite(p->size().width) || !std::isfinite(p->offset().x)) __builtin_trap();
  if (p->customClosePosition() < 0 || p->customClosePosition() > 6) __builtin_trap();
  const uikit::Rect screen{0, 20, 375, 647};
  const uikit::Rect frame = p->requestedContentFrame();
  const uikit::Rect close = QMAMRAIDResizeProperties::closeButtonRectForPositionContentFrame(p->customClosePosition(), frame);
  if (close.size.width != 50 || close.size.height != 50) __builtin_trap();
  const uikit::Rect moved = QMAMRAIDResizeProperties::adjustedContentFrameInBounds(frame, screen);
  if (moved.width() != frame.width() || moved.height() != frame.height()) __builtin_trap();
  const bool valid = p->areValidInBounds(screen);
  // What is valid without leaving the screen fits the screen once moved.
  if (valid && !p->allowOffscreen() && (frame.width() > screen.width() || frame.height() > screen.height()))
    __builtin_trap();
  (void)QMAMRAIDResizeProperties::autoresizingMaskForClosePosition(p->customClosePosition());
  (void)p->description();
  return 0;
}
