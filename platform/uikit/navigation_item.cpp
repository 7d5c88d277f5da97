#include "platform/uikit/navigation_item.h"

namespace uikit {

namespace {
class BarButtonView : public View {
 public:
  using View::View;
  std::string className() const override { return "BarButton"; }
};
}  // namespace

std::shared_ptr<View> BarButtonItem::view() {
  if (!view_) view_ = std::make_shared<BarButtonView>(Rect{0, 0, 8.0 * double(title_.size()) + 16, 44});
  return view_;
}

bool BarButtonItem::tap() {
  if (!enabled_ || !action_) return false;
  auto action = action_;  // the action may replace itself
  action(shared_from_this());
  return true;
}

}  // namespace uikit
