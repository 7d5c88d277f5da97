#include "ads/services/geometry.h"

#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/window.h"

#include <cmath>

using foundation::Dictionary;
using foundation::Value;

Dictionary QMADictionaryWithRect(const QMARect& rect) {
  QMARect r = rect.standardized();
  return {{"x", Value(r.origin.x)}, {"y", Value(r.origin.y)}, {"w", Value(r.size.width)}, {"h", Value(r.size.height)}};
}

Dictionary QMADictionaryFromCGRect(const QMARect& r) {
  return {{"x", Value(r.origin.x)},
          {"y", Value(r.origin.y)},
          {"width", Value(r.size.width)},
          {"height", Value(r.size.height)}};
}

QMARect QMACGRectFromDictionary(const Dictionary& dict, foundation::Error* error) {
  const Value* x = qma_objectForKeyIfIsKindOfClass(dict, "x", QMAValueClass::Number);
  const Value* y = qma_objectForKeyIfIsKindOfClass(dict, "y", QMAValueClass::Number);
  const Value* w = qma_objectForKeyIfIsKindOfClass(dict, "width", QMAValueClass::Number);
  const Value* h = qma_objectForKeyIfIsKindOfClass(dict, "height", QMAValueClass::Number);
  if (x && y && w && h) return {*x->doubleValue(), *y->doubleValue(), *w->doubleValue(), *h->doubleValue()};
  if (error) {
    *error = foundation::Error{
        "cg_rect_conversion", 1,
        {{foundation::kLocalizedDescriptionKey,
          Value(foundation::stringWithFormat("Invalid SDK Core rectangle %@.", Value(dict)))}}};
  }
  return {};
}

QMARect QMARectForInterfaceOrientation(long o, const QMARect& r, const QMARect& b) {
  if (QMADevice::sharedInstance()->isOSAtLeastMajorMinorPatch(8, 0, 0)) return r;
  double W = b.width(), H = b.height();
  double R = W - r.maxX(), B = H - r.maxY();
  switch (o) {
    case QMAInterfaceOrientationPortraitUpsideDown:
      return {R, B, r.width(), r.height()};
    case QMAInterfaceOrientationLandscapeRight:
      return {r.minY(), R, r.height(), r.width()};
    case QMAInterfaceOrientationLandscapeLeft:
      return {B, r.minX(), r.height(), r.width()};
    default:
      return r;
  }
}

QMARect QMAInterfaceOrientedRect(const QMARect& rect) {
  if (QMADevice::sharedInstance()->isOSAtLeastMajorMinorPatch(8, 0, 0)) return rect;
  return QMARectForInterfaceOrientation(static_cast<long>(system_facts::screen().orientation), rect,
                                        uikit::Screen::mainScreen().bounds());
}

namespace {
// Rectangles that only touch still meet; nullopt when they do not meet at all.
std::optional<QMARect> meet(const QMARect& a, const QMARect& b) {
  double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
  double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
  if (x1 < x0 || y1 < y0) return std::nullopt;
  return QMARect{x0, y0, x1 - x0, y1 - y0};
}

// Whole device pixels for a length in points: a hair over a whole number (the rounding of
// a product of doubles) does not cost a column of its own.
std::optional<std::uint32_t> pixelsFor(double points, double scale) {
  const double pixels = std::ceil(points * scale - 1e-6);
  if (!std::isfinite(pixels) || pixels < 1 || pixels > kQMARenderMaximumPixelSide) return std::nullopt;
  return static_cast<std::uint32_t>(pixels);
}
}  // namespace

void QMALinkCategory_UIView_QMAVisibilityAdditions() {}

QMARect qma_visibleBounds(const uikit::View& view) {
  WV_DCHECK_MAIN_THREAD();
  if (QMAApplication::applicationState() != QMAApplicationStateActive) return {};
  auto window = view.window();
  if (!window || window->isHidden()) return {};
  const uikit::View* w = window.get();
  // The view's own rectangle always counts: a view that does not clip is still only
  // visible where it is.
  auto visible = meet(w->bounds(), view.convertRectToView(view.bounds(), w));
  if (!visible) return {};
  for (const uikit::View* v = &view; v && v != w;) {
    if (v->isHidden()) return {};
    if (v->clipsToBounds()) {
      visible = meet(*visible, v->convertRectToView(v->bounds(), w));
      if (!visible) return {};
    }
    auto up = v->superview();
    v = up.get();
    if (!up) break;
  }
  // A view that only touches the edge of what clips it shows nothing.
  if (!(visible->size.width > 0) || !(visible->size.height > 0)) return {};
  return *visible;
}

bool qma_supportsOrientations(const uikit::View& view, std::uint64_t mask) {
  WV_DCHECK_MAIN_THREAD();
  return (uikit::Application::sharedApplication()->supportedInterfaceOrientationsForWindow(view.window()) & mask) != 0;
}

void QMALinkCategory_UIView_QMARenderAdditions() {}

std::shared_ptr<uikit::Image> qma_render(const uikit::View& view) {
  WV_DCHECK_MAIN_THREAD();
  const double scale = view.contentScaleFactor();
  const QMARect bounds = view.bounds();
  const auto width = pixelsFor(bounds.size.width, scale), height = pixelsFor(bounds.size.height, scale);
  if (!width || !height) return nullptr;
  uikit::GraphicsContext context(*width, *height);
  context.scaleCTM(scale, scale);
  view.renderInContext(context);
  return context.makeImage(1);
}

QMARect QMAApplicationFrame(const uikit::Screen& screen) {
  QMARect b = screen.bounds();
  auto facts = system_facts::screen();
  double bar = facts.statusBarHidden ? 0 : facts.statusBarHeight;
  return {b.origin.x, b.origin.y + bar, b.size.width, b.size.height - bar};
}

std::optional<Dictionary> QMAViewUtilities::positionOfViewInScreen(const uikit::View& v, const uikit::Screen& s) {
  auto superview = v.superview();
  auto window = v.window();
  if (!superview || !window) return std::nullopt;
  QMARect inWindow = superview->convertRectToView(v.frame(), window.get());
  QMARect frame = window->convertRectToView(inWindow, nullptr);
  QMARect app = QMAApplicationFrame(s);
  double x = frame.origin.x, y = frame.origin.y;
  bool visible = !v.isHidden() && x + v.frame().size.width > 0 && y + v.frame().size.height > 0 &&
                 x <= app.size.width && y <= app.size.height;
  Dictionary d = QMADictionaryFromCGRect(frame);
  d["visible"] = Value(visible);
  return d;
}
