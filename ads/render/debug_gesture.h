#pragma once
// The debug gesture of ad views: one finger drawing right, left, right, left. The first
// three strokes must each cover 15 points before turning; no single move may drift more
// than 5 points vertically; lifting the finger during the fourth stroke recognises it.
// Main thread only.

#include <memory>
#include <optional>

#include "platform/uikit/gesture_recognizer.h"

class QMAImpressionTicketGestureRecognizer : public uikit::GestureRecognizer {
 public:
  static constexpr double kMinimumStroke = 15.0;
  static constexpr double kMaximumDrift = 5.0;

  long gestureState() const { return gestureState_; }
  double distanceMoved() const { return distanceMoved_; }

  void reset() override;
  void touchesBegan(const std::vector<uikit::Touch>& touches) override;
  void touchesMoved(const std::vector<uikit::Touch>& touches) override;
  void touchesEnded(const std::vector<uikit::Touch>& touches) override;
  void touchesCancelled(const std::vector<uikit::Touch>& touches) override;

 private:
  void fail() { setState(uikit::GestureRecognizerState::Failed); }
  long gestureState_ = 0;
  double distanceMoved_ = 0;
};

// Lets the debug gesture recognise together with every other recognizer but another
// debug gesture.
class QMAUIWebViewGestureDelegate : public uikit::GestureRecognizerDelegate {
 public:
  std::optional<bool> gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(
      uikit::GestureRecognizer& recognizer, uikit::GestureRecognizer& other) override;
};
