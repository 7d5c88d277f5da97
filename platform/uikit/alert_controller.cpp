#include "platform/uikit/alert_controller.h"

#include "platform/dispatch/run_loop.h"
#include "platform/uikit/window.h"

namespace uikit {

std::shared_ptr<AlertAction> AlertAction::actionWithTitleStyleHandler(std::optional<std::string> title,
                                                                      AlertActionStyle style, Handler handler) {
  auto a = std::make_shared<AlertAction>();
  a->title_ = std::move(title);
  a->style_ = style;
  a->handler_ = std::move(handler);
  return a;
}

AlertController::AlertController(std::optional<std::string> title, std::optional<std::string> message,
                                 AlertControllerStyle style)
    : alertTitle_(std::move(title)), message_(std::move(message)), style_(style) {}

std::shared_ptr<AlertController> AlertController::alertControllerWithTitleMessagePreferredStyle(
    std::optional<std::string> title, std::optional<std::string> message, AlertControllerStyle style) {
  return std::make_shared<AlertController>(std::move(title), std::move(message), style);
}

void AlertController::addAction(const std::shared_ptr<AlertAction>& action) {
  if (action) actions_.push_back(action);
}

bool AlertController::chooseAction(std::size_t index) {
  if (index >= actions_.size() || !actions_[index]->isEnabled() || !presentingViewController()) return false;
  auto action = actions_[index];
  auto keep = std::static_pointer_cast<AlertController>(shared_from_this());
  dismissViewControllerAnimated(true, nullptr);
  if (auto handler = action->handler()) {
    if (dispatch::isMainThread()) handler(action);
    else dispatch::RunLoop::main().performBlock([handler, action] { handler(action); });
  }
  return true;
}

bool AlertController::chooseActionWithTitle(const std::string& title) {
  for (std::size_t i = 0; i < actions_.size(); ++i)
    if (actions_[i]->title() == title) return chooseAction(i);
  return false;
}

std::shared_ptr<AlertController> AlertController::visibleAlert() {
  auto windows = Window::visibleWindows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    auto vc = (*it)->rootViewController();
    if (!vc) continue;
    std::shared_ptr<ViewController> top;
    while (auto p = vc->presentedViewController()) top = vc = p;
    if (auto alert = std::dynamic_pointer_cast<AlertController>(top)) return alert;
  }
  return nullptr;
}

}  // namespace uikit
