#include "platform/springboard/bitmap.h"

#include <png.h>

#include <cstring>

namespace springboard {

std::optional<foundation::Bytes> pngRepresentation(const Bitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.rgba.size() != static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height) * 4) {
    return std::nullopt;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(bitmap.width);
  image.height = static_cast<png_uint_32>(bitmap.height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, bitmap.rgba.data(), 0, nullptr)) return std::nullopt;
  foundation::Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, bitmap.rgba.data(), 0, nullptr)) return std::nullopt;
  out.resize(size);
  return out;
}

std::optional<Bitmap> bitmapFromPNG(const foundation::Bytes& data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (data.empty() || !png_image_begin_read_from_memory(&image, data.data(), data.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  Bitmap b;
  b.width = static_cast<int>(image.width);
  b.height = static_cast<int>(image.height);
  b.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, b.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return b;
}

Bitmap scaledBitmap(const Bitmap& bitmap, int width, int height) {
  Bitmap out;
  if (width <= 0 || height <= 0 || bitmap.width <= 0 || bitmap.height <= 0) return out;
  out.width = width;
  out.height = height;
  out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (int y = 0; y < height; ++y) {
    int sy = y * bitmap.height / height;
    for (int x = 0; x < width; ++x) {
      int sx = x * bitmap.width / width;
      std::memcpy(&out.rgba[(static_cast<std::size_t>(y) * width + x) * 4],
                  &bitmap.rgba[(static_cast<std::size_t>(sy) * bitmap.width + sx) * 4], 4);
    }
  }
  return out;
}

}  // namespace springboard
