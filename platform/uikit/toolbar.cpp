#include "platform/uikit/toolbar.h"

#include "platform/uikit/glyphs.h"
#include "platform/uikit/graphics_context.h"

namespace uikit {

namespace {

bool isFlexible(const BarButtonItem& item) { return item.systemItem() == BarButtonSystemItem::FlexibleSpace; }

std::shared_ptr<View> viewOf(const std::shared_ptr<BarButtonItem>& item) {
  if (isFlexible(*item)) return nullptr;
  return item->customView() ? item->customView() : item->view();
}

}  // namespace

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
  for (const auto& item : items_)
    if (auto v = viewOf(item); v && v->superview().get() == this) v->removeFromSuperview();
  items_ = std::move(items);
  for (const auto& item : items_)
    if (auto v = viewOf(item); v && v->superview().get() != this) addSubview(v);
  layoutSubviews();
}

std::shared_ptr<BarButtonItem> Toolbar::itemWithLabel(const std::string& label) const {
  for (const auto& item : items_)
    if (item->accessibilityLabel() == label || (!item->title().empty() && item->title() == label)) return item;
  return nullptr;
}

void Toolbar::layoutSubviews() {
  const double height = bounds().height();
  double fixed = 0;
  int flexible = 0;
  for (const auto& item : items_) {
    if (isFlexible(*item)) {
      ++flexible;
    } else if (item->customView()) {
      fixed += item->customView()->frame().width();
    } else {
      fixed += item->width() > 0 ? item->width() : 44;
    }
  }
  const double share = flexible > 0 && bounds().width() > fixed ? (bounds().width() - fixed) / flexible : 0;
  double x = 0;
  for (const auto& item : items_) {
    if (isFlexible(*item)) {
      x += share;
      continue;
    }
    auto v = viewOf(item);
    const double w = item->customView() ? v->frame().width() : (item->width() > 0 ? item->width() : 44);
    const double h = item->customView() ? v->frame().height() : height;
    v->setFrame({x, (height - h) / 2, w, h});
    x += w;
  }
}

void Toolbar::drawRect(GraphicsContext& ctx, Rect rect) const {
  if (!backgroundColor()) ctx.fillRect(rect, kBarColor);
  // One device pixel high, whatever the screen's scale.
  ctx.fillRect({rect.minX(), rect.minY(), rect.width(), 1 / contentScaleFactor()}, kHairlineColor);
}

void ActivityIndicatorView::drawRect(GraphicsContext& ctx, Rect rect) const {
  if (!animating_) return;
  const Color color = style_ == ActivityIndicatorViewStyle::Gray ? Color{0.5, 0.5, 0.5, 1} : Color::whiteColor();
  if (auto picture = glyphs::spinner(rect.size, contentScaleFactor(), color)) ctx.drawImage(*picture, rect);
}

}  // namespace uikit
