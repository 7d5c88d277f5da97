#pragma once
// Facts of the device's screen that the headless user interface and the device facts
// both read. Tests and drivers set them; the defaults are a 375x667-point, 2x phone held
// upright with a 20-point status bar.

namespace system_facts {

enum class InterfaceOrientation { Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeRight = 3, LandscapeLeft = 4 };

struct ScreenFacts {
  double width = 375;   // points, in portrait
  double height = 667;  // points, in portrait
  double scale = 2;
  InterfaceOrientation orientation = InterfaceOrientation::Portrait;
  double statusBarHeight = 20;
  bool statusBarHidden = false;
};

ScreenFacts screen();
void setScreen(const ScreenFacts& facts);

}  // namespace system_facts
