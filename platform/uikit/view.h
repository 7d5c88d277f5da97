#pragma once
// The headless view: a rectangle in its superview's coordinates with its own bounds,
// visibility, subviews in back-to-front order, coordinate conversion, hit testing,
// autoresizing and a layout pass. Views live in shared_ptr (make them with
// std::make_shared); a view holds its subviews and only a weak reference to its
// superview. Views belong to the main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/color.h"
#include "platform/uikit/geometry.h"

namespace uikit {

class GestureRecognizer;
class GraphicsContext;
class Window;
class ViewController;

// Which margins and sizes follow a change of the superview's size.
enum AutoresizingMask : std::uint32_t {
  ViewAutoresizingNone = 0,
  ViewAutoresizingFlexibleLeftMargin = 1,
  ViewAutoresizingFlexibleWidth = 2,
  ViewAutoresizingFlexibleRightMargin = 4,
  ViewAutoresizingFlexibleTopMargin = 8,
  ViewAutoresizingFlexibleHeight = 16,
  ViewAutoresizingFlexibleBottomMargin = 32,
};

// What the view's backing layer holds beyond the view itself.
struct Layer {
  double cornerRadius = 0;
  bool masksToBounds = false;
};

class View : public std::enable_shared_from_this<View> {
 public:
  View() = default;
  explicit View(Rect frame);
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // A short name of the kind of view ("View", "Label", ...), for dumps.
  virtual std::string className() const { return "View"; }

  Rect frame() const { return frame_; }
  // Moves and sizes the view in its superview; a new size re-lays out the subviews.
  // Subclasses that follow their size override it and call this one.
  virtual void setFrame(Rect frame);
  Rect bounds() const { return bounds_; }
  virtual void setBounds(Rect bounds);
  Point center() const { return {frame_.midX(), frame_.midY()}; }
  void setCenter(Point c);

  bool isHidden() const { return hidden_; }
  virtual void setHidden(bool hidden) { hidden_ = hidden; }
  double alpha() const { return alpha_; }
  virtual void setAlpha(double alpha);
  std::optional<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<Color> c) { backgroundColor_ = c; }
  std::optional<Color> tintColor() const;  // own, or inherited from the superviews
  void setTintColor(std::optional<Color> c) { tintColor_ = c; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool on) { userInteractionEnabled_ = on; }
  bool clipsToBounds() const { return layer_.masksToBounds; }
  void setClipsToBounds(bool clips) { layer_.masksToBounds = clips; }
  Layer& layer() { return layer_; }
  const Layer& layer() const { return layer_; }
  // Device pixels per point when the view is drawn: its own when set, else the main
  // screen's scale.
  double contentScaleFactor() const;
  // Values that are not finite and above zero are ignored.
  void setContentScaleFactor(double scale);
  std::int64_t tag() const { return tag_; }
  void setTag(std::int64_t tag) { tag_ = tag; }

  std::uint32_t autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(std::uint32_t mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }

  // Hierarchy. Adding a view that has another superview moves it.
  std::shared_ptr<View> superview() const { return superview_.lock(); }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  void addSubview(const std::shared_ptr<View>& view);
  void insertSubviewAtIndex(const std::shared_ptr<View>& view, std::size_t index);
  void removeFromSuperview();
  void bringSubviewToFront(const std::shared_ptr<View>& view);
  void sendSubviewToBack(const std::shared_ptr<View>& view);
  bool isDescendantOfView(const View* ancestor) const;
  // The window the view is in: the window at the root of its hierarchy, or, when the
  // root is no window, the window that root stands in until it is placed (usually none).
  std::shared_ptr<Window> window() const;
  // The window this view answers while it is the root of a hierarchy outside any window;
  // none here. A view kept in a stand-in window answers it without being held by it.
  virtual std::shared_ptr<Window> windowWhileUnplaced() const { return nullptr; }
  // First view with this tag in this subtree (this view included), depth-first.
  std::shared_ptr<View> viewWithTag(std::int64_t tag);

