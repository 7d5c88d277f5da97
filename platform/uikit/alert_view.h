#pragma once
// The older, self-presenting alert: it needs no controller to present it. `show` puts it
// up in a window of its own above everything else; the alert keeps itself alive until a
// button dismisses it. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/uikit/alert_controller.h"
#include "platform/uikit/window.h"

namespace uikit {

class AlertView : public std::enable_shared_from_this<AlertView> {
 public:
  static std::shared_ptr<AlertView> alertViewWithTitleMessageCancelButtonTitle(std::optional<std::string> title,
                                                                               std::optional<std::string> message,
                                                                               std::optional<std::string> cancelButtonTitle);

  const std::optional<std::string>& title() const { return title_; }
  const std::optional<std::string>& message() const { return message_; }
  const std::optional<std::string>& cancelButtonTitle() const { return cancelButtonTitle_; }

  void show();
  bool isVisible() const { return window_ != nullptr; }
  // The alert a driver reads and answers while it is up.
  std::shared_ptr<AlertController> alertController() const { return controller_; }

 private:
  std::optional<std::string> title_, message_, cancelButtonTitle_;
  std::shared_ptr<Window> window_;
  std::shared_ptr<AlertController> controller_;
  std::shared_ptr<AlertView> self_;
};

}  // namespace uikit
