#pragma once
// A colour theme: a name and nine colours.

#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/color.h"

namespace wardvane::app {

using uikit::Color;

class Theme {
 public:
  std::string themeName;
  Color navigationBarBackgroundColor;
  Color navigationBarTintColor;
  Color mainBackgroundColor;
  Color headerColor;
  Color headerTextColor;
  Color cellColor;
  Color cellSeparatorColor;
  Color cellTextColor;
  Color switchColor;
};

// The component n/255, computed in single precision as the themes are defined.
Color themeColor(int red, int green, int blue);

// "Light" at index 0 and "Dark" at index 1, made anew at every call.
std::vector<std::shared_ptr<Theme>> initializeThemes();

}  // namespace wardvane::app
