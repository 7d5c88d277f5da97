#pragma once
// Colours as red, green, blue and alpha components from 0 to 1, and system fonts.

#include <string>

namespace uikit {

struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 0;

  bool operator==(const Color&) const = default;

  static Color colorWithRedGreenBlueAlpha(double r, double g, double b, double a) { return {r, g, b, a}; }
  static Color clearColor() { return {0, 0, 0, 0}; }
  static Color blackColor() { return {0, 0, 0, 1}; }
  static Color whiteColor() { return {1, 1, 1, 1}; }

  // The components rounded to 0..255, for dumps and comparisons in whole steps.
  int red255() const;
  int green255() const;
  int blue255() const;
  int alpha255() const;
  // "r,g,b,a" in 0..255 steps, as drivers print it.
  std::string description() const;
};

struct Font {
  std::string name = "System";
  double pointSize = 17;
  bool operator==(const Font&) const = default;
  static Font systemFontOfSize(double size) { return {"System", size}; }
  static Font boldSystemFontOfSize(double size) { return {"System-Bold", size}; }
};

}  // namespace uikit
