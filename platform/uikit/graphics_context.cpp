#include "platform/uikit/graphics_context.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/image.h"

namespace uikit {
namespace {

std::uint8_t toByte(double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

}  // namespace

GraphicsContext::GraphicsContext(std::uint32_t pixelWidth, std::uint32_t pixelHeight)
    : width_(pixelWidth), height_(pixelHeight), pixels_(std::size_t(pixelWidth) * pixelHeight * 4, 0) {
  state_.clip = Rect(0, 0, pixelWidth, pixelHeight);
}

void GraphicsContext::saveGState() { saved_.push_back(state_); }

void GraphicsContext::restoreGState() {
  if (saved_.empty()) return;
  state_ = saved_.back();
  saved_.pop_back();
}

void GraphicsContext::translateCTM(double tx, double ty) {
  state_.tx += tx * state_.sx;
  state_.ty += ty * state_.sy;
}

void GraphicsContext::scaleCTM(double sx, double sy) {
  state_.sx *= sx;
  state_.sy *= sy;
}

void GraphicsContext::clipToRect(Rect rect) { state_.clip = state_.clip.intersection(toDevice(rect)); }

void GraphicsContext::multiplyAlpha(double alpha) { state_.alpha *= std::clamp(alpha, 0.0, 1.0); }

void GraphicsContext::beginTransparencyLayer() {
  layers_.push_back(std::move(pixels_));
  pixels_.assign(layers_.back().size(), 0);
  saveGState();
  state_.alpha = 1;
}

void GraphicsContext::endTransparencyLayer(double alpha) {
  if (layers_.empty()) return;
  restoreGState();
  std::vector<std::uint8_t> layer = std::move(pixels_);
  pixels_ = std::move(layers_.back());
  layers_.pop_back();
  double a = std::clamp(alpha, 0.0, 1.0) * state_.alpha;
  for (std::size_t i = 0; i < pixels_.size(); i += 4) {
    if (layer[i + 3] == 0) continue;
    double src[4];
    for (int c = 0; c < 4; ++c) src[c] = layer[i + c] / 255.0 * a;
    for (int c = 0; c < 4; ++c) pixels_[i + c] = toByte(src[c] + pixels_[i + c] / 255.0 * (1 - src[3]));
  }
}

Rect GraphicsContext::toDevice(Rect r) const {
  Rect s = r.standardized();
  return Rect(s.origin.x * state_.sx + state_.tx, s.origin.y * state_.sy + state_.ty, s.size.width * state_.sx,
              s.size.height * state_.sy)
      .standardized();
}

void GraphicsContext::blend(std::uint32_t x, std::uint32_t y, const double src[4]) {
  std::uint8_t* p = &pixels_[(std::size_t(y) * width_ + x) * 4];
  double a = src[3];
  for (int i = 0; i < 4; ++i) p[i] = toByte(src[i] + p[i] / 255.0 * (1 - a));
}

void GraphicsContext::fillRect(Rect rect, Color color) {
  Rect d = toDevice(rect).intersection(state_.clip);
  if (d.isEmpty()) return;
  double a = std::clamp(color.alpha, 0.0, 1.0) * state_.alpha;
  if (a <= 0) return;
  const double src[4] = {std::clamp(color.red, 0.0, 1.0) * a, std::clamp(color.green, 0.0, 1.0) * a,
                         std::clamp(color.blue, 0.0, 1.0) * a, a};
  // Pixel centres inside [min, max).
  auto first = [](double v) { return std::max(0.0, std::ceil(v - 0.5)); };
  std::uint32_t x0 = std::uint32_t(first(d.minX())), y0 = std::uint32_t(first(d.minY()));
  std::uint32_t x1 = std::uint32_t(std::min<double>(width_, first(d.maxX())));
  std::uint32_t y1 = std::uint32_t(std::min<double>(height_, first(d.maxY())));
  for (std::uint32_t y = y0; y < y1; ++y)
    for (std::uint32_t x = x0; x < x1; ++x) blend(x, y, src);
}

void GraphicsContext::drawImage(const Image& image, Rect rect) {
  Rect target = toDevice(rect);
  Rect d = target.intersection(state_.clip);
  if (d.isEmpty() || image.pixelWidth() == 0 || image.pixelHeight() == 0) return;
  auto first = [](double v) { return std::max(0.0, std::ceil(v - 0.5)); };
  std::uint32_t x0 = std::uint32_t(first(d.minX())), y0 = std::uint32_t(first(d.minY()));
  std::uint32_t x1 = std::uint32_t(std::min<double>(width_, first(d.maxX())));
  std::uint32_t y1 = std::uint32_t(std::min<double>(height_, first(d.maxY())));
  const auto& rgba = image.rgba();
  for (std::uint32_t y = y0; y < y1; ++y) {
    double v = (y + 0.5 - target.minY()) / target.height();
    auto sy = std::min<std::uint32_t>(image.pixelHeight() - 1, std::uint32_t(std::max(0.0, v * image.pixelHeight())));
    for (std::uint32_t x = x0; x < x1; ++x) {
      double u = (x + 0.5 - target.minX()) / target.width();
      auto sx = std::min<std::uint32_t>(image.pixelWidth() - 1, std::uint32_t(std::max(0.0, u * image.pixelWidth())));
      const std::uint8_t* s = &rgba[(std::size_t(sy) * image.pixelWidth() + sx) * 4];
      double a = s[3] / 255.0 * state_.alpha;
      const double src[4] = {s[0] / 255.0 * a, s[1] / 255.0 * a, s[2] / 255.0 * a, a};
      blend(x, y, src);
    }
  }
}

std::array<std::uint8_t, 4> GraphicsContext::pixelAt(std::uint32_t x, std::uint32_t y) const {
  if (x >= width_ || y >= height_) return {0, 0, 0, 0};
  const std::uint8_t* p = &pixels_[(std::size_t(y) * width_ + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

std::shared_ptr<Image> GraphicsContext::makeImage(double scale) const {
  std::vector<std::uint8_t> straight(pixels_.size());
  for (std::size_t i = 0; i < pixels_.size(); i += 4) {
    std::uint8_t a = pixels_[i + 3];
    for (int c = 0; c < 3; ++c)
      straight[i + c] = a ? std::uint8_t(std::min(255L, std::lround(pixels_[i + c] * 255.0 / a))) : 0;
    straight[i + 3] = a;
  }
  return std::make_shared<Image>(width_, height_, std::move(straight), scale);
}

}  // namespace uikit
