#include "settings-app/theme.h"

namespace wardvane::app {

Color themeColor(int red, int green, int blue) {
  auto c = [](int n) { return double(float(n) / 255.0f); };
  return Color::colorWithRedGreenBlueAlpha(c(red), c(green), c(blue), 1.0);
}

std::vector<std::shared_ptr<Theme>> initializeThemes() {
  auto light = std::make_shared<Theme>();
  light->themeName = "Light";
  light->navigationBarBackgroundColor = themeColor(36, 194, 103);
  light->navigationBarTintColor = themeColor(255, 255, 255);
  light->mainBackgroundColor = themeColor(227, 227, 227);
  light->headerColor = themeColor(227, 227, 227);
  light->headerTextColor = themeColor(0, 0, 0);
  light->cellColor = themeColor(237, 237, 237);
  light->cellSeparatorColor = themeColor(227, 227, 227);
  light->cellTextColor = themeColor(0, 0, 0);
  light->switchColor = themeColor(36, 194, 103);

  auto dark = std::make_shared<Theme>();
  dark->themeName = "Dark";
  dark->navigationBarBackgroundColor = themeColor(36, 36, 36);
  dark->navigationBarTintColor = themeColor(36, 194, 103);
  dark->mainBackgroundColor = themeColor(24, 24, 24);
  dark->headerColor = themeColor(24, 24, 24);
  dark->headerTextColor = themeColor(170, 170, 170);
  dark->cellColor = themeColor(24, 24, 24);
  dark->cellSeparatorColor = themeColor(16, 16, 16);
  dark->cellTextColor = themeColor(170, 170, 170);
  dark->switchColor = themeColor(36, 194, 103);
  return {light, dark};
}

}  // namespace wardvane::app
