#include "platform/uikit/gesture_recognizer.h"

#include "platform/foundation/clock.h"
#include "platform/uikit/view.h"

namespace uikit {

void GestureRecognizer::setState(GestureRecognizerState state) {
  state_ = state;
  const bool tells = state == GestureRecognizerState::Began || state == GestureRecognizerState::Changed ||
                     state == GestureRecognizerState::Ended ||
                     (state == GestureRecognizerState::Cancelled && isContinuous());
  if (!tells) return;
  auto keep = shared_from_this();
  auto targets = targets_;
  for (auto& target : targets) target.action(*this);
}

void GestureRecognizer::addTargetForKey(const void* key, std::function<void(GestureRecognizer&)> action) {
  for (auto& target : targets_)
    if (key && target.key == key) {
      target.action = std::move(action);
      return;
    }
  targets_.push_back({key, std::move(action)});
}

void GestureRecognizer::removeTarget(const void* key) {
  std::erase_if(targets_, [key](const Target& t) { return t.key == key; });
}

void GestureRecognizer::setEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled && (state_ == GestureRecognizerState::Began || state_ == GestureRecognizerState::Changed))
    setState(GestureRecognizerState::Cancelled);
}

void GestureRecognizer::performTouches(const std::vector<Point>& path) {
  if (path.empty()) return;
  auto keep = shared_from_this();
  auto over = [&] {
    return !enabled_ || state_ == GestureRecognizerState::Failed || state_ == GestureRecognizerState::Cancelled;
  };
  if (enabled_) {
    touchesBegan({Touch{path.front(), path.front()}});
    for (std::size_t i = 1; i < path.size() && !over(); ++i) touchesMoved({Touch{path[i], path[i - 1]}});
    if (!over()) touchesEnded({Touch{path.back(), path.size() > 1 ? path[path.size() - 2] : path.back()}});
  }
  reset();
}

// ---- PanGestureRecognizer

void PanGestureRecognizer::reset() {
  GestureRecognizer::reset();
  touching_ = false;
  velocity_ = {};
}

Point PanGestureRecognizer::convert(Point p, const View* view) const {
  auto own = this->view();
  if (!own) return p;
  return own->convertPointToView(p, view);
}

void PanGestureRecognizer::touchesBegan(const std::vector<Touch>& touches) {
  if (touches.empty() || !isEnabled()) return;
  touching_ = true;
  start_ = location_ = touches.front().location;
  velocity_ = {};
  lastTime_ = foundation::Clock::monotonic();
}

void PanGestureRecognizer::touchesMoved(const std::vector<Touch>& touches) {
  if (touches.empty() || !touching_ || !isEnabled()) return;
  const Point to = touches.front().location;
  const double now = foundation::Clock::monotonic();
  const double dt = now > lastTime_ ? now - lastTime_ : 1.0 / 60.0;
  velocity_ = {(to.x - location_.x) / dt, (to.y - location_.y) / dt};
  location_ = to;
  lastTime_ = now;
  setState(state() == GestureRecognizerState::Possible ? GestureRecognizerState::Began : GestureRecognizerState::Changed);
}

void PanGestureRecognizer::touchesEnded(const std::vector<Touch>& touches) {
  if (!touches.empty() && touches.front().location != location_) touchesMoved(touches);
  touching_ = false;
  if (state() == GestureRecognizerState::Began || state() == GestureRecognizerState::Changed)
    setState(GestureRecognizerState::Ended);
  else if (state() == GestureRecognizerState::Possible)
    setState(GestureRecognizerState::Failed);
}

void PanGestureRecognizer::touchesCancelled(const std::vector<Touch>&) {
  touching_ = false;
  if (state() == GestureRecognizerState::Began || state() == GestureRecognizerState::Changed)
    setState(GestureRecognizerState::Cancelled);
  else
    setState(GestureRecognizerState::Failed);
}

Point PanGestureRecognizer::locationInView(const View* view) const { return convert(location_, view); }

Point PanGestureRecognizer::locationOfTouchInView(std::size_t, const View* view) const { return locationInView(view); }

Point PanGestureRecognizer::translationInView(const View* view) const {
  const Point a = convert(start_, view), b = convert(location_, view);
  return {b.x - a.x, b.y - a.y};
}

Point PanGestureRecognizer::velocityInView(const View* view) const {
  // A velocity is a direction and a speed: convert it as the difference of two points.
  const Point a = convert({0, 0}, view), b = convert(velocity_, view);
  return {b.x - a.x, b.y - a.y};
}

}  // namespace uikit
