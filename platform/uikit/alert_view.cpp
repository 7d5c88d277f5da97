#include "platform/uikit/alert_view.h"

#include "platform/uikit/screen.h"

namespace uikit {

std::shared_ptr<AlertView> AlertView::alertViewWithTitleMessageCancelButtonTitle(
    std::optional<std::string> title, std::optional<std::string> message, std::optional<std::string> cancelButtonTitle) {
  auto alert = std::make_shared<AlertView>();
  alert->title_ = std::move(title);
  alert->message_ = std::move(message);
  alert->cancelButtonTitle_ = std::move(cancelButtonTitle);
  return alert;
}

void AlertView::show() {
  if (window_) return;
  controller_ = AlertController::alertControllerWithTitleMessagePreferredStyle(title_, message_, AlertControllerStyle::Alert);
  std::weak_ptr<AlertView> weak = weak_from_this();
  controller_->addAction(AlertAction::actionWithTitleStyleHandler(cancelButtonTitle_, AlertActionStyle::Cancel, [weak](auto&) {
    auto self = weak.lock();
    if (!self) return;
    if (self->window_) self->window_->setHidden(true);
    self->window_.reset();
    auto keep = std::move(self->self_);
  }));
  window_ = std::make_shared<Window>(Screen::mainScreen().bounds());
  window_->setWindowLevel(WindowLevelAlert);
  window_->setRootViewController(std::make_shared<ViewController>());
  window_->setHidden(false);
  window_->rootViewController()->presentViewController(controller_, true, nullptr);
  self_ = shared_from_this();
}

}  // namespace uikit
