#include "platform/uikit/gesture_recognizer.h"

namespace uikit {

void GestureRecognizer::setState(GestureRecognizerState state) {
  state_ = state;
  if (state == GestureRecognizerState::Began || state == GestureRecognizerState::Changed ||
      state == GestureRecognizerState::Ended) {
    auto keep = shared_from_this();
    auto targets = targets_;
    for (auto& target : targets) target(*this);
  }
}

void GestureRecognizer::performTouches(const std::vector<Point>& path) {
  if (path.empty()) return;
  touchesBegan({Touch{path.front(), path.front()}});
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (state_ == GestureRecognizerState::Failed || state_ == GestureRecognizerState::Cancelled) break;
    touchesMoved({Touch{path[i], path[i - 1]}});
  }
  touchesEnded({Touch{path.back(), path.size() > 1 ? path[path.size() - 2] : path.back()}});
  reset();
}

}  // namespace uikit
