#pragma once
// Points, sizes and rectangles in points, as the views use them. A rectangle with a
// negative size is read as the same area spanned the other way (standardised).

#include <algorithm>
#include <cmath>
#include <string>

namespace uikit {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(Point o, Size s) : origin(o), size(s) {}
  constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

  bool operator==(const Rect&) const = default;

  double minX() const { return std::min(origin.x, origin.x + size.width); }
  double minY() const { return std::min(origin.y, origin.y + size.height); }
  double maxX() const { return std::max(origin.x, origin.x + size.width); }
  double maxY() const { return std::max(origin.y, origin.y + size.height); }
  double width() const { return std::fabs(size.width); }
  double height() const { return std::fabs(size.height); }
  double midX() const { return (minX() + maxX()) / 2; }
  double midY() const { return (minY() + maxY()) / 2; }

  Rect standardized() const { return {minX(), minY(), width(), height()}; }
  bool isEmpty() const { return size.width == 0 || size.height == 0; }
  // Half-open, as hit testing wants: the right and bottom edges belong to the neighbour.
  bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
  Rect offsetBy(double dx, double dy) const { return {origin.x + dx, origin.y + dy, size.width, size.height}; }
  Rect insetBy(double dx, double dy) const {
    Rect s = standardized();
    return {s.origin.x + dx, s.origin.y + dy, std::max(0.0, s.size.width - 2 * dx), std::max(0.0, s.size.height - 2 * dy)};
  }
  // Empty (zero rectangle) when the two do not overlap.
  Rect intersection(const Rect& o) const {
    double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
    double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
  }
  bool intersects(const Rect& o) const { return !intersection(o).isEmpty(); }
};

inline constexpr Rect RectZero{};

// "{{x, y}, {w, h}}", for logs and driver dumps.
std::string toString(const Rect& r);
std::string toString(const Point& p);

}  // namespace uikit
