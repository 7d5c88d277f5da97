#pragma once
// RGBA bitmaps and their PNG form: the icons of the application-list library.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace springboard {

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4, rows top to bottom
};

// PNG data of the bitmap (the platform's "image PNG representation"); nullopt for an
// empty or inconsistent bitmap.
std::optional<foundation::Bytes> pngRepresentation(const Bitmap& bitmap);
// Any PNG libpng reads, converted to 8-bit RGBA; nullopt when it is not a PNG.
std::optional<Bitmap> bitmapFromPNG(const foundation::Bytes& data);
// Nearest-neighbour scaling.
Bitmap scaledBitmap(const Bitmap& bitmap, int width, int height);

}  // namespace springboard
