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

long AlertView::addButtonWithTitle(std::string title) {
  otherButtonTitles_.push_back(std::move(title));
  return numberOfButtons() - 1;
}

long AlertView::numberOfButtons() const {
  return static_cast<long>(otherButtonTitles_.size()) + (cancelButtonTitle_ ? 1 : 0);
}

void AlertView::show() {
  if (window_) return;
  controller_ = AlertController::alertControllerWithTitleMessagePreferredStyle(title_, message_, AlertControllerStyle::Alert);
  std::weak_ptr<AlertView> weak = weak_from_this();
  auto button = [&](std::optional<std::string> title, AlertActionStyle style, long index) {
    controller_->addAction(AlertAction::actionWithTitleStyleHandler(std::move(title), style, [weak, index](auto&) {
      if (auto self = weak.lock()) self->clickedButtonAtIndex(index);
    }));
  };
  long index = 0;
  if (cancelButtonTitle_) button(cancelButtonTitle_, AlertActionStyle::Cancel, index++);
  for (const auto& title : otherButtonTitles_) button(title, AlertActionStyle::Default, index++);
  window_ = std::make_shared<Window>(Screen::mainScreen().bounds());
  window_->setWindowLevel(WindowLevelAlert);
  window_->setRootViewController(std::make_shared<ViewController>());
  window_->setHidden(false);
  window_->rootViewController()->presentViewController(controller_, true, nullptr);
  self_ = shared_from_this();
}

void AlertView::clickedButtonAtIndex(long index) {
  // The alert goes away first; it stays alive until its delegate has heard of the choice.
  auto keep = std::move(self_);
  if (window_) window_->setHidden(true);
  window_.reset();
  if (auto d = delegate_.lock()) d->alertViewClickedButtonAtIndex(shared_from_this(), index);
}

}  // namespace uikit
