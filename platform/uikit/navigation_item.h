#pragma once
// What a navigation bar shows for a controller: its title and the bar buttons.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/uikit/view.h"

namespace uikit {

enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };
// The system's own items: 0 done, 5 flexible space, 9 action, 13 refresh.
enum class BarButtonSystemItem { Done = 0, FlexibleSpace = 5, Action = 9, Refresh = 13 };
class Image;

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
 public:
  using Action = std::function<void(const std::shared_ptr<BarButtonItem>& sender)>;

  BarButtonItem(std::string title, BarButtonItemStyle style, Action action)
      : title_(std::move(title)), style_(style), action_(std::move(action)) {}
  // An item showing an image.
  BarButtonItem(std::shared_ptr<Image> image, BarButtonItemStyle style, Action action)
      : style_(style), action_(std::move(action)), image_(std::move(image)) {}
  // One of the system's items.
  BarButtonItem(BarButtonSystemItem item, Action action) : action_(std::move(action)), systemItem_(item) {}
  // An item showing a view of the caller's.
  explicit BarButtonItem(std::shared_ptr<View> customView) : customView_(std::move(customView)) {}

  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) { title_ = t; }
  BarButtonItemStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  void setAction(Action action) { action_ = std::move(action); }
  void setStyle(BarButtonItemStyle style) { style_ = style; }
  const std::shared_ptr<Image>& image() const { return image_; }
  std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
  const std::shared_ptr<View>& customView() const { return customView_; }
  double width() const { return width_; }
  void setWidth(double width) { width_ = width; }
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
  bool isAccessibilityElement() const { return accessibilityElement_; }
  void setIsAccessibilityElement(bool element) { accessibilityElement_ = element; }

  // The button's view on the bar; made on first use, so there is always one to anchor
  // a popover on.
  std::shared_ptr<View> view();

  // What a tap does: sends the action when the button is enabled. Answers whether it did.
  bool tap();

 private:
  std::string title_;
  BarButtonItemStyle style_;
  Action action_;
  bool enabled_ = true;
  std::shared_ptr<View> view_;
  std::shared_ptr<Image> image_;
  std::optional<BarButtonSystemItem> systemItem_;
  std::shared_ptr<View> customView_;
  double width_ = 0;
  std::string accessibilityLabel_;
  bool accessibilityElement_ = false;
};

class NavigationItem {
 public:
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) { title_ = t; }
  std::shared_ptr<BarButtonItem> leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) { left_ = std::move(item); }
  std::shared_ptr<BarButtonItem> rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) { right_ = std::move(item); }
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool h) { hidesBackButton_ = h; }

 private:
  std::string title_;
  std::shared_ptr<BarButtonItem> left_;
  std::shared_ptr<BarButtonItem> right_;
  bool hidesBackButton_ = false;
};

}  // namespace uikit
