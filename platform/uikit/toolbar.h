#pragma once
// A toolbar (a bar of items along an edge of a screen) and the activity indicator (the
// spinner). The toolbar lays its items out from the left; flexible spaces share what is
// left over. A driver reads the items and taps them by their accessibility label.
// Drawing: the bar is light grey with a hairline along its top unless it has a background
// colour; its items draw themselves in its tint (navigation_item.h); the spinner shows
// its spokes while it animates and nothing when stopped.
//
// Threads: main thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/color.h"
#include "platform/uikit/navigation_item.h"
#include "platform/uikit/view.h"

namespace uikit {

class Toolbar : public View {
 public:
  using View::View;
  std::string className() const override { return "Toolbar"; }

  // The bar's own colour, where no background colour is set.
  static constexpr Color kBarColor{0.97, 0.97, 0.97, 1};
  static constexpr Color kHairlineColor{0, 0, 0, 0.3};

  const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<BarButtonItem>> items);
  // The item a finger finds by its accessibility label (or title); null when none.
  std::shared_ptr<BarButtonItem> itemWithLabel(const std::string& label) const;
  // Places the item views: fixed items at their width (44 when none), flexible spaces
  // sharing the rest; custom views keep their own size.
  void layoutSubviews() override;
  void drawRect(GraphicsContext& ctx, Rect rect) const override;

 private:
  std::vector<std::shared_ptr<BarButtonItem>> items_;
};

enum class ActivityIndicatorViewStyle { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
 public:
  explicit ActivityIndicatorView(ActivityIndicatorViewStyle style) : View(Rect{0, 0, 20, 20}), style_(style) {}
  std::string className() const override { return "ActivityIndicatorView"; }
  ActivityIndicatorViewStyle style() const { return style_; }
  void startAnimating() { animating_ = true; }
  void stopAnimating() { animating_ = false; }
  bool isAnimating() const { return animating_; }
  void drawRect(GraphicsContext& ctx, Rect rect) const override;

 private:
  ActivityIndicatorViewStyle style_;
  bool animating_ = false;
};

}  // namespace uikit
