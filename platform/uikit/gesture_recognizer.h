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

  void addTarget(std::function<void(GestureRecognizer&)> action) { targets_.push_back({nullptr, std::move(action)}); }
  // A target under a key of the caller's (the target object): adding the same key again
  // keeps one, and removeTarget takes it out.
  void addTargetForKey(const void* key, std::function<void(GestureRecognizer&)> action);
  void removeTarget(const void* key);
  std::size_t targetCount() const { return targets_.size(); }

  // A disabled recognizer takes no touches; disabling one whose gesture is under way
  // cancels that gesture.
  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled);
  // A continuous gesture (a pan) also tells its targets when it is cancelled.
  virtual bool isContinuous() const { return false; }
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
  struct Target {
    const void* key;
    std::function<void(GestureRecognizer&)> action;
  };
  GestureRecognizerState state_ = GestureRecognizerState::Possible;
  std::vector<Target> targets_;
  bool enabled_ = true;
  std::weak_ptr<GestureRecognizerDelegate> delegate_;
  std::weak_ptr<View> view_;
};

// A pan: one finger that moves. It begins at the first move, changes with each further
// move and ends when the finger lifts (a touch that never moved fails). Locations are kept
// in the recognizer's view and converted on request; the velocity is the last move over
// the time between the two reports on the process clock (a move reported at the same
// instant counts as one frame, 1/60 s).
class PanGestureRecognizer : public GestureRecognizer {
 public:
  bool isContinuous() const override { return true; }
  void reset() override;
  void touchesBegan(const std::vector<Touch>& touches) override;
  void touchesMoved(const std::vector<Touch>& touches) override;
  void touchesEnded(const std::vector<Touch>& touches) override;
  void touchesCancelled(const std::vector<Touch>& touches) override;

  std::size_t numberOfTouches() const { return touching_ ? 1 : 0; }
  // In `view`'s coordinates; nullptr: window coordinates.
  Point locationInView(const View* view) const;
  Point locationOfTouchInView(std::size_t index, const View* view) const;
  Point translationInView(const View* view) const;
  // Points per second, in `view`'s coordinates; nullptr: window coordinates.
  Point velocityInView(const View* view) const;

 private:
  Point convert(Point p, const View* view) const;
  bool touching_ = false;
  Point start_;
  Point location_;
  Point velocity_;
  double lastTime_ = 0;
};

}  // namespace uikit
