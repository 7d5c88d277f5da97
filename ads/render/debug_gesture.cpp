#include "ads/render/debug_gesture.h"

#include <cmath>

#include "platform/dispatch/thread_checks.h"

using uikit::GestureRecognizerState;

void QMAImpressionTicketGestureRecognizer::reset() {
  uikit::GestureRecognizer::reset();
  gestureState_ = 0;
  distanceMoved_ = 0;
}

void QMAImpressionTicketGestureRecognizer::touchesBegan(const std::vector<uikit::Touch>& touches) {
  WV_DCHECK_MAIN_THREAD();
  if (touches.size() != 1) fail();
}

void QMAImpressionTicketGestureRecognizer::touchesMoved(const std::vector<uikit::Touch>& touches) {
  WV_DCHECK_MAIN_THREAD();
  if (state() == GestureRecognizerState::Failed || touches.empty()) return;
  const auto& t = touches.front();
  const double x = t.location.x, px = t.previousLocation.x;
  const double dx = std::fabs(x - px);
  if (std::fabs(t.location.y - t.previousLocation.y) > kMaximumDrift) return fail();
  // Odd strokes go right, even strokes left; no horizontal change continues a stroke.
  const bool rightward = gestureState_ == 0 || gestureState_ == 1 || gestureState_ == 3;
  const bool continues = rightward ? x >= px : x <= px;
  if (continues) {
    distanceMoved_ += dx;
    if (gestureState_ == 0) gestureState_ = 1;
    return;
  }
  if (gestureState_ == 0 || gestureState_ == 4 || distanceMoved_ < kMinimumStroke) return fail();
  distanceMoved_ = dx;
  ++gestureState_;
}

void QMAImpressionTicketGestureRecognizer::touchesEnded(const std::vector<uikit::Touch>&) {
  WV_DCHECK_MAIN_THREAD();
  if (state() == GestureRecognizerState::Possible && gestureState_ == 4) {
    setState(GestureRecognizerState::Ended);
  } else {
    fail();
    gestureState_ = 0;
  }
}

void QMAImpressionTicketGestureRecognizer::touchesCancelled(const std::vector<uikit::Touch>&) {
  WV_DCHECK_MAIN_THREAD();
  fail();
  reset();
}

std::optional<bool> QMAUIWebViewGestureDelegate::gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(
    uikit::GestureRecognizer&, uikit::GestureRecognizer& other) {
  return dynamic_cast<QMAImpressionTicketGestureRecognizer*>(&other) == nullptr;
}
