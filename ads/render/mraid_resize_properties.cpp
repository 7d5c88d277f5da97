#include "ads/render/mraid_resize_properties.h"

#include <array>
#include <cmath>
#include <sstream>

#include "ads/model/string_values.h"

namespace {

constexpr std::array<std::string_view, 7> kPositionNames = {"top-right",    "top-center",    "top-left",   "center",
                                                            "bottom-right", "bottom-center", "bottom-left"};

std::optional<std::string> resizeText(const foundation::Dictionary& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end()) return std::nullopt;
  if (auto* s = it->second.asString()) return *s;
  return std::string();
}

// The text's double value, 0 when it holds no number; nullopt beyond what a double holds.
std::optional<double> resizeNumber(const std::string& t) {
  auto v = QMAStringDoubleValue(t);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return *v;
}

std::string resizeFormatNumber(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

}  // namespace

std::int64_t QMAMRAIDResizeProperties::closePositionForName(std::string_view name) {
  for (std::size_t i = 0; i < kPositionNames.size(); ++i)
    if (kPositionNames[i] == name) return static_cast<std::int64_t>(i);
  return QMAMRAIDCustomClosePositionTopRight;
}

std::shared_ptr<QMAMRAIDResizeProperties> QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(
    const foundation::Dictionary& dictionary) {
  auto width = resizeText(dictionary, "width"), height = resizeText(dictionary, "height");
  auto offsetX = resizeText(dictionary, "offsetX"), offsetY = resizeText(dictionary, "offsetY");
  auto position = resizeText(dictionary, "customClosePosition"), offscreen = resizeText(dictionary, "allowOffscreen");
  if (!width || !height || !offsetX || !offsetY || !position || !offscreen) return nullptr;
  auto w = resizeNumber(*width), h = resizeNumber(*height), x = resizeNumber(*offsetX), y = resizeNumber(*offsetY);
  if (!w || !h || !x || !y) return nullptr;
  auto p = std::make_shared<QMAMRAIDResizeProperties>();
  p->size_ = {*w, *h};
  p->offset_ = {*x, *y};
  p->customClosePosition_ = closePositionForName(*position);
  p->allowOffscreen_ = QMAStringBoolValue(*offscreen);
  return p;
}

uikit::Rect QMAMRAIDResizeProperties::closeButtonRectForPositionContentFrame(std::int64_t position,
                                                                             const uikit::Rect& f) {
  const double side = kCloseAreaSide, half = side / 2;
  uikit::Point o;
  switch (position) {
    case QMAMRAIDCustomClosePositionTopRight: o = {f.maxX() - side, f.minY()}; break;
    case QMAMRAIDCustomClosePositionTopCenter: o = {f.midX() - half, f.minY()}; break;
    case QMAMRAIDCustomClosePositionTopLeft: o = {f.minX(), f.minY()}; break;
    case QMAMRAIDCustomClosePositionCenter: o = {f.midX() - half, f.midY() - half}; break;
    case QMAMRAIDCustomClosePositionBottomRight: o = {f.maxX() - side, f.maxY() - side}; break;
    case QMAMRAIDCustomClosePositionBottomCenter: o = {f.midX() - half, f.maxY() - side}; break;
    case QMAMRAIDCustomClosePositionBottomLeft: o = {f.minX(), f.maxY() - side}; break;
    default: o = {f.minX(), f.minY()}; break;
  }
  return {o, {side, side}};
}

std::uint64_t QMAMRAIDResizeProperties::autoresizingMaskForClosePosition(std::int64_t position) {
  switch (position) {
    case QMAMRAIDCustomClosePositionTopRight: return kQMAFlexibleLeftMargin | kQMAFlexibleBottomMargin;
    case QMAMRAIDCustomClosePositionTopCenter:
      return kQMAFlexibleLeftMargin | kQMAFlexibleRightMargin | kQMAFlexibleBottomMargin;
    case QMAMRAIDCustomClosePositionTopLeft: return kQMAFlexibleRightMargin | kQMAFlexibleBottomMargin;
    case QMAMRAIDCustomClosePositionCenter:
      return kQMAFlexibleLeftMargin | kQMAFlexibleRightMargin | kQMAFlexibleTopMargin | kQMAFlexibleBottomMargin;
    case QMAMRAIDCustomClosePositionBottomRight: return kQMAFlexibleLeftMargin | kQMAFlexibleTopMargin;
    case QMAMRAIDCustomClosePositionBottomCenter:
      return kQMAFlexibleLeftMargin | kQMAFlexibleRightMargin | kQMAFlexibleTopMargin;
    case QMAMRAIDCustomClosePositionBottomLeft: return kQMAFlexibleRightMargin | kQMAFlexibleTopMargin;
    default: return 0;
  }
}

bool QMAMRAIDResizeProperties::isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(
    const uikit::Rect& contentFrame, const uikit::Rect& bounds, bool allowOffscreen, std::int64_t position) {
  // "Inside" by the edges, so that a frame exactly filling the bounds is inside and an
  // empty one is judged by where it is.
  auto inside = [&](const uikit::Rect& r) {
    return r.minX() >= bounds.minX() && r.maxX() <= bounds.maxX() && r.minY() >= bounds.minY() &&
           r.maxY() <= bounds.maxY();
  };
  if (allowOffscreen) return inside(closeButtonRectForPositionContentFrame(position, contentFrame));
  return inside(contentFrame);
}

uikit::Rect QMAMRAIDResizeProperties::adjustedContentFrameInBounds(const uikit::Rect& contentFrame,
                                                                   const uikit::Rect& bounds) {
  uikit::Rect f = contentFrame.standardized();
  if (f.minX() < bounds.minX())
    f = f.offsetBy(bounds.minX() - f.minX(), 0);
  else if (f.maxX() > bounds.maxX())
    f = f.offsetBy(bounds.maxX() - f.maxX(), 0);
  if (f.minY() < bounds.minY())
    f = f.offsetBy(0, bounds.minY() - f.minY());
  else if (f.maxY() > bounds.maxY())
    f = f.offsetBy(0, bounds.maxY() - f.maxY());
  return f;
}

uikit::Rect QMAMRAIDResizeProperties::requestedContentFrame() const { return {offset_, size_}; }

bool QMAMRAIDResizeProperties::areValidInBounds(const uikit::Rect& bounds) const {
  const uikit::Rect f = requestedContentFrame();
  if (isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(f, bounds, allowOffscreen_, customClosePosition_))
    return true;
  if (allowOffscreen_) return false;
  return isContentFrameValidForBoundsAllowOffscreenCloseButtonPosition(adjustedContentFrameInBounds(f, bounds), bounds,
                                                                       false, customClosePosition_);
}

std::string QMAMRAIDResizeProperties::description() const {
  const auto position = static_cast<std::size_t>(customClosePosition_);
  return "{width: " + resizeFormatNumber(size_.width) + ", height: " + resizeFormatNumber(size_.height) +
         ", offsetX: " + resizeFormatNumber(offset_.x) + ", offsetY: " + resizeFormatNumber(offset_.y) +
         ", customClosePosition: " + std::string(position < kPositionNames.size() ? kPositionNames[position] : "top-right") +
         ", allowOffscreen: " + (allowOffscreen_ ? "true" : "false") + "}";
}
