#include "platform/uikit/color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/uikit/geometry.h"

namespace uikit {
namespace {
int to255(double c) { return static_cast<int>(std::lround(std::clamp(c, 0.0, 1.0) * 255)); }

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}
}  // namespace

int Color::red255() const { return to255(red); }
int Color::green255() const { return to255(green); }
int Color::blue255() const { return to255(blue); }
int Color::alpha255() const { return to255(alpha); }

std::string Color::description() const {
  return std::to_string(red255()) + "," + std::to_string(green255()) + "," + std::to_string(blue255()) + "," +
         std::to_string(alpha255());
}

std::string toString(const Point& p) { return "{" + number(p.x) + ", " + number(p.y) + "}"; }

std::string toString(const Rect& r) {
  return "{{" + number(r.origin.x) + ", " + number(r.origin.y) + "}, {" + number(r.size.width) + ", " +
         number(r.size.height) + "}}";
}

}  // namespace uikit
