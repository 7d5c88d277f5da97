#include "platform/uikit/navigation_item.h"

#include <algorithm>

#include "platform/uikit/glyphs.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/image.h"

namespace uikit {

namespace {

// The system's tint where no view sets one.
constexpr Color kDefaultTint{0, 122 / 255.0, 1, 1};
// How a switched-off item is shown.
constexpr double kDisabledAlpha = 0.35;

// The item on its bar: its picture in the bar's tint, centred (the system's glyph, or its
// image at the image's own size, shrunk to fit), faded while it is off.
class BarButtonView : public View {
 public:
  BarButtonView(Rect frame, std::weak_ptr<BarButtonItem> item) : View(frame), item_(std::move(item)) {}
  std::string className() const override { return "BarButton"; }

  void drawRect(GraphicsContext& ctx, Rect rect) const override {
    auto item = item_.lock();
    if (!item) return;
    const Color tint = tintColor().value_or(kDefaultTint);
    const double scale = contentScaleFactor();
    std::shared_ptr<Image> picture;
    Rect where = rect;
    if (item->image()) {
      picture = glyphs::tinted(*item->image(), tint);
      const Size natural = item->image()->size();
      const double k = std::min({1.0, rect.width() / std::max(natural.width, 1e-9), rect.height() / std::max(natural.height, 1e-9)});
      const Size drawn{natural.width * k, natural.height * k};
      where = Rect{rect.midX() - drawn.width / 2, rect.midY() - drawn.height / 2, drawn.width, drawn.height};
    } else if (item->systemItem()) {
      picture = glyphs::systemItem(*item->systemItem(), rect.size, scale, tint);
    }
    if (!picture) return;
    ctx.saveGState();
    if (!item->isEnabled()) ctx.multiplyAlpha(kDisabledAlpha);
    ctx.drawImage(*picture, where);
    ctx.restoreGState();
  }

 private:
  std::weak_ptr<BarButtonItem> item_;
};

}  // namespace

std::shared_ptr<View> BarButtonItem::view() {
  if (!view_) view_ = std::make_shared<BarButtonView>(Rect{0, 0, 8.0 * double(title_.size()) + 16, 44}, weak_from_this());
  return view_;
}

bool BarButtonItem::tap() {
  if (!enabled_ || !action_) return false;
  auto action = action_;  // the action may replace itself
  action(shared_from_this());
  return true;
}

}  // namespace uikit
