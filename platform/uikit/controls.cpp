#include "platform/uikit/controls.h"

#include <cmath>

#include "platform/foundation/clock.h"

namespace uikit {

void Control::addTargetActionForControlEvents(Action action, ControlEvents events) {
  if (action) actions_.emplace_back(events, std::move(action));
}

void Control::sendActionsForControlEvents(ControlEvents events) {
  auto self = std::static_pointer_cast<Control>(shared_from_this());
  auto actions = actions_;  // an action may add more
  for (auto& [ev, action] : actions)
    if (static_cast<std::uint32_t>(ev) & static_cast<std::uint32_t>(events)) action(self);
}

bool Control::acceptsTouches() const {
  if (!enabled_) return false;
  for (auto v = shared_from_this(); v; v = v->superview())
    if (!v->isUserInteractionEnabled()) return false;
  return isEffectivelyVisible();
}

bool Switch::userToggle() {
  if (!acceptsTouches()) return false;
  on_ = !on_;
  sendActionsForControlEvents(ControlEvents::ValueChanged);
  return true;
}

bool Button::userTap() {
  if (!acceptsTouches()) return false;
  sendActionsForControlEvents(ControlEvents::TouchUpInside);
  return true;
}

DatePicker::DatePicker() : DatePicker(Rect{0, 0, 320, 216}) {}

DatePicker::DatePicker(Rect frame) : Control(frame), date_{foundation::Clock::now()} {}

bool DatePicker::userSetDate(foundation::Date d) {
  if (!acceptsTouches()) return false;
  if (mode_ == DatePickerMode::Time) d.timeIntervalSince1970 = std::floor(d.timeIntervalSince1970 / 60) * 60;
  date_ = d;
  sendActionsForControlEvents(ControlEvents::ValueChanged);
  return true;
}

std::shared_ptr<View> VisualEffectView::contentView() {
  if (!content_) {
    content_ = std::make_shared<View>(bounds());
    content_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
    addSubview(content_);
  }
  return content_;
}

}  // namespace uikit
