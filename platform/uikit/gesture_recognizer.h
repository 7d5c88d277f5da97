#pragma once
// Gesture recognizers: a recognizer watches the touches a driver (or a finger) gives a
// view and, once its gesture is recognised, calls its targets. States are the platform's:
// possible 0, began 1, changed 2, ended (recognised) 3, cancelled 4, failed 5.
// Main thread only, like the views.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/geometry.h"

namespace uikit {

class View;
class GestureRecognizer;

enum class GestureRecognizerState : long { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };

// One finger: where it is now and where it was at the previous report, in the
// recognizer's view.
struct Touch {
  Point location;
  Point previousLocation;
};

class GestureRecognizerDelegate {
 public:
  virtual ~GestureRecognizerDelegate() = default;
  // Nullopt: the delegate does not answer, and the two do not recognise together.
  virtual std::optional<bool> gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(
      GestureRecognizer&, GestureRecognizer&) {
    return std::nullopt;
  }
};

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
 public:
  virtual ~GestureRecognizer() = default;

  GestureRecognizerState state() const { return state_; }
  // Entering Ended (or Began/Changed) calls the targets; Ended, Failed and Cancelled
  // are final until reset().
  void setState(GestureRecognizerState state);
  virtual void reset() { state_ = GestureRecognizerState::Possible; }

  void addTarget(std::function<void(GestureRecognizer&)> action) { targets_.push_back(std::move(action)); }
  std::shared_ptr<GestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<GestureRecognizerDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<View> view() const { return view_.lock(); }
  void setView(std::weak_ptr<View> v) { view_ = std::move(v); }

  // What a finger does; the base only keeps the recognizer's final states final.
  virtual void touchesBegan(const std::vector<Touch>& touches) {}
  virtual void touchesMoved(const std::vector<Touch>& touches) {}
  virtual void touchesEnded(const std::vector<Touch>& touches) {}
  virtual void touchesCancelled(const std::vector<Touch>& touches) {}

  // A whole gesture as a driver gives it: begin, moves, end; then back to possible.
  void performTouches(const std::vector<Point>& path);

 private:
  GestureRecognizerState state_ = GestureRecognizerState::Possible;
  std::vector<std::function<void(GestureRecognizer&)>> targets_;
  std::weak_ptr<GestureRecognizerDelegate> delegate_;
  std::weak_ptr<View> view_;
};

}  // namespace uikit