  // Hierarchy notifications for subclasses.
  virtual void didAddSubview(const std::shared_ptr<View>&) {}
  virtual void willRemoveSubview(const std::shared_ptr<View>&) {}
  virtual void didMoveToSuperview() {}
  // The view's window changed (it or an ancestor was added to or removed from a
  // hierarchy); sent to every view of the moved subtree, top down, after the move.
  virtual void didMoveToWindow() {}

  // The size the view's content asks for; kNoIntrinsicMetric where it asks for none.
  static constexpr double kNoIntrinsicMetric = -1;
  virtual Size intrinsicContentSize() const { return {kNoIntrinsicMetric, kNoIntrinsicMetric}; }
  // The content's size changed: the superview lays its subviews out again.
  void invalidateIntrinsicContentSize();
  // Whether a layout engine places the view by its frame and autoresizing mask (the
  // headless UIKit always does; a view sets NO to be placed by constraints).
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizingMask_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool on) { translatesAutoresizingMask_ = on; }

  // Conversion between this view's coordinates and another's. A null view means the
  // screen (the coordinates of windows' frames).
  Point convertPointToView(Point p, const View* view) const;
  Point convertPointFromView(Point p, const View* view) const;
  Rect convertRectToView(Rect r, const View* view) const;
  Rect convertRectFromView(Rect r, const View* view) const;

  // Hit testing, as a finger finds its view: the frontmost visible, interactive
  // descendant (or this view) under `p`, given in this view's coordinates.
  virtual std::shared_ptr<View> hitTest(Point p);
  virtual bool pointInside(Point p) const { return bounds_.contains(p); }
  // Whether the view and all its superviews are shown (not hidden, not transparent).
  bool isEffectivelyVisible() const;

  // Layout: setNeedsLayout marks the view; layoutIfNeeded runs layoutSubviews on
  // every marked view of the subtree, from the top down.
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  void layoutIfNeeded();
  virtual void layoutSubviews() {}

  // Rendering of the view's layer into `ctx`, in this view's bounds coordinates (the
  // caller has moved the context to the view's origin): the background colour, then
  // drawRect, then the subviews back to front, each under its alpha and, when it clips,
  // its bounds. A hidden view draws nothing.
  void renderInContext(GraphicsContext& ctx) const;
  // What the view draws over its background, in bounds coordinates; nothing here.
  virtual void drawRect(GraphicsContext& ctx, Rect rect) const {}

  // Recognizers attached to the view, in the order added; one added twice is held once.
  // The view holds them; a driver gives them the touches of a finger on the view.
  void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
  void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }

  // The controller whose view this is, if any (set by the controller).
  std::shared_ptr<ViewController> viewController() const { return viewController_.lock(); }
  void setViewController(const std::weak_ptr<ViewController>& vc) { viewController_ = vc; }

 private:
  void resizeSubviewsFrom(Size oldSize);
  void autoresizeFor(Size oldSuper, Size newSuper);
  void tellSubtreeItMovedToWindow();
  // Leaves the superview without telling the subtree of a window change (a move between
  // superviews tells it once, at its end).
  void detachFromSuperview();
  Point toScreen(Point p) const;
  Point fromScreen(Point p) const;

  Rect frame_;
  Rect bounds_;
  bool hidden_ = false;
  double alpha_ = 1;
  std::optional<Color> backgroundColor_;
  std::optional<Color> tintColor_;
  bool userInteractionEnabled_ = true;
  Layer layer_;
  std::optional<double> contentScaleFactor_;
  std::int64_t tag_ = 0;
  std::uint32_t autoresizingMask_ = ViewAutoresizingNone;
  bool autoresizesSubviews_ = true;
  bool needsLayout_ = true;
  bool translatesAutoresizingMask_ = true;
  std::weak_ptr<View> superview_;
  std::vector<std::shared_ptr<View>> subviews_;
  std::weak_ptr<ViewController> viewController_;
  std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers_;
};

}  // namespace uikit
