#pragma once
// Alerts and action sheets with their actions, and the popover anchor an action sheet
// uses on a large screen. A driver finds the alert that is up with visibleAlert(),
// reads it, and chooses an action as a finger would.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/view_controller.h"

namespace uikit {

enum class AlertControllerStyle { ActionSheet = 0, Alert = 1 };
enum class AlertActionStyle { Default = 0, Cancel = 1, Destructive = 2 };

class AlertAction {
 public:
  using Handler = std::function<void(const std::shared_ptr<AlertAction>& action)>;

  static std::shared_ptr<AlertAction> actionWithTitleStyleHandler(std::optional<std::string> title,
                                                                  AlertActionStyle style, Handler handler);

  const std::optional<std::string>& title() const { return title_; }
  AlertActionStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  const Handler& handler() const { return handler_; }

 private:
  std::optional<std::string> title_;
  AlertActionStyle style_ = AlertActionStyle::Default;
  Handler handler_;
  bool enabled_ = true;
};

// Where a popover points: a view and a rectangle in its coordinates.
class PopoverPresentationController {
 public:
  std::shared_ptr<View> sourceView() const { return sourceView_.lock(); }
  void setSourceView(const std::shared_ptr<View>& v) { sourceView_ = v; }
  Rect sourceRect() const { return sourceRect_; }
  void setSourceRect(Rect r) { sourceRect_ = r; }

 private:
  std::weak_ptr<View> sourceView_;
  Rect sourceRect_;
};

class AlertController : public ViewController {
 public:
  static std::shared_ptr<AlertController> alertControllerWithTitleMessagePreferredStyle(
      std::optional<std::string> title, std::optional<std::string> message, AlertControllerStyle style);

  AlertController(std::optional<std::string> title, std::optional<std::string> message, AlertControllerStyle style);
  std::string className() const override { return "AlertController"; }

  const std::optional<std::string>& alertTitle() const { return alertTitle_; }
  void setAlertTitle(std::optional<std::string> t) { alertTitle_ = std::move(t); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> m) { message_ = std::move(m); }
  AlertControllerStyle preferredStyle() const { return style_; }

  void addAction(const std::shared_ptr<AlertAction>& action);
  const std::vector<std::shared_ptr<AlertAction>>& actions() const { return actions_; }

  std::shared_ptr<PopoverPresentationController> popoverPresentationController() { return popover_; }

  // What a finger does: dismisses the alert, then runs the action's handler on the main
  // thread (at once when called there, else queued on the main run loop). Answers false
  // when there is no such enabled action or the alert is not up.
  bool chooseAction(std::size_t index);
  bool chooseActionWithTitle(const std::string& title);

  // The alert that is up in the frontmost shown window that has one.
  static std::shared_ptr<AlertController> visibleAlert();

 private:
  std::optional<std::string> alertTitle_;
  std::optional<std::string> message_;
  AlertControllerStyle style_;
  std::vector<std::shared_ptr<AlertAction>> actions_;
  std::shared_ptr<PopoverPresentationController> popover_ = std::make_shared<PopoverPresentationController>();
};

}  // namespace uikit
