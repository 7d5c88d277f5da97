#pragma once
// Pictures the headless UIKit draws itself: the system items of bars (reload, share, done),
// the spinner's spokes, and bar images drawn in the bar's tint. Shapes are given by their
// opacity at each point, in points, and painted in one colour with 4 x 4 samples per pixel, so
// edges are smooth at any screen scale. The headless UIKit has no text, so the done item
// shows a check mark where a phone writes "Done"; a finger still finds every item by its
// accessibility label.
//
// Threads: any (pure functions).

#include <functional>
#include <memory>

#include "platform/uikit/color.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/image.h"

namespace uikit {

enum class BarButtonSystemItem;

namespace glyphs {

// A picture of `points` at `scale` pixels per point: `color` under the opacity that
// `opacity(x, y)` (points from the top left; 0 outside the shape, up to 1) gives, averaged
// over the pixel's samples; clear elsewhere. None for an empty size.
std::shared_ptr<Image> paint(Size points, double scale, Color color, const std::function<double(double, double)>& opacity);

// The system item's picture, `points` large (the glyph sits in its middle, at most 22
// points square); none for items that show nothing (the flexible space).
std::shared_ptr<Image> systemItem(BarButtonSystemItem item, Size points, double scale, Color color);

// `image` in `color`: each pixel keeps its coverage (alpha) and takes the colour, as a bar
// shows a template picture.
std::shared_ptr<Image> tinted(const Image& image, Color color);

// The spinner's eight spokes in `color`, each fainter than the one before, `points` large.
std::shared_ptr<Image> spinner(Size points, double scale, Color color);

// Distance from (px, py) to the segment from (ax, ay) to (bx, by).
double segmentDistance(double px, double py, double ax, double ay, double bx, double by);

}  // namespace glyphs
}  // namespace uikit
