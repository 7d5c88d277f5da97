#include "platform/uikit/view.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/gesture_recognizer.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace uikit {

View::View(Rect frame) : frame_(frame), bounds_{0, 0, frame.size.width, frame.size.height} {}

View::~View() = default;

void View::setFrame(Rect frame) {
  Size oldSize = bounds_.size;
  frame_ = frame;
  bounds_.size = frame.size;
  if (oldSize != frame.size) resizeSubviewsFrom(oldSize);
}

void View::setBounds(Rect bounds) {
  Size oldSize = bounds_.size;
  Point c = center();
  bounds_ = bounds;
  // The centre stays put while the size changes.
  frame_ = {c.x - bounds.size.width / 2, c.y - bounds.size.height / 2, bounds.size.width, bounds.size.height};
  if (oldSize != bounds.size) resizeSubviewsFrom(oldSize);
}

void View::setCenter(Point c) {
  frame_.origin = {c.x - frame_.size.width / 2, c.y - frame_.size.height / 2};
}

void View::setAlpha(double alpha) { alpha_ = std::clamp(alpha, 0.0, 1.0); }

double View::contentScaleFactor() const { return contentScaleFactor_.value_or(Screen::mainScreen().scale()); }

void View::setContentScaleFactor(double scale) {
  if (std::isfinite(scale) && scale > 0) contentScaleFactor_ = scale;
}

std::optional<Color> View::tintColor() const {
  for (const View* v = this; v != nullptr;) {
    if (v->tintColor_) return v->tintColor_;
    auto up = v->superview_.lock();
    v = up.get();
  }
  return std::nullopt;
}

void View::resizeSubviewsFrom(Size oldSize) {
  needsLayout_ = true;
  if (!autoresizesSubviews_) return;
  for (auto& sub : subviews_) sub->autoresizeFor(oldSize, bounds_.size);
}

namespace {
// Shares a change of the superview's extent among the flexible parts of one axis, in
// proportion to their present extents (equally when all of them are zero).
void distribute(double delta, bool flexLead, bool flexSize, bool flexTrail, double lead, double size,
                double trail, double& newLead, double& newSize) {
  newLead = lead;
  newSize = size;
  double weights[3] = {flexLead ? lead : 0, flexSize ? size : 0, flexTrail ? trail : 0};
  int flexCount = int(flexLead) + int(flexSize) + int(flexTrail);
  if (flexCount == 0) return;
  double total = weights[0] + weights[1] + weights[2];
  auto share = [&](int i, bool flex) {
    if (!flex) return 0.0;
    return total > 0 ? delta * weights[i] / total : delta / flexCount;
  };
  newLead = lead + share(0, flexLead);
  newSize = std::max(0.0, size + share(1, flexSize));
}
}  // namespace

void View::autoresizeFor(Size oldSuper, Size newSuper) {
  std::uint32_t m = autoresizingMask_;
  if (m == ViewAutoresizingNone) return;
  Rect f = frame_;
  double x, w, y, h;
  distribute(newSuper.width - oldSuper.width, m & ViewAutoresizingFlexibleLeftMargin,
             m & ViewAutoresizingFlexibleWidth, m & ViewAutoresizingFlexibleRightMargin, f.origin.x, f.size.width,
             oldSuper.width - f.origin.x - f.size.width, x, w);
  distribute(newSuper.height - oldSuper.height, m & ViewAutoresizingFlexibleTopMargin,
             m & ViewAutoresizingFlexibleHeight, m & ViewAutoresizingFlexibleBottomMargin, f.origin.y, f.size.height,
             oldSuper.height - f.origin.y - f.size.height, y, h);
  setFrame({x, y, w, h});
}

void View::addSubview(const std::shared_ptr<View>& view) { insertSubviewAtIndex(view, subviews_.size()); }

void View::insertSubviewAtIndex(const std::shared_ptr<View>& view, std::size_t index) {
  if (!view || view.get() == this || isDescendantOfView(view.get())) return;  // no cycles
  auto self = shared_from_this();
  const auto oldWindow = view->window();
  if (view->superview().get() == this) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t old = std::size_t(it - subviews_.begin());
    subviews_.erase(it);
    if (index > old) --index;
  } else {
    view->detachFromSuperview();
  }
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + std::ptrdiff_t(index), view);
  view->superview_ = self;
  view->didMoveToSuperview();
  didAddSubview(view);
  if (view->window() != oldWindow) view->tellSubtreeItMovedToWindow();
}

void View::removeFromSuperview() {
  if (!superview_.lock()) return;
  auto self = shared_from_this();
  const auto oldWindow = window();
  detachFromSuperview();
  if (window() != oldWindow) tellSubtreeItMovedToWindow();
}

void View::detachFromSuperview() {
  auto parent = superview_.lock();
  if (!parent) return;
  auto self = shared_from_this();
  parent->willRemoveSubview(self);
  auto& list = parent->subviews_;
  list.erase(std::remove(list.begin(), list.end(), self), list.end());
  superview_.reset();
  didMoveToSuperview();
}

