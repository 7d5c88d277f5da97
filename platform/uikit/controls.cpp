#include "platform/uikit/controls.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/clock.h"
#include "platform/uikit/graphics_context.h"

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

void ImageView::drawRect(GraphicsContext& ctx, Rect rect) const {
  if (image_) ctx.drawImage(*image_, rect);
}

void Button::drawRect(GraphicsContext& ctx, Rect rect) const {
  if (!image_) return;
  const Size natural = image_->size();
  if (!(natural.width > 0) || !(natural.height > 0)) return;
  const double k = std::min({1.0, rect.width() / natural.width, rect.height() / natural.height});
  const Size drawn{natural.width * k, natural.height * k};
  ctx.drawImage(*image_, {rect.midX() - drawn.width / 2, rect.midY() - drawn.height / 2, drawn.width, drawn.height});
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
