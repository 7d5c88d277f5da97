#include "platform/uikit/screen.h"

#include "platform/system/screen_facts.h"

namespace uikit {

Screen& Screen::mainScreen() {
  static Screen screen;
  return screen;
}

Rect Screen::bounds() const {
  auto facts = system_facts::screen();
  using O = system_facts::InterfaceOrientation;
  bool landscape = facts.orientation == O::LandscapeLeft || facts.orientation == O::LandscapeRight;
  return landscape ? Rect{0, 0, facts.height, facts.width} : Rect{0, 0, facts.width, facts.height};
}

double Screen::scale() const { return system_facts::screen().scale; }

}  // namespace uikit
