#pragma once
// The device's screen, as the shared screen facts describe it.

#include "platform/uikit/geometry.h"

namespace uikit {

class Screen {
 public:
  static Screen& mainScreen();
  // The screen in points for the present orientation (width and height swap in landscape).
  Rect bounds() const;
  double scale() const;
};

}  // namespace uikit
