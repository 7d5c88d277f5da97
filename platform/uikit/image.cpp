#include "platform/uikit/image.h"

#include <png.h>

#include <cstdlib>
#include <cstring>

namespace uikit {

Image::Image(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba, double scale)
    : width_(width), height_(height), rgba_(std::move(rgba)), scale_(scale > 0 ? scale : 1) {
  rgba_.resize(std::size_t(width_) * height_ * 4);
}

double Image::shareOfPixelsOfColor(const Color& color, int tolerance) const {
  const std::size_t pixels = std::size_t(width_) * height_;
  if (pixels == 0) return 0;
  const int want[4] = {color.red255(), color.green255(), color.blue255(), color.alpha255()};
  std::size_t matching = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* px = &rgba_[i * 4];
    bool near = true;
    for (int c = 0; c < 4 && near; ++c) near = std::abs(int(px[c]) - want[c]) <= tolerance;
    matching += near;
  }
  return double(matching) / double(pixels);
}

std::shared_ptr<Image> Image::imageWithData(const foundation::Bytes& data) {
  if (data.empty()) return nullptr;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return nullptr;
  // Refuse absurd sizes before allocating: a phone icon is tiny, a bad header is not.
  if (img.width == 0 || img.height == 0 || std::uint64_t(img.width) * img.height > (1u << 26)) {
    png_image_free(&img);
    return nullptr;
  }
  img.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&img);
    return nullptr;
  }
  return std::make_shared<Image>(img.width, img.height, std::move(pixels));
}

std::optional<foundation::Bytes> Image::pngRepresentation(const std::shared_ptr<Image>& image) {
  if (!image || image->width_ == 0 || image->height_ == 0) return std::nullopt;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = image->width_;
  img.height = image->height_;
  img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&img, nullptr, &size, 0, image->rgba_.data(), 0, nullptr)) return std::nullopt;
  foundation::Bytes out(size);
  if (!png_image_write_to_memory(&img, out.data(), &size, 0, image->rgba_.data(), 0, nullptr)) return std::nullopt;
  out.resize(size);
  return out;
}

std::shared_ptr<Image> Image::imageScaledToPixelSize(const std::shared_ptr<Image>& image, std::uint32_t width,
                                                     std::uint32_t height) {
  if (!image || width == 0 || height == 0 || image->width_ == 0 || image->height_ == 0) return nullptr;
  std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::size_t sy = std::uint64_t(y) * image->height_ / height;
    for (std::uint32_t x = 0; x < width; ++x) {
      std::size_t sx = std::uint64_t(x) * image->width_ / width;
      std::memcpy(&rgba[(std::size_t(y) * width + x) * 4], &image->rgba_[(sy * image->width_ + sx) * 4], 4);
    }
  }
  return std::make_shared<Image>(width, height, std::move(rgba));
}

}  // namespace uikit
