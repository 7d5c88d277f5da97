#pragma once
// The older, self-presenting alert: it needs no controller to present it. `show` puts it
// up in a window of its own above everything else; the alert keeps itself alive until a
// button dismisses it. Its delegate hears which button was chosen: index 0 is the cancel
// button when there is one, the buttons added after it follow in order. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/alert_controller.h"
#include "platform/uikit/window.h"

namespace uikit {

class AlertView;

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(const std::shared_ptr<AlertView>& alertView, long buttonIndex) = 0;
};

class AlertView : public std::enable_shared_from_this<AlertView> {
 public:
  static std::shared_ptr<AlertView> alertViewWithTitleMessageCancelButtonTitle(std::optional<std::string> title,
                                                                               std::optional<std::string> message,
                                                                               std::optional<std::string> cancelButtonTitle);

  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& message() const { return message_; }
  const std::optional<std::string>& cancelButtonTitle() const { return cancelButtonTitle_; }

  // Adds a button after the cancel button and the buttons added before; answers its index.
  long addButtonWithTitle(std::string title);
  long numberOfButtons() const;
  // -1 when there is none.
  long cancelButtonIndex() const { return cancelButtonTitle_ ? 0 : -1; }
  long firstOtherButtonIndex() const { return otherButtonTitles_.empty() ? -1 : (cancelButtonTitle_ ? 1 : 0); }
  std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { delegate_ = std::move(delegate); }

  void show();
  bool isVisible() const { return window_ != nullptr; }
  // The alert a driver reads and answers while it is up.
  std::shared_ptr<AlertController> alertController() const { return controller_; }

 private:
  void clickedButtonAtIndex(long index);

  std::optional<std::string> title_, message_, cancelButtonTitle_;
  std::vector<std::string> otherButtonTitles_;
  std::weak_ptr<AlertViewDelegate> delegate_;
  std::shared_ptr<Window> window_;
  std::shared_ptr<AlertController> controller_;
  std::shared_ptr<AlertView> self_;
};

}  // namespace uikit
