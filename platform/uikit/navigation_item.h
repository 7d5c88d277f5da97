#pragma once
// What a navigation bar shows for a controller: its title and the bar buttons.

#include <functional>
#include <memory>
#include <string>

#include "platform/uikit/view.h"

namespace uikit {

enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
 public:
  using Action = std::function<void(const std::shared_ptr<BarButtonItem>& sender)>;

  BarButtonItem(std::string title, BarButtonItemStyle style, Action action)
      : title_(std::move(title)), style_(style), action_(std::move(action)) {}

  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) { title_ = t; }
  BarButtonItemStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  void setAction(Action action) { action_ = std::move(action); }

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