void View::tellSubtreeItMovedToWindow() {
  auto self = shared_from_this();
  didMoveToWindow();
  auto subs = subviews_;  // didMoveToWindow may rearrange the list
  for (auto& sub : subs)
    if (sub->superview().get() == this) sub->tellSubtreeItMovedToWindow();
}

void View::invalidateIntrinsicContentSize() {
  if (auto parent = superview_.lock()) parent->setNeedsLayout();
}

void View::bringSubviewToFront(const std::shared_ptr<View>& view) {
  if (view && view->superview().get() == this) insertSubviewAtIndex(view, subviews_.size());
}

void View::sendSubviewToBack(const std::shared_ptr<View>& view) {
  if (view && view->superview().get() == this) insertSubviewAtIndex(view, 0);
}

bool View::isDescendantOfView(const View* ancestor) const {
  if (!ancestor) return false;
  for (auto v = shared_from_this(); v; v = v->superview())
    if (v.get() == ancestor) return true;
  return false;
}

std::shared_ptr<Window> View::window() const {
  std::shared_ptr<const View> v = shared_from_this();
  while (auto up = v->superview()) v = up;
  if (auto w = std::dynamic_pointer_cast<Window>(std::const_pointer_cast<View>(v))) return w;
  return v->windowWhileUnplaced();
}

std::shared_ptr<View> View::viewWithTag(std::int64_t tag) {
  if (tag_ == tag) return shared_from_this();
  for (auto& sub : subviews_)
    if (auto found = sub->viewWithTag(tag)) return found;
  return nullptr;
}

Point View::toScreen(Point p) const {
  for (const View* v = this; v != nullptr;) {
    p = {p.x - v->bounds_.origin.x + v->frame_.origin.x, p.y - v->bounds_.origin.y + v->frame_.origin.y};
    auto up = v->superview_.lock();
    v = up.get();
  }
  return p;
}

Point View::fromScreen(Point p) const {
  // Undo the steps of toScreen from the root down.
  std::vector<const View*> chain;
  std::vector<std::shared_ptr<View>> keep;
  for (const View* v = this; v != nullptr;) {
    chain.push_back(v);
    auto up = v->superview_.lock();
    keep.push_back(up);
    v = up.get();
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const View* v = *it;
    p = {p.x - v->frame_.origin.x + v->bounds_.origin.x, p.y - v->frame_.origin.y + v->bounds_.origin.y};
  }
  return p;
}

Point View::convertPointToView(Point p, const View* view) const {
  Point s = toScreen(p);
  return view ? view->fromScreen(s) : s;
}

Point View::convertPointFromView(Point p, const View* view) const {
  Point s = view ? view->toScreen(p) : p;
  return fromScreen(s);
}

Rect View::convertRectToView(Rect r, const View* view) const {
  Rect s = r.standardized();
  Point o = convertPointToView(s.origin, view);
  return {o, s.size};
}

Rect View::convertRectFromView(Rect r, const View* view) const {
  Rect s = r.standardized();
  Point o = convertPointFromView(s.origin, view);
  return {o, s.size};
}

std::shared_ptr<View> View::hitTest(Point p) {
  if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01 || !pointInside(p)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    const auto& sub = *it;
    Point q{p.x - sub->frame_.origin.x + sub->bounds_.origin.x, p.y - sub->frame_.origin.y + sub->bounds_.origin.y};
    if (auto hit = sub->hitTest(q)) return hit;
  }
  return shared_from_this();
}

bool View::isEffectivelyVisible() const {
  for (const View* v = this; v != nullptr;) {
    if (v->hidden_ || v->alpha_ < 0.01) return false;
    auto up = v->superview_.lock();
    v = up.get();
  }
  return true;
}

void View::layoutIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  auto subs = subviews_;  // layoutSubviews may rearrange the list
  for (auto& sub : subs) sub->layoutIfNeeded();
}

void View::renderInContext(GraphicsContext& ctx) const {
  if (hidden_ || alpha_ <= 0) return;
  bool layered = alpha_ < 1;
  if (layered) ctx.beginTransparencyLayer();
  ctx.saveGState();
  ctx.translateCTM(-bounds_.origin.x, -bounds_.origin.y);
  if (clipsToBounds()) ctx.clipToRect(bounds_);
  if (backgroundColor_) ctx.fillRect(bounds_, *backgroundColor_);
  drawRect(ctx, bounds_);
  for (const auto& sub : subviews_) {
    ctx.saveGState();
    ctx.translateCTM(sub->frame_.minX(), sub->frame_.minY());
    sub->renderInContext(ctx);
    ctx.restoreGState();
  }
  ctx.restoreGState();
  if (layered) ctx.endTransparencyLayer(alpha_);
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto old = recognizer->view(); old && old.get() != this) old->removeGestureRecognizer(recognizer);
  if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) == gestureRecognizers_.end())
    gestureRecognizers_.push_back(recognizer);
  recognizer->setView(weak_from_this());
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
  auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
  if (it == gestureRecognizers_.end()) return;
  gestureRecognizers_.erase(it);
  recognizer->setView({});
}

}  // namespace uikit
